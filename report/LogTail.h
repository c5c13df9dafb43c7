#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kestrove {

// Follows a text file that grows, as tail -f does: each poll returns the whole lines written since
// the last one, and never more than the last `maxBytes` of them, so a long pass costs one bounded
// read however many lines it wrote.
class LogTail
{
public:
    explicit LogTail(qint64 maxBytes = 64 * 1024) : m_maxBytes(maxBytes) {}

    // Starts following another file (or the same one afresh) from its last `maxBytes`.
    void follow(const QString& path);
    const QString& path() const { return m_path; }
    // The new whole lines, without their line ends. A file that shrank was replaced: it is read
    // again from its end less `maxBytes`.
    QStringList poll();

private:
    QString m_path;
    qint64 m_maxBytes;
    qint64 m_offset = -1; // where the next read starts; -1 before the first
    QByteArray m_partial; // a line not yet ended
};

} // namespace kestrove
