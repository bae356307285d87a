#pragma once

#include "chat/chat_history.h"
#include "chat/message_parts.h"

#include <QCache>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QSize>

#include <deque>

namespace velmoran {

class EventPump;

// Thumbnails of the pictures a history's export archives hold, for the conversation window.
// A picture is read out of its archive into memory (never onto the disk, never next to the
// history) only when a row showing it is drawn, one picture at a time, with window events let
// through between pieces of the reading; it is scaled down at once. The thumbnails kept take at
// most CacheBytes, the least recently asked for going first.
class Thumbnails final : public QObject {
    Q_OBJECT
public:
    explicit Thumbnails(EventPump& pump, QObject* parent = nullptr);

    // The history whose pictures are shown; the thumbnails of another are forgotten.
    void setHistory(const ChatHistoryPtr& history);
    // The picture's thumbnail, at most box in size; a null image while it is being read, or
    // when no archive of the history holds a copy it can show.
    QImage thumbnail(const FilePart& picture, QSize box);
    // Ends the reading in progress and forgets those waiting (the window was closed).
    void stop();

    static constexpr qint64 CacheBytes = qint64(64) << 20;
    // Pictures larger than this are not read.
    static constexpr qint64 LargestPicture = qint64(48) << 20;

    // The image data as a thumbnail of at most box; a null image when it is none, or when its
    // decoded size would be unreasonably large.
    static QImage scaled(const QByteArray& data, QSize box);

signals:
    // A thumbnail asked for is ready, or known to be missing.
    void ready();

private:
    void readNext();

    EventPump& m_pump;
    ChatHistoryPtr m_history;
    QCache<QString, QImage> m_images; // cost: KiB
    QSet<QString> m_missing;
    struct Waiting {
        QString key;
        FilePart picture;
        QSize box;
    };
    std::deque<Waiting> m_waiting;
    QSet<QString> m_waitingKeys;
    bool m_reading = false;
    bool m_stopped = false;
    unsigned m_generation = 0;
};

} // namespace velmoran
