#include "search/search_pattern.h"

#include <algorithm>
#include <vector>

namespace velmoran {

SearchPattern::SearchPattern(const QString& text)
{
    setText(text);
}

SearchPattern SearchPattern::regularExpression(const QString& expression)
{
    SearchPattern pattern(expression);
    auto expressions = std::make_shared<Expressions>();
    expressions->exact = QRegularExpression(expression);
    expressions->caseless =
        QRegularExpression(expression, QRegularExpression::CaseInsensitiveOption);
    // Compiled now rather than at the first field tested.
    expressions->exact.optimize();
    expressions->caseless.optimize();
    pattern.m_expressions = std::move(expressions);
    return pattern;
}

bool SearchPattern::isValid() const
{
    return !m_expressions || m_expressions->exact.isValid();
}

QString SearchPattern::errorText() const
{
    return m_expressions ? m_expressions->exact.errorString() : QString();
}

qsizetype SearchPattern::errorOffset() const
{
    return m_expressions ? m_expressions->exact.patternErrorOffset() : -1;
}

bool SearchPattern::expressionMatches(QStringView field, Qt::CaseSensitivity cs) const
{
    const QRegularExpression& expression =
        cs == Qt::CaseSensitive ? m_expressions->exact : m_expressions->caseless;
    return expression.isValid() && expression.match(field).hasMatch();
}

void SearchPattern::setText(const QString& text)
{
    m_text = text;
    m_expressions.reset();
    m_exact = QStringMatcher(text, Qt::CaseSensitive);
    m_caseless = QStringMatcher(text, Qt::CaseInsensitive);
    m_utf8.clear();
    m_foldedAscii.clear();
    // Bytes stand for characters one to one only where the text is whole UTF-8 and has no
    // U+FFFD, which bytes that are no UTF-8 become.
    const QByteArray utf8 = text.toUtf8();
    if (text.isEmpty() || QString::fromUtf8(utf8) != text
        || text.contains(QChar::ReplacementCharacter))
        return;
    m_utf8 = utf8.toStdString();
    const QString folded = text.toCaseFolded();
    if (folded.size() == text.size()
        && std::all_of(folded.begin(), folded.end(), [](QChar c) { return c.unicode() < 0x80; }))
        m_foldedAscii = folded.toLatin1().toStdString();
}

namespace {

// The UTF-8 of every character outside ASCII whose case folding is ASCII (the Kelvin sign,
// the long s). Characters beyond the basic plane fold within their planes.
const std::vector<std::string>& foldingToAscii()
{
    static const std::vector<std::string> sequences = [] {
        std::vector<std::string> found;
        for (char32_t c = 0x80; c <= 0xFFFF; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF)
                continue;
            if (QChar::toCaseFolded(c) < 0x80)
                found.push_back(QString::fromUcs4(&c, 1).toUtf8().toStdString());
        }
        return found;
    }();
    return sequences;
}

} // namespace

bool SearchPattern::mayMatchUtf8(std::string_view utf8, Qt::CaseSensitivity cs) const
{
    // An empty field matches nothing.
    if (utf8.empty())
        return false;
    if (m_expressions || m_utf8.empty())
        return true;
    if (cs == Qt::CaseSensitive)
        return utf8.find(m_utf8) != std::string_view::npos;
    if (m_foldedAscii.empty())
        return true;
    // A match of a text that folds to ASCII is made of characters that fold to ASCII: ASCII
    // itself, found in the bytes folded the same way, or one of the few others.
    for (const std::string& other : foldingToAscii()) {
        if (utf8.find(other) != std::string_view::npos)
            return true;
    }
    thread_local std::string lowered;
    lowered.resize(utf8.size());
    std::transform(utf8.begin(), utf8.end(), lowered.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c | 0x20) : c; });
    return lowered.find(m_foldedAscii) != std::string::npos;
}

} // namespace velmoran
