#pragma once

#include <QString>

#include <simdjson.h>

#include <string_view>

namespace velmoran {

// The wording of what is wrong with an export's JSON, in one place: a document read whole and
// one read in windows fail with the same texts. Each answers the reason a failure names
// (history_file_error.h adds the file).
class ExportFailureTexts {
public:
    // subject names the JSON: "it" for a file of its own, "its messages.json" for the member of
    // a tar.
    explicit ExportFailureTexts(QString subject)
        : m_subject(std::move(subject))
    {
    }

    const QString& subject() const { return m_subject; }

    // A flaw simdjson reports.
    QString jsonError(simdjson::error_code error) const;
    QString notAnObject() const;
    QString noConversations() const;
    // Text follows the document, from byte at (0-based) of document on.
    QString trailingText(std::string_view document, size_t at) const;
    // Where the mapping stands: conversation (1-based) and, when it is past 0, message.
    QString place(qsizetype conversation, qsizetype message) const;
    // A field of the wrong type: "\"key\" is not expected" at place.
    QString wrongType(const QString& place, const char* key, const char* expected) const;
    // A field the unit at place must have and lacks.
    QString missingField(const QString& place, const char* key) const;

private:
    QString m_subject;
};

} // namespace velmoran
