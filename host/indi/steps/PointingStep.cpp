#include "host/indi/PlanExecutor.h"
#include "host/indi/steps/PropertyNames.h"

#include "host/SkyUtil.h"

#include <QFile>

#include <cmath>

namespace kestrove::indi {

namespace {

// The mount must stand this close to the target after settling, degrees.
constexpr double kPointingTolerance = 0.5;

QString coordinatesText(const Equatorial& e)
{
    return QString::number(e.rightAscension, 'f', 6) + u'\t' + QString::number(e.declination, 'f', 5);
}

double wrapHours(double hours)
{
    double h = std::fmod(hours, 24.0);
    return h < 0 ? h + 24 : h;
}

} // namespace

void PlanExecutor::startSlew()
{
    m_target = {m_plan.rightAscension, m_plan.declination};
    slewTo(m_target, QStringLiteral("slew"));
}

void PlanExecutor::slewTo(const Equatorial& aim, const QString& event)
{
    const QDateTime now = m_clock.utcNow();
    m_aim = aim;
    Equatorial from;
    const double distance =
        m_link.mountJ2000(now, from)
            ? separation(from.rightAscension, from.declination, m_aim.rightAscension, m_aim.declination)
            : 180;
    const Equatorial jnow = j2000ToJnow(m_aim, now);
    // A turn-over on the way is a long slew, not a hung mount.
    const double lst = m_sky.now()->localSiderealTime();
    const bool flip = distance < 180 && crossesMeridian(lst - j2000ToJnow(from, now).rightAscension,
                                                        lst - jnow.rightAscension);
    const QString& mount = m_settings.indi.mount;
    m_client.sendSwitch(mount, QStringLiteral("ON_COORD_SET"), QStringLiteral("TRACK"));
    // A standalone copy: the library's own object is overwritten by the mount's position updates.
    m_client.sendNumbers(
        mount, EOD, {{QStringLiteral("RA"), jnow.rightAscension}, {QStringLiteral("DEC"), jnow.declination}});
    m_watch.sent(stateOf(mount, EOD));
    const double limit =
        slewLimitSeconds(distance + (flip ? 180 : 0), m_settings.slewRate, m_settings.indi.slewMargin);
    log({event, m_plan.target, coordinatesText(m_aim),
         QStringLiteral("%1 deg").arg(QString::number(distance, 'f', 3))});
    enter(Step::Slewing, limit, QStringLiteral("the slew did not end"));
}

void PlanExecutor::afterSettle()
{
    Equatorial at;
    if (!m_link.mountJ2000(m_clock.utcNow(), at)) {
        fail(QStringLiteral("the mount reports no position"));
        return;
    }
    const double off = separation(at.rightAscension, at.declination, m_aim.rightAscension, m_aim.declination);
    log({QStringLiteral("slewed"), m_plan.target, coordinatesText(at),
         QStringLiteral("%1 arcsec off").arg(QString::number(off * 3600, 'f', 1))});
    if (off > kPointingTolerance) {
        fail(QStringLiteral("the mount stands %1 deg from the target").arg(QString::number(off, 'f', 2)));
        return;
    }
    if (solveWanted()) {
        startSolveFrame();
        return;
    }
    afterPointing();
}

void PlanExecutor::afterPointing()
{
    if (m_plan.calibrate)
        log({QStringLiteral("calibrate"), m_plan.target,
             QStringLiteral("skipped: the images are saved uncalibrated (INDI has no calibration)")});
    startFilter();
}

bool PlanExecutor::solveWanted()
{
    if (m_settings.indi.camera.isEmpty())
        return false;
    if (!m_solveOn) {
        QString which;
        const QString program = imaging::SolveField::executable();
        m_indexFolder = imaging::SolveField::findIndexFolder(m_settings.solve.indexFolder, &which);
        QString why;
        if (m_settings.solve.enabled == false)
            why = QStringLiteral("[solve] enabled=false");
        else if (program.isEmpty())
            why = QStringLiteral("solve-field is not installed (Debian: astrometry.net)");
        else if (m_indexFolder.isEmpty())
            why = which;
        m_solveOn = why.isEmpty();
        if (why.isEmpty())
            log({QStringLiteral("solve"), QStringLiteral("on"), program, which});
        else
            log({QStringLiteral("solve"), QStringLiteral("off: ") + why,
                 QStringLiteral("the mount's pointing is trusted")});
    }
    return *m_solveOn;
}

std::optional<double> PlanExecutor::scaleHint() const
{
    if (m_settings.solve.scale)
        return m_settings.solve.scale;
    const IndiProperty* info = m_client.property(m_settings.indi.camera, QStringLiteral("CCD_INFO"));
    const double pixel = info ? info->number(QStringLiteral("CCD_PIXEL_SIZE_X")).value_or(0) : 0;
    double focal = 0;
    if (const IndiProperty* scope = m_client.property(m_settings.indi.camera, QStringLiteral("SCOPE_INFO")))
        focal = scope->number(QStringLiteral("FOCAL_LENGTH")).value_or(0);
    if (focal <= 0)
        if (const IndiProperty* scope = m_client.property(m_settings.indi.mount, QStringLiteral("TELESCOPE_INFO")))
            focal = scope->number(QStringLiteral("TELESCOPE_FOCAL_LENGTH")).value_or(0);
    if (pixel <= 0 || focal <= 0)
        return std::nullopt;
    return 206.264806 * pixel / focal;
}

void PlanExecutor::startSolveFrame()
{
    ++m_solves;
    configureCamera(m_settings.solve.binning, 1.0, Purpose::Solve);
}

void PlanExecutor::solveFrame()
{
    const IndiBlob* blob = m_client.lastBlob(m_settings.indi.camera, mainChip);
    m_purpose = Purpose::Plan;
    if (!m_work || !m_work->isValid())
        m_work = std::make_unique<QTemporaryDir>();
    const QString path = m_work->filePath(QStringLiteral("solve-%1.fits").arg(m_solves));
    QFile file(path);
    if (!blob || !looksLikeFits(blob->data) || !file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(blob->data) != blob->data.size() || !file.flush()) {
        log({QStringLiteral("solve"), m_plan.target,
             QStringLiteral("failed: the solve frame is not FITS or cannot be kept"),
             QStringLiteral("the plan goes on unsolved")});
        afterPointing();
        return;
    }
    file.close();
    imaging::SolveRequest request;
    request.imagePath = path;
    request.workDir = m_work->filePath(QStringLiteral("solve"));
    request.indexFolder = m_indexFolder;
    request.rightAscension = m_target.rightAscension * 15;
    request.declination = m_target.declination;
    request.radius = m_settings.solve.radius;
    if (const auto scale = scaleHint())
        request.scale = *scale * m_geometry.binning;
    request.cpuLimit = m_settings.solve.cpuLimit;
    m_solveGeometry = m_geometry;
    // Where the mount says it points while the frame is taken: the solve measures its error.
    if (!m_link.mountJ2000(m_clock.utcNow(), m_solveMount))
        m_solveMount = m_aim;
    enter(Step::Solving, m_settings.solve.cpuLimit * 2 + 60, QStringLiteral("solve-field did not end"));
    m_solver.start(request);
}

void PlanExecutor::solved(const imaging::SolveResult& result)
{
    if (m_step != Step::Solving)
        return;
    const QString seconds = QStringLiteral("%1 s").arg(result.seconds, 0, 'f', 1);
    if (!result.solved) {
        // A lost solve must not lose the night: the plan goes on where the mount points.
        log({QStringLiteral("solve"), m_plan.target, QStringLiteral("failed: ") + result.reason, seconds,
             QStringLiteral("the plan goes on unsolved")});
        afterPointing();
        return;
    }
    m_solution = Solution{result.wcs, m_solveGeometry};
    const double off = imaging::angularDistance(result.rightAscension, result.declination,
                                                m_target.rightAscension * 15, m_target.declination) *
                       3600;
    log({QStringLiteral("solved"), m_plan.target, coordinatesText({result.rightAscension / 15, result.declination}),
         QStringLiteral("%1 arcsec off").arg(off, 0, 'f', 1),
         QStringLiteral("%1 arcsec/px").arg(result.wcs.scale(), 0, 'f', 2), seconds,
         QStringLiteral("solve %1").arg(m_solves)});
    if (off <= m_settings.solve.tolerance) {
        afterPointing();
        return;
    }
    if (m_solves >= m_settings.solve.attempts) {
        log({QStringLiteral("solve"), m_plan.target,
             QStringLiteral("still %1 arcsec off after %2 solves; the plan goes on").arg(off, 0, 'f', 1).arg(m_solves)});
        afterPointing();
        return;
    }
    if (m_settings.solve.sync) {
        // The mount learns where it points, then goes to the target again.
        const Equatorial at{result.rightAscension / 15, result.declination};
        const Equatorial jnow = j2000ToJnow(at, m_clock.utcNow());
        m_client.sendSwitch(m_settings.indi.mount, QStringLiteral("ON_COORD_SET"), QStringLiteral("SYNC"));
        m_client.sendNumbers(m_settings.indi.mount, EOD,
                             {{QStringLiteral("RA"), jnow.rightAscension}, {QStringLiteral("DEC"), jnow.declination}});
        log({QStringLiteral("sync"), m_plan.target, coordinatesText(at)});
        slewTo(m_target, QStringLiteral("correct"));
        return;
    }
    // Differential: the mount's error is where the sky is less where the mount said it pointed;
    // it is sent to the target less that error. (Measured against the mount's report rather than
    // the position asked, a slew that stopped short is not taken for an error of the pointing.)
    double dRa = result.rightAscension / 15 - m_solveMount.rightAscension;
    dRa -= 24 * std::round(dRa / 24);
    Equatorial aim{wrapHours(m_target.rightAscension - dRa),
                   std::clamp(m_target.declination - (result.declination - m_solveMount.declination), -90.0, 90.0)};
    slewTo(aim, QStringLiteral("correct"));
}

} // namespace kestrove::indi
