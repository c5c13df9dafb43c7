#include "host/HandOver.h"

#include "text/HostError.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kestrove {

namespace {

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The whole content from an open descriptor; false on a read error.
bool readAll(int fd, QByteArray& content)
{
    content.clear();
    char block[4096];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        content.append(block, n);
    }
}

} // namespace

HandOver HandOver::take(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw HostError(QStringLiteral("OpenTextFile"), path, systemReason());
    QByteArray content;
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !readAll(fd, content)) {
        const QString reason = S_ISREG(info.st_mode) ? systemReason() : QStringLiteral("not a file");
        ::close(fd);
        throw HostError(QStringLiteral("OpenTextFile"), path, reason);
    }
    HandOver handOver(fd, path, std::move(content));
    handOver.m_device = info.st_dev;
    handOver.m_inode = info.st_ino;
    handOver.m_size = info.st_size;
    handOver.m_modifiedSeconds = info.st_mtim.tv_sec;
    handOver.m_modifiedNanoseconds = info.st_mtim.tv_nsec;
    return handOver;
}

HandOver::HandOver(int fd, QString path, QByteArray content)
    : m_fd(fd), m_path(std::move(path)), m_content(std::move(content))
{
}

HandOver::HandOver(HandOver&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path)),
      m_content(std::move(other.m_content)), m_device(other.m_device), m_inode(other.m_inode),
      m_size(other.m_size), m_modifiedSeconds(other.m_modifiedSeconds),
      m_modifiedNanoseconds(other.m_modifiedNanoseconds)
{
}

HandOver& HandOver::operator=(HandOver&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
        m_content = std::move(other.m_content);
        m_device = other.m_device;
        m_inode = other.m_inode;
        m_size = other.m_size;
        m_modifiedSeconds = other.m_modifiedSeconds;
        m_modifiedNanoseconds = other.m_modifiedNanoseconds;
    }
    return *this;
}

HandOver::~HandOver()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QStringList HandOver::lines() const
{
    QStringList lines = QString::fromLatin1(m_content).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& line : lines)
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    return lines;
}

QString HandOver::whyNotInPlace() const
{
    const QByteArray name = QFile::encodeName(m_path);
    struct stat info = {};
    if (::stat(name.constData(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return QStringLiteral("is gone");
        const QString reason = systemReason();
        return QStringLiteral("cannot be read: ") + reason;
    }
    if (info.st_dev != m_device || info.st_ino != m_inode)
        return QStringLiteral("was replaced");
    if (info.st_size != m_size || info.st_mtim.tv_sec != m_modifiedSeconds ||
        info.st_mtim.tv_nsec != m_modifiedNanoseconds)
        return QStringLiteral("was changed");
    // Written again within one tick of the file system's clock: only the content tells.
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const QString reason = systemReason();
        return QStringLiteral("cannot be read: ") + reason;
    }
    QByteArray now;
    const bool read = readAll(fd, now);
    ::close(fd);
    if (!read)
        return QStringLiteral("cannot be read");
    return now == m_content ? QString() : QStringLiteral("was changed");
}

} // namespace kestrove
