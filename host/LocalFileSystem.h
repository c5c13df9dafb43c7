#pragma once

#include "host/FileSystem.h"

#include <memory>

namespace kestrove {

class OpenWriters;

// Text files on the local disk: Latin-1, CR LF written, CR LF or LF read, buffered so that reading
// or writing a long targets file streams in constant memory.
class LocalFileSystem : public FileSystem
{
public:
    LocalFileSystem();
    ~LocalFileSystem() override;

    bool FileExists(const QString& path) override;
    std::unique_ptr<File> GetFile(const QString& path) override;
    std::unique_ptr<TextStream> OpenTextFile(const QString& path, IOMode mode, bool create = false) override;
    std::unique_ptr<TextStream> CreateTextFile(const QString& path, bool overwrite) override;
    std::optional<FileStatus> Status(const QString& path) override;
    QString ResolvedPath(const QString& path) override;
    void SetPermissions(const QString& path, unsigned permissions) override;
    std::optional<FileWriter> writerOf(const QString& path) override;

private:
    // Made when first asked: most file systems of the program never are.
    std::unique_ptr<OpenWriters> m_writers;
};

// Writes a whole file in one step: afterwards it holds these bytes or what it held before. Throws
// HostError naming the path when it cannot.
void writeWholeFile(const QString& path, const QByteArray& bytes);

} // namespace kestrove
