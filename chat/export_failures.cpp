#include "chat/export_failures.h"

#include "chat/json_text.h"

namespace velmoran {

QString ExportFailureTexts::jsonError(simdjson::error_code error) const
{
    switch (error) {
    case simdjson::EMPTY:
        return QStringLiteral("%1 holds no JSON at all").arg(m_subject);
    case simdjson::UTF8_ERROR:
        return QStringLiteral("%1 holds text that is not valid UTF-8").arg(m_subject);
    case simdjson::DEPTH_ERROR:
        return QStringLiteral("%1 is nested too deeply").arg(m_subject);
    case simdjson::CAPACITY:
        return QStringLiteral("%1 is larger than the 4 GiB that can be read").arg(m_subject);
    case simdjson::MEMALLOC:
        return QStringLiteral("there is not enough memory to read %1").arg(m_subject);
    default:
        return QStringLiteral("%1 is not valid JSON (%2)")
            .arg(m_subject, QString::fromUtf8(simdjson::error_message(error)));
    }
}

QString ExportFailureTexts::notAnObject() const
{
    return QStringLiteral("%1 is not a JSON object").arg(m_subject);
}

QString ExportFailureTexts::noConversations() const
{
    return QStringLiteral("%1 has no \"conversations\" list, so it is no chat export")
        .arg(m_subject);
}

QString ExportFailureTexts::trailingText(std::string_view document, size_t at) const
{
    return QStringLiteral("unexpected text after the JSON document at byte %1%2: %3")
        .arg(at + 1)
        .arg(m_subject == QStringLiteral("it") ? QString() : QStringLiteral(" of ") + m_subject,
             quotedExcerpt(document.substr(at), 24));
}

QString ExportFailureTexts::place(qsizetype conversation, qsizetype message) const
{
    QString place =
        m_subject == QStringLiteral("it") ? QString() : QStringLiteral("in %1, ").arg(m_subject);
    place += QStringLiteral("conversation %1").arg(conversation);
    if (message > 0)
        place += QStringLiteral(", message %1").arg(message);
    return place;
}

QString ExportFailureTexts::wrongType(const QString& place, const char* key,
                                      const char* expected) const
{
    return QStringLiteral("%1: \"%2\" is not %3")
        .arg(place, QLatin1String(key), QLatin1String(expected));
}

QString ExportFailureTexts::missingField(const QString& place, const char* key) const
{
    return QStringLiteral("%1 has no \"%2\"").arg(place, QLatin1String(key));
}

} // namespace velmoran
