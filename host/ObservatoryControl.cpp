#include "host/ObservatoryControl.h"

#include "host/SkyUtil.h"
#include "sky/Clock.h"
#include "text/NumberText.h"

#include <cmath>

namespace kestrove {

namespace {

// After a sequence failed, the next attempt waits this long, so that a broken device is not
// commanded every second all night.
constexpr double kRetryAfterFailureSeconds = 300;

QString verbOf(Motion motion)
{
    switch (motion) {
    case Motion::ParkMount:
        return QStringLiteral("park");
    case Motion::CloseRoof:
        return QStringLiteral("close");
    case Motion::WarmCamera:
        return QStringLiteral("warm");
    case Motion::OpenRoof:
        return QStringLiteral("open");
    case Motion::UnparkMount:
        return QStringLiteral("unpark");
    case Motion::CoolCamera:
        return QStringLiteral("cool");
    case Motion::Calibrate:
        return QStringLiteral("calibrate");
    case Motion::SkyFlats:
        return QStringLiteral("take sky flats");
    }
    return {};
}

QString doingText(Motion motion)
{
    switch (motion) {
    case Motion::ParkMount:
        return QStringLiteral("parking the mount");
    case Motion::CloseRoof:
        return QStringLiteral("closing the roof");
    case Motion::WarmCamera:
        return QStringLiteral("warming the camera");
    case Motion::OpenRoof:
        return QStringLiteral("opening the roof");
    case Motion::UnparkMount:
        return QStringLiteral("unparking the mount");
    case Motion::CoolCamera:
        return QStringLiteral("cooling the camera");
    case Motion::Calibrate:
        return QStringLiteral("taking calibration frames");
    case Motion::SkyFlats:
        return QStringLiteral("taking sky flats");
    }
    return {};
}

double secondsBetween(const QDateTime& from, const QDateTime& to)
{
    return static_cast<double>(from.msecsTo(to)) / 1000.0;
}

// Twilights are half a day apart: one question about flats holds for one twilight.
constexpr qint64 kTwilightSeconds = 6 * 3600;

bool sunSetting(const SiteSky& sky, const QDateTime& now)
{
    return sunAltitude(now.addSecs(120), sky.site()) < sunAltitude(now, sky.site());
}

} // namespace

QString motionDoneText(Motion motion)
{
    switch (motion) {
    case Motion::ParkMount:
        return QStringLiteral("Mount parked");
    case Motion::CloseRoof:
        return QStringLiteral("Roof closed");
    case Motion::WarmCamera:
        return QStringLiteral("Camera warming up");
    case Motion::OpenRoof:
        return QStringLiteral("Roof open");
    case Motion::UnparkMount:
        return QStringLiteral("Mount unparked");
    case Motion::CoolCamera:
        return QStringLiteral("Camera cooled");
    case Motion::Calibrate:
        return QStringLiteral("Calibration frames taken");
    case Motion::SkyFlats:
        return QStringLiteral("Sky flats taken");
    }
    return {};
}

std::optional<SkyFlatWindow> skyFlatWindowOf(const ObservatorySettings& settings)
{
    const CalibrationSettings& c = settings.calibration;
    if (!c.enabled || !c.skyFlats)
        return std::nullopt;
    return SkyFlatWindow{c.skyFlatSunMin, c.skyFlatSunMax};
}

ObservatoryControl::Limit ObservatoryControl::limitOf(Motion motion)
{
    switch (motion) {
    case Motion::ParkMount:
    case Motion::UnparkMount:
        return {120, 2, true};
    case Motion::CloseRoof:
    case Motion::OpenRoof:
        return {180, 2, true};
    case Motion::CoolCamera:
        // A camera that cannot reach its temperature on a warm night still takes useful images.
        return {900, 0, false};
    case Motion::WarmCamera:
        return {60, 0, false};
    case Motion::Calibrate:
        // Each frame has its own time limit; this only bounds a night's worth of them. A failed
        // calibration leaves the observatory closed all the same.
        return {6 * 3600, 0, false};
    case Motion::SkyFlats:
        // The twilight's length: the flats end by themselves when the sky leaves their exposures.
        return {5400, 0, false};
    }
    return {60, 0, false};
}

ObservatoryControl::ObservatoryControl(ObservatoryDevices& devices, SiteSky& sky, const Clock& clock,
                                       QTimeZone zone, std::optional<double> sunLimit,
                                       const SafetySettings& safety)
    : m_devices(devices), m_sky(sky), m_clock(clock), m_zone(std::move(zone)), m_sunLimit(sunLimit),
      m_safety(safety)
{
}

void ObservatoryControl::runStarted()
{
    m_running = true;
    m_closedByObserver = false;
    m_closedOutside.clear();
    m_verified = false;
    m_lastUnsafe.reset();
    m_unsafeSince.reset();
    m_holdUntil = {};
    update();
}

void ObservatoryControl::runEnded()
{
    m_running = false;
    if (!m_safety.closeAtEnd)
        return;
    if (busy() && m_state == ObservatoryState::Closing) {
        for (Motion motion : {Motion::Calibrate, Motion::WarmCamera})
            if (m_devices.has(motion) && !m_sequence.contains(motion))
                m_sequence << motion;
        return;
    }
    startClosing(QStringLiteral("run ended"), true);
}

void ObservatoryControl::closeNow(const QString& why)
{
    m_running = false;
    m_closedByObserver = true;
    startClosing(why, true);
}

void ObservatoryControl::update()
{
    if (m_updating)
        return;
    m_updating = true;
    struct Reset
    {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{m_updating};

    const QDateTime now = m_clock.utcNow();
    if (m_running || busy()) {
        m_weatherSafe = m_devices.weatherSafe();
        if (m_weatherSafe) {
            m_unsafeSince.reset();
        } else {
            if (!m_unsafeSince)
                m_unsafeSince = now;
            m_lastUnsafe = now;
        }
    }
    if (busy())
        advance();
    if (!m_running || (m_holdUntil.isValid() && now < m_holdUntil))
        return;

    // Shut by someone else while open: taken as the observer's close, never undone by itself.
    if (m_state == ObservatoryState::Open && !busy() && m_closedOutside.isEmpty()) {
        m_closedOutside = m_devices.shutFromOutside();
        if (!m_closedOutside.isEmpty())
            tell(QStringLiteral("Found shut from outside: ") + m_closedOutside);
    }
    const QString why = closeReason();
    if (busy()) {
        // An opening is cut short as soon as the observatory must close.
        if (m_state == ObservatoryState::Opening && !why.isEmpty())
            startClosing(why, !why.startsWith(QStringLiteral("weather")));
        return;
    }
    const bool forSun = why.startsWith(QStringLiteral("Sun above"));
    if (!why.isEmpty()) {
        if (m_state != ObservatoryState::Closed || !m_verified) {
            if (m_state == ObservatoryState::Open && forSun && holdForDawnFlats())
                return;
            startClosing(why, !why.startsWith(QStringLiteral("weather")));
        } else if (forSun && duskFlatsNow()) {
            startOpening(true);
        }
    } else if ((m_state != ObservatoryState::Open || !m_verified) && mayOpen()) {
        startOpening();
    }
}

QString ObservatoryControl::closeReason() const
{
    if (m_closedByObserver)
        return QStringLiteral("closed by the observer");
    if (!m_closedOutside.isEmpty())
        return QStringLiteral("found shut from outside (%1)").arg(m_closedOutside);
    if (sunAboveLimit(m_sky, m_sunLimit) && !(m_openForFlats && sunSetting(m_sky, m_clock.utcNow())))
        return QStringLiteral("Sun above %1°").arg(doubleText(*m_sunLimit));
    if (!m_weatherSafe && m_unsafeSince &&
        secondsBetween(*m_unsafeSince, m_clock.utcNow()) >= m_safety.closeDelay)
        return QStringLiteral("weather unsafe");
    return {};
}

bool ObservatoryControl::mayOpen() const
{
    if (!m_weatherSafe || sunAboveLimit(m_sky, m_sunLimit))
        return false;
    return !m_lastUnsafe || m_clock.utcNow() >= reopenAt();
}

QDateTime ObservatoryControl::reopenAt() const
{
    return m_lastUnsafe ? m_lastUnsafe->addMSecs(std::llround(m_safety.reopenDelay * 1000)) : QDateTime();
}

bool ObservatoryControl::inFlatWindow(bool* setting) const
{
    if (!m_skyFlats)
        return false;
    const QDateTime now = m_clock.utcNow();
    const double sun = sunAltitude(now, m_sky.site());
    if (setting)
        *setting = sunSetting(m_sky, now);
    return sun >= m_skyFlats->sunMin && sun <= m_skyFlats->sunMax;
}

bool ObservatoryControl::flatsDue(QDateTime& last, bool& answer)
{
    const QDateTime now = m_clock.utcNow();
    if (!last.isValid() || last.secsTo(now) > kTwilightSeconds) {
        last = now;
        answer = m_devices.skyFlatsWanted();
    }
    return answer;
}

bool ObservatoryControl::duskFlatsNow()
{
    if (!m_skyFlats || !m_devices.has(Motion::SkyFlats) || !m_weatherSafe ||
        (m_lastUnsafe && m_clock.utcNow() < reopenAt()))
        return false;
    bool setting = false;
    return inFlatWindow(&setting) && setting && flatsDue(m_duskAsked, m_duskWanted);
}

bool ObservatoryControl::holdForDawnFlats()
{
    if (!m_skyFlats || !m_devices.has(Motion::SkyFlats) || !m_weatherSafe)
        return false;
    const QDateTime now = m_clock.utcNow();
    if (sunAltitude(now, m_sky.site()) >= m_skyFlats->sunMin || sunSetting(m_sky, now))
        return false;
    return flatsDue(m_dawnAsked, m_dawnWanted);
}

void ObservatoryControl::startOpening(bool skyFlats)
{
    m_state = ObservatoryState::Opening;
    m_openForFlats = skyFlats;
    m_sequence.clear();
    for (Motion motion : {Motion::OpenRoof, Motion::UnparkMount, Motion::CoolCamera})
        if (m_devices.has(motion))
            m_sequence << motion;
    if (skyFlats)
        m_sequence << Motion::SkyFlats;
    m_commanded = false;
    m_tries = 0;
    tell(skyFlats ? QStringLiteral("Opening for sky flats: twilight and the weather safe")
                  : QStringLiteral("Opening: dark and the weather safe"));
    advance();
}

void ObservatoryControl::startClosing(const QString& why, bool warm)
{
    m_devices.stopImaging(why);
    const bool wasOpen = m_state == ObservatoryState::Open && m_verified;
    m_state = ObservatoryState::Closing;
    m_openForFlats = false;
    m_closeWhy = why;
    m_sequence.clear();
    // Flats of the morning sky after the last plan, while the roof is still open; never on the
    // observer's close or a roof shut by someone else.
    if (warm && wasOpen && !m_closedByObserver && m_closedOutside.isEmpty() &&
        m_devices.has(Motion::SkyFlats) && inFlatWindow() && flatsDue(m_dawnAsked, m_dawnWanted))
        m_sequence << Motion::SkyFlats;
    // The mount first: a roof closing on an unparked telescope is the accident to avoid. The night's
    // close calibrates in the dark, before the camera warms.
    for (Motion motion : {Motion::ParkMount, Motion::CloseRoof, Motion::Calibrate, Motion::WarmCamera})
        if (m_devices.has(motion) && (warm || (motion != Motion::WarmCamera && motion != Motion::Calibrate)))
            m_sequence << motion;
    m_commanded = false;
    m_tries = 0;
    tell(QStringLiteral("Closing: ") + why);
    advance();
}

void ObservatoryControl::advance()
{
    while (!m_sequence.isEmpty()) {
        const Motion motion = m_sequence.front();
        const Limit limit = limitOf(motion);
        const QDateTime now = m_clock.utcNow();
        if (!m_commanded) {
            m_commanded = true;
            ++m_tries;
            m_motionStart = now;
            QStringList fields{verbOf(motion), m_devices.deviceText(motion)};
            if (m_tries > 1)
                fields << QStringLiteral("try %1").arg(m_tries);
            m_devices.log(fields);
            m_devices.command(motion);
        }
        const MotionProgress progress = m_devices.progress(motion);
        for (const QString& event : m_devices.takeEvents())
            tell(event);
        if (progress.state == MotionProgress::State::Done) {
            m_devices.log({QStringLiteral("done"), motionDoneText(motion)});
            m_sequence.removeFirst();
            m_commanded = false;
            m_tries = 0;
            continue;
        }
        if (progress.state == MotionProgress::State::Moving &&
            secondsBetween(m_motionStart, now) < limit.seconds)
            return;
        const QString why =
            progress.state == MotionProgress::State::Failed
                ? QStringLiteral("%1 did not %2: %3")
                      .arg(m_devices.deviceText(motion), verbOf(motion), progress.why)
                : QStringLiteral("%1 did not %2 within %3 s")
                      .arg(m_devices.deviceText(motion), verbOf(motion), doubleText(limit.seconds));
        m_devices.log({QStringLiteral("error"), why});
        // Commanded again: a device still carrying the motion out keeps it, one that gave up retries.
        if (m_tries <= limit.retries) {
            m_commanded = false;
            continue;
        }
        if (!limit.mustSucceed) {
            tell(why + QStringLiteral("; going on"));
            m_sequence.removeFirst();
            m_commanded = false;
            m_tries = 0;
            continue;
        }
        failSequence(motion, m_tries > 1 ? why + QStringLiteral(" (%1 tries)").arg(m_tries) : why);
        return;
    }
    finishSequence();
}

void ObservatoryControl::finishSequence()
{
    m_verified = true;
    if (m_state == ObservatoryState::Opening) {
        m_state = ObservatoryState::Open;
        m_fault.clear();
        tell(QStringLiteral("Open"));
    } else if (m_state == ObservatoryState::Closing) {
        m_state = ObservatoryState::Closed;
        m_fault.clear();
        QString text = QStringLiteral("Closed: ") + m_closeWhy;
        if (m_running && m_closeWhy.startsWith(QStringLiteral("weather")))
            text += m_weatherSafe
                        ? QStringLiteral("; reopens at %1 if it stays safe").arg(localTime(reopenAt()))
                        : QStringLiteral("; reopens %1 min after it turns safe")
                              .arg(doubleText(m_safety.reopenDelay / 60));
        tell(text);
    }
}

void ObservatoryControl::failSequence(Motion motion, const QString& why)
{
    const bool opening = m_state == ObservatoryState::Opening;
    m_sequence.clear();
    m_commanded = false;
    m_tries = 0;
    m_verified = false;
    m_fault = why;
    const QDateTime now = m_clock.utcNow();
    if (opening) {
        tell(QStringLiteral("Opening failed: ") + why);
        // Shut again, and try to open only after the reopening delay.
        m_lastUnsafe = now;
        startClosing(QStringLiteral("opening failed"), false);
        m_fault = why;
        return;
    }
    m_holdUntil = now.addSecs(static_cast<qint64>(kRetryAfterFailureSeconds));
    tell(QStringLiteral("Closing failed: ") + why +
         (motion == Motion::ParkMount && m_devices.has(Motion::CloseRoof)
              ? QStringLiteral("; the roof is not closed on an unparked telescope")
              : QString()));
}

QString ObservatoryControl::reopensAfterText() const
{
    if (m_safety.reopenDelay <= 0)
        return QStringLiteral("reopens when it turns safe");
    return QStringLiteral("reopens %1 min after it turns safe").arg(doubleText(m_safety.reopenDelay / 60));
}

QString ObservatoryControl::localTime(const QDateTime& utc) const
{
    return utc.isValid() ? utc.toTimeZone(m_zone).toString(QStringLiteral("HH:mm")) : QString();
}

QString ObservatoryControl::waitReason()
{
    if (ready())
        return {};
    if (!m_fault.isEmpty() && !busy())
        return m_fault;
    if (!m_closedOutside.isEmpty() && m_state == ObservatoryState::Closed)
        return QStringLiteral("found shut from outside (%1); it stays shut until the survey starts again")
            .arg(m_closedOutside);
    if (sunAboveLimit(m_sky, m_sunLimit))
        return QStringLiteral("Sun at %1°, limit %2°")
            .arg(QString::asprintf("%+.0f", m_sky.sunAltitudeNow()), doubleText(*m_sunLimit));
    if (m_state == ObservatoryState::Closing)
        return QStringLiteral("closing (%1): %2").arg(m_closeWhy, doingText(m_sequence.front()));
    if (m_state == ObservatoryState::Opening)
        return QStringLiteral("opening: ") + doingText(m_sequence.front());
    if (!m_weatherSafe)
        return m_state == ObservatoryState::Closed && m_lastUnsafe
                   ? QStringLiteral("closed for weather, ") + reopensAfterText()
                   : QStringLiteral("weather unsafe");
    if (m_lastUnsafe && m_clock.utcNow() < reopenAt())
        return QStringLiteral("closed for weather, reopens at %1 if it stays safe")
            .arg(localTime(reopenAt()));
    return QStringLiteral("observatory closed");
}

QString ObservatoryControl::stateText() const
{
    switch (m_state) {
    case ObservatoryState::Open:
        return QStringLiteral("Open");
    case ObservatoryState::Opening:
        return QStringLiteral("Opening: ") + doingText(m_sequence.front());
    case ObservatoryState::Closing:
        if (!busy())
            return QStringLiteral("Closing failed: ") + m_fault;
        return QStringLiteral("Closing (%1): %2").arg(m_closeWhy, doingText(m_sequence.front()));
    case ObservatoryState::Closed:
        if (!m_fault.isEmpty())
            return QStringLiteral("Closed (%1)").arg(m_fault);
        if (!m_closedOutside.isEmpty())
            return QStringLiteral("Closed: found shut from outside (%1)").arg(m_closedOutside);
        if (m_running && m_lastUnsafe && m_clock.utcNow() < reopenAt())
            return QStringLiteral("Closed; reopens at %1 if it stays safe").arg(localTime(reopenAt()));
        return QStringLiteral("Closed");
    }
    return {};
}

void ObservatoryControl::tell(const QString& event)
{
    if (onEvent)
        onEvent(event);
}

} // namespace kestrove
