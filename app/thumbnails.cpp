#include "app/thumbnails.h"

#include "chat/history_file_error.h"
#include "chat/history_loader.h"
#include "chat/shared_file_archive.h"
#include "core/event_pump.h"
#include "core/failure.h"

#include <QBuffer>
#include <QImageReader>
#include <QPointer>
#include <QTimer>

namespace velmoran {

namespace {

QString keyOf(const FilePart& picture, QSize box)
{
    return picture.objectId + QLatin1Char('\n') + picture.fileName + QLatin1Char('\n')
           + QString::number(picture.size) + QLatin1Char('\n') + QString::number(box.width())
           + QLatin1Char('x') + QString::number(box.height());
}

// Unwinds a reading whose thumbnails are gone with their window.
struct Gone {};

} // namespace

Thumbnails::Thumbnails(EventPump& pump, QObject* parent)
    : QObject(parent)
    , m_pump(pump)
    , m_images(int(CacheBytes >> 10))
{
}

void Thumbnails::setHistory(const ChatHistoryPtr& history)
{
    if (history == m_history)
        return;
    m_history = history;
    m_images.clear();
    m_missing.clear();
    m_waiting.clear();
    m_waitingKeys.clear();
    ++m_generation;
}

void Thumbnails::stop()
{
    m_stopped = true;
    m_waiting.clear();
    m_waitingKeys.clear();
    ++m_generation;
}

QImage Thumbnails::thumbnail(const FilePart& picture, QSize box)
{
    if (!m_history || (picture.objectId.isEmpty() && picture.fileName.isEmpty()))
        return {};
    const QString key = keyOf(picture, box);
    if (const QImage* image = m_images.object(key))
        return *image;
    if (m_missing.contains(key) || m_waitingKeys.contains(key))
        return {};
    m_stopped = false;
    m_waiting.push_back({key, picture, box});
    m_waitingKeys.insert(key);
    if (!m_reading)
        QTimer::singleShot(0, this, &Thumbnails::readNext);
    return {};
}

QImage Thumbnails::scaled(const QByteArray& data, QSize box)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // A small file may claim a huge picture: such are refused rather than decoded.
    reader.setAllocationLimit(256);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        return {};
    reader.setScaledSize(size.scaled(box.boundedTo(size), Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull())
        return {};
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

void Thumbnails::readNext()
{
    if (m_reading || m_waiting.empty() || !m_history)
        return;
    m_reading = true;
    const Waiting next = m_waiting.front();
    m_waiting.pop_front();
    const ChatHistoryPtr history = m_history; // held: events may replace the shown history
    const unsigned generation = m_generation;
    const QPointer<Thumbnails> self(this);
    // Between pieces of the reading the window's events run; the reading ends when the
    // thumbnails are gone, stopped or for another history.
    const auto pace = [&] {
        m_pump.yield();
        if (!self)
            throw Gone();
        return generation == m_generation;
    };
    QImage image;
    bool ended = false;
    try {
        const SharedFile file{next.picture.objectId, next.picture.fileName, next.picture.size};
        for (const QString& source : history->sourceFiles) {
            if (sniffHistoryFile(source) != HistoryFileKind::ExportArchive)
                continue;
            const SharedFileMember member = findSharedFileMember(source, file, pace);
            if (generation != m_generation) {
                ended = true;
                break;
            }
            if (member.name.isEmpty())
                continue;
            if (member.size <= LargestPicture) {
                const QByteArray data = readArchiveMember(source, member.name, LargestPicture,
                                                          [&](qint64, qint64) { return pace(); });
                ended = generation != m_generation;
                image = scaled(data, next.box);
            }
            break;
        }
    } catch (const Failure&) {
        // An archive that cannot be read shows no thumbnail; opening the file tells why.
    } catch (const ProgramClosing&) {
        if (self)
            m_reading = false;
        return;
    } catch (const Gone&) {
        return;
    }
    m_reading = false;
    if (!ended) {
        m_waitingKeys.remove(next.key);
        if (image.isNull())
            m_missing.insert(next.key);
        else
            m_images.insert(next.key, new QImage(image),
                            std::max<qsizetype>(1, image.sizeInBytes() >> 10));
        emit ready();
    }
    if (!m_waiting.empty())
        QTimer::singleShot(0, this, &Thumbnails::readNext);
}

} // namespace velmoran
