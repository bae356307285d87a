#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

#include <utility>
#include <vector>

namespace velmoran::test {

// Writes a tar archive holding the given members (name, content), gzip-compressed if asked;
// answers false on failure.
bool writeTar(const QString& path, const std::vector<std::pair<QString, QByteArray>>& members,
              bool gzip = false);

// A member of a tar written by writeTarEntries: a file with its content, or a symbolic link
// to linkTarget when that is set.
struct TarEntry {
    QString name;
    QByteArray content;
    QString linkTarget = {};
    int mode = 0644;
    // When set, the member is sparse: this many bytes, content at its start, holes after it.
    qint64 sparseSize = -1;
};

// Writes a tar archive of the entries, compressed with the named libarchive filter ("gzip",
// "bzip2", "xz", "zstd", "lz4") or not at all (""); answers false on failure.
bool writeTarEntries(const QString& path, const std::vector<TarEntry>& entries,
                     const char* filter = "");

// Writes bytes compressed with the named libarchive filter, as a single stream (no tar);
// answers false on failure.
bool writeCompressed(const QString& path, const QByteArray& bytes, const char* filter);

// The description of the velmoran::Failure the action throws; empty when it throws none.
QString failureOf(const std::function<void()>& action);

// Writes bytes to a file; answers false on failure.
bool writeBytes(const QString& path, const QByteArray& bytes);

} // namespace velmoran::test

namespace velmoran::test {

// Creates an SQLite database by running the given SQL script; answers SQLite's error text,
// empty on success.
QString writeDatabase(const QString& path, const QByteArray& sql);

} // namespace velmoran::test
