#pragma once

#include <QString>
#include <QStringList>

namespace kestrove {

// Comma-separated values as spreadsheets read them: a field holding a comma, a double quote or a
// line end is quoted, its double quotes doubled.
QString csvField(const QString& text);
QString csvLine(const QStringList& fields);
// One line back into its fields; tolerant of a trailing CR.
QStringList splitCsvLine(const QString& line);

} // namespace kestrove
