#pragma once

#include "core/failure.h"

#include <QString>
#include <QStringMatcher>

#include <memory>
#include <string>
#include <string_view>

namespace velmoran {

// Thrown by SearchPattern::matches() when the expression library cannot tell whether an
// expression matches a field: it ran into one of its limits (match limit, JIT stack, depth,
// heap, memory) even on a second, roomier try. The answer is unknown, never "no match", so a
// caller must not take it as one; description() names the limit in the library's words.
class PatternMatchFailure final : public Failure {
public:
    using Failure::Failure;
};

// The search run's match rule: a field matches when the search text occurs in it; letter case
// counts or is ignored as asked. An empty search text matches every field that is not empty;
// an empty field matches nothing. The matchers for both case options are kept, so switching
// the option between two tests costs nothing.
class SearchPattern {
public:
    explicit SearchPattern(const QString& text = QString());

    // A pattern whose text is a regular expression (PCRE2's syntax, in UTF mode, as
    // QRegularExpression reads it): a field matches when the expression matches somewhere in
    // it; a field that is no valid UTF-16 is matched in its valid parts. An empty expression
    // matches every field that is not empty, an empty field nothing, as above. Check
    // isValid() before searching: an invalid expression matches nothing.
    //
    // A match that runs into a limit of the library is tried once more for that field alone
    // with far more room (a larger JIT stack, ten times the match limit), which settles long
    // fields of ordinary expressions while an expression that backtracks without end still
    // gives up within about a second. When that fails too, matches() throws
    // PatternMatchFailure.
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

    struct Expressions;

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
