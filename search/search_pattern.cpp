#include "search/search_pattern.h"

namespace velmoran {

SearchPattern::SearchPattern(const QString& text)
{
    setText(text);
}

void SearchPattern::setText(const QString& text)
{
    m_text = text;
    m_exact = QStringMatcher(text, Qt::CaseSensitive);
    m_caseless = QStringMatcher(text, Qt::CaseInsensitive);
}

} // namespace velmoran
