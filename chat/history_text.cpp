#include "chat/history_text.h"

#include "chat/body_markup.h"

namespace velmoran {

const QString& NamePool::intern(std::string_view utf8)
{
    auto found = m_names.find(utf8);
    if (found == m_names.end())
        found =
            m_names
                .emplace(std::string(utf8), QString::fromUtf8(utf8.data(), qsizetype(utf8.size())))
                .first;
    return found->second;
}

QString plainBody(std::string_view markup, std::string& scratch)
{
    if (mayHoldMarkup(markup)) {
        scratch.clear();
        appendPlainText(markup, scratch);
        markup = scratch;
    }
    QString text = QString::fromUtf8(markup.data(), qsizetype(markup.size()));
    // fromUtf8 reserves a unit per input byte; most non-Latin text needs far fewer.
    if (text.capacity() > text.size())
        text.squeeze();
    return text;
}

} // namespace velmoran
