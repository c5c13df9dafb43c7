#include "report/LogTail.h"

#include <QFile>

namespace kestrove {

void LogTail::follow(const QString& path)
{
    m_path = path;
    m_offset = -1;
    m_partial.clear();
}

QStringList LogTail::poll()
{
    QFile file(m_path);
    if (m_path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    const qint64 size = file.size();
    // First, after a replacement (the file shrank), or too far behind: only the newest part.
    const bool reposition = m_offset < 0 || size < m_offset || size - m_offset > m_maxBytes;
    bool midLine = false;
    if (reposition) {
        m_offset = std::max<qint64>(0, size - m_maxBytes);
        m_partial.clear();
        char before = '\n';
        if (m_offset > 0 && file.seek(m_offset - 1))
            file.getChar(&before);
        midLine = before != '\n';
    }
    if (!file.seek(m_offset))
        return {};
    const QByteArray fresh = file.read(size - m_offset);
    m_offset += fresh.size();
    const QByteArray bytes = m_partial + fresh;
    m_partial.clear();

    QStringList lines;
    qsizetype start = 0;
    if (midLine) {
        const qsizetype newline = bytes.indexOf('\n');
        start = newline < 0 ? bytes.size() : newline + 1;
    }
    for (;;) {
        const qsizetype newline = bytes.indexOf('\n', start);
        if (newline < 0)
            break;
        qsizetype end = newline;
        if (end > start && bytes[end - 1] == '\r')
            --end;
        lines << QString::fromLatin1(bytes.constData() + start, end - start);
        start = newline + 1;
    }
    m_partial = bytes.mid(start);
    return lines;
}

} // namespace kestrove
