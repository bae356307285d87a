#include "workbook_sheet.h"

#include <QFile>
#include <QStringList>
#include <QXmlStreamReader>

#include <archive.h>
#include <archive_entry.h>

namespace velmoran::test {

namespace {

// The members of a zip archive by name; empty when it cannot be read.
QHash<QString, QByteArray> zipEntries(const QString& path)
{
    QHash<QString, QByteArray> entries;
    archive* zip = archive_read_new();
    archive_read_support_format_zip(zip);
    const QByteArray file = QFile::encodeName(path);
    if (archive_read_open_filename(zip, file.constData(), 65536) == ARCHIVE_OK) {
        archive_entry* entry = nullptr;
        while (archive_read_next_header(zip, &entry) == ARCHIVE_OK) {
            QByteArray content;
            char buffer[65536];
            la_ssize_t got = 0;
            while ((got = archive_read_data(zip, buffer, sizeof buffer)) > 0)
                content.append(buffer, got);
            entries.insert(QString::fromUtf8(archive_entry_pathname(entry)), content);
        }
    }
    archive_read_free(zip);
    return entries;
}

} // namespace

WorkbookSheet readWorkbookSheet(const QString& path)
{
    WorkbookSheet sheet;
    const QHash<QString, QByteArray> entries = zipEntries(path);
    if (!entries.contains(QStringLiteral("xl/worksheets/sheet1.xml")))
        return sheet;
    QStringList strings;
    QXmlStreamReader shared(entries.value(QStringLiteral("xl/sharedStrings.xml")));
    while (!shared.atEnd()) {
        if (shared.readNext() == QXmlStreamReader::StartElement
            && shared.name() == QLatin1String("si"))
            strings << QString();
        else if (shared.isStartElement() && shared.name() == QLatin1String("t"))
            strings.last() += shared.readElementText();
    }
    QXmlStreamReader xml(entries.value(QStringLiteral("xl/worksheets/sheet1.xml")));
    QString reference;
    bool isShared = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("c")) {
            reference = xml.attributes().value(QLatin1String("r")).toString();
            isShared = xml.attributes().value(QLatin1String("t")) == QLatin1String("s");
            sheet.allText = sheet.allText && isShared;
        } else if (xml.name() == QLatin1String("v")) {
            const QString v = xml.readElementText();
            sheet.cells.insert(reference, isShared ? strings.value(v.toInt()) : v);
        } else if (xml.name() == QLatin1String("col")) {
            const auto a = xml.attributes();
            for (int c = a.value(QLatin1String("min")).toInt();
                 c <= a.value(QLatin1String("max")).toInt(); ++c)
                sheet.widths.insert(c, a.value(QLatin1String("width")).toDouble());
        }
    }
    sheet.read = !xml.hasError();
    return sheet;
}

} // namespace velmoran::test
