#include "one_message.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace velmoran::test {

namespace {

QByteArray sqlValue(const QVariant& value)
{
    if (value.isNull())
        return "NULL";
    if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::LongLong)
        return QByteArray::number(value.toLongLong());
    return "'" + value.toString().toUtf8().replace('\'', "''") + "'";
}

} // namespace

QByteArray exportWithOneMessage(const QString& type, const QString& content,
                                const QByteArray& properties)
{
    QJsonObject message{
        {QStringLiteral("id"), QStringLiteral("1")},
        {QStringLiteral("displayName"), QString::fromUtf16(oneMessageSenderName)},
        {QStringLiteral("originalarrivaltime"), QStringLiteral("2023-05-01T10:00:00.000Z")},
        {QStringLiteral("messagetype"), type},
        {QStringLiteral("from"), QStringLiteral("8:") + QString::fromUtf16(oneMessageSenderId)},
        {QStringLiteral("content"), content},
    };
    if (!properties.isEmpty())
        message.insert(QStringLiteral("properties"), QJsonDocument::fromJson(properties).object());
    const QJsonObject conversation{
        {QStringLiteral("id"), QStringLiteral("19:group@thread.skype")},
        {QStringLiteral("displayName"), QStringLiteral("Group")},
        {QStringLiteral("threadProperties"), QJsonValue()},
        {QStringLiteral("MessageList"), QJsonArray{message}},
    };
    const QJsonObject document{
        {QStringLiteral("userId"), QStringLiteral("8:me.myself")},
        {QStringLiteral("exportDate"), QStringLiteral("2024-05-01T10:00")},
        {QStringLiteral("conversations"), QJsonArray{conversation}},
    };
    return QJsonDocument(document).toJson(QJsonDocument::Compact);
}

QByteArray legacyDatabaseWithOneMessage(const QVariant& type, const QVariant& body,
                                        const QVariant& identities, const QVariant& editedSeconds)
{
    return "CREATE TABLE Contacts (id INTEGER PRIMARY KEY, is_permanent INTEGER, skypename TEXT,"
           " displayname TEXT);"
           "CREATE TABLE Conversations (id INTEGER PRIMARY KEY, identity TEXT, type INTEGER);"
           "CREATE TABLE Messages (id INTEGER PRIMARY KEY, convo_id INTEGER, author TEXT,"
           " from_dispname TEXT, timestamp INTEGER, type INTEGER, chatmsg_type INTEGER,"
           " edited_by TEXT, edited_timestamp INTEGER, identities TEXT, body_xml TEXT);"
           "INSERT INTO Conversations VALUES (1, '19:group@thread.skype', 2);"
           "INSERT INTO Messages VALUES (1, 1, 'live:anna', 'Anna', 1682935200, "
           + sqlValue(type) + ", NULL, NULL, " + sqlValue(editedSeconds) + ", "
           + sqlValue(identities) + ", " + sqlValue(body) + ");";
}

} // namespace velmoran::test
