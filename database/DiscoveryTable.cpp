#include "database/DatabaseError.h"
#include "database/ObservationDb.h"
#include "database/SqlRows.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace kestrove::database {

using namespace sql;

namespace {
// A mover's places as one text: "UTC RA DEC MAG" a place, ';' between them, "-" for no magnitude.
QString positionsText(const std::vector<MoverPosition>& positions)
{
    QStringList parts;
    for (const MoverPosition& p : positions)
        parts << QStringLiteral("%1 %2 %3 %4")
                     .arg(p.utc.toUTC().toString(Qt::ISODateWithMs))
                     .arg(p.ra, 0, 'f', 7)
                     .arg(p.dec, 0, 'f', 7)
                     .arg(p.magnitude ? QString::number(*p.magnitude, 'f', 3) : QStringLiteral("-"));
    return parts.join(u';');
}

std::vector<MoverPosition> positionsOf(const QString& text)
{
    std::vector<MoverPosition> positions;
    for (const QString& part : text.split(u';', Qt::SkipEmptyParts)) {
        const QStringList f = part.split(u' ', Qt::SkipEmptyParts);
        if (f.size() < 4)
            continue;
        MoverPosition p;
        p.utc = QDateTime::fromString(f[0], Qt::ISODateWithMs).toUTC();
        p.ra = f[1].toDouble();
        p.dec = f[2].toDouble();
        bool ok = false;
        const double mag = f[3].toDouble(&ok);
        if (ok)
            p.magnitude = mag;
        positions.push_back(p);
    }
    return positions;
}

const QString kCandidateColumns =
    QStringLiteral("id, plan_id, target, utc, ra, dec, magnitude, snr, frame_ids, status, cutouts");
const QString kMoverColumns = QStringLiteral(
    "id, plan_id, target, utc, rate, direction, residual, magnitude, positions, designation, mpc_report");

CandidateRecord candidateOf(const QSqlQuery& q)
{
    CandidateRecord c;
    c.id = q.value(0).toLongLong();
    c.planId = q.value(1).isNull() ? 0 : q.value(1).toLongLong();
    c.target = q.value(2).toString();
    c.utc = utcOf(q.value(3));
    c.ra = q.value(4).toDouble();
    c.dec = q.value(5).toDouble();
    c.magnitude = optionalOf(q.value(6));
    c.snr = q.value(7).toDouble();
    for (const QString& id : q.value(8).toString().split(u' ', Qt::SkipEmptyParts))
        c.frameIds << id.toLongLong();
    c.status = statusOf(q.value(9).toString()).value_or(CandidateStatus::New);
    c.cutouts = q.value(10).toString();
    return c;
}

MoverRecord moverOf(const QSqlQuery& q)
{
    MoverRecord m;
    m.id = q.value(0).toLongLong();
    m.planId = q.value(1).isNull() ? 0 : q.value(1).toLongLong();
    m.target = q.value(2).toString();
    m.utc = utcOf(q.value(3));
    m.rate = q.value(4).toDouble();
    m.direction = q.value(5).toDouble();
    m.residual = q.value(6).toDouble();
    m.magnitude = optionalOf(q.value(7));
    m.positions = positionsOf(q.value(8).toString());
    m.designation = q.value(9).toString();
    m.mpcReport = q.value(10).toString();
    return m;
}

} // namespace

QString statusText(CandidateStatus status)
{
    switch (status) {
    case CandidateStatus::Real:
        return QStringLiteral("real");
    case CandidateStatus::Bogus:
        return QStringLiteral("bogus");
    case CandidateStatus::New:
        break;
    }
    return QStringLiteral("new");
}

std::optional<CandidateStatus> statusOf(const QString& text)
{
    for (const CandidateStatus s : {CandidateStatus::New, CandidateStatus::Real, CandidateStatus::Bogus})
        if (text.trimmed().compare(statusText(s), Qt::CaseInsensitive) == 0)
            return s;
    return std::nullopt;
}

void ObservationDb::addDetections(qint64 frameId, const std::vector<DetectionRecord>& detections)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    Transaction transaction(db, m_path);
    QSqlQuery q(db);
    q.prepare(
        QStringLiteral("INSERT INTO detections (frame_id, ra, dec, x, y, flux, flux_error, snr, magnitude, "
                       "fwhm, saturated, at_edge, blended) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const DetectionRecord& d : detections) {
        q.addBindValue(frameId);
        q.addBindValue(d.ra);
        q.addBindValue(d.dec);
        q.addBindValue(d.x);
        q.addBindValue(d.y);
        q.addBindValue(d.flux);
        q.addBindValue(d.fluxError);
        q.addBindValue(d.snr);
        q.addBindValue(orNull(d.magnitude));
        q.addBindValue(d.fwhm);
        q.addBindValue(d.saturated ? 1 : 0);
        q.addBindValue(d.atEdge ? 1 : 0);
        q.addBindValue(d.blended ? 1 : 0);
        run(q, m_path, "cannot record a frame's sources");
    }
    transaction.commit();
}

std::vector<DetectionRecord> ObservationDb::detections(qint64 frameId) const
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(
        QStringLiteral("SELECT frame_id, ra, dec, x, y, flux, flux_error, snr, magnitude, fwhm, saturated, "
                       "at_edge, blended FROM detections WHERE frame_id = ? ORDER BY id"));
    q.addBindValue(frameId);
    run(q, m_path, "cannot read a frame's sources");
    std::vector<DetectionRecord> records;
    while (q.next()) {
        DetectionRecord d;
        d.frameId = q.value(0).toLongLong();
        d.ra = q.value(1).toDouble();
        d.dec = q.value(2).toDouble();
        d.x = q.value(3).toDouble();
        d.y = q.value(4).toDouble();
        d.flux = q.value(5).toDouble();
        d.fluxError = q.value(6).toDouble();
        d.snr = q.value(7).toDouble();
        d.magnitude = optionalOf(q.value(8));
        d.fwhm = q.value(9).toDouble();
        d.saturated = q.value(10).toInt() != 0;
        d.atEdge = q.value(11).toInt() != 0;
        d.blended = q.value(12).toInt() != 0;
        records.push_back(d);
    }
    return records;
}

qint64 ObservationDb::addCandidate(const CandidateRecord& candidate)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(
        QStringLiteral("INSERT INTO candidates (plan_id, target, utc, ra, dec, magnitude, snr, frame_ids, "
                       "status, cutouts) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    QStringList frames;
    for (const qint64 id : candidate.frameIds)
        frames << QString::number(id);
    q.addBindValue(candidate.planId ? QVariant(candidate.planId) : QVariant());
    q.addBindValue(text(candidate.target));
    q.addBindValue(utcText(candidate.utc));
    q.addBindValue(candidate.ra);
    q.addBindValue(candidate.dec);
    q.addBindValue(orNull(candidate.magnitude));
    q.addBindValue(candidate.snr);
    q.addBindValue(frames.join(u' '));
    q.addBindValue(statusText(candidate.status));
    q.addBindValue(text(candidate.cutouts));
    run(q, m_path, "cannot record a candidate");
    return q.lastInsertId().toLongLong();
}

qint64 ObservationDb::addMover(const MoverRecord& mover)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(
        QStringLiteral("INSERT INTO movers (plan_id, target, utc, rate, direction, residual, magnitude, "
                       "positions, designation, mpc_report) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    q.addBindValue(mover.planId ? QVariant(mover.planId) : QVariant());
    q.addBindValue(text(mover.target));
    q.addBindValue(utcText(mover.utc));
    q.addBindValue(mover.rate);
    q.addBindValue(mover.direction);
    q.addBindValue(mover.residual);
    q.addBindValue(orNull(mover.magnitude));
    q.addBindValue(positionsText(mover.positions));
    q.addBindValue(text(mover.designation));
    q.addBindValue(text(mover.mpcReport));
    run(q, m_path, "cannot record a mover");
    return q.lastInsertId().toLongLong();
}

std::vector<CandidateRecord> ObservationDb::candidates(const QDateTime& fromUtc, const QDateTime& toUtc) const
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT %1 FROM candidates WHERE utc >= ? AND utc < ? ORDER BY utc, id")
                  .arg(kCandidateColumns));
    q.addBindValue(utcText(fromUtc));
    q.addBindValue(utcText(toUtc));
    run(q, m_path, "cannot read the candidates");
    std::vector<CandidateRecord> records;
    while (q.next())
        records.push_back(candidateOf(q));
    return records;
}

std::vector<CandidateRecord> ObservationDb::candidatesOf(const QString& target) const
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(
        QStringLiteral("SELECT %1 FROM candidates WHERE target = ? ORDER BY utc, id").arg(kCandidateColumns));
    q.addBindValue(text(target));
    run(q, m_path, "cannot read the candidates");
    std::vector<CandidateRecord> records;
    while (q.next())
        records.push_back(candidateOf(q));
    return records;
}

std::optional<CandidateRecord> ObservationDb::candidate(qint64 candidateId) const
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT %1 FROM candidates WHERE id = ?").arg(kCandidateColumns));
    q.addBindValue(candidateId);
    run(q, m_path, "cannot read a candidate");
    if (!q.next())
        return std::nullopt;
    return candidateOf(q);
}

std::vector<MoverRecord> ObservationDb::movers(const QDateTime& fromUtc, const QDateTime& toUtc) const
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT %1 FROM movers WHERE utc >= ? AND utc < ? ORDER BY utc, id")
                  .arg(kMoverColumns));
    q.addBindValue(utcText(fromUtc));
    q.addBindValue(utcText(toUtc));
    run(q, m_path, "cannot read the movers");
    std::vector<MoverRecord> records;
    while (q.next())
        records.push_back(moverOf(q));
    return records;
}

QString ObservationDb::firstFramePath(const QString& target, const QString& kind) const
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT path FROM frames WHERE target = ? AND kind = ? AND grade = 'accepted' "
                             "AND path <> '' ORDER BY utc, id LIMIT 1"));
    q.addBindValue(text(target));
    q.addBindValue(text(kind));
    run(q, m_path, "cannot read the first frame");
    return q.next() ? q.value(0).toString() : QString();
}

bool ObservationDb::markCandidate(qint64 candidateId, CandidateStatus status)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("UPDATE candidates SET status = ? WHERE id = ?"));
    q.addBindValue(statusText(status));
    q.addBindValue(candidateId);
    run(q, m_path, "cannot mark a candidate");
    return q.numRowsAffected() > 0;
}

} // namespace kestrove::database
