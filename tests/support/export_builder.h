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

// count messages of one sender in one conversation, a second apart from start (UTC, ISO 8601),
// each body text repeated to bodySize characters.
ExportConversation steadyConversation(const QString& id, int count, const QString& start,
                                      const QString& text, int bodySize = 0);

} // namespace velmoran::test
