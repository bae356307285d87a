#pragma once

#include "chat/chat_history.h"

#include <QHash>
#include <QString>

#include <functional>
#include <vector>

namespace velmoran {

// Files a chat shared, as an export archive holds copies of them in its media folder
// ("media/…" at any depth). Member names are only compared, never used as paths. Archives are
// opened through openHistoryArchive (chat/archive_open.h), so no outside program ever runs.

// A member of an archive that holds a copy of a shared file.
struct SharedFileMember {
    QString name;    // the member's name in the archive; "" when the archive holds no copy
    qint64 size = 0; // its size in bytes as the archive records it (a sparse member's whole size)
};

// The member of the archive that holds the file: a regular file under a media folder whose
// name starts with the file's object id, else one whose name holds it; either way the id is
// followed by "." or the end of the name ("0-l7" is not "0-l7xyz.1.txt"). Else one named by
// the file's original name. An empty name when the archive holds no copy. Throws Failure when
// the archive cannot be read. With pace, called between pieces of the work (which then never
// waits long for it), an answer false stops the search with no member.
SharedFileMember findSharedFileMember(const QString& archivePath, const SharedFile& file,
                                      const std::function<bool()>& pace = {});

// The member holding each of files, as findSharedFileMember answers for each alone, found in
// one walk over the archive (a compressed archive is unpacked once, not once a file). When
// pace stops the walk, every answer is empty.
std::vector<SharedFileMember> findSharedFileMembers(const QString& archivePath,
                                                    const std::vector<SharedFile>& files,
                                                    const std::function<bool()>& pace = {});

// Told while a member is taken out: bytes done of the whole; answers false to stop there.
using TakeOutProgress = std::function<bool(qint64 done, qint64 total)>;

// Writes the data of the regular file member to destinationPath (created or replaced), readable
// and writable by the owner only, never executable. The data goes to a partial file beside it
// first, renamed once whole; a stop, a failure or an exception thrown by progress removes it. A
// sparse member is written whole (its holes as holes). Answers false when progress asked to
// stop. Throws Failure when the member is missing or is no regular file, its data ends before
// the size the archive records, or the data cannot be written.
bool extractArchiveMember(const QString& archivePath, const QString& member,
                          const QString& destinationPath, const TakeOutProgress& progress = {});

// Takes out every member named in destinations (member name to destination path) in one walk
// over the archive, each as extractArchiveMember does. With pace, called between pieces of the
// work, an answer false stops it there (the member being written is removed) and it answers
// false. Throws Failure as extractArchiveMember does; members taken out before a stop or a
// failure stay.
bool extractArchiveMembers(const QString& archivePath, const QHash<QString, QString>& destinations,
                           const std::function<bool()>& pace = {});

// The data of the regular file member, read into memory; empty when the member is larger than
// largest bytes or progress asked to stop. Throws Failure as extractArchiveMember does.
QByteArray readArchiveMember(const QString& archivePath, const QString& member, qint64 largest,
                             const TakeOutProgress& progress = {});

// A file name made from name that is safe in a folder of one's own: no folder parts, no
// separators, control characters or format characters (a right-to-left override would show
// "…exe" as "…exe.pdf"), no leading dots, at most 255 bytes of UTF-8 (cut on a character
// boundary, keeping the extension); fallback when nothing is left.
QString safeFileName(const QString& name, const QString& fallback = QStringLiteral("shared file"));

// The text with its format characters (Unicode category Cf: direction overrides and isolates,
// invisible marks) removed, for names that are shown. The zero-width joiner and non-joiner
// stay: words of several scripts and emoji sequences need them, and they move nothing.
QString withoutFormatCharacters(const QString& text);

} // namespace velmoran
