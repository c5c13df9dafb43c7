#pragma once

#include <QString>
#include <memory>

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
    virtual void Write(const QString& text) = 0;
    virtual void WriteLine(const QString& text) = 0;
    // Hands what was written so far to the operating system, so that readers of the file see it.
    virtual void Flush() {}
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
};

enum class IOMode
{
    ForReading = 1,
    ForAppending = 8
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
};

} // namespace kestrove
