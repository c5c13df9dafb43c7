#include "database/DatabaseError.h"
#include "database/ObservationDb.h"
#include "database/SqlRows.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <cmath>

namespace kestrove::database {

using namespace sql;

namespace {

// Exposures and set temperatures that count as the same.
constexpr double kExposureTolerance = 0.0005;
constexpr double kTemperatureTolerance = 1.0;

const QString kMasterColumns =
    QStringLiteral("id, kind, exposure, binning, temperature, filter, utc, frames, path");
MasterRecord masterOf(const QSqlQuery& q)
{
    MasterRecord m;
    m.id = q.value(0).toLongLong();
    m.setting.kind = imaging::parseMasterKind(q.value(1).toString()).value_or(imaging::MasterKind::Dark);
    m.setting.exposure = q.value(2).toDouble();
    m.setting.binning = q.value(3).toInt();
    if (!q.value(4).isNull())
        m.setting.temperature = q.value(4).toDouble();
    m.setting.filter = q.value(5).toString();
    m.utc = utcOf(q.value(6));
    m.frames = q.value(7).toInt();
    m.path = q.value(8).toString();
    return m;
}

} // namespace

qint64 ObservationDb::addMaster(const MasterRecord& master)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(
        QStringLiteral("INSERT INTO masters (kind, exposure, binning, temperature, filter, utc, frames, "
                       "path) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    const imaging::MasterSetting& s = master.setting;
    q.addBindValue(imaging::masterKindText(s.kind));
    q.addBindValue(s.exposure);
    q.addBindValue(s.binning);
    q.addBindValue(s.temperature ? QVariant(*s.temperature) : QVariant());
    q.addBindValue(text(s.filter));
    q.addBindValue(utcText(master.utc));
    q.addBindValue(master.frames);
    q.addBindValue(text(master.path));
    run(q, m_path, "cannot record a master");
    return q.lastInsertId().toLongLong();
}

std::optional<MasterRecord> ObservationDb::newestMaster(const imaging::MasterSetting& wanted,
                                                        const QDateTime& notBeforeUtc,
                                                        const QDateTime& notAfterUtc) const
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(
        QStringLiteral("SELECT %1 FROM masters WHERE kind = ? AND binning = ? AND filter = ? AND utc >= ? "
                       "AND utc <= ? ORDER BY utc DESC, id DESC")
            .arg(kMasterColumns));
    q.addBindValue(imaging::masterKindText(wanted.kind));
    q.addBindValue(wanted.binning);
    q.addBindValue(wanted.kind == imaging::MasterKind::Flat ? text(wanted.filter) : QStringLiteral(""));
    q.addBindValue(utcText(notBeforeUtc));
    q.addBindValue(utcText(notAfterUtc));
    run(q, m_path, "cannot read the masters");
    while (q.next()) {
        const MasterRecord m = masterOf(q);
        const auto& t = m.setting.temperature;
        const bool sameTemperature = t.has_value() == wanted.temperature.has_value() &&
                                     (!t || std::abs(*t - *wanted.temperature) <= kTemperatureTolerance);
        // A flat's exposure is its own: any flat of the filter and binning divides.
        const bool sameExposure = wanted.kind != imaging::MasterKind::Dark ||
                                  std::abs(m.setting.exposure - wanted.exposure) <= kExposureTolerance;
        if (sameTemperature && sameExposure)
            return m;
    }
    return std::nullopt;
}

std::vector<MasterRecord> ObservationDb::masters(const QDateTime& fromUtc, const QDateTime& toUtc) const
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT %1 FROM masters WHERE utc >= ? AND utc < ? ORDER BY utc, id")
                  .arg(kMasterColumns));
    q.addBindValue(utcText(fromUtc));
    q.addBindValue(utcText(toUtc));
    run(q, m_path, "cannot read the masters");
    std::vector<MasterRecord> records;
    while (q.next())
        records.push_back(masterOf(q));
    return records;
}

} // namespace kestrove::database
