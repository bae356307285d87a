#include "search/search_pattern.h"

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
}

} // namespace velmoran
