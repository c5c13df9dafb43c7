#pragma once

#include "app/CommandLine.h"
#include "report/NightReport.h"

#include <QString>
#include <QStringList>

namespace kestrove {

// Writes a preview's files into the folder: plans.csv, reasons.csv, night.png, night.svg and
// sky.png. Returns their paths.
QStringList writePreviewFiles(const NightReport& report, const QString& folder);
// Writes what a report of a real night has: night.png. Returns its path.
QStringList writeReportFiles(const NightReport& report, const QString& folder);

// kestrove --preview and kestrove --report: print the night's summary on standard output and write
// the files. Need a QApplication. Return the exit status.
int runPreviewCommand(const CommandLine& commandLine);
int runReportCommand(const CommandLine& commandLine);

} // namespace kestrove
