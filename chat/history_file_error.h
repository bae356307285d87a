#pragma once

#include "core/failure.h"

#include <QDir>
#include <QString>

namespace velmoran {

// The failure of a history reader: one sentence naming the file and the reason.
[[noreturn]] inline void failToRead(const QString& path, const QString& reason)
{
    throw Failure(QStringLiteral("The chat history \"%1\" cannot be read: %2.")
                      .arg(QDir::toNativeSeparators(path), reason));
}

} // namespace velmoran
