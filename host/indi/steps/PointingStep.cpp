#include "host/indi/steps/PointingStep.h"

#include "host/SkyUtil.h"
#include "host/indi/IndiLink.h"
#include "host/indi/steps/PropertyNames.h"
#include "sky/Clock.h"

#include <QFile>

#include <cmath>

namespace kestrove::indi {

namespace {

// A slew that never reports Busy but ends at the target counts after this long.
constexpr double kSilentSlewSeconds = 2;
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

PointingStep::PointingStep(StepContext& context, CameraControl& camera) : m_context(context), m_camera(camera)
{
    QObject::connect(&m_solver, &imaging::SolveField::finished, &m_solver,
                     [this](const imaging::SolveResult& result) {
                         try {
                             solved(result);
                         } catch (const std::exception& e) {
                             m_context.fail(QString::fromUtf8(e.what()));
                         }
                     });
}

void PointingStep::start(bool solve)
{
    m_solves = 0;
    m_solveThis = solve;
    m_target = m_context.target();
    slewTo(m_target, QStringLiteral("slew"));
}

void PointingStep::wait(Phase phase, double limitSeconds, const QString& limitText)
{
    m_phase = phase;
    m_context.waitOn(*this, limitSeconds, limitText);
}

bool PointingStep::waiting(Phase phase) const
{
    return m_context.waitingOn(*this) && m_phase == phase;
}

void PointingStep::slewTo(const Equatorial& aim, const QString& event)
{
    const QDateTime now = m_context.clock.utcNow();
    m_aim = aim;
    Equatorial from;
    const double distance =
        m_context.link.mountJ2000(now, from)
            ? separation(from.rightAscension, from.declination, m_aim.rightAscension, m_aim.declination)
            : 180;
    const Equatorial jnow = j2000ToJnow(m_aim, now);
    // A turn-over on the way is a long slew, not a hung mount.
    const double lst = m_context.sky.now()->localSiderealTime();
    const bool flip = distance < 180 &&
                      crossesMeridian(lst - j2000ToJnow(from, now).rightAscension, lst - jnow.rightAscension);
    const QString& mount = m_context.settings.indi.mount;
    m_context.client.sendSwitch(mount, QStringLiteral("ON_COORD_SET"), QStringLiteral("TRACK"));
    // A standalone copy: the library's own object is overwritten by the mount's position updates.
    m_context.client.sendNumbers(
        mount, EOD, {{QStringLiteral("RA"), jnow.rightAscension}, {QStringLiteral("DEC"), jnow.declination}});
    m_watch.sent(m_context.stateOf(mount, EOD));
    const double limit = slewLimitSeconds(distance + (flip ? 180 : 0), m_context.settings.slewRate,
                                          m_context.settings.indi.slewMargin);
    m_context.log({event, m_context.plan.target, coordinatesText(m_aim),
                   QStringLiteral("%1 deg").arg(QString::number(distance, 'f', 3))});
    wait(Phase::Slewing, limit, QStringLiteral("the slew did not end"));
}

void PointingStep::afterSettle()
{
    Equatorial at;
    if (!m_context.link.mountJ2000(m_context.clock.utcNow(), at)) {
        m_context.fail(QStringLiteral("the mount reports no position"));
        return;
    }
    const double off = separation(at.rightAscension, at.declination, m_aim.rightAscension, m_aim.declination);
    m_context.log({QStringLiteral("slewed"), m_context.plan.target, coordinatesText(at),
                   QStringLiteral("%1 arcsec off").arg(QString::number(off * 3600, 'f', 1))});
    if (off > kPointingTolerance) {
        m_context.fail(
            QStringLiteral("the mount stands %1 deg from the target").arg(QString::number(off, 'f', 2)));
        return;
    }
    if (m_solveThis && solveWanted()) {
        startSolveFrame();
        return;
    }
    m_context.stepDone();
}

bool PointingStep::solveWanted()
{
    if (m_context.settings.indi.camera.isEmpty())
        return false;
    if (!m_solveOn) {
        QString which;
        const QString program = imaging::SolveField::executable();
        m_indexFolder = imaging::SolveField::findIndexFolder(m_context.settings.solve.indexFolder, &which);
        QString why;
        if (m_context.settings.solve.enabled == false)
            why = QStringLiteral("[solve] enabled=false");
        else if (program.isEmpty())
            why = QStringLiteral("solve-field is not installed (Debian: astrometry.net)");
        else if (m_indexFolder.isEmpty())
            why = which;
        m_solveOn = why.isEmpty();
        if (why.isEmpty())
            m_context.log({QStringLiteral("solve"), QStringLiteral("on"), program, which});
        else
            m_context.log({QStringLiteral("solve"), QStringLiteral("off: ") + why,
                           QStringLiteral("the mount's pointing is trusted")});
    }
    return *m_solveOn;
}

std::optional<double> PointingStep::scaleHint() const
{
    if (m_context.settings.solve.scale)
        return m_context.settings.solve.scale;
    const IndiProperty* info =
        m_context.client.property(m_context.settings.indi.camera, QStringLiteral("CCD_INFO"));
    const double pixel = info ? info->number(QStringLiteral("CCD_PIXEL_SIZE_X")).value_or(0) : 0;
    double focal = 0;
    if (const IndiProperty* scope =
            m_context.client.property(m_context.settings.indi.camera, QStringLiteral("SCOPE_INFO")))
        focal = scope->number(QStringLiteral("FOCAL_LENGTH")).value_or(0);
    if (focal <= 0)
        if (const IndiProperty* scope =
                m_context.client.property(m_context.settings.indi.mount, QStringLiteral("TELESCOPE_INFO")))
            focal = scope->number(QStringLiteral("TELESCOPE_FOCAL_LENGTH")).value_or(0);
    if (pixel <= 0 || focal <= 0)
        return std::nullopt;
    return 206.264806 * pixel / focal;
}

void PointingStep::startSolveFrame()
{
    ++m_solves;
    m_camera.configure(m_context.settings.solve.binning, 1.0, *this);
}

void PointingStep::solveFrame(const IndiBlob* blob)
{
    if (!m_work || !m_work->isValid())
        m_work = std::make_unique<QTemporaryDir>();
    const QString path = m_work->filePath(QStringLiteral("solve-%1.fits").arg(m_solves));
    QFile file(path);
    if (!blob || !looksLikeFits(blob->data) || !file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(blob->data) != blob->data.size() || !file.flush()) {
        m_context.log({QStringLiteral("solve"), m_context.plan.target,
                       QStringLiteral("failed: the solve frame is not FITS or cannot be kept"),
                       QStringLiteral("the plan goes on unsolved")});
        m_context.stepDone();
        return;
    }
    file.close();
    imaging::SolveRequest request;
    request.imagePath = path;
    request.workDir = m_work->filePath(QStringLiteral("solve"));
    request.indexFolder = m_indexFolder;
    request.rightAscension = m_target.rightAscension * 15;
    request.declination = m_target.declination;
    request.radius = m_context.settings.solve.radius;
    if (const auto scale = scaleHint())
        request.scale = *scale * m_camera.geometry().binning;
    request.cpuLimit = m_context.settings.solve.cpuLimit;
    m_solveGeometry = m_camera.geometry();
    // Where the mount says it points while the frame is taken: the solve measures its error.
    if (!m_context.link.mountJ2000(m_context.clock.utcNow(), m_solveMount))
        m_solveMount = m_aim;
    wait(Phase::Solving, m_context.settings.solve.cpuLimit * 2 + 60,
         QStringLiteral("solve-field did not end"));
    m_solver.start(request);
}

void PointingStep::solved(const imaging::SolveResult& result)
{
    if (!waiting(Phase::Solving))
        return;
    const QString seconds = QStringLiteral("%1 s").arg(result.seconds, 0, 'f', 1);
    if (!result.solved) {
        // A lost solve must not lose the night: the plan goes on where the mount points.
        m_context.log({QStringLiteral("solve"), m_context.plan.target,
                       QStringLiteral("failed: ") + result.reason, seconds,
                       QStringLiteral("the plan goes on unsolved")});
        m_context.stepDone();
        return;
    }
    m_context.solution = PlateSolution{result.wcs, m_solveGeometry, result.catalogue};
    const double off = imaging::angularDistance(result.rightAscension, result.declination,
                                                m_target.rightAscension * 15, m_target.declination) *
                       3600;
    m_context.log({QStringLiteral("solved"), m_context.plan.target,
                   coordinatesText({result.rightAscension / 15, result.declination}),
                   QStringLiteral("%1 arcsec off").arg(off, 0, 'f', 1),
                   QStringLiteral("%1 arcsec/px").arg(result.wcs.scale(), 0, 'f', 2), seconds,
                   QStringLiteral("solve %1").arg(m_solves)});
    if (off <= m_context.settings.solve.tolerance) {
        m_context.stepDone();
        return;
    }
    if (m_solves >= m_context.settings.solve.attempts) {
        m_context.log({QStringLiteral("solve"), m_context.plan.target,
                       QStringLiteral("still %1 arcsec off after %2 solves; the plan goes on")
                           .arg(off, 0, 'f', 1)
                           .arg(m_solves)});
        m_context.stepDone();
        return;
    }
    correct(result);
}

// Sends the mount to the target again, the solve's error taken out.
void PointingStep::correct(const imaging::SolveResult& result)
{
    if (m_context.settings.solve.sync) {
        // The mount learns where it points, then goes to the target again.
        const Equatorial at{result.rightAscension / 15, result.declination};
        const Equatorial jnow = j2000ToJnow(at, m_context.clock.utcNow());
        m_context.client.sendSwitch(m_context.settings.indi.mount, QStringLiteral("ON_COORD_SET"),
                                    QStringLiteral("SYNC"));
        m_context.client.sendNumbers(
            m_context.settings.indi.mount, EOD,
            {{QStringLiteral("RA"), jnow.rightAscension}, {QStringLiteral("DEC"), jnow.declination}});
        m_context.log({QStringLiteral("sync"), m_context.plan.target, coordinatesText(at)});
        slewTo(m_target, QStringLiteral("correct"));
        return;
    }
    // Differential: the mount's error is where the sky is less where the mount said it pointed;
    // it is sent to the target less that error. (Measured against the mount's report rather than
    // the position asked, a slew that stopped short is not taken for an error of the pointing.)
    double dRa = result.rightAscension / 15 - m_solveMount.rightAscension;
    dRa -= 24 * std::round(dRa / 24);
    Equatorial aim{
        wrapHours(m_target.rightAscension - dRa),
        std::clamp(m_target.declination - (result.declination - m_solveMount.declination), -90.0, 90.0)};
    slewTo(aim, QStringLiteral("correct"));
}

void PointingStep::cameraReady()
{
    m_camera.expose(m_context.settings.solve.exposure, QStringLiteral("the solve exposure"));
}

void PointingStep::frameArrived(const IndiBlob* frame)
{
    solveFrame(frame);
}

void PointingStep::poll()
{
    if (m_phase == Phase::Slewing && !m_watch.seenBusy() && m_context.secondsWaiting() > kSilentSlewSeconds) {
        Equatorial at;
        const IndiProperty* coord = m_context.client.property(m_context.settings.indi.mount, EOD);
        if (coord && coord->state == PropertyState::Ok &&
            m_context.link.mountJ2000(m_context.clock.utcNow(), at) &&
            separation(at.rightAscension, at.declination, m_aim.rightAscension, m_aim.declination) < 0.05)
            wait(Phase::Settling, m_context.settings.settleTime + 1, QString());
    } else if (m_phase == Phase::Settling && m_context.secondsWaiting() >= m_context.settings.settleTime) {
        afterSettle();
    }
}

void PointingStep::propertyChanged(const QString& device, const QString& name, const IndiProperty& property)
{
    if (m_phase != Phase::Slewing || device != m_context.settings.indi.mount || name != EOD)
        return;
    const auto result = m_watch.update(property.state);
    if (result == CommandWatch::Result::Failed)
        m_context.fail(QStringLiteral("slew failed: the mount reported Alert"));
    else if (result == CommandWatch::Result::Done)
        wait(Phase::Settling, m_context.settings.settleTime + 5, QStringLiteral("the mount did not settle"));
}

void PointingStep::stop()
{
    m_solver.cancel();
    if ((waiting(Phase::Slewing) || waiting(Phase::Settling)) && m_context.client.serverConnected())
        m_context.client.sendSwitch(m_context.settings.indi.mount, QStringLiteral("TELESCOPE_ABORT_MOTION"),
                                    QStringLiteral("ABORT"));
}

} // namespace kestrove::indi
