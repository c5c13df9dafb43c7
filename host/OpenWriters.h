#pragma once

#include "host/FileSystem.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <optional>

namespace kestrove {

// Tells which files other programs are writing now. An inotify watch on each folder asked about sees
// a file modified and not yet closed, at the cost of one read of the watch per question; /proc names
// the process, and tells about the files nothing has happened to since the watch began. Without
// inotify each question looks in /proc, at most once a second per file.
class OpenWriters
{
public:
    OpenWriters() = default;
    ~OpenWriters();
    OpenWriters(const OpenWriters&) = delete;
    OpenWriters& operator=(const OpenWriters&) = delete;

    // As FileSystem::writerOf.
    std::optional<FileWriter> writerOf(const QString& path);

    // A file as the system tells it apart from others.
    struct Key
    {
        quint64 device = 0;
        quint64 inode = 0;
        bool operator==(const Key& other) const = default;
    };

private:
    enum class State
    {
        Writing, // modified and not closed since
        Closed,  // closed after writing, or put in place whole
        Unknown  // created: /proc tells whether its creator still has it open for writing
    };
    struct Folder
    {
        quint64 device = 0;
        QHash<QString, State> states;       // by file name, for the files something happened to
        QHash<QString, FileWriter> writers; // who writes a file found Writing, once looked up
        QHash<Key, FileWriter> before;      // what was open for writing when the watch began
    };
    // Where a path that is no symbolic link names its file.
    struct Place
    {
        QString folder;
        QString name;
    };
    struct Look
    {
        std::optional<FileWriter> writer;
        QElapsedTimer when;
    };

    bool watching();
    Folder* folderOf(const QString& folderPath);
    void readEvents();
    std::optional<FileWriter> writerIn(Folder& folder, const QString& name, const QString& file);
    void forgetPlaces(const QString& folder, const QString& name);
    std::optional<FileWriter> lookedUp(const QString& file);

    int m_inotify = -2;               // -2: not made yet; -1: not available
    QHash<QString, Folder> m_folders; // by absolute path
    QHash<int, QString> m_watches;    // the folder of each watch
    QHash<QString, Place> m_places;   // by the path asked about: a pass asks about each file twice
    QHash<Key, Look> m_looks;         // without a watch: the last look in /proc
};

inline size_t qHash(const OpenWriters::Key& key, size_t seed = 0)
{
    return qHashMulti(seed, key.device, key.inode);
}

} // namespace kestrove
