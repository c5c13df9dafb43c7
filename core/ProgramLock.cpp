#include "core/ProgramLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrove {

namespace {

// Each attempt finds the file changed under it by another start; a few are plenty.
constexpr int kAttempts = 5;
// A run writes its name into the lock just after taking it: a holder is given this long to do so.
constexpr int kNamingTries = 10;
constexpr int kNamingPauseMs = 20;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The run a lock names.
struct Holder
{
    qint64 pid = 0;
    QString host;
    QString programFolder;
};

QByteArray lockText(const QString& programFolder)
{
    return QStringLiteral("pid=%1\nhost=%2\nprogram=%3\n")
        .arg(::getpid())
        .arg(QSysInfo::machineHostName(), programFolder)
        .toUtf8();
}

std::optional<Holder> parseLock(const QByteArray& bytes)
{
    Holder holder;
    for (const QByteArray& line : bytes.split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray key = line.left(equals);
        const QString value = QString::fromUtf8(line.mid(equals + 1));
        if (key == "pid")
            holder.pid = value.toLongLong();
        else if (key == "host")
            holder.host = value;
        else if (key == "program")
            holder.programFolder = value;
    }
    if (holder.pid <= 0)
        return std::nullopt;
    return holder;
}

QByteArray readAll(int descriptor)
{
    QByteArray bytes;
    char buffer[4096];
    while (bytes.size() < 65536) {
        const ssize_t read = ::pread(descriptor, buffer, sizeof buffer, bytes.size());
        if (read < 0 && errno == EINTR)
            continue;
        if (read <= 0)
            break;
        bytes.append(buffer, read);
    }
    return bytes;
}

// True while the path still names the open file: a start that took the lock a moment ago may have
// removed it and made another since.
bool stillNamed(int descriptor, const QByteArray& path)
{
    struct stat open = {};
    struct stat named = {};
    return ::fstat(descriptor, &open) == 0 && ::lstat(path.constData(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

QString refusalOf(const RunFolder& folder, const std::optional<Holder>& holder)
{
    const QString folderText = QDir::toNativeSeparators(folder.path);
    QString who = holder ? QStringLiteral("process %1 on %2").arg(holder->pid).arg(holder->host)
                         : QStringLiteral("a process that is still starting");
    if (folder.key.isEmpty())
        return QStringLiteral(
                   "Another Kestrove runs a survey on the program folder \"%1\" (%2); a second run "
                   "would overwrite its records. Stop that one first.")
            .arg(folderText, who);
    if (holder && !holder->programFolder.isEmpty())
        who += QStringLiteral(", program folder \"%1\"").arg(QDir::toNativeSeparators(holder->programFolder));
    return QStringLiteral("Another Kestrove runs a survey with the %1 \"%2\" (%3); a second survey there "
                          "would overwrite its records. Stop that one first, or give this observatory a %1 "
                          "of its own (%4 in observatory.ini).")
        .arg(folder.role, folderText, who, folder.key);
}

// One folder's lock, or why it cannot be had, and what was said of a lock that was replaced.
struct FolderResult
{
    std::unique_ptr<FolderLock> lock;
    QString refusal;
    QString note;
};

// Removes what stands where the lock belongs and cannot be opened as one: a folder, a link, a file
// nobody may read. No run makes such a thing, so no run can hold it. False, with the refusal, when
// it cannot be removed.
bool removeNonLock(const RunFolder& folder, const QString& path, int openError, FolderResult& result)
{
    const QByteArray native = QFile::encodeName(path);
    const QString quoted = u'"' + QDir::toNativeSeparators(path) + u'"';
    struct stat status = {};
    if (::lstat(native.constData(), &status) != 0)
        return errno == ENOENT; // gone meanwhile: tried again
    QString what;
    int removed = 0;
    if (S_ISDIR(status.st_mode)) {
        what = QStringLiteral("a folder");
        removed = ::rmdir(native.constData());
    } else {
        what = S_ISLNK(status.st_mode) ? QStringLiteral("a symbolic link")
               : S_ISREG(status.st_mode)
                   ? QStringLiteral("unreadable (%1)").arg(systemError(openError))
                   : QStringLiteral("no file a lock can be kept in (%1)").arg(systemError(openError));
        removed = ::unlink(native.constData());
    }
    if (removed != 0) {
        const int error = errno;
        result.refusal =
            QStringLiteral("The %1 \"%2\" cannot be held for the run: its lock file %3 is %4, not a "
                           "lock, and cannot be removed (%5). Remove it.")
                .arg(folder.role, QDir::toNativeSeparators(folder.path), quoted, what, systemError(error));
        return false;
    }
    result.note = QStringLiteral("The lock file %1 was %2, not a lock that a run holds: it was replaced.")
                      .arg(quoted, what);
    return true;
}

FolderResult lockFolder(const RunFolder& folder, const QString& programFolder)
{
    FolderResult result;
    const QString path = programLockPath(folder.path);
    const QByteArray native = QFile::encodeName(path);
    const auto cannotHold = [&](const QString& why) {
        result.refusal =
            QStringLiteral("The %1 \"%2\" cannot be held for the run: its lock file \"%3\" %4.")
                .arg(folder.role, QDir::toNativeSeparators(folder.path), QDir::toNativeSeparators(path), why);
    };
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        bool created = true;
        bool writable = true;
        int descriptor = ::open(native.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (descriptor < 0 && errno == EEXIST) {
            created = false;
            descriptor = ::open(native.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
            // Another user's lock may be read, not written.
            if (descriptor < 0 && errno == EACCES) {
                writable = false;
                descriptor = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            }
            if (descriptor < 0) {
                const int error = errno;
                if (error == ENOENT)
                    continue;
                if (!removeNonLock(folder, path, error, result))
                    return result;
                continue;
            }
        } else if (descriptor < 0) {
            cannotHold(QStringLiteral("cannot be made (%1)").arg(systemError(errno)));
            return result;
        }

        if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if (error == EWOULDBLOCK) {
                // A live process holds it; it names itself just after taking it.
                std::optional<Holder> holder = parseLock(readAll(descriptor));
                for (int i = 0; !holder && i < kNamingTries; ++i) {
                    QThread::msleep(kNamingPauseMs);
                    holder = parseLock(readAll(descriptor));
                }
                result.refusal = refusalOf(folder, holder);
            } else {
                cannotHold(QStringLiteral("cannot be locked (%1)").arg(systemError(error)));
            }
            ::close(descriptor);
            return result;
        }
        if (!stillNamed(descriptor, native)) {
            ::close(descriptor);
            continue;
        }
        // Nobody holds it: what it says is stale. Only what cannot be read as a lock is worth a word;
        // the lock of a run that ended without letting go is the usual case.
        if (!created) {
            const QByteArray old = readAll(descriptor);
            const QString quoted = u'"' + QDir::toNativeSeparators(path) + u'"';
            if (old.isEmpty())
                result.note =
                    QStringLiteral("The lock file %1 was empty, as a power cut can leave it, and no "
                                   "run held it: it was replaced.")
                        .arg(quoted);
            else if (!parseLock(old))
                result.note = QStringLiteral("The lock file %1 could not be read as a lock, and no run held "
                                             "it: it was replaced.")
                                  .arg(quoted);
        }
        if (!writable) {
            const int removed = ::unlink(native.constData());
            const int error = errno;
            ::close(descriptor);
            if (removed != 0) {
                cannotHold(
                    QStringLiteral("is another user's and cannot be replaced (%1)").arg(systemError(error)));
                return result;
            }
            continue;
        }
        const QByteArray text = lockText(programFolder);
        // Readable by every user, so that another user's start can name this run.
        if (::fchmod(descriptor, 0644) != 0 || ::ftruncate(descriptor, 0) != 0 ||
            ::pwrite(descriptor, text.constData(), static_cast<size_t>(text.size()), 0) != text.size()) {
            const int error = errno;
            ::close(descriptor);
            cannotHold(QStringLiteral("cannot be written (%1)").arg(systemError(error)));
            return result;
        }
        result.lock = std::make_unique<FolderLock>(descriptor, path);
        return result;
    }
    cannotHold(QStringLiteral("changed with every attempt to take it; another start may be taking it"));
    return result;
}

} // namespace

QString programLockPath(const QString& folder)
{
    return QDir(folder).filePath(QStringLiteral("Kestrove.lock"));
}

FolderLock::~FolderLock()
{
    // Removed while still held, and only while it is this lock's file: another run may have put its
    // own in its place should someone have deleted this one.
    const QByteArray native = QFile::encodeName(m_path);
    if (stillNamed(m_descriptor, native))
        ::unlink(native.constData());
    ::close(m_descriptor);
}

RunLocks lockRunFolders(const QList<RunFolder>& folders, const QString& programFolder)
{
    RunLocks locks;
    QStringList held;
    for (const RunFolder& folder : folders) {
        if (folder.path.isEmpty())
            continue;
        QDir().mkpath(folder.path);
        const QString canonical = QFileInfo(folder.path).canonicalFilePath();
        const QString same =
            canonical.isEmpty() ? QDir::cleanPath(QDir(folder.path).absolutePath()) : canonical;
        if (held.contains(same))
            continue;
        held << same;
        FolderResult result = lockFolder(folder, programFolder);
        if (!result.lock) {
            locks.held.clear();
            locks.notes.clear();
            locks.refusal = result.refusal;
            return locks;
        }
        if (!result.note.isEmpty())
            locks.notes << result.note;
        locks.held.push_back(std::move(result.lock));
    }
    return locks;
}

} // namespace kestrove
