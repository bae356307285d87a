#pragma once

#include "core/failure.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cerrno>
#include <cstring>

namespace velmoran {

// The failure of a history reader: one sentence naming the file and the reason.
[[noreturn]] inline void failToRead(const QString& path, const QString& reason)
{
    throw Failure(QStringLiteral("The chat history \"%1\" cannot be read: %2.")
                      .arg(QDir::toNativeSeparators(path), reason));
}

// Why a file could not be opened or read, for a failure text: the system's own text for the
// error number ("Input/output error"), or fallback (a device's error string) when the number
// tells nothing.
inline QString readErrorText(int error, const QString& fallback)
{
    if (error == ENOSPC)
        return QStringLiteral("the disk is full (no space left on the device)");
    if (fallback.isEmpty() || fallback == QStringLiteral("Unknown error"))
        return error != 0 ? QString::fromLocal8Bit(std::strerror(error))
                          : QStringLiteral("reading it failed");
    return fallback;
}

// The first count bytes of a history file (fewer when it is shorter, none when it is empty).
// Throws the failure naming the file and the system's reason when the file cannot be opened
// or read: a read that fails is never taken for an empty file.
inline QByteArray readHistoryFileHead(const QString& path, qint64 count)
{
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::ReadOnly))
        failToRead(path, readErrorText(errno, file.errorString()));
    errno = 0;
    QByteArray head = file.read(count);
    if (file.error() != QFileDevice::NoError)
        failToRead(path, readErrorText(errno, file.errorString()));
    return head;
}

} // namespace velmoran
