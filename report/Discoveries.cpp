#include "report/Discoveries.h"

#include "database/ObservationDb.h"
#include "text/HostText.h"

#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <iterator>

namespace kestrove {

namespace {

QString placeText(double ra, double dec)
{
    return formatSexagesimal(ra / 15, QStringLiteral(":"), QStringLiteral(":"), QString(), false) + u' ' +
           formatSexagesimal(dec, QStringLiteral(":"), QStringLiteral(":"), QString(), true);
}

QString magnitudeText(const std::optional<double>& magnitude)
{
    return magnitude ? QStringLiteral("magnitude ") + QString::number(*magnitude, 'f', 2)
                     : QStringLiteral("no magnitude");
}

// The lines of an MPC block that are not the header's: observation lines are 80 columns.
bool isObservationLine(const QString& line)
{
    return line.size() == 80;
}

} // namespace

NightDiscoveries recordedDiscoveries(const QString& logDir, const QDateTime& fromUtc, const QDateTime& toUtc)
{
    const QString path = database::observationsPath(logDir);
    if (!QFileInfo(path).isFile())
        return {};
    const database::ObservationDb db(path, database::ObservationDb::Access::Read);
    return {db.candidates(fromUtc, toUtc), db.movers(fromUtc, toUtc)};
}

QString candidateLine(const database::CandidateRecord& candidate, const QTimeZone& zone)
{
    return QStringLiteral("%1 at %2: %3, %4, S/N %5, in %6 frames, %7")
        .arg(candidate.target, candidate.utc.toTimeZone(zone).toString(QStringLiteral("HH:mm")),
             placeText(candidate.ra, candidate.dec), magnitudeText(candidate.magnitude),
             QString::number(candidate.snr, 'f', 1))
        .arg(candidate.frameIds.size())
        .arg(database::statusText(candidate.status));
}

QString moverLine(const database::MoverRecord& mover, const QTimeZone& zone)
{
    QString line = QStringLiteral("%1 in %2 at %3: %4\"/min towards %5 degrees, %6, %7 positions")
                       .arg(mover.designation, mover.target,
                            mover.utc.toTimeZone(zone).toString(QStringLiteral("HH:mm")),
                            QString::number(mover.rate, 'f', 2), QString::number(mover.direction, 'f', 1),
                            magnitudeText(mover.magnitude))
                       .arg(mover.positions.size());
    if (!mover.positions.empty())
        line += QStringLiteral(" from ") + placeText(mover.positions.front().ra, mover.positions.front().dec);
    return line;
}

QByteArray mpcFile(const std::vector<database::MoverRecord>& movers)
{
    QStringList header;
    QStringList observations;
    for (const database::MoverRecord& mover : movers) {
        for (const QString& line : mover.mpcReport.split(u'\n', Qt::SkipEmptyParts)) {
            if (isObservationLine(line))
                observations << line;
            else if (&mover == &movers.front())
                header << line;
        }
    }
    if (observations.isEmpty())
        return {};
    return ((header + observations).join(u'\n') + u'\n').toLatin1();
}

bool isCutoutKind(const QString& kind)
{
    return std::any_of(std::begin(cutoutKinds), std::end(cutoutKinds),
                       [&](const char* known) { return kind == QLatin1String(known); });
}

std::optional<QString> cutoutPath(const database::CandidateRecord& candidate, const QString& kind)
{
    if (candidate.cutouts.isEmpty() || !isCutoutKind(kind))
        return std::nullopt;
    return candidate.cutouts + u'-' + kind + QStringLiteral(".png");
}

bool markCandidate(const QString& logDir, qint64 candidateId, database::CandidateStatus status)
{
    const QString path = database::observationsPath(logDir);
    if (!QFileInfo(path).isFile())
        return false;
    return database::ObservationDb(path).markCandidate(candidateId, status);
}

} // namespace kestrove
