#pragma once

#include "chat/chat_history.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <variant>
#include <vector>

namespace velmoran {

// A link in a text: where it stands and where it leads. Only http, https and mailto links are
// links; anything else (javascript:, file:, data:) stays plain text.
struct TextLink {
    qsizetype start = 0;
    qsizetype length = 0;
    QUrl url;
};

// Written text, with its links.
struct TextPart {
    QString text;
    std::vector<TextLink> links = {};
};

// Another message, quoted above the reply.
struct QuotePart {
    QString authorId;   // without the "8:" of ordinary accounts; "" when not told
    QString authorName; // as the quote names its author; "" when not told
    qint64 timeMs = -1; // UTC milliseconds of the quoted message; -1 when not told
    QString text;
    std::vector<TextLink> links = {};
};

// A shared file or picture.
struct FilePart {
    QString fileName; // "" when not told
    qint64 size = -1; // in bytes; -1 when not told
    QString objectId; // the export's object id, for finding its copy; "" when not told
    bool picture = false;
};

enum class CallState : quint8 { Started, Ended, Missed, Unknown };

struct CallPart {
    CallState state = CallState::Unknown;
    qint64 durationSeconds = -1; // -1 when not told
};

// The message was changed after it was sent.
struct EditedPart {
    qint64 timeMs = -1; // UTC milliseconds of the edit; -1 when not told
};

// The message was taken back: no text is left.
struct DeletedPart {};

// Members added to or removed from a group. A member who removed themself left.
struct MembersPart {
    bool added = true;
    QString initiatorId; // who did it; "" when not told
    QStringList memberIds = {};
};

struct TopicPart {
    QString initiatorId;
    QString topic;
};

using MessagePart = std::variant<TextPart, QuotePart, FilePart, CallPart, EditedPart, DeletedPart,
                                 MembersPart, TopicPart>;

// The parts of a message, in the order they are shown: quotes, then the text, file, call or
// event, then the edit mark. Decoded from the message's kind, body, file and kept markup
// (chat/chat_history.h); every view renders these and never reads markup itself.
//
// Never throws and never fails: markup that cannot be read (not well-formed, an unknown
// entity, larger than a megabyte) gives the parts its kind allows without it, with the body as
// the text, so nothing the history holds is lost. Ids are as messages name their sender
// (without "8:"). Time and memory grow linearly with the markup.
std::vector<MessagePart> decodeMessageParts(const HistoryMessage& message);

// The links (http, https, mailto) in a plain text, in order, never overlapping. Bounded: at
// most a few hundred candidates of at most 2,048 characters each are looked at.
std::vector<TextLink> findLinks(QStringView text);

// The name shown for a person id; "" when unknown. Given to the renderer by views that know
// more names than the message itself.
using PersonName = std::function<QString(const QString& id)>;

// The name a part of message gives person id (a quote's author, who added whom): personName's
// when it has one, else told (the name the part itself gives), else the message's sender name
// when id is its sender, else the id; "Someone" for no id.
QString partPersonName(const HistoryMessage& message, const QString& id, const QString& told,
                       const PersonName& personName);

// The parts as plain text, for copying and for one-line lists: "Call, 36 min", "Missed call",
// "This message was deleted", "Anna added Bob", "Anna changed the topic to "x"", a quote as
// "> Name, 2024-11-05 10:00: text" lines (local time) before the reply, " (edited)" after
// the text. People are named by personName, else by the message's sender name when they are
// its sender, else by their id. A message without parts gives "(no text)".
QString messagePlainText(const HistoryMessage& message, const std::vector<MessagePart>& parts,
                         const PersonName& personName = {});
// The same for the message's own parts.
QString messagePlainText(const HistoryMessage& message, const PersonName& personName = {});

} // namespace velmoran
