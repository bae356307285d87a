#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>

namespace velmoran {

// Removes folders that the program left under parentFolder for other programs to read (a
// workbook, a file taken out of a history), once they can no longer be in use. A folder goes
// when folderIsOurs accepts its name, it is a real folder (not a link) owned by this user, and
// it and everything in it were last changed before `before`; it may hold only regular files
// that fileMayGo accepts by name (anything else, such as an application's lock file beside
// the document, keeps it). Each folder is opened once, without following a link, and checked
// and emptied through that descriptor, so a folder swapped for another after the check is not
// what gets emptied. Answers how many were removed; never fails.
int removeStaleFolders(const QString& parentFolder, const QDateTime& before,
                       const std::function<bool(const QString& name)>& folderIsOurs,
                       const std::function<bool(const QByteArray& name)>& fileMayGo);

// Whether name is what a pattern of QTemporaryDir gives: each X of it replaced by a letter
// (QTemporaryDir picks A to Z and a to z).
bool matchesTemporaryPattern(const QString& name, QStringView pattern);

} // namespace velmoran
