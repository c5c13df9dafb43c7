#include "host/sim/SimDevices.h"

#include "host/AcquisitionLog.h"
#include "host/SkyFlats.h"
#include "host/sim/SimState.h"
#include "text/ValueText.h"

#include <cmath>

namespace kestrove::sim {

namespace {

bool isRoof(Motion motion)
{
    return motion == Motion::OpenRoof || motion == Motion::CloseRoof;
}

} // namespace

bool SimDevices::has(Motion motion) const
{
    // The simulated camera has no cooler and takes no darks; its flats are of the sky.
    if (motion == Motion::SkyFlats)
        return m_state.settings.calibration.enabled && m_state.settings.calibration.skyFlats;
    return motion != Motion::CoolCamera && motion != Motion::WarmCamera && motion != Motion::Calibrate;
}

QString SimDevices::deviceText(Motion motion) const
{
    if (motion == Motion::SkyFlats)
        return QStringLiteral("camera");
    return isRoof(motion) ? QStringLiteral("roof") : QStringLiteral("mount");
}

qint64 SimDevices::nowMs() const
{
    return m_state.clock.utcNow().toMSecsSinceEpoch();
}

void SimDevices::command(Motion motion)
{
    settle();
    const ObservatorySettings& s = m_state.settings;
    const auto after = [this](double seconds) { return nowMs() + std::llround(seconds * 1000.0); };
    switch (motion) {
    case Motion::OpenRoof:
    case Motion::CloseRoof: {
        const bool open = motion == Motion::OpenRoof;
        // Already there, or already on the way: nothing to send.
        if ((m_roofOpen == open && !m_roofMove) || (m_roofMove && m_roofMove->motion == motion))
            return;
        m_roofMove = Move{motion, after(open ? s.roofOpenSeconds : s.roofCloseSeconds)};
        break;
    }
    case Motion::ParkMount:
        if ((m_mountParked && !m_mountMove) || (m_mountMove && m_mountMove->motion == motion))
            return;
        m_mountMove = Move{motion, after(s.parkSeconds)};
        break;
    case Motion::UnparkMount:
        m_mountMove.reset();
        m_mountParked = false;
        break;
    case Motion::SkyFlats: {
        const Equatorial field = skyFlatField(m_state.sky.site(), m_state.clock.utcNow());
        m_state.mountRightAscension = field.rightAscension;
        m_state.mountDeclination = field.declination;
        const double seconds = skyFlatSeconds(s.calibration, 1, s.downloadSeconds);
        m_flatsEndMs = after(seconds);
        log({QStringLiteral("sky flats"), QStringLiteral("simulated"),
             QStringLiteral("%1 s").arg(std::lround(seconds))});
        break;
    }
    case Motion::WarmCamera:
    case Motion::CoolCamera:
    case Motion::Calibrate:
        break;
    }
    settle();
}

void SimDevices::settle()
{
    const qint64 now = nowMs();
    if (m_roofMove && m_roofMove->endMs <= now) {
        m_roofOpen = m_roofMove->motion == Motion::OpenRoof;
        m_roofMove.reset();
    }
    if (m_mountMove && m_mountMove->endMs <= now) {
        m_mountParked = true;
        // The park position: the mount looks at the pole above the horizon.
        m_state.mountDeclination = m_state.settings.latitude < 0 ? -90 : 90;
        m_mountMove.reset();
    }
}

MotionProgress SimDevices::progress(Motion motion)
{
    settle();
    switch (motion) {
    case Motion::OpenRoof:
    case Motion::CloseRoof:
        return m_roofOpen == (motion == Motion::OpenRoof) && !m_roofMove ? MotionProgress::done()
                                                                         : MotionProgress::moving();
    case Motion::ParkMount:
        return m_mountParked && !m_mountMove ? MotionProgress::done() : MotionProgress::moving();
    case Motion::UnparkMount:
        return m_mountParked ? MotionProgress::moving() : MotionProgress::done();
    case Motion::SkyFlats:
        if (m_flatsEndMs && *m_flatsEndMs > nowMs())
            return MotionProgress::moving();
        m_flatsEndMs.reset();
        break;
    case Motion::WarmCamera:
    case Motion::CoolCamera:
    case Motion::Calibrate:
        break;
    }
    return MotionProgress::done();
}

void SimDevices::stopImaging(const QString& why)
{
    if (m_state.runner.active())
        m_state.runner.abort(QStringLiteral("aborted, ") + why);
}

bool SimDevices::weatherSafe()
{
    return !m_state.settings.weatherConnected ||
           !inAnyInterval(m_state.settings.unsafe, m_state.clock.utcNow());
}

void SimDevices::log(const QStringList& fields)
{
    appendAcquisitionLog(m_state.settings.logDir, m_state.clock.utcNow(), fields);
}

} // namespace kestrove::sim
