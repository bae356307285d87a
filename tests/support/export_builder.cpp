#include "export_builder.h"

#include "history_files.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace velmoran::test {

namespace {

QJsonValue textOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

} // namespace

QByteArray exportJson(const QString& userId, const std::vector<ExportConversation>& conversations)
{
    QJsonArray list;
    for (const ExportConversation& c : conversations) {
        QJsonArray messages;
        int id = 0;
        for (const ExportMessage& m : c.messages) {
            messages.append(QJsonObject{
                {QStringLiteral("id"), QString::number(++id)},
                {QStringLiteral("displayName"), textOrNull(m.displayName)},
                {QStringLiteral("originalarrivaltime"), m.time},
                {QStringLiteral("messagetype"), m.type},
                {QStringLiteral("conversationid"), c.id},
                {QStringLiteral("from"), m.from},
                {QStringLiteral("content"), m.content},
            });
        }
        QJsonValue properties;
        if (!c.members.isEmpty() || !c.topic.isEmpty()) {
            properties = QJsonObject{
                {QStringLiteral("topic"), textOrNull(c.topic)},
                {QStringLiteral("members"),
                 QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(c.members))
                                       .toJson(QJsonDocument::Compact))},
            };
        }
        list.append(QJsonObject{
            {QStringLiteral("id"), c.id},
            {QStringLiteral("displayName"), textOrNull(c.displayName)},
            {QStringLiteral("version"), 1},
            {QStringLiteral("threadProperties"), properties},
            {QStringLiteral("MessageList"), messages},
        });
    }
    return QJsonDocument(
               QJsonObject{{QStringLiteral("userId"), userId},
                           {QStringLiteral("exportDate"), QStringLiteral("2025-01-01T10:00")},
                           {QStringLiteral("conversations"), list}})
        .toJson(QJsonDocument::Compact);
}

QByteArray str(const QByteArray& text)
{
    return '"' + text + '"';
}

namespace {

// Appends "name":value, after a comma unless it is the object's first member; nothing for an
// empty value.
void appendMember(QByteArray& object, const char* name, const QByteArray& value)
{
    if (value.isEmpty())
        return;
    if (!object.endsWith('{'))
        object += ',';
    object += str(name) + ':' + value;
}

void appendMore(QByteArray& object, const QByteArray& more)
{
    if (more.isEmpty())
        return;
    if (!object.endsWith('{'))
        object += ',';
    object += more;
}

} // namespace

QByteArray jsonText(const JsonMessage& m)
{
    QByteArray message = "{";
    appendMember(message, "id", m.id);
    appendMember(message, "originalarrivaltime", m.time);
    appendMember(message, "displayName", m.displayName);
    appendMember(message, "messagetype", m.type);
    appendMember(message, "from", m.from);
    appendMember(message, "content", m.content);
    appendMore(message, m.more);
    return message + '}';
}

QByteArray conversationText(const JsonConversation& c)
{
    QByteArray messages;
    for (const JsonMessage& m : c.messages)
        messages += (messages.isEmpty() ? "" : ",") + jsonText(m);
    QByteArray conversation = "{";
    appendMember(conversation, "id", c.id);
    appendMember(conversation, "displayName", c.displayName);
    appendMore(conversation, c.more);
    appendMember(conversation, "MessageList", '[' + messages + ']');
    return conversation + '}';
}

QByteArray exportText(const std::vector<JsonConversation>& conversations, const QByteArray& head)
{
    QByteArray list;
    for (const JsonConversation& c : conversations)
        list += (list.isEmpty() ? "" : ",") + conversationText(c);
    QByteArray document = "{";
    appendMore(document, head);
    appendMember(document, "conversations", '[' + list + ']');
    return document + '}';
}

bool writeExportTar(const QString& path, const QByteArray& json, const char* filter)
{
    return writeTarEntries(path, {{QStringLiteral("messages.json"), json}}, filter);
}

ExportConversation steadyConversation(const QString& id, int count, const QString& start,
                                      const QString& text, int bodySize)
{
    ExportConversation conversation{id, QStringLiteral("Steady"), {}};
    const QDateTime first = QDateTime::fromString(start, Qt::ISODate);
    QString body = text;
    while (body.size() < bodySize)
        body += text;
    for (int i = 0; i < count; ++i) {
        conversation.messages.push_back(
            {id, QStringLiteral("Steady Sender"),
             first.addSecs(i).toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")),
             body + QString::number(i)});
    }
    return conversation;
}

} // namespace velmoran::test
