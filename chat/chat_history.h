#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace velmoran {

// The three fields of a message that a search tests, in the order it tests them.
enum class MessageField : quint8 { FromDisplayName, Body, Timestamp };
// "From Display Name", "Body" or "Timestamp", as the results list names the field.
QString messageFieldText(MessageField field);

// A file shared in a chat, as a file message names it.
struct SharedFile {
    QString objectId; // the object id in the message's URIObject uri ("0-weu-d1-…"), or ""
    QString fileName; // the original file name, or ""
    qint64 size = -1; // in bytes; -1 when not known
};

// What a message is, as its stored type tells. Its parts (chat/message_parts.h) are decoded
// from this, the body, the file and the kept markup when a view shows the message.
enum class MessageKind : quint8 {
    Text,    // written text, possibly quoting another message
    File,    // a shared file (the export's RichText/Media_*, the database's <files>)
    Picture, // a shared picture (the export's RichText/UriObject)
    Call,    // a call started, ended or missed
    MembersAdded,
    MembersRemoved, // removed by someone, or left
    TopicChanged,
    Deleted, // a message its sender took back: no text is left
    Other,   // an event this program does not describe; its body, if any, is its text
};

// One message as the history holds it. The timestamp is UTC, in milliseconds since the epoch;
// it becomes local time only when it is shown or searched.
struct HistoryMessage {
    qint64 timestampMs = 0;
    QString senderDisplayName;
    QString body;
    // The sender's id as the history holds it, without the "8:" of ordinary accounts
    // ("live:anna", "28:bot-id"); "" when not known.
    QString senderId = {};
    // Set for messages that share a file; shared, so copies of the message stay small.
    std::shared_ptr<const SharedFile> file = {};
    // The stored markup, kept only where it carries structure the body lost: a quote, a call,
    // a member or topic event, an old database's shared file (then the whole markup), or an
    // edit (then only its <e_m …/> marker). Null for every other message. Where a reader
    // learns the structure from elsewhere (the export's "edittime", the database's columns),
    // it writes it in the export's own markup (<e_m ts_ms="…"/>, <partlist type="…"/>,
    // <addmember>…), so one decoder reads both.
    QString markup = {};
    MessageKind kind = MessageKind::Text;
};

// What kind of conversation a chat is.
enum class ConversationKind : quint8 { OneToOne, Group, Bot, Other };
// "one-to-one", "group", "bot" or "other".
QString conversationKindText(ConversationKind kind);

// One chat. peerHandle is the contact the chat is held with, or empty for chats that are not
// one-to-one (group chats, bots): those never match a contact and are never searched by the
// main window.
struct HistoryChat {
    QString peerHandle;
    std::vector<HistoryMessage> messages;
    // The conversation's id as the history holds it ("8:live:anna", "19:abc@thread.skype").
    QString id = {};
    // The conversation's name as people see it: for a one-to-one chat the partner's display
    // name, else the handle; for a group its topic, else its members' names, else its id.
    QString name = {};
    ConversationKind kind = ConversationKind::OneToOne;
    // The members' ids as the history lists them (group chats); may be empty.
    QStringList members = {};
    // How many members the history says the chat has (the export's "membercount"), listed or
    // not; 0 when it does not say.
    qsizetype memberCount = 0;
};

// A whole chat history, loaded once and read by every command afterwards. Readers share
// repeated texts (sender names and ids) between messages through QString's implicit sharing.
struct ChatHistory {
    QStringList contacts;
    std::vector<HistoryChat> chats;

    // Messages a reader could not read and left out (a bad text, an impossible time), and
    // where the first of them is, for telling the user once per file.
    qsizetype skippedMessages = 0;
    QString firstSkipped = {};
    // Texts (names, bodies, ids, topics) that held bytes that are no UTF-8, each counted once
    // however many it held; those bytes show as U+FFFD.
    qsizetype notUtf8Texts = 0;

    // The files the history was read from, in reading order (for finding files a chat shared
    // in the export that holds them); empty for a history built in memory.
    QStringList sourceFiles = {};

    // The history's own user (the export's "userId", the database's account) as messages name
    // their sender ("me.myself", "live:me"); "" when the history does not say.
    QString ownUserId = {};
    // One name per person (chat/person_names.h): by sender id, the name the history shows them
    // by. Before indexPeople, names the history knows besides messages (contacts, the account).
    QHash<QString, QString> personNames = {};
    // By chat, the name it is shown by, told apart from the other chats'; empty until
    // indexPeople.
    QStringList chatNames = {};

    qsizetype messageCount() const;
};

using ChatHistoryPtr = std::shared_ptr<const ChatHistory>;

} // namespace velmoran
