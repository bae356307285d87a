#include "archive_links.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace velmoran::test {

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QStringList filesUnder(const QString& root, const QString& pattern)
{
    QStringList found;
    QDirIterator it(root, {pattern}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    found.sort();
    return found;
}

QStringList pageLinkFaults(const QString& root, const QString& pagePath, const QString& html,
                           int* checked)
{
    static const QRegularExpression reference(QStringLiteral("\\s(href|src)=\"([^\"]*)\""));
    const QDir top(root);
    const QDir here = QFileInfo(pagePath).dir();
    QStringList faults;
    for (const auto& match : reference.globalMatch(html)) {
        const QString target = match.captured(2);
        if (target.startsWith(QLatin1String("https://"))
            || target.startsWith(QLatin1String("mailto:")))
            continue;
        const QString fault = pagePath + QStringLiteral(": ") + target;
        const QString path = target.section(u'#', 0, 0).section(u'?', 0, 0);
        if (path.isEmpty() || path.startsWith(u'/') || path.contains(u':')
            || path.contains(u'\\')) {
            faults << fault;
            continue;
        }
        const QString resolved = QDir::cleanPath(here.filePath(path));
        if (top.relativeFilePath(resolved).startsWith(QLatin1String(".."))
            || !QFileInfo(resolved).isFile()) {
            faults << fault;
            continue;
        }
        if (const QString anchor = target.section(u'#', 1);
            !anchor.isEmpty()
            && !readText(resolved).contains(QStringLiteral("id=\"") + anchor + u'"')) {
            faults << fault + QStringLiteral(" (no such anchor)");
            continue;
        }
        if (checked)
            ++*checked;
    }
    return faults;
}

QStringList archiveLinkFaults(const QString& root, int* checked)
{
    QStringList faults;
    for (const QString& page : filesUnder(root, QStringLiteral("*.html")))
        faults << pageLinkFaults(root, page, readText(page), checked);
    return faults;
}

} // namespace velmoran::test
