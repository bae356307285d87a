#include "core/file_exists.h"

#include <QFileInfo>

namespace velmoran {

bool FileExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && info.lastModified().isValid();
}

QString besideProgram(const QString& programFolder, const QString& relativeName)
{
    return programFolder + relativeName;
}

} // namespace velmoran
