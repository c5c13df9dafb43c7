#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <memory>
#include <optional>

namespace kestrove {

// Text file access as the scripting file-system object offers it. Files are single-byte text;
// WriteLine ends lines with CR LF, ReadLine accepts CR LF or LF. Failures throw HostError.

class TextStream
{
public:
    virtual ~TextStream() = default;
    virtual bool AtEndOfStream() = 0;
    // The next line without its line end.
    virtual QString ReadLine() = 0;
    // The same into `line`, whose buffer a stream may reuse: a scan reads a catalogue line by line.
    virtual void readLineInto(QString& line) { line = ReadLine(); }
    virtual void Write(const QString& text) = 0;
    virtual void WriteLine(const QString& text) = 0;
    // Hands what was written so far to the operating system, so that readers of the file see it.
    virtual void Flush() {}
    // From now on appends each byte read from the file, as the file holds it, to `bytes`, which must
    // outlive the reading. False for a stream that cannot.
    virtual bool keepBytes(QByteArray* bytes) { return false; }
    // Flushes what was written to the disk and closes; a stream closes itself on destruction too.
    virtual void Close() = 0;
};

class File
{
public:
    virtual ~File() = default;
    virtual void Delete() = 0;
    // Renames the file; fails when the destination exists.
    virtual void Move(const QString& destination) = 0;
    // Renames the file over the destination in one atomic step: afterwards the destination holds
    // either its old content or this file's, never neither.
    virtual void Replace(const QString& destination) = 0;
    // The same without waiting for the rename itself to reach the disk: after a crash the destination
    // may still hold its old content. For files that are made again when they are found old.
    virtual void ReplaceUnsynced(const QString& destination) { Replace(destination); }
};

enum class IOMode
{
    ForReading = 1,
    ForAppending = 8
};

// What tells a file apart from another one and from its own earlier state, and what a copy that
// takes its place has to keep.
struct FileStatus
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;    // modification time, nanoseconds since the epoch
    unsigned permissions = 0; // the permission bits of the file's mode, e.g. 0644
    bool writable = false;    // this program may write it, and its permissions do not forbid it

    // The same file as before and unchanged since: device and inode, size and modification time.
    bool sameAs(const FileStatus& other) const
    {
        return device == other.device && inode == other.inode && size == other.size &&
               modifiedNs == other.modifiedNs;
    }
};

// A program that holds a file open for writing.
struct FileWriter
{
    qint64 pid = 0;  // 0 when the system does not say which process it is
    QString program; // its name as the system gives it
};

class FileSystem
{
public:
    virtual ~FileSystem() = default;
    // True for an existing file; false for a folder, a missing path or any failure. Never throws.
    virtual bool FileExists(const QString& path) = 0;
    virtual std::unique_ptr<File> GetFile(const QString& path) = 0;
    virtual std::unique_ptr<TextStream> OpenTextFile(const QString& path, IOMode mode,
                                                     bool create = false) = 0;
    virtual std::unique_ptr<TextStream> CreateTextFile(const QString& path, bool overwrite) = 0;

    // A file system that cannot tell files apart keeps these defaults: no status, paths as given,
    // permissions as created.

    // The status of the file a path names, following symbolic links; nothing for a missing path, a
    // folder or a file system that cannot tell. Never throws.
    virtual std::optional<FileStatus> Status(const QString& path) { return std::nullopt; }
    // The file a path finally names: the end of a chain of symbolic links, otherwise the path as
    // given. Never throws.
    virtual QString ResolvedPath(const QString& path) { return path; }
    // Sets a file's permission bits (FileStatus::permissions).
    virtual void SetPermissions(const QString& path, unsigned permissions) {}
    // The program writing the file now (following symbolic links): it has the file open for writing
    // and has not closed it since it last wrote. Nothing when none does or the system cannot tell.
    // Never throws.
    virtual std::optional<FileWriter> writerOf(const QString& path) { return std::nullopt; }
};

} // namespace kestrove
