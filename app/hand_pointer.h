#pragma once

#include <QCursor>
#include <QString>

namespace velmoran {

// Loads a pointer image from a Windows cursor (.cur) or icon file, with the hot spot the file
// names. Throws Failure when the file holds no image Qt can read.
QCursor loadPointerImage(const QString& path);

} // namespace velmoran
