#pragma once

#include <QString>

namespace kestrove {

// Where an installed program finds its sample catalogues: share/kestrove/samples beside the
// folder of the executable.
QString installedSamplesFolder(const QString& executableFolder);

// The program folder when the command line names none. It is the executable's folder, as always,
// unless the program is installed (its samples stand beside it) or that folder cannot be written:
// an installed program must not write beside its executable, so it keeps its files in the user's
// data folder, which is created and seeded with the samples. Returns the folder without a
// trailing separator.
QString defaultProgramFolder(const QString& executableFolder, const QString& dataFolder,
                             bool executableFolderWritable);

// Copies every file of `from` that `to` lacks; nothing there is ever overwritten. Returns the
// number of files copied; failures are left for the first use of the file to report.
int seedMissingFiles(const QString& from, const QString& to);

} // namespace kestrove
