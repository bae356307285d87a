#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// Made-up exports of any shape, for tests of what is made of a whole history.
namespace velmoran::test {

struct ExportMessage {
    QString from;        // "8:live:anna"
    QString displayName; // "" writes null
    QString time;        // "2024-11-05T09:00:00.000Z"
    QString content;
    QString type = QStringLiteral("RichText");
};

struct ExportConversation {
    QString id;          // "8:live:anna", "19:abc@thread.skype"
    QString displayName; // "" writes null
    std::vector<ExportMessage> messages;
    QStringList members = {}; // ids, for a group's threadProperties
    QString topic = {};
};

// An export's messages.json of the given user ("8:me.myself") and conversations.
QByteArray exportJson(const QString& userId, const std::vector<ExportConversation>& conversations);

// Hand-written exports of any shape, for the readers' tests. Every value is JSON text as
// written: str() quotes a text and adds no escapes, so a test writes JSON escapes, and bytes that
// are no UTF-8, as it means them; an empty value leaves its member out. Members are written in
// the order of the fields unless said otherwise.
QByteArray str(const QByteArray& text);

struct JsonMessage {
    QByteArray id = str("1");
    QByteArray time = {}; // "originalarrivaltime"
    QByteArray displayName = {};
    QByteArray type = str("Text"); // "messagetype"
    QByteArray from = {};
    QByteArray content = {};
    QByteArray more = {}; // further members as written ("\"properties\":{}"), after the others
};

// Written as {"id", "displayName", more, "MessageList"}.
struct JsonConversation {
    QByteArray id;
    std::vector<JsonMessage> messages = {};
    QByteArray displayName = {};
    QByteArray more = {}; // members as written ("\"threadProperties\":null")
};

// The JSON text of one message, as exportText writes it.
QByteArray jsonText(const JsonMessage& message);
// The JSON text of one conversation, as exportText writes it.
QByteArray conversationText(const JsonConversation& conversation);

// {head, "conversations":[…]}: head is the members before the list, as written.
QByteArray exportText(const std::vector<JsonConversation>& conversations,
                      const QByteArray& head = "\"userId\":\"8:me\"");

// An export .tar holding json as its messages.json, compressed with the named libarchive filter
// or not at all (""); answers false on failure.
bool writeExportTar(const QString& path, const QByteArray& json, const char* filter = "");

// count messages of one sender in one conversation, a second apart from start (UTC, ISO 8601),
// each body text repeated to bodySize characters.
ExportConversation steadyConversation(const QString& id, int count, const QString& start,
                                      const QString& text, int bodySize = 0);

} // namespace velmoran::test
