#pragma once

#include <QString>

#include <stdexcept>

namespace kestrove::database {

// A failure of the observations database: the file, what was being done and SQLite's own words.
class DatabaseError : public std::runtime_error
{
public:
    DatabaseError(const QString& path, const QString& what, const QString& sqlError)
        : std::runtime_error(QStringLiteral("%1: %2: %3").arg(path, what, sqlError).toStdString())
    {
    }
    QString message() const { return QString::fromStdString(what()); }
};

} // namespace kestrove::database
