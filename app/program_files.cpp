#include "app/program_files.h"

#include "app/hand_pointer.h"
#include "core/failure.h"
#include "core/file_exists.h"
#include "help/main_window_help.h"

#include <QFileInfo>
#include <QPixmap>

namespace velmoran {

QIcon programIcon()
{
    return QIcon(QStringLiteral(":/velmoran/velmoran.svg"));
}

namespace {

QString presence(const QString& path)
{
    return path
           + (QFileInfo(path).isFile() ? QStringLiteral(" present") : QStringLiteral(" absent"));
}

} // namespace

ProgramFilesReport checkProgramFiles(const QString& programFolder)
{
    ProgramFilesReport report;
    report.ok = true;
    report.text += QStringLiteral("program folder: ") + programFolder + QLatin1Char('\n');

    const QString handPointer = besideProgram(programFolder, QStringLiteral("/HAND-M.CUR"));
    QString handState;
    if (!FileExists(handPointer)) {
        handState = QStringLiteral(" absent");
        report.ok = false;
    } else {
        try {
            loadPointerImage(handPointer);
            handState = QStringLiteral(" loaded");
        } catch (const Failure& failure) {
            handState = QStringLiteral(" unreadable: ") + failure.description();
            report.ok = false;
        }
    }
    report.text += QStringLiteral("hand pointer: ") + handPointer + handState + QLatin1Char('\n');

    report.text += QStringLiteral("help video: ")
                   + presence(besideProgram(programFolder, QString::fromUtf16(HelpVideoName)))
                   + QLatin1Char('\n');
    report.text += QStringLiteral("skin: ")
                   + presence(besideProgram(programFolder, QStringLiteral("/x/o.cjs")))
                   + QLatin1Char('\n');

    // A QIcon made from a file name is never null; only drawing it shows that the SVG icon
    // engine is there.
    const bool iconDraws = !programIcon().pixmap(64, 64).isNull();
    report.ok = report.ok && iconDraws;
    report.text += QStringLiteral("program icon: ")
                   + (iconDraws ? QStringLiteral("drawn") : QStringLiteral("cannot be drawn"))
                   + QLatin1Char('\n');
    return report;
}

} // namespace velmoran
