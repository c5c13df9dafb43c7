#include "database/ObservationDb.h"
#include "database/SqlRows.h"

#include "database/DatabaseError.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <atomic>
#include <cmath>

namespace kestrove::database {

using namespace sql;

namespace {

// Each step takes the schema from its index (the user_version found) to the next version.
const std::vector<std::vector<const char*>> kMigrations = {
    {
        "CREATE TABLE plans ("
        " id INTEGER PRIMARY KEY,"
        " kind TEXT NOT NULL,"
        " target TEXT NOT NULL,"
        " start_utc TEXT NOT NULL,"
        " end_utc TEXT,"
        " result TEXT,"
        " frames INTEGER NOT NULL DEFAULT 0,"
        " accepted INTEGER NOT NULL DEFAULT 0)",
        "CREATE INDEX plans_by_start ON plans (start_utc)",
        "CREATE TABLE frames ("
        " id INTEGER PRIMARY KEY,"
        " plan_id INTEGER REFERENCES plans (id),"
        " target TEXT NOT NULL,"
        " kind TEXT NOT NULL,"
        " utc TEXT NOT NULL,"
        " filter TEXT NOT NULL,"
        " exposure REAL NOT NULL,"
        " binning INTEGER NOT NULL,"
        " path TEXT NOT NULL,"
        " stars INTEGER NOT NULL,"
        " hfr REAL NOT NULL,"
        " background REAL NOT NULL,"
        " noise REAL NOT NULL,"
        " grade TEXT NOT NULL CHECK (grade IN ('accepted', 'rejected')),"
        " reason TEXT NOT NULL,"
        " solved_ra REAL,"
        " solved_dec REAL,"
        " pointing_error REAL)",
        "CREATE INDEX frames_by_utc ON frames (utc)",
        "CREATE INDEX frames_by_reference ON frames (target, filter, grade, utc)",
    },
    {
        "CREATE TABLE lightcurve ("
        " id INTEGER PRIMARY KEY,"
        " frame_id INTEGER REFERENCES frames (id),"
        " target TEXT NOT NULL,"
        " filter TEXT NOT NULL,"
        " utc TEXT NOT NULL,"
        " bjd_tdb REAL NOT NULL,"
        " magnitude REAL NOT NULL,"
        " error REAL NOT NULL,"
        " airmass REAL,"
        " standard INTEGER NOT NULL,"
        " comparisons TEXT NOT NULL,"
        " check_star TEXT NOT NULL,"
        " check_magnitude REAL,"
        " check_error REAL)",
        "CREATE INDEX lightcurve_by_utc ON lightcurve (utc)",
        "CREATE INDEX lightcurve_by_target ON lightcurve (target, utc)",
    },
    {
        "CREATE TABLE lightcurve_stars ("
        " point_id INTEGER NOT NULL REFERENCES lightcurve (id),"
        " role TEXT NOT NULL CHECK (role IN ('target', 'check', 'comparison')),"
        " star TEXT NOT NULL,"
        " magnitude REAL,"
        " error REAL,"
        " reference REAL)",
        "CREATE INDEX lightcurve_stars_by_point ON lightcurve_stars (point_id)",
    },
    {
        "CREATE TABLE masters ("
        " id INTEGER PRIMARY KEY,"
        " kind TEXT NOT NULL CHECK (kind IN ('bias', 'dark', 'flat')),"
        " exposure REAL NOT NULL,"
        " binning INTEGER NOT NULL,"
        " temperature REAL,"
        " filter TEXT NOT NULL,"
        " utc TEXT NOT NULL,"
        " frames INTEGER NOT NULL,"
        " path TEXT NOT NULL)",
        "CREATE INDEX masters_by_setting ON masters (kind, binning, filter, utc)",
    },
    // The search for new and moving sources: every source of an accepted frame, the candidates with
    // what a person made of them, the movers with their places and observation block.
    {
        "CREATE TABLE detections ("
        " id INTEGER PRIMARY KEY,"
        " frame_id INTEGER NOT NULL REFERENCES frames (id),"
        " ra REAL NOT NULL,"
        " dec REAL NOT NULL,"
        " x REAL NOT NULL,"
        " y REAL NOT NULL,"
        " flux REAL NOT NULL,"
        " flux_error REAL NOT NULL,"
        " snr REAL NOT NULL,"
        " magnitude REAL,"
        " fwhm REAL NOT NULL,"
        " saturated INTEGER NOT NULL,"
        " at_edge INTEGER NOT NULL,"
        " blended INTEGER NOT NULL)",
        "CREATE INDEX detections_by_frame ON detections (frame_id)",
        "CREATE TABLE candidates ("
        " id INTEGER PRIMARY KEY,"
        " plan_id INTEGER REFERENCES plans (id),"
        " target TEXT NOT NULL,"
        " utc TEXT NOT NULL,"
        " ra REAL NOT NULL,"
        " dec REAL NOT NULL,"
        " magnitude REAL,"
        " snr REAL NOT NULL,"
        " frame_ids TEXT NOT NULL,"
        " status TEXT NOT NULL CHECK (status IN ('new', 'real', 'bogus')),"
        " cutouts TEXT NOT NULL)",
        "CREATE INDEX candidates_by_utc ON candidates (utc)",
        "CREATE INDEX candidates_by_target ON candidates (target)",
        "CREATE TABLE movers ("
        " id INTEGER PRIMARY KEY,"
        " plan_id INTEGER REFERENCES plans (id),"
        " target TEXT NOT NULL,"
        " utc TEXT NOT NULL,"
        " rate REAL NOT NULL,"
        " direction REAL NOT NULL,"
        " residual REAL NOT NULL,"
        " magnitude REAL,"
        " positions TEXT NOT NULL,"
        " designation TEXT NOT NULL,"
        " mpc_report TEXT NOT NULL)",
        "CREATE INDEX movers_by_utc ON movers (utc)",
    },
};
static_assert(ObservationDb::schemaVersion == 5, "one migration step per version");

const QString kFrameColumns = QStringLiteral(
    "id, plan_id, target, kind, utc, filter, exposure, binning, path, stars, hfr, background, noise, grade, "
    "reason, solved_ra, solved_dec, pointing_error");
const QString kLightcurveColumns = QStringLiteral(
    "id, frame_id, target, filter, utc, bjd_tdb, magnitude, error, airmass, standard, comparisons, "
    "check_star, check_magnitude, check_error");
const QString kPlanColumns = QStringLiteral("id, kind, target, start_utc, end_utc, result, frames, accepted");
FrameRecord frameOf(const QSqlQuery& q)
{
    FrameRecord f;
    f.id = q.value(0).toLongLong();
    f.planId = q.value(1).isNull() ? 0 : q.value(1).toLongLong();
    f.target = q.value(2).toString();
    f.kind = q.value(3).toString();
    f.utc = utcOf(q.value(4));
    f.filter = q.value(5).toString();
    f.exposure = q.value(6).toDouble();
    f.binning = q.value(7).toInt();
    f.path = q.value(8).toString();
    f.measurement.stars = q.value(9).toInt();
    f.measurement.medianHfr = q.value(10).toDouble();
    f.measurement.background = q.value(11).toDouble();
    f.measurement.noise = q.value(12).toDouble();
    f.accepted = q.value(13).toString() == QLatin1String("accepted");
    f.reason = q.value(14).toString();
    if (!q.value(15).isNull())
        f.measurement.solved =
            imaging::SolvedCentre{q.value(15).toDouble(), q.value(16).toDouble(), q.value(17).toDouble()};
    return f;
}
LightcurvePoint pointOf(const QSqlQuery& q)
{
    LightcurvePoint p;
    p.id = q.value(0).toLongLong();
    p.frameId = q.value(1).isNull() ? 0 : q.value(1).toLongLong();
    p.target = q.value(2).toString();
    p.filter = q.value(3).toString();
    p.utc = utcOf(q.value(4));
    p.bjdTdb = q.value(5).toDouble();
    p.magnitude = q.value(6).toDouble();
    p.error = q.value(7).toDouble();
    p.airmass = optionalOf(q.value(8));
    p.standard = q.value(9).toInt() != 0;
    p.comparisons = q.value(10).toString();
    p.check = q.value(11).toString();
    p.checkMagnitude = optionalOf(q.value(12));
    p.checkError = optionalOf(q.value(13));
    return p;
}

PlanRecord planOf(const QSqlQuery& q)
{
    PlanRecord p;
    p.id = q.value(0).toLongLong();
    p.kind = q.value(1).toString();
    p.target = q.value(2).toString();
    p.startUtc = utcOf(q.value(3));
    p.endUtc = utcOf(q.value(4));
    p.result = q.value(5).toString();
    p.frames = q.value(6).toInt();
    p.accepted = q.value(7).toInt();
    return p;
}

} // namespace

QString observationsPath(const QString& logDir)
{
    return QDir(logDir).filePath(QStringLiteral("observations.sqlite"));
}

ObservationDb::ObservationDb(const QString& path, Access access) : m_path(path)
{
    static std::atomic<quint64> instances{0};
    m_connection = QStringLiteral("kestrove-observations-%1").arg(instances.fetch_add(1));
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        throw DatabaseError(m_path, QStringLiteral("cannot open"),
                            QStringLiteral("Qt's SQLite driver is not installed (libqt6sql6-sqlite)"));
    const bool reading = access == Access::Read;
    const QString folder = QFileInfo(m_path).absolutePath();
    if (reading && !QFileInfo(m_path).isFile())
        throw DatabaseError(m_path, QStringLiteral("cannot open"), QStringLiteral("there is no such file"));
    if (!reading && !QDir().mkpath(folder))
        throw DatabaseError(m_path, QStringLiteral("cannot open"), QStringLiteral("cannot create ") + folder);
    try {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        db.setDatabaseName(m_path);
        // A reader in another process (the report, the web page) holds the file only briefly.
        db.setConnectOptions(reading ? QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000;QSQLITE_OPEN_READONLY")
                                     : QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open())
            throw DatabaseError(m_path, QStringLiteral("cannot open"), db.lastError().text());
        if (reading) {
            if (checkVersion() < schemaVersion) {
                // A file of an older version (last night's, before this program was upgraded) is
                // brought up to date once, as the observatory would on its next start.
                db.close();
                ObservationDb{m_path, Access::Write};
                if (!db.open())
                    throw DatabaseError(m_path, QStringLiteral("cannot open"), db.lastError().text());
                checkVersion();
            }
            return;
        }
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("PRAGMA journal_mode = WAL")) || !q.next() ||
            q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
            throw DatabaseError(m_path, QStringLiteral("cannot use a write-ahead log"),
                                q.lastError().isValid()
                                    ? q.lastError().text()
                                    : QStringLiteral("journal mode stays %1").arg(q.value(0).toString()));
        q.finish();
        // Full syncs: a frame committed survives a power cut too, at one sync per frame.
        run(db, m_path, QStringLiteral("PRAGMA synchronous = FULL"), "cannot set synchronous writes");
        run(db, m_path, QStringLiteral("PRAGMA foreign_keys = ON"), "cannot check plan references");
        migrate();
    } catch (...) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
        throw;
    }
}

ObservationDb::~ObservationDb()
{
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
}

int ObservationDb::checkVersion()
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        throw DatabaseError(m_path, QStringLiteral("cannot read the schema version"), q.lastError().text());
    const int found = q.value(0).toInt();
    if (found > schemaVersion)
        throw DatabaseError(
            m_path, QStringLiteral("cannot read"),
            QStringLiteral("its schema is version %1, this program reads %2").arg(found).arg(schemaVersion));
    return found;
}

void ObservationDb::migrate()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        throw DatabaseError(m_path, QStringLiteral("cannot read the schema version"), q.lastError().text());
    const int found = q.value(0).toInt();
    q.finish();
    if (found > schemaVersion)
        throw DatabaseError(m_path, QStringLiteral("cannot open"),
                            QStringLiteral("its schema is version %1, newer than this program's %2")
                                .arg(found)
                                .arg(schemaVersion));
    for (int version = found; version < schemaVersion; ++version) {
        Transaction transaction(db, m_path);
        for (const char* statement : kMigrations[static_cast<size_t>(version)])
            run(db, m_path, QString::fromLatin1(statement), "cannot bring the schema to its next version");
        run(db, m_path, QStringLiteral("PRAGMA user_version = %1").arg(version + 1),
            "cannot set the schema version");
        transaction.commit();
    }
}

qint64 ObservationDb::startPlan(const QString& kind, const QString& target, const QDateTime& startUtc)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO plans (kind, target, start_utc) VALUES (?, ?, ?)"));
    q.addBindValue(text(kind));
    q.addBindValue(text(target));
    q.addBindValue(utcText(startUtc));
    run(q, m_path, "cannot record a plan");
    return q.lastInsertId().toLongLong();
}

qint64 ObservationDb::addFrame(const FrameRecord& frame)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    Transaction transaction(db, m_path);
    QSqlQuery q(db);
    q.prepare(
        QStringLiteral("INSERT INTO frames (plan_id, target, kind, utc, filter, exposure, binning, path, "
                       "stars, hfr, background, noise, grade, reason, solved_ra, solved_dec, pointing_error) "
                       "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    const imaging::FrameMeasurement& m = frame.measurement;
    const auto& solved = m.solved;
    q.addBindValue(frame.planId ? QVariant(frame.planId) : QVariant());
    q.addBindValue(text(frame.target));
    q.addBindValue(text(frame.kind));
    q.addBindValue(utcText(frame.utc));
    q.addBindValue(text(frame.filter));
    q.addBindValue(frame.exposure);
    q.addBindValue(frame.binning);
    q.addBindValue(text(frame.path));
    q.addBindValue(m.stars);
    q.addBindValue(m.medianHfr);
    q.addBindValue(m.background);
    q.addBindValue(m.noise);
    q.addBindValue(frame.accepted ? QStringLiteral("accepted") : QStringLiteral("rejected"));
    q.addBindValue(text(frame.reason));
    q.addBindValue(orNull(solved ? std::optional(solved->rightAscension) : std::nullopt));
    q.addBindValue(orNull(solved ? std::optional(solved->declination) : std::nullopt));
    q.addBindValue(orNull(solved ? std::optional(solved->pointingError) : std::nullopt));
    run(q, m_path, "cannot record a frame");
    const qint64 id = q.lastInsertId().toLongLong();
    if (frame.planId) {
        QSqlQuery count(db);
        count.prepare(
            QStringLiteral("UPDATE plans SET frames = frames + 1, accepted = accepted + ? WHERE id = ?"));
        count.addBindValue(frame.accepted ? 1 : 0);
        count.addBindValue(frame.planId);
        run(count, m_path, "cannot count a frame in its plan");
    }
    transaction.commit();
    return id;
}

PlanRecord ObservationDb::finishPlan(qint64 planId, const QDateTime& endUtc, const QString& result)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("UPDATE plans SET end_utc = ?, result = ? WHERE id = ?"));
    q.addBindValue(utcText(endUtc));
    q.addBindValue(text(result));
    q.addBindValue(planId);
    run(q, m_path, "cannot finish a plan");
    const std::optional<PlanRecord> finished = plan(planId);
    if (!finished)
        throw DatabaseError(m_path, QStringLiteral("cannot finish a plan"),
                            QStringLiteral("there is no plan %1").arg(planId));
    return *finished;
}

qint64 ObservationDb::addLightcurvePoint(const LightcurvePoint& point)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    Transaction transaction(db, m_path);
    QSqlQuery q(db);
    q.prepare(
        QStringLiteral("INSERT INTO lightcurve (frame_id, target, filter, utc, bjd_tdb, magnitude, error, "
                       "airmass, standard, comparisons, check_star, check_magnitude, check_error) "
                       "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    q.addBindValue(point.frameId ? QVariant(point.frameId) : QVariant());
    q.addBindValue(text(point.target));
    q.addBindValue(text(point.filter));
    q.addBindValue(utcText(point.utc));
    q.addBindValue(point.bjdTdb);
    q.addBindValue(point.magnitude);
    q.addBindValue(point.error);
    q.addBindValue(orNull(point.airmass));
    q.addBindValue(point.standard ? 1 : 0);
    q.addBindValue(text(point.comparisons));
    q.addBindValue(text(point.check));
    q.addBindValue(orNull(point.checkMagnitude));
    q.addBindValue(orNull(point.checkError));
    run(q, m_path, "cannot record a lightcurve point");
    const qint64 id = q.lastInsertId().toLongLong();
    addInstrumentalMagnitudes(id, point.instrumental);
    transaction.commit();
    return id;
}

std::optional<PlanRecord> ObservationDb::plan(qint64 planId) const
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT %1 FROM plans WHERE id = ?").arg(kPlanColumns));
    q.addBindValue(planId);
    run(q, m_path, "cannot read a plan");
    if (!q.next())
        return std::nullopt;
    return planOf(q);
}

std::vector<imaging::FrameMeasurement> ObservationDb::acceptedFrames(const QString& target,
                                                                     const QString& filter, int count) const
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT %1 FROM frames WHERE target = ? AND filter = ? AND grade = 'accepted' "
                             "AND kind <> 'test' ORDER BY utc DESC, id DESC LIMIT ?")
                  .arg(kFrameColumns));
    q.addBindValue(text(target));
    q.addBindValue(text(filter));
    q.addBindValue(std::max(0, count));
    run(q, m_path, "cannot read the reference frames");
    std::vector<imaging::FrameMeasurement> measurements;
    while (q.next())
        measurements.push_back(frameOf(q).measurement);
    return measurements;
}

std::vector<FrameRecord> ObservationDb::frames(const QDateTime& fromUtc, const QDateTime& toUtc) const
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT %1 FROM frames WHERE utc >= ? AND utc < ? ORDER BY utc, id")
                  .arg(kFrameColumns));
    q.addBindValue(utcText(fromUtc));
    q.addBindValue(utcText(toUtc));
    run(q, m_path, "cannot read the frames");
    std::vector<FrameRecord> records;
    while (q.next())
        records.push_back(frameOf(q));
    return records;
}

std::vector<PlanRecord> ObservationDb::plans(const QDateTime& fromUtc, const QDateTime& toUtc) const
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(
        QStringLiteral("SELECT %1 FROM plans WHERE start_utc >= ? AND start_utc < ? ORDER BY start_utc, id")
            .arg(kPlanColumns));
    q.addBindValue(utcText(fromUtc));
    q.addBindValue(utcText(toUtc));
    run(q, m_path, "cannot read the plans");
    std::vector<PlanRecord> records;
    while (q.next())
        records.push_back(planOf(q));
    return records;
}

std::vector<LightcurvePoint> ObservationDb::lightcurvePoints(const QDateTime& fromUtc, const QDateTime& toUtc,
                                                             const QString& target) const
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(
        QStringLiteral("SELECT %1 FROM lightcurve WHERE utc >= ? AND utc < ? AND (? IS NULL OR target = ?) "
                       "ORDER BY utc, id")
            .arg(kLightcurveColumns));
    q.addBindValue(utcText(fromUtc));
    q.addBindValue(utcText(toUtc));
    const QVariant which = target.isNull() ? QVariant() : QVariant(target);
    q.addBindValue(which);
    q.addBindValue(which);
    run(q, m_path, "cannot read the lightcurve");
    std::vector<LightcurvePoint> points;
    while (q.next())
        points.push_back(pointOf(q));
    return points;
}

} // namespace kestrove::database
