#include "report/FrameLines.h"

#include "core/Csv.h"
#include "text/NumberText.h"
#include "text/ValueText.h"

#include <QFileInfo>

namespace kestrove {

std::vector<database::FrameRecord> recordedFrames(const QString& logDir, const QDateTime& fromUtc,
                                                  const QDateTime& toUtc)
{
    const QString path = database::observationsPath(logDir);
    if (!QFileInfo(path).isFile())
        return {};
    return database::ObservationDb(path, database::ObservationDb::Access::Read).frames(fromUtc, toUtc);
}

std::vector<database::LightcurvePoint> recordedLightcurve(const QString& logDir, const QDateTime& fromUtc,
                                                          const QDateTime& toUtc)
{
    const QString path = database::observationsPath(logDir);
    if (!QFileInfo(path).isFile())
        return {};
    const database::ObservationDb db(path, database::ObservationDb::Access::Read);
    std::vector<database::LightcurvePoint> points = db.lightcurvePoints(fromUtc, toUtc);
    db.instrumentalMagnitudes(points);
    return points;
}

QString frameLine(const database::FrameRecord& frame, const QTimeZone& zone)
{
    const imaging::FrameMeasurement& m = frame.measurement;
    QString text =
        QStringLiteral("%1 %2 %3 s at %4: %5 stars, HFR %6 px, background %7, ")
            .arg(frame.target, frame.filter.isEmpty() ? QStringLiteral("-") : frame.filter,
                 doubleText(frame.exposure), frame.utc.toTimeZone(zone).toString(QStringLiteral("HH:mm")))
            .arg(m.stars)
            .arg(QString::number(m.medianHfr, 'f', 2), QString::number(m.background, 'f', 0));
    return text + (frame.accepted ? QStringLiteral("accepted") : QStringLiteral("rejected: ") + frame.reason);
}

QByteArray framesCsv(const std::vector<database::FrameRecord>& frames, const QTimeZone& zone)
{
    QList<QStringList> rows{{QStringLiteral("time (UTC)"), QStringLiteral("time (local)"),
                             QStringLiteral("kind"), QStringLiteral("target"), QStringLiteral("filter"),
                             QStringLiteral("exposure (s)"), QStringLiteral("stars"),
                             QStringLiteral("HFR (px)"), QStringLiteral("background"),
                             QStringLiteral("noise"), QStringLiteral("pointing error (arcsec)"),
                             QStringLiteral("grade"), QStringLiteral("reason"), QStringLiteral("path")}};
    for (const database::FrameRecord& f : frames) {
        const imaging::FrameMeasurement& m = f.measurement;
        rows << QStringList{utcInstantText(f.utc),
                            f.utc.toTimeZone(zone).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                            f.kind,
                            f.target,
                            f.filter,
                            doubleText(f.exposure),
                            QString::number(m.stars),
                            QString::number(m.medianHfr, 'f', 2),
                            QString::number(m.background, 'f', 1),
                            QString::number(m.noise, 'f', 1),
                            m.solved ? QString::number(m.solved->pointingError, 'f', 1) : QString(),
                            f.accepted ? QStringLiteral("accepted") : QStringLiteral("rejected"),
                            f.reason,
                            f.path};
    }
    QByteArray bytes;
    for (const QStringList& row : rows)
        bytes += csvLine(row).toUtf8() + '\n';
    return bytes;
}

} // namespace kestrove
