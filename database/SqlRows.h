#pragma once

// The forms the observations database's columns take and the way its statements run, shared by the
// files that keep its tables. Only those files include it.

#include "database/DatabaseError.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <optional>

namespace kestrove::database::sql {

// Fixed-width ISO 8601 in UTC with milliseconds, so that text order is time order.
inline QVariant utcText(const QDateTime& utc)
{
    return utc.isValid() ? QVariant(utc.toUTC().toString(Qt::ISODateWithMs)) : QVariant();
}

inline QDateTime utcOf(const QVariant& value)
{
    return value.isNull() ? QDateTime() : QDateTime::fromString(value.toString(), Qt::ISODateWithMs).toUTC();
}

// Qt binds a null QString as NULL: an empty text is stored as empty.
inline QString text(const QString& value)
{
    return value.isNull() ? QStringLiteral("") : value;
}

inline QVariant orNull(const std::optional<double>& value)
{
    return value ? QVariant(*value) : QVariant();
}

inline std::optional<double> optionalOf(const QVariant& value)
{
    return value.isNull() ? std::nullopt : std::optional(value.toDouble());
}

// Runs a prepared query, or throws naming what it was for.
inline void run(QSqlQuery& q, const QString& path, const char* what)
{
    if (!q.exec())
        throw DatabaseError(path, QString::fromLatin1(what), q.lastError().text());
}

inline void run(QSqlDatabase& db, const QString& path, const QString& statement, const char* what)
{
    QSqlQuery q(db);
    if (!q.exec(statement))
        throw DatabaseError(path, QString::fromLatin1(what), q.lastError().text());
}

// A transaction that rolls back unless committed: a throw on the way leaves nothing half-written.
class Transaction
{
public:
    Transaction(QSqlDatabase& db, const QString& path) : m_db(db), m_path(path)
    {
        if (!m_db.transaction())
            throw DatabaseError(m_path, QStringLiteral("cannot begin a transaction"),
                                m_db.lastError().text());
    }
    ~Transaction()
    {
        if (!m_done)
            m_db.rollback();
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit()
    {
        if (!m_db.commit())
            throw DatabaseError(m_path, QStringLiteral("cannot commit"), m_db.lastError().text());
        m_done = true;
    }

private:
    QSqlDatabase& m_db;
    const QString& m_path;
    bool m_done = false;
};

} // namespace kestrove::database::sql
