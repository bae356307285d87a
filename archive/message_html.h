#pragma once

#include "chat/chat_history.h"
#include "chat/message_parts.h"

#include <QString>

#include <functional>
#include <map>
#include <tuple>
#include <vector>

namespace velmoran {

class LocalTimes;
class MediaFiles;

// Where a quoted message is in the archive, as a link from the page being written
// ("2024-10.html#m12"); "" when the archive does not hold it.
using QuoteTarget = std::function<QString(const QuotePart& quote)>;

// One message as HTML in a conversation page: an element with the anchor "m<index>", the
// sender by their one name (the user's own marked), the local time with its offset, then its
// parts: quotes, text with links, a file or picture, an edit mark; calls, member and topic
// events and deletions as quiet lines. Every text of the history goes through appendHtmlText.
class MessageHtml {
public:
    MessageHtml(const ChatHistory& history, MediaFiles& media, LocalTimes& times);

    void append(QString& out, const HistoryMessage& message, qint32 index,
                const std::vector<MessagePart>& parts, const QuoteTarget& quoteTarget);

private:
    void appendHeader(QString& out, const HistoryMessage& message);
    void appendTime(QString& out, qint64 utcMs);
    void appendLinkedText(QString& out, const QString& text, const std::vector<TextLink>& links);
    void appendQuote(QString& out, const HistoryMessage& message, const QuotePart& quote,
                     const QuoteTarget& quoteTarget);
    void appendFile(QString& out, const FilePart& file);
    QString personNameOf(const HistoryMessage& message, const QString& id, const QString& told);

    const ChatHistory& m_history;
    MediaFiles& m_media;
    LocalTimes& m_times;
    // The sender's markup by the texts of their id and name, which a history shares between
    // the messages of one sender (chat/history_text.h): made once per sender.
    using SenderKey = std::tuple<const QChar*, qsizetype, const QChar*, qsizetype>;
    std::map<SenderKey, QString> m_senders;
};

} // namespace velmoran
