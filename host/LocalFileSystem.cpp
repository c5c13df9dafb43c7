#include "host/LocalFileSystem.h"

#include "host/HostError.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kestrove {

namespace {

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Makes a rename durable: the directory entry itself must reach the disk.
void syncDirectoryOf(const QString& path)
{
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

class LocalTextStream : public TextStream
{
public:
    LocalTextStream(std::FILE* file, QString path, bool writing, bool syncOnClose)
        : m_file(file), m_path(std::move(path)), m_writing(writing), m_syncOnClose(syncOnClose)
    {
    }

    ~LocalTextStream() override
    {
        try {
            Close();
        } catch (const HostError&) {
            // A destructor cannot report; Close() called explicitly does.
        }
    }

    bool AtEndOfStream() override
    {
        requireOpen(QStringLiteral("AtEndOfStream"));
        if (m_writing)
            throw HostError(QStringLiteral("AtEndOfStream"), m_path, QStringLiteral("stream is open for writing"));
        const int c = getc_unlocked(m_file);
        if (c == EOF)
            return true;
        std::ungetc(c, m_file);
        return false;
    }

    QString ReadLine() override
    {
        requireOpen(QStringLiteral("ReadLine"));
        if (m_writing)
            throw HostError(QStringLiteral("ReadLine"), m_path, QStringLiteral("stream is open for writing"));
        m_line.clear();
        int c;
        bool any = false;
        while ((c = getc_unlocked(m_file)) != EOF) {
            any = true;
            if (c == '\n')
                break;
            m_line.push_back(static_cast<char>(c));
        }
        if (!any)
            throw HostError(QStringLiteral("ReadLine"), m_path, QStringLiteral("input past end of file"));
        if (!m_line.empty() && m_line.back() == '\r')
            m_line.pop_back();
        return QString::fromLatin1(m_line.data(), static_cast<qsizetype>(m_line.size()));
    }

    void Write(const QString& text) override { put(text.toLatin1()); }

    void WriteLine(const QString& text) override
    {
        QByteArray bytes = text.toLatin1();
        bytes.append("\r\n", 2);
        put(bytes);
    }

    void Close() override
    {
        if (!m_file)
            return;
        std::FILE* file = m_file;
        m_file = nullptr;
        bool ok = true;
        if (m_writing) {
            ok = std::fflush(file) == 0;
            if (ok && m_syncOnClose)
                ok = ::fsync(::fileno(file)) == 0;
        }
        const QString reason = ok ? QString() : systemReason();
        ok = (std::fclose(file) == 0) && ok;
        if (!ok)
            throw HostError(QStringLiteral("Close"), m_path, reason.isEmpty() ? systemReason() : reason);
    }

private:
    void requireOpen(const QString& call)
    {
        if (!m_file)
            throw HostError(call, m_path, QStringLiteral("stream is closed"));
    }

    void put(const QByteArray& bytes)
    {
        requireOpen(QStringLiteral("WriteLine"));
        if (!m_writing)
            throw HostError(QStringLiteral("WriteLine"), m_path, QStringLiteral("stream is open for reading"));
        if (std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), m_file) != static_cast<size_t>(bytes.size()))
            throw HostError(QStringLiteral("WriteLine"), m_path, systemReason());
    }

    std::FILE* m_file;
    QString m_path;
    bool m_writing;
    bool m_syncOnClose;
    std::string m_line;
};

class LocalFile : public File
{
public:
    explicit LocalFile(QString path) : m_path(std::move(path)) {}

    void Delete() override
    {
        if (::unlink(QFile::encodeName(m_path).constData()) != 0)
            throw HostError(QStringLiteral("Delete"), m_path, systemReason());
    }

    void Move(const QString& destination) override
    {
        if (QFileInfo::exists(destination))
            throw HostError(QStringLiteral("Move"), destination, QStringLiteral("file already exists"));
        rename(QStringLiteral("Move"), destination);
    }

    void Replace(const QString& destination) override { rename(QStringLiteral("Replace"), destination); }

private:
    void rename(const QString& call, const QString& destination)
    {
        if (std::rename(QFile::encodeName(m_path).constData(), QFile::encodeName(destination).constData()) != 0)
            throw HostError(call, m_path + QStringLiteral(" -> ") + destination, systemReason());
        syncDirectoryOf(destination);
        m_path = destination;
    }

    QString m_path;
};

std::FILE* openFile(const QString& call, const QString& path, const char* mode)
{
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), mode);
    if (!file)
        throw HostError(call, path, systemReason());
    return file;
}

} // namespace

bool LocalFileSystem::FileExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

std::unique_ptr<File> LocalFileSystem::GetFile(const QString& path)
{
    if (!FileExists(path))
        throw HostError(QStringLiteral("GetFile"), path, QStringLiteral("file not found"));
    return std::make_unique<LocalFile>(path);
}

std::unique_ptr<TextStream> LocalFileSystem::OpenTextFile(const QString& path, IOMode mode, bool create)
{
    const QString call = QStringLiteral("OpenTextFile");
    if (QFileInfo(path).isDir())
        throw HostError(call, path, QStringLiteral("is a folder"));
    if (mode == IOMode::ForReading)
        return std::make_unique<LocalTextStream>(openFile(call, path, "rb"), path, false, false);
    if (!create && !FileExists(path))
        throw HostError(call, path, QStringLiteral("file not found"));
    return std::make_unique<LocalTextStream>(openFile(call, path, "ab"), path, true, false);
}

std::unique_ptr<TextStream> LocalFileSystem::CreateTextFile(const QString& path, bool overwrite)
{
    const QString call = QStringLiteral("CreateTextFile");
    if (QFileInfo(path).isDir())
        throw HostError(call, path, QStringLiteral("is a folder"));
    if (!overwrite && QFileInfo::exists(path))
        throw HostError(call, path, QStringLiteral("file already exists"));
    return std::make_unique<LocalTextStream>(openFile(call, path, "wb"), path, true, true);
}

} // namespace kestrove
