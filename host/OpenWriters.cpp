#include "host/OpenWriters.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrove {

Q_LOGGING_CATEGORY(lcWriters, "kestrove.writers")

namespace {

// How long a look in /proc answers for a file when no watch can be kept.
constexpr qint64 kLookMs = 1000;
// Room for "/proc/<pid>/fdinfo/<fd>", each name up to 255 bytes.
constexpr size_t kProcPathSize = 600;

constexpr uint32_t kWatchedEvents =
    IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR;

std::optional<OpenWriters::Key> keyOf(const QByteArray& path)
{
    struct stat info = {};
    if (::stat(path.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return OpenWriters::Key{static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino)};
}

// A small file of /proc, whole; empty when it cannot be read.
QByteArray procText(const char* path)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char buffer[4096];
    ssize_t n;
    do {
        n = ::read(fd, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    return n > 0 ? QByteArray(buffer, n) : QByteArray();
}

// The "flags:" line of a descriptor's fdinfo, octal: opened write-only or for reading and writing.
bool openForWriting(const char* fdinfoPath)
{
    const QByteArray info = procText(fdinfoPath);
    const qsizetype at = info.indexOf("flags:");
    if (at < 0)
        return false;
    const long flags = std::strtol(info.constData() + at + 6, nullptr, 8);
    return (flags & O_ACCMODE) != O_RDONLY;
}

FileWriter processOf(const char* pid)
{
    char path[kProcPathSize];
    std::snprintf(path, sizeof path, "/proc/%s/comm", pid);
    FileWriter writer;
    writer.pid = std::atoll(pid);
    writer.program = QString::fromLocal8Bit(procText(path).trimmed());
    return writer;
}

// The files that `wanted` accepts and a process this one may look at holds open for writing, each
// with the first such process found. A stat per open descriptor; fdinfo only for the wanted ones.
template <typename Wanted> QHash<OpenWriters::Key, FileWriter> writersInProc(Wanted&& wanted)
{
    QHash<OpenWriters::Key, FileWriter> writers;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return writers;
    while (const dirent* process = ::readdir(proc)) {
        if (!std::isdigit(static_cast<unsigned char>(process->d_name[0])))
            continue;
        char path[kProcPathSize];
        std::snprintf(path, sizeof path, "/proc/%s/fd", process->d_name);
        // Another user's process, or one that has just ended.
        DIR* descriptors = ::opendir(path);
        if (!descriptors)
            continue;
        while (const dirent* descriptor = ::readdir(descriptors)) {
            if (descriptor->d_name[0] == '.')
                continue;
            struct stat info = {};
            if (::fstatat(::dirfd(descriptors), descriptor->d_name, &info, 0) != 0 || !S_ISREG(info.st_mode))
                continue;
            const OpenWriters::Key key{static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino)};
            if (writers.contains(key) || !wanted(key))
                continue;
            char fdinfo[kProcPathSize];
            std::snprintf(fdinfo, sizeof fdinfo, "/proc/%s/fdinfo/%s", process->d_name, descriptor->d_name);
            if (openForWriting(fdinfo))
                writers.insert(key, processOf(process->d_name));
        }
        ::closedir(descriptors);
    }
    ::closedir(proc);
    return writers;
}

std::optional<FileWriter> writerInProc(const OpenWriters::Key& key)
{
    const auto writers = writersInProc([&](const OpenWriters::Key& k) { return k == key; });
    const auto found = writers.constFind(key);
    return found == writers.cend() ? std::nullopt : std::optional<FileWriter>(*found);
}

} // namespace

OpenWriters::~OpenWriters()
{
    if (m_inotify >= 0)
        ::close(m_inotify);
}

std::optional<FileWriter> OpenWriters::writerOf(const QString& path)
{
    if (!watching())
        return lookedUp(path);
    readEvents();
    auto place = m_places.constFind(path);
    if (place == m_places.cend()) {
        const QFileInfo info(path);
        // A link's target is the file that is written, and the link may be pointed elsewhere.
        if (info.isSymLink()) {
            const QFileInfo target(info.canonicalFilePath());
            Folder* folder = target.fileName().isEmpty() ? nullptr : folderOf(target.absolutePath());
            return folder ? writerIn(*folder, target.fileName(), target.filePath())
                          : lookedUp(target.filePath());
        }
        place = m_places.insert(path, Place{info.absolutePath(), info.fileName()});
    }
    Folder* folder = folderOf(place->folder);
    return folder ? writerIn(*folder, place->name, path) : lookedUp(path);
}

std::optional<FileWriter> OpenWriters::writerIn(Folder& folder, const QString& name, const QString& file)
{
    const auto state = folder.states.constFind(name);
    if (state == folder.states.cend()) {
        // Nothing happened to the file since the watch began.
        if (folder.before.isEmpty())
            return std::nullopt;
        const auto key = keyOf(QFile::encodeName(file));
        const auto writer = key ? folder.before.constFind(*key) : folder.before.cend();
        return writer == folder.before.cend() ? std::nullopt : std::optional<FileWriter>(*writer);
    }
    const auto key = *state == State::Closed ? std::nullopt : keyOf(QFile::encodeName(file));
    if (!key)
        return std::nullopt;
    if (*state == State::Unknown) {
        const auto writer = writerInProc(*key);
        folder.states[name] = writer ? State::Writing : State::Closed;
        if (writer)
            folder.writers[name] = *writer;
        return writer;
    }
    auto writer = folder.writers.find(name);
    // A process of another user is not shown: the watch has seen it write all the same.
    if (writer == folder.writers.end())
        writer = folder.writers.insert(name, writerInProc(*key).value_or(FileWriter()));
    return *writer;
}

bool OpenWriters::watching()
{
    if (m_inotify == -2) {
        m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_inotify < 0)
            qCWarning(lcWriters) << "no inotify watch, /proc is looked at instead:" << std::strerror(errno);
    }
    return m_inotify >= 0;
}

OpenWriters::Folder* OpenWriters::folderOf(const QString& folderPath)
{
    const auto known = m_folders.find(folderPath);
    if (known != m_folders.end())
        return &*known;
    const QByteArray encoded = QFile::encodeName(folderPath);
    const int watch = ::inotify_add_watch(m_inotify, encoded.constData(), kWatchedEvents);
    struct stat info = {};
    if (watch < 0 || ::stat(encoded.constData(), &info) != 0) {
        qCWarning(lcWriters) << "cannot watch" << folderPath << std::strerror(errno);
        return nullptr;
    }
    Folder folder;
    folder.device = static_cast<quint64>(info.st_dev);
    // Once the watch is there: a writer that began before it is seen here, any later one by the watch.
    folder.before = writersInProc([&](const Key& key) { return key.device == folder.device; });
    m_watches.insert(watch, folderPath);
    return &*m_folders.insert(folderPath, std::move(folder));
}

void OpenWriters::readEvents()
{
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(m_inotify, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                // Events were lost: every file is as /proc shows it now.
                for (Folder& folder : m_folders) {
                    folder.states.clear();
                    folder.writers.clear();
                    folder.before =
                        writersInProc([&](const Key& key) { return key.device == folder.device; });
                }
                continue;
            }
            const auto watch = m_watches.constFind(event->wd);
            if (watch == m_watches.cend())
                continue;
            if (event->mask & IN_IGNORED) {
                // The folder went away; a later question watches it anew.
                m_folders.remove(*watch);
                m_watches.erase(watch);
                continue;
            }
            if (event->len == 0)
                continue;
            Folder& folder = m_folders[*watch];
            const QString name = QFile::decodeName(event->name);
            State& state = folder.states[name];
            if (event->mask & IN_MODIFY) {
                if (state != State::Writing)
                    folder.writers.remove(name);
                state = State::Writing;
            } else if (event->mask & IN_CREATE) {
                folder.writers.remove(name);
                state = State::Unknown;
                forgetPlaces(*watch, name);
            } else {
                if (event->mask & IN_MOVED_TO)
                    forgetPlaces(*watch, name);
                folder.writers.remove(name);
                state = State::Closed;
            }
        }
    }
}

void OpenWriters::forgetPlaces(const QString& folder, const QString& name)
{
    // A file put in the place of one asked about may be a link.
    m_places.removeIf(
        [&](const auto& place) { return place.value().folder == folder && place.value().name == name; });
}

std::optional<FileWriter> OpenWriters::lookedUp(const QString& file)
{
    const auto key = keyOf(QFile::encodeName(QFileInfo(file).canonicalFilePath()));
    if (!key)
        return std::nullopt;
    Look& look = m_looks[*key];
    if (!look.when.isValid() || look.when.hasExpired(kLookMs)) {
        look.writer = writerInProc(*key);
        look.when.start();
    }
    return look.writer;
}

} // namespace kestrove
