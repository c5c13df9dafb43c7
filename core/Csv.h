#pragma once

#include <QString>
#include <QStringList>

namespace kestrove {

// Comma-separated values as spreadsheets read them: a field holding a comma, a double quote or a
// line end is quoted, its double quotes doubled.
QString csvField(const QString& text);
QString csvLine(const QStringList& fields);
// One line back into its fields; tolerant of a trailing CR. Some spreadsheets separate with ';'.
QStringList splitCsvLine(const QString& line, QChar delimiter = u',');
// The text of bytes Kestrove wrote for itself: UTF-8, or Latin-1 for bytes that are no UTF-8, as
// older versions wrote its files.
QString ownText(const QByteArray& bytes);
// The lines of one of Kestrove's own files (`ownText` line by line: a file begun by an older
// version reads whole), without their CR LF or LF, blank ones left out; none for a missing file. A
// file that cannot be read throws HostError naming `call` and the path.
QStringList readCsvFileLines(const QString& path, const QString& call);

} // namespace kestrove
