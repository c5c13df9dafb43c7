#include "host/indi/steps/DomeStep.h"

#include "host/indi/IndiLink.h"
#include "host/indi/steps/PropertyNames.h"
#include "sky/Clock.h"
#include "sky/DomeGeometry.h"
#include "sky/SiteSky.h"
#include "text/NumberText.h"

#include <cmath>

namespace kestrove::indi {

namespace {

const QString ABS_DOME_POSITION = QStringLiteral("ABS_DOME_POSITION");
const QString DOME_ABSOLUTE_POSITION = QStringLiteral("DOME_ABSOLUTE_POSITION");
// Commands sent for one alignment before the dome counts as unable to reach the slit.
constexpr int kMaxTurns = 3;

double wrapHours(double hours)
{
    const double h = std::remainder(hours, 24.0);
    return h <= -12 ? h + 24 : h;
}

QString angleText(double degrees)
{
    return QString::number(degrees, 'f', 2);
}

} // namespace

std::optional<DomeStep::Slit> DomeStep::slitNow() const
{
    const QString& mount = m_context.settings.indi.mount;
    const IndiProperty* eod = m_context.client.property(mount, EOD);
    if (!eod)
        return std::nullopt;
    const auto ra = eod->number(QStringLiteral("RA"));
    const auto dec = eod->number(QStringLiteral("DEC"));
    if (!ra || !dec)
        return std::nullopt;
    Slit slit;
    slit.hourAngle = wrapHours(m_context.sky.siderealTimeNow() - *ra);
    slit.declination = *dec;
    // A mount that does not say which side its tube is on takes the usual one for the hour angle.
    const IndiProperty* pier = m_context.client.property(mount, QStringLiteral("TELESCOPE_PIER_SIDE"));
    if (pier && (pier->isOn(QStringLiteral("PIER_EAST")) || pier->isOn(QStringLiteral("PIER_WEST"))))
        slit.east = pier->isOn(QStringLiteral("PIER_EAST"));
    else
        slit.east = pierSideFor(slit.hourAngle) == PierSide::East;
    slit.azimuth = slitAzimuth(m_context.settings.dome.layout(), m_context.link.siteLatitude(),
                               slit.hourAngle, slit.declination, slit.east ? PierSide::East : PierSide::West);
    return slit;
}

std::optional<double> DomeStep::domeAzimuth() const
{
    const IndiProperty* p = m_context.client.property(m_context.settings.indi.dome, ABS_DOME_POSITION);
    return p ? p->number(DOME_ABSOLUTE_POSITION) : std::nullopt;
}

bool DomeStep::moving() const
{
    return m_context.stateOf(m_context.settings.indi.dome, ABS_DOME_POSITION) == PropertyState::Busy;
}

void DomeStep::turnTo(double azimuth)
{
    const QString& dome = m_context.settings.indi.dome;
    const IndiProperty* p = m_context.client.property(dome, ABS_DOME_POSITION);
    m_sent = azimuth;
    m_turningTo = azimuth;
    m_sentUpdates = p ? p->updates : 0;
    ++m_turns;
    m_context.client.sendNumbers(dome, ABS_DOME_POSITION, {{DOME_ABSOLUTE_POSITION, azimuth}});
}

void DomeStep::sendDriverMeasurements(double hourAngle, PierSide side)
{
    // The driver swings the declination axis on a circle tilted the wrong way out of the equator's
    // plane, which puts its slit degrees off away from the meridian. It is given where the optical
    // axis starts for this pointing instead, and no declination axis of its own.
    const DomeSettings& d = m_context.settings.dome;
    const DomePoint origin = opticalAxisOrigin(d.layout(), m_context.link.siteLatitude(), hourAngle, side);
    m_context.client.sendNumbers(m_context.settings.indi.dome, QStringLiteral("DOME_MEASUREMENTS"),
                                 {{QStringLiteral("DM_DOME_RADIUS"), d.radius},
                                  {QStringLiteral("DM_NORTH_DISPLACEMENT"), origin.north},
                                  {QStringLiteral("DM_EAST_DISPLACEMENT"), origin.east},
                                  {QStringLiteral("DM_UP_DISPLACEMENT"), origin.up},
                                  {QStringLiteral("DM_OTA_OFFSET"), 0.0}});
}

void DomeStep::setUpDriverSlaving(double hourAngle, PierSide side)
{
    const QString& dome = m_context.settings.indi.dome;
    IndiClient& client = m_context.client;
    client.sendTexts(dome, QStringLiteral("ACTIVE_DEVICES"),
                     {{QStringLiteral("ACTIVE_TELESCOPE"), m_context.settings.indi.mount}});
    sendDriverMeasurements(hourAngle, side);
    // The pier side is in the measurements already.
    client.sendSwitch(dome, QStringLiteral("DM_OTA_SIDE"), QStringLiteral("DM_OTA_SIDE_IGNORE"));
    // Half the tolerance: a dome that turns only once it is past the tolerance would start frames
    // at its edge.
    client.sendNumbers(dome, QStringLiteral("DOME_PARAMS"),
                       {{QStringLiteral("AUTOSYNC_THRESHOLD"), m_context.settings.dome.tolerance / 2}});
    client.sendSwitch(dome, QStringLiteral("DOME_AUTOSYNC"), QStringLiteral("DOME_AUTOSYNC_ENABLE"));
}

void DomeStep::lead(const Equatorial& target)
{
    if (!configured())
        return;
    m_afterLead = true;
    const QDateTime now = m_context.clock.utcNow();
    const Equatorial jnow = j2000ToJnow(target, now);
    const double hourAngle = wrapHours(m_context.sky.siderealTimeNow() - jnow.rightAscension);
    if (m_context.settings.dome.slaving == DomeSlaving::Driver) {
        setUpDriverSlaving(hourAngle, pierSideFor(hourAngle));
        return;
    }
    // A driver left slaving on (by its saved configuration, or an earlier night with slaving=driver)
    // would turn the dome to its own idea of the slit between Kestrove's commands.
    const QString& dome = m_context.settings.indi.dome;
    if (const IndiProperty* autosync = m_context.client.property(dome, QStringLiteral("DOME_AUTOSYNC"));
        autosync && autosync->isOn(QStringLiteral("DOME_AUTOSYNC_ENABLE"))) {
        m_context.client.sendSwitch(dome, QStringLiteral("DOME_AUTOSYNC"),
                                    QStringLiteral("DOME_AUTOSYNC_DISABLE"));
        m_context.log({QStringLiteral("dome"), m_context.plan.target,
                       QStringLiteral("the driver's own slaving turned off: [dome] slaving=kestrove")});
    }
    turnTo(slitAzimuth(m_context.settings.dome.layout(), m_context.link.siteLatitude(), hourAngle,
                       jnow.declination, pierSideFor(hourAngle)));
}

void DomeStep::align(std::function<void()> then)
{
    if (!configured()) {
        then();
        return;
    }
    m_then = std::move(then);
    m_turns = 0;
    m_waited = false;
    // The telescope has moved on since the slew, and may have taken the other pier side.
    if (m_context.settings.dome.slaving == DomeSlaving::Driver)
        if (const std::optional<Slit> slit = slitNow())
            sendDriverMeasurements(slit->hourAngle, slit->east ? PierSide::East : PierSide::West);
    m_context.waitOn(
        *this, 360 / m_context.settings.dome.rotationRate + m_context.settings.indi.connectTimeout,
        QStringLiteral("the dome \"%1\" did not reach the slit's azimuth").arg(m_context.settings.indi.dome));
    poll();
}

void DomeStep::poll()
{
    if (!m_then)
        return;
    const std::optional<Slit> slit = slitNow();
    const std::optional<double> azimuth = domeAzimuth();
    if (!slit || !azimuth)
        return;
    const double tolerance = m_context.settings.dome.tolerance;
    const IndiProperty* p = m_context.client.property(m_context.settings.indi.dome, ABS_DOME_POSITION);
    if (p->state == PropertyState::Alert && m_sent && p->updates > m_sentUpdates) {
        m_context.fail(QStringLiteral("the dome \"%1\" reported Alert turning to %2")
                           .arg(m_context.settings.indi.dome, angleText(*m_sent)));
        return;
    }
    if (moving()) {
        m_waited = true;
        // A turn under way to where the slit no longer is gets a new aim; one that goes there is watched.
        if (m_context.settings.dome.slaving == DomeSlaving::Kestrove && m_sent &&
            std::abs(azimuthTurn(*m_sent, slit->azimuth)) > tolerance / 2 && m_turns < kMaxTurns)
            turnTo(slit->azimuth);
        return;
    }
    if (std::abs(azimuthTurn(*azimuth, slit->azimuth)) <= tolerance) {
        aligned(*slit, *azimuth);
        return;
    }
    m_waited = true;
    if (m_context.settings.dome.slaving == DomeSlaving::Driver)
        return;
    // The last command has been answered and left the dome short: once more, a bounded number of times.
    if (m_sent && std::abs(azimuthTurn(*m_sent, slit->azimuth)) <= tolerance / 2 &&
        p->updates <= m_sentUpdates)
        return;
    if (m_turns >= kMaxTurns) {
        m_context.fail(QStringLiteral("the dome \"%1\" stands at %2 after %3 turns, not at the slit's %4")
                           .arg(m_context.settings.indi.dome, angleText(*azimuth))
                           .arg(m_turns)
                           .arg(angleText(slit->azimuth)));
        return;
    }
    turnTo(slit->azimuth);
}

void DomeStep::aligned(const Slit& slit, double azimuth)
{
    const double waited = m_context.secondsWaiting();
    if (m_waited || m_afterLead)
        m_context.log({QStringLiteral("dome"), m_context.plan.target,
                       QStringLiteral("azimuth ") + angleText(azimuth),
                       QStringLiteral("slit ") + angleText(slit.azimuth),
                       QStringLiteral("hour angle %1").arg(slit.hourAngle, 0, 'f', 5),
                       QStringLiteral("declination %1").arg(slit.declination, 0, 'f', 5),
                       slit.east ? QStringLiteral("pier east") : QStringLiteral("pier west"),
                       QStringLiteral("waited %1 s").arg(waited, 0, 'f', 1)});
    m_afterLead = false;
    m_turningTo.reset();
    std::function<void()> then = std::move(m_then);
    m_then = nullptr;
    then();
}

DomeView DomeStep::view() const
{
    DomeView view;
    view.azimuth = domeAzimuth();
    view.turning = moving();
    if (view.turning)
        view.turningTo = m_turningTo;
    const std::optional<Slit> slit = slitNow();
    view.aligned = !view.turning && view.azimuth && slit &&
                   std::abs(azimuthTurn(*view.azimuth, slit->azimuth)) <= m_context.settings.dome.tolerance;
    return view;
}

void DomeStep::stop()
{
    m_then = nullptr;
    m_turningTo.reset();
    const QString& dome = m_context.settings.indi.dome;
    if (m_context.waitingOn(*this) && m_context.client.serverConnected() && moving())
        m_context.client.sendSwitch(dome, QStringLiteral("DOME_ABORT_MOTION"), QStringLiteral("ABORT"));
}

} // namespace kestrove::indi
