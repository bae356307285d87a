#pragma once

#include <QIcon>
#include <QString>

namespace velmoran {

// The program's own icon (window, menu entry), drawn from the built-in SVG.
QIcon programIcon();

// What `velmoran --check-files` found: one line per item, and whether everything the program
// needs was usable.
struct ProgramFilesReport {
    QString text;
    bool ok = false;
};

// Looks at the files the program uses beside itself in programFolder, the way start-up and
// the help use them: the hand pointer must load as a pointer image and the program icon must
// draw. The help video and the skin file are optional and only reported.
ProgramFilesReport checkProgramFiles(const QString& programFolder);

} // namespace velmoran
