#pragma once

#include <QString>

#include <string>
#include <string_view>
#include <unordered_map>

namespace velmoran {

// The length of the UTF-8 byte order mark that bytes start with: 3, or 0 when they start with
// none. Some tools write one before JSON, which no JSON parser takes.
constexpr size_t byteOrderMarkSize(std::string_view bytes)
{
    return bytes.starts_with("\xef\xbb\xbf") ? 3 : 0;
}

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

// Message bodies of a history, kept in large blocks rather than in one allocation each, and
// in UTF-16 as QString holds them. Each text added is a QString that shares its block the way
// copies of a QString share their data: it reads and copies as any other QString, a change
// gives it a buffer of its own, and a block is freed when the last text in it is gone (so a
// copy kept after its history is dropped, such as a results row, keeps its block of up to
// 1 MiB). Each text is followed by a null character in its block, as a QString's data always
// is.
class TextArena {
public:
    TextArena() = default;
    TextArena(const TextArena&) = delete;
    TextArena& operator=(const TextArena&) = delete;

    // utf8 converted as QString::fromUtf8 converts it (bytes that are no UTF-8 become
    // U+FFFD, a leading byte order mark is dropped).
    QString add(std::string_view utf8);

    // Where the next text goes. takeBack(mark) lets the next texts reuse the room of those
    // added since the mark, provided none of them is held any more (a text still held keeps
    // its room, and the call does nothing).
    struct Mark {
        const void* block = nullptr;
        qsizetype used = 0;
        int holders = 0;
    };
    Mark mark();
    void takeBack(const Mark& mark);

private:
    QString::DataPointer m_block;
    qsizetype m_used = 0;
    qsizetype m_nextBlockUnits = 4096;
};

// A stored message body (UTF-8 markup) as the plain text kept in memory, converted once into
// arena. scratch is working space the caller reuses between calls.
QString plainBody(std::string_view markup, std::string& scratch, TextArena& arena);
// The same plain text in UTF-8, before it is converted: markup itself when it holds none, else
// scratch (valid until scratch changes).
std::string_view plainText(std::string_view markup, std::string& scratch);

} // namespace velmoran
