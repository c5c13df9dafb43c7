#include "core/ProgramLock.h"

#include <QDir>
#include <QLockFile>

namespace kestrove {

QString programLockPath(const QString& programFolder)
{
    return QDir(programFolder).filePath(QStringLiteral("Kestrove.lock"));
}

std::unique_ptr<QLockFile> lockProgramFolder(const QString& programFolder, QString& refusal)
{
    const QString path = programLockPath(programFolder);
    auto lock = std::make_unique<QLockFile>(path);
    // A run lasts all night: only a process that is gone makes its lock stale, never the lock's age.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0))
        return lock;
    if (lock->error() != QLockFile::LockFailedError) {
        refusal = QStringLiteral("The program folder \"%1\" cannot be held for the run: its lock file \"%2\" "
                                 "cannot be written.")
                      .arg(QDir::toNativeSeparators(programFolder), path);
        return nullptr;
    }
    qint64 pid = 0;
    QString host, application;
    const QString holder = lock->getLockInfo(&pid, &host, &application)
                               ? QStringLiteral("process %1 on %2").arg(pid).arg(host)
                               : QStringLiteral("a process that is still starting");
    refusal = QStringLiteral("Another Kestrove runs a survey on the program folder \"%1\" (%2); a second run "
                             "would overwrite its records. Stop that one first. Should it no longer run, "
                             "delete \"%3\".")
                  .arg(QDir::toNativeSeparators(programFolder), holder, path);
    return nullptr;
}

} // namespace kestrove
