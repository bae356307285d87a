#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

#include <utility>
#include <vector>

namespace velmoran::test {

// Writes a tar archive holding the given members (name, content), gzip-compressed if asked;
// answers false on failure.
bool writeTar(const QString& path, const std::vector<std::pair<QString, QByteArray>>& members, bool gzip = false);

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
