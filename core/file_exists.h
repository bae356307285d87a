#pragma once

#include <QString>

namespace velmoran {

// True when the modification date and time of the path can be read; false for any failure
// (no such file, a bad path, no access). Never fails and changes nothing.
bool FileExists(const QString& path);

// A file beside the program: the program folder followed by a relative name that begins with
// a separator ("/HAND-M.CUR").
QString besideProgram(const QString& programFolder, const QString& relativeName);

} // namespace velmoran
