#pragma once

#include <QString>

#include <string>
#include <string_view>
#include <unordered_map>

namespace velmoran {

// Sender names repeat across a whole history: every message of one sender shares one QString.
class NamePool {
public:
    const QString& intern(std::string_view utf8);

private:
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, QString, Hash, std::equal_to<>> m_names;
};

// A stored message body (UTF-8 markup) as the plain text kept in memory: converted once,
// without spare capacity. scratch is working space the caller reuses between calls.
QString plainBody(std::string_view markup, std::string& scratch);

} // namespace velmoran
