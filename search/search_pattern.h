#pragma once

#include <QString>
#include <QStringMatcher>

namespace velmoran {

// The search run's match rule: a field matches when the search text occurs in it; letter case
// counts or is ignored as asked. An empty search text matches every field that is not empty;
// an empty field matches nothing. The matchers for both case options are kept, so switching
// the option between two tests costs nothing.
class SearchPattern {
public:
    explicit SearchPattern(const QString& text = QString());

    const QString& text() const { return m_text; }
    void setText(const QString& text);

    bool matches(QStringView field, Qt::CaseSensitivity cs) const
    {
        if (field.isEmpty())
            return false;
        if (m_text.isEmpty())
            return true;
        const QStringMatcher& matcher = cs == Qt::CaseSensitive ? m_exact : m_caseless;
        return matcher.indexIn(field) >= 0;
    }

private:
    QString m_text;
    QStringMatcher m_exact;
    QStringMatcher m_caseless;
};

} // namespace velmoran
