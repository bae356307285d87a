#pragma once

#include "chat/chat_history.h"

#include <QString>

namespace velmoran {

// Files a chat shared, as an export archive holds copies of them in its media folder
// ("media/…" at any depth). Member names are only compared, never used as paths.

// The member of the archive that holds the file: a regular file under a media folder whose
// name starts with the file's object id, else one whose name contains it, else one named by
// the file's original name. "" when the archive holds no copy. Throws Failure when the archive
// cannot be read.
QString findSharedFileMember(const QString& archivePath, const SharedFile& file);

// Writes the data of the regular file member to destinationPath (created or replaced). Throws
// Failure when the member is missing or is no regular file, or the data cannot be written.
void extractArchiveMember(const QString& archivePath, const QString& member,
                          const QString& destinationPath);

// A file name made from name that is safe in a folder of one's own: no folder parts, no
// separators or control characters, no leading dots, at most 120 characters; fallback when
// nothing is left.
QString safeFileName(const QString& name, const QString& fallback = QStringLiteral("shared file"));

} // namespace velmoran
