#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringMatcher>

#include <memory>
#include <string>
#include <string_view>

namespace velmoran {

// The search run's match rule: a field matches when the search text occurs in it; letter case
// counts or is ignored as asked. An empty search text matches every field that is not empty;
// an empty field matches nothing. The matchers for both case options are kept, so switching
// the option between two tests costs nothing.
class SearchPattern {
public:
    explicit SearchPattern(const QString& text = QString());

    // A pattern whose text is a regular expression (Perl-compatible, as QRegularExpression
    // reads it): a field matches when the expression matches somewhere in it. An empty
    // expression matches every field that is not empty, an empty field nothing, as above.
    // Check isValid() before searching: an invalid expression matches nothing.
    static SearchPattern regularExpression(const QString& expression);
    bool isRegularExpression() const { return m_expressions != nullptr; }
    // False for an invalid expression; errorText() then tells why and errorOffset() where
    // (0-based, in UTF-16 code units of the text).
    bool isValid() const;
    QString errorText() const;
    qsizetype errorOffset() const;

    const QString& text() const { return m_text; }
    void setText(const QString& text);

    bool matches(QStringView field, Qt::CaseSensitivity cs) const
    {
        if (field.isEmpty())
            return false;
        if (m_text.isEmpty())
            return true;
        if (m_expressions) [[unlikely]]
            return expressionMatches(field, cs);
        const QStringMatcher& matcher = cs == Qt::CaseSensitive ? m_exact : m_caseless;
        return matcher.indexIn(field) >= 0;
    }

    // False only when matches() is false for the text these UTF-8 bytes make (as
    // QString::fromUtf8 makes it), answered from the bytes without making the text: true may
    // still be no match. Expressions and texts that UTF-8 cannot carry as they are answer true.
    bool mayMatchUtf8(std::string_view utf8, Qt::CaseSensitivity cs) const;

private:
    bool expressionMatches(QStringView field, Qt::CaseSensitivity cs) const;

    struct Expressions {
        QRegularExpression exact;
        QRegularExpression caseless;
    };

    QString m_text;
    std::shared_ptr<const Expressions> m_expressions;
    QStringMatcher m_exact;
    QStringMatcher m_caseless;
    // The text in UTF-8, and folded to ASCII lower case where its case folding is all ASCII;
    // empty where the bytes cannot answer.
    std::string m_utf8;
    std::string m_foldedAscii;
};

} // namespace velmoran
