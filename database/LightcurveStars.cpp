#include "database/DatabaseError.h"
#include "database/ObservationDb.h"
#include "database/SqlRows.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <map>

namespace kestrove::database {

using namespace sql;

namespace {

using Role = InstrumentalMagnitude::Role;

QString roleText(Role role)
{
    switch (role) {
    case Role::Target:
        return QStringLiteral("target");
    case Role::Check:
        return QStringLiteral("check");
    case Role::Comparison:
        break;
    }
    return QStringLiteral("comparison");
}

Role roleOf(const QString& text)
{
    return text == QLatin1String("target")  ? Role::Target
           : text == QLatin1String("check") ? Role::Check
                                            : Role::Comparison;
}
} // namespace

// Inside addLightcurvePoint's transaction.
void ObservationDb::addInstrumentalMagnitudes(qint64 pointId, const std::vector<InstrumentalMagnitude>& stars)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(
        QStringLiteral("INSERT INTO lightcurve_stars (point_id, role, star, magnitude, error, reference) "
                       "VALUES (?, ?, ?, ?, ?, ?)"));
    for (const InstrumentalMagnitude& s : stars) {
        q.addBindValue(pointId);
        q.addBindValue(roleText(s.role));
        q.addBindValue(s.star.isNull() ? QStringLiteral("") : s.star);
        q.addBindValue(orNull(s.magnitude));
        q.addBindValue(orNull(s.error));
        q.addBindValue(orNull(s.reference));
        if (!q.exec())
            throw DatabaseError(m_path, QStringLiteral("cannot record a lightcurve star"),
                                q.lastError().text());
    }
}

void ObservationDb::instrumentalMagnitudes(std::vector<LightcurvePoint>& points) const
{
    std::map<qint64, LightcurvePoint*> byId;
    for (LightcurvePoint& p : points) {
        p.instrumental.clear();
        byId[p.id] = &p;
    }
    if (byId.empty())
        return;
    // Between the points' first and last ids, in the order they were written.
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT point_id, role, star, magnitude, error, reference FROM lightcurve_stars "
                             "WHERE point_id >= ? AND point_id <= ? ORDER BY rowid"));
    q.addBindValue(byId.begin()->first);
    q.addBindValue(byId.rbegin()->first);
    if (!q.exec())
        throw DatabaseError(m_path, QStringLiteral("cannot read the lightcurve's stars"),
                            q.lastError().text());
    while (q.next()) {
        const auto it = byId.find(q.value(0).toLongLong());
        if (it == byId.end())
            continue;
        it->second->instrumental.push_back({roleOf(q.value(1).toString()), q.value(2).toString(),
                                            optionalOf(q.value(3)), optionalOf(q.value(4)),
                                            optionalOf(q.value(5))});
    }
}

} // namespace kestrove::database
