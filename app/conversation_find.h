#pragma once

#include <QObject>
#include <QString>

#include <vector>

namespace velmoran {

class EventPump;
class MessageListModel;

// Find in a conversation, without a window: the messages of the chat a MessageListModel shows
// whose text or sender holds a text, counted in pieces (the first at once, the rest between
// which window events run through EventPump), and the steps from a message to the next or
// previous match. The window shows what it tells.
class ConversationFind final : public QObject {
    Q_OBJECT
public:
    // Messages counted at once: the first piece before the window shows the message (all of a
    // usual chat), then pieces between which window events run.
    static constexpr int FirstPiece = 16384;
    static constexpr int Piece = 1024;

    ConversationFind(const MessageListModel& messages, EventPump& pump, QObject* parent = nullptr);

    // Looks for text anew in the model's chat (after the chat, the text or the case changed):
    // the first piece now, the rest once events run. A count under way is dropped.
    void start(const QString& text, Qt::CaseSensitivity cs);
    const QString& text() const { return m_text; }
    Qt::CaseSensitivity caseSensitivity() const { return m_case; }

    // True once every message has been looked at.
    bool isCounted() const { return m_counted; }
    // Counts what is left now, letting events run between pieces. False when a new start
    // overtook it meanwhile or the program is closing (the count is then of no use).
    bool finishCount();
    // The matching messages found so far, first to last.
    const std::vector<qint32>& matches() const { return m_matches; }

    // The first match at or after message among those counted so far: as the count runs from
    // the first message on, one found is the nearest. -1 when none is found (yet).
    int firstAtOrAfter(int message) const;
    // The first match after message, else the first of all; the last before message, else the
    // last of all. Finishes the count first; -1 when nothing matches or the count was overtaken.
    int nextAfter(int message);
    int previousBefore(int message);

    // The message the window shows as current: "k of n" names its place among the matches
    // (k is 0 when it is none).
    void setCurrentMessage(int message) { m_current = message; }
    // "" without text, "Counting…" until counted, "No matches", or "k of n".
    QString countText() const;

signals:
    // More messages were looked at; emitted after every piece, the last included.
    void progressed();

private:
    void scan(int count);

    const MessageListModel& m_messages;
    EventPump& m_pump;
    QString m_text;
    Qt::CaseSensitivity m_case = Qt::CaseSensitive;
    std::vector<qint32> m_matches;
    int m_scanned = 0;
    bool m_counted = true;
    // Every start has a number of its own, so a count overtaken by another (new text, another
    // chat) while it let events run stops.
    unsigned m_run = 0;
    int m_current = -1;
};

} // namespace velmoran
