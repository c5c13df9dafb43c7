#include "host/LocalFileSystem.h"

#include "host/OpenWriters.h"
#include "text/HostError.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// Latin-1 bytes as UTF-16 into `out`, sixteen at a time where the processor allows.
void fromLatin1(char16_t* out, const char* source, size_t size)
{
    size_t i = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= size; i += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(chunk, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(chunk, zero));
    }
#endif
    for (; i < size; ++i)
        out[i] = static_cast<unsigned char>(source[i]);
}

// Characters beyond Latin-1 become '?', as toLatin1 does. A survey log is written by the hundred
// thousand lines, so plain Latin-1 is converted eight characters at a time where the processor allows.
void toLatin1(char* out, const char16_t* source, size_t size)
{
    size_t i = 0;
#ifdef __SSE2__
    for (; i + 8 <= size; i += 8) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
        const __m128i highBytes = _mm_srli_epi16(chunk, 8);
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(highBytes, _mm_setzero_si128())) != 0xffff)
            break;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(chunk, chunk));
    }
#endif
    for (; i < size; ++i) {
        const char16_t c = source[i];
        out[i] = c < 0x100 ? static_cast<char>(c) : '?';
    }
}

// A text stream over a file descriptor with its own buffer: lines are found with memchr and
// converted in bulk, so reading or writing a long file costs little per line and no locking.
class LocalTextStream : public TextStream
{
public:
    LocalTextStream(int fd, QString path, bool writing, bool syncOnClose)
        : m_fd(fd), m_path(std::move(path)), m_writing(writing), m_syncOnClose(syncOnClose)
    {
        if (writing)
            m_buffer.reserve(bufferSize);
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
            throw HostError(QStringLiteral("AtEndOfStream"), m_path,
                            QStringLiteral("stream is open for writing"));
        return m_begin == m_end && !fill();
    }

    QString ReadLine() override
    {
        QString line;
        readLineInto(line);
        return line;
    }

    void readLineInto(QString& line) override
    {
        const std::string_view bytes = nextLine();
        const size_t length = bytes.size() - (bytes.ends_with('\r') ? 1 : 0);
        if (length == 0) {
            // Empty, not null, as ever.
            line = QString::fromLatin1(bytes.data(), 0);
            return;
        }
        // Kept when the string is ours alone and long enough.
        line.resize(static_cast<qsizetype>(length));
        fromLatin1(reinterpret_cast<char16_t*>(line.data()), bytes.data(), length);
    }

    void Write(const QString& text) override { put(text, false); }

    void WriteLine(const QString& text) override { put(text, true); }

    bool keepBytes(QByteArray* bytes) override
    {
        m_kept = m_writing ? nullptr : bytes;
        return m_kept != nullptr;
    }

    void Flush() override
    {
        if (m_fd >= 0 && m_writing && !writeAll(m_fd))
            throw HostError(QStringLiteral("Flush"), m_path, systemReason());
    }

    void Close() override
    {
        if (m_fd < 0)
            return;
        const int fd = m_fd;
        m_fd = -1;
        bool ok = true;
        QString reason;
        if (m_writing) {
            ok = writeAll(fd);
            if (ok && m_syncOnClose)
                ok = ::fsync(fd) == 0;
            if (!ok)
                reason = systemReason();
        }
        ok = (::close(fd) == 0) && ok;
        if (!ok)
            throw HostError(QStringLiteral("Close"), m_path, reason.isEmpty() ? systemReason() : reason);
    }

private:
    static constexpr size_t bufferSize = 1 << 16;

    // The bytes of the next line without its '\n', valid until the next read.
    std::string_view nextLine()
    {
        requireOpen(QStringLiteral("ReadLine"));
        if (m_writing)
            throw HostError(QStringLiteral("ReadLine"), m_path, QStringLiteral("stream is open for writing"));
        if (m_begin == m_end && !fill())
            throw HostError(QStringLiteral("ReadLine"), m_path, QStringLiteral("input past end of file"));
        // Most lines lie whole in the buffer; a line across its end is gathered in m_line.
        m_line.clear();
        for (;;) {
            const char* start = m_block.get() + m_begin;
            const size_t available = m_end - m_begin;
            const auto* newline = static_cast<const char*>(std::memchr(start, '\n', available));
            if (newline) {
                const size_t length = static_cast<size_t>(newline - start);
                m_begin += length + 1;
                if (m_line.empty())
                    return {start, length};
                m_line.append(start, length);
                break;
            }
            m_line.append(start, available);
            m_begin = m_end;
            if (!fill())
                break;
        }
        return m_line;
    }

    void requireOpen(const QString& call)
    {
        if (m_fd < 0)
            throw HostError(call, m_path, QStringLiteral("stream is closed"));
    }

    // Reads the next block; false at the end of the file.
    bool fill()
    {
        // Not zero-filled first: a scan opens hundreds of small files a pass.
        if (!m_block)
            m_block = std::make_unique_for_overwrite<char[]>(bufferSize);
        m_begin = 0;
        m_end = 0;
        for (;;) {
            const ssize_t n = ::read(m_fd, m_block.get(), bufferSize);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                throw HostError(QStringLiteral("ReadLine"), m_path, systemReason());
            m_end = static_cast<size_t>(n);
            if (m_kept)
                m_kept->append(m_block.get(), n);
            return n > 0;
        }
    }

    bool writeAll(int fd)
    {
        size_t done = 0;
        while (done < m_buffer.size()) {
            const ssize_t n = ::write(fd, m_buffer.data() + done, m_buffer.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        m_buffer.clear();
        return true;
    }

    void put(const QString& text, bool lineEnd)
    {
        if (m_fd < 0 || !m_writing) {
            requireOpen(QStringLiteral("WriteLine"));
            throw HostError(QStringLiteral("WriteLine"), m_path,
                            QStringLiteral("stream is open for reading"));
        }
        const size_t size = static_cast<size_t>(text.size());
        const size_t needed = size + (lineEnd ? 2 : 0);
        const size_t at = m_buffer.size();
        m_buffer.append(needed, '\0');
        char* out = m_buffer.data() + at;
        toLatin1(out, reinterpret_cast<const char16_t*>(text.constData()), size);
        if (lineEnd) {
            out[size] = '\r';
            out[size + 1] = '\n';
        }
        if (m_buffer.size() >= bufferSize && !writeAll(m_fd))
            throw HostError(QStringLiteral("WriteLine"), m_path, systemReason());
    }

    int m_fd;
    QString m_path;
    bool m_writing;
    bool m_syncOnClose;
    std::string m_buffer; // writing: what is not yet written
    // Reading: the current block, where its next line starts and where it ends.
    std::unique_ptr<char[]> m_block;
    size_t m_begin = 0;
    size_t m_end = 0;
    std::string m_line;
    QByteArray* m_kept = nullptr; // where the bytes read are kept, if anywhere
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

    void Replace(const QString& destination) override
    {
        rename(QStringLiteral("Replace"), destination, true);
    }
    void ReplaceUnsynced(const QString& destination) override
    {
        rename(QStringLiteral("Replace"), destination, false);
    }

private:
    void rename(const QString& call, const QString& destination, bool sync = true)
    {
        if (std::rename(QFile::encodeName(m_path).constData(), QFile::encodeName(destination).constData()) !=
            0)
            throw HostError(call, m_path + QStringLiteral(" -> ") + destination, systemReason());
        if (sync)
            syncDirectoryOf(destination);
        m_path = destination;
    }

    QString m_path;
};

int openFile(const QString& call, const QString& path, int flags)
{
    int fd;
    do {
        fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw HostError(call, path, systemReason());
    return fd;
}

} // namespace

LocalFileSystem::LocalFileSystem() = default;
LocalFileSystem::~LocalFileSystem() = default;

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
        return std::make_unique<LocalTextStream>(openFile(call, path, O_RDONLY), path, false, false);
    if (!create && !FileExists(path))
        throw HostError(call, path, QStringLiteral("file not found"));
    return std::make_unique<LocalTextStream>(openFile(call, path, O_WRONLY | O_CREAT | O_APPEND), path, true,
                                             false);
}

std::unique_ptr<TextStream> LocalFileSystem::CreateTextFile(const QString& path, bool overwrite)
{
    const QString call = QStringLiteral("CreateTextFile");
    if (QFileInfo(path).isDir())
        throw HostError(call, path, QStringLiteral("is a folder"));
    if (!overwrite && QFileInfo::exists(path))
        throw HostError(call, path, QStringLiteral("file already exists"));
    return std::make_unique<LocalTextStream>(openFile(call, path, O_WRONLY | O_CREAT | O_TRUNC), path, true,
                                             true);
}

std::optional<FileStatus> LocalFileSystem::Status(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    if (path.isEmpty() || ::stat(name.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    FileStatus status;
    status.device = static_cast<quint64>(info.st_dev);
    status.inode = static_cast<quint64>(info.st_ino);
    status.size = static_cast<qint64>(info.st_size);
    status.modifiedNs = static_cast<qint64>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    status.permissions = static_cast<unsigned>(info.st_mode & 07777);
    // The permission bits as well: a superuser may write anything, yet a file made read-only is meant
    // to stay as it is.
    status.writable = (info.st_mode & 0222) != 0 && ::access(name.constData(), W_OK) == 0;
    return status;
}

QString LocalFileSystem::ResolvedPath(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isSymLink())
        return path;
    // A dangling link stays as given: opening it reports the missing file.
    const QString target = info.canonicalFilePath();
    return target.isEmpty() ? path : target;
}

void LocalFileSystem::SetPermissions(const QString& path, unsigned permissions)
{
    if (::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(permissions & 07777)) != 0)
        throw HostError(QStringLiteral("SetPermissions"), path, systemReason());
}

std::optional<FileWriter> LocalFileSystem::writerOf(const QString& path)
{
    if (!m_writers)
        m_writers = std::make_unique<OpenWriters>();
    return m_writers->writerOf(path);
}

void writeWholeFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw HostError(QStringLiteral("write"), path, file.errorString());
}

} // namespace kestrove
