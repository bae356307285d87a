#pragma once

#include <QString>
#include <QStringList>

// The links of an archive's pages, for tests of what velmoran-archive writes.
namespace velmoran::test {

// What is wrong with the href and src attributes of html, a page at pagePath inside the
// archive at root: one line for each link (query and fragment stripped) that is absolute, has
// a scheme other than https: or mailto:, leads out of root or to no file, or names an anchor
// its page lacks. checked, when given, counts up the links followed.
QStringList pageLinkFaults(const QString& root, const QString& pagePath, const QString& html,
                           int* checked = nullptr);

// pageLinkFaults of every .html file under root.
QStringList archiveLinkFaults(const QString& root, int* checked = nullptr);

// The files under root whose names match pattern ("*.html"), sorted.
QStringList filesUnder(const QString& root, const QString& pattern);

// A file's text read as UTF-8; "" when it cannot be read.
QString readText(const QString& path);

} // namespace velmoran::test
