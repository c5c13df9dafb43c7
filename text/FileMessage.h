#pragma once

#include <QString>
#include <QStringView>

namespace kestrove {

// The text with every unprintable character escaped, so that a line break or a NUL byte from a
// file can neither split nor cut short the message that shows it: \t, \r, \n, \x00 and other
// control characters as \xNN (\uNNNN beyond Latin-1).
QString printableText(QStringView text);

// The one form of every message about a line of a file: `<file> line <n>: <message>: "<text>"`.
// An empty file name leaves out the place, a line of 0 or less the line; both parts are escaped.
QString lineMessage(const QString& file, qint64 line, const QString& message, QStringView text);

} // namespace kestrove
