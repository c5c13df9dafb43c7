#pragma once

#include "app/CommandLine.h"

namespace kestrove {

// kestrove --preview and kestrove --report: print the night's summary on standard output and write
// the files (report/charts/NightOutput.h). Each reads and resolves "observatory.ini" once, as it
// starts. Need a QApplication. Return the exit status.
int runPreviewCommand(const CommandLine& commandLine);
int runReportCommand(const CommandLine& commandLine);

} // namespace kestrove
