#include "app/hand_pointer.h"

#include "core/failure.h"

#include <QFile>
#include <QImageReader>
#include <QPixmap>
#include <QtEndian>

namespace velmoran {

namespace {

// A .cur file is an icon directory whose first entry keeps the hot spot where an icon keeps
// its colour planes and bit count (bytes 10 to 13 of the file, little-endian).
QPoint cursorHotSpot(const QByteArray& header)
{
    if (header.size() < 14)
        return {-1, -1};
    const auto* bytes = reinterpret_cast<const uchar*>(header.constData());
    const quint16 type = qFromLittleEndian<quint16>(bytes + 2);
    if (type != 2)
        return {-1, -1};
    return {qFromLittleEndian<quint16>(bytes + 10), qFromLittleEndian<quint16>(bytes + 12)};
}

} // namespace

QCursor loadPointerImage(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("Cannot open \"%1\": %2").arg(path, file.errorString()));
    const QByteArray header = file.peek(14);
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    QImage image = reader.read();
    if (image.isNull()) {
        // Qt's icon reader tells cursors apart by format name only.
        file.seek(0);
        QImageReader curReader(&file, "cur");
        image = curReader.read();
    }
    if (image.isNull())
        throw Failure(QStringLiteral("Invalid picture: \"%1\" is not a pointer image (%2)")
                          .arg(path, reader.errorString()));
    const QPoint hotSpot = cursorHotSpot(header);
    return QCursor(QPixmap::fromImage(image), hotSpot.x(), hotSpot.y());
}

} // namespace velmoran
