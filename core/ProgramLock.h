#pragma once

#include <QString>
#include <memory>

class QLockFile;

namespace kestrove {

// "Kestrove.lock" in the program folder: held while a run lasts, so that a second Kestrove on the
// folder does not overwrite the first one's records. It names the process and the host; the lock
// of a process that is gone does not block.
QString programLockPath(const QString& programFolder);
// Takes the lock; nothing when it cannot, with `refusal` saying why (naming the run that holds it).
std::unique_ptr<QLockFile> lockProgramFolder(const QString& programFolder, QString& refusal);

} // namespace kestrove
