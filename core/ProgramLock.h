#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace kestrove {

// "Kestrove.lock" in a folder a run writes to: the program folder, and the log and plan folders
// that program folders on one observatory share. The kernel holds it (flock) while the run lasts,
// so a process that is gone, however it ended, holds nothing; the file names the run's process,
// host and program folder, so that a refusal can say who holds it.
QString programLockPath(const QString& folder);

// One folder held by this run; letting it go removes the file.
class FolderLock
{
public:
    FolderLock(int descriptor, QString path) : m_descriptor(descriptor), m_path(std::move(path)) {}
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int m_descriptor;
    QString m_path;
};

// A folder a run must hold, and what it is to the run, for the messages: "program folder", or a
// folder of the observatory with the key that names it ("log folder", "[folders] logDir").
struct RunFolder
{
    QString path;
    QString role;
    QString key; // empty for the program folder
};

// What came of taking a run's locks.
struct RunLocks
{
    // Every folder's lock; empty when the run must not start.
    std::vector<std::unique_ptr<FolderLock>> held;
    // Why the run must not start, naming the run that holds a folder.
    QString refusal;
    // A lock that no run held and that could not be read as one, replaced: each said once.
    QStringList notes;
};

// Takes the lock of each folder, a folder named twice once, for a run of `programFolder`. A lock
// that no live process holds is stale, whatever it holds (nothing, garbage, a dead or reused
// process number) or is (a folder, a link, an unreadable file); only one held by a live run refuses.
RunLocks lockRunFolders(const QList<RunFolder>& folders, const QString& programFolder);

} // namespace kestrove
