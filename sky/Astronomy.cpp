#include "sky/Astronomy.h"

#include "text/HostError.h"

#include <QTimeZone>

#include <array>
#include <cmath>

namespace kestrove {

namespace {

constexpr double hoursToRad = ERFA_D2PI / 24.0;

Horizontal fromRadians(double azimuth, double zenithOrElevation, bool isZenith)
{
    Horizontal h;
    h.elevation = (isZenith ? ERFA_DPI / 2 - zenithOrElevation : zenithOrElevation) * ERFA_DR2D;
    h.azimuth = eraAnp(azimuth) * ERFA_DR2D;
    return h;
}

} // namespace

void catalogueUnit(double rightAscension, double declination, double unit[3])
{
    eraS2c(rightAscension * hoursToRad, declination * ERFA_DD2R, unit);
}

namespace {

// A UTC instant as ERFA's two-part dates, in UTC and in TT.
struct ErfaInstant
{
    double utc1 = 0;
    double utc2 = 0;
    double tt1 = 0;
    double tt2 = 0;
};

ErfaInstant erfaInstant(const QDateTime& u, const QString& call)
{
    const QDate d = u.date();
    const QTime t = u.time();
    ErfaInstant e;
    double tai1 = 0, tai2 = 0;
    if (eraDtf2d("UTC", d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second() + t.msec() / 1000.0,
                 &e.utc1, &e.utc2) < 0 ||
        eraUtctai(e.utc1, e.utc2, &tai1, &tai2) < 0 || eraTaitt(tai1, tai2, &e.tt1, &e.tt2) < 0)
        throw HostError(call, u.toString(Qt::ISODate), QStringLiteral("date out of range"));
    return e;
}

} // namespace

SkyInstant::SkyInstant(const QDateTime& utc, const Site& site) : m_site(site)
{
    const QDateTime u = utc.toUTC();
    m_msecs = u.toMSecsSinceEpoch();
    const ErfaInstant e = erfaInstant(u, QStringLiteral("NewCTHereAndNow"));
    // No UT1-UTC, no polar motion, pressure 0 (no refraction).
    if (eraApco13(e.utc1, e.utc2, 0.0, site.longitude * ERFA_DD2R, site.latitude * ERFA_DD2R, site.elevation,
                  0.0, 0.0, 0.0, 0.0, 0.0, 0.0, &m_astrom, &m_eo) < 0)
        throw HostError(QStringLiteral("NewCTHereAndNow"), u.toString(Qt::ISODate),
                        QStringLiteral("date out of range"));
    m_tt1 = e.tt1;
    m_tt2 = e.tt2;
    prepareHorizon();
}

SkyInstant::SkyInstant(const SkyInstant& base, const QDateTime& utc) : SkyInstant(base)
{
    const QDateTime u = utc.toUTC();
    m_msecs = u.toMSecsSinceEpoch();
    const ErfaInstant e = erfaInstant(u, QStringLiteral("NewCTHereAndNow"));
    // UT1 = UTC, as for a full context.
    eraAper13(e.utc1, e.utc2, &m_astrom);
    m_tt1 = e.tt1;
    m_tt2 = e.tt2;
    // The observer moves 30 km a second around the Sun, which shifts the Sun by 2.5" a minute; over
    // half an hour the path bends by kilometres only. v is in units of c, the dates in days.
    const double days = (m_tt1 - base.m_tt1) + (m_tt2 - base.m_tt2);
    double observer[3], travelled[3];
    eraSxp(m_astrom.em, m_astrom.eh, observer);
    eraSxp(days * ERFA_DC, m_astrom.v, travelled);
    eraPpp(observer, travelled, observer);
    eraPn(observer, &m_astrom.em, m_astrom.eh);
    prepareHorizon();
}

void SkyInstant::prepareHorizon()
{
    toHorizon(m_astrom.eral, m_site.latitude * ERFA_DD2R, m_astrom.xpl, m_astrom.ypl, m_toHorizon);
}

void SkyInstant::toHorizon(double angle, double latitude, double xpl, double ypl, double m[3][3]) const
{
    // As eraAtciqz then eraAtioq take a place: CIRS by the BPN matrix, then -HA/Dec by the local
    // Earth rotation angle, polar motion to first order, and the horizon by the latitude.
    double r[3][3];
    eraCr(m_astrom.bpn, r);
    eraRz(angle, r);
    double polar[3][3] = {{1, 0, xpl}, {0, 1, -ypl}, {-xpl, ypl, 1}};
    const double sphi = std::sin(latitude);
    const double cphi = std::cos(latitude);
    double horizon[3][3] = {{sphi, 0, -cphi}, {0, 1, 0}, {cphi, 0, sphi}};
    double hourAngle[3][3];
    eraRxr(polar, r, hourAngle);
    eraRxr(horizon, hourAngle, m);
}

void SkyInstant::local(const double toHorizon[3][3], const double catalogue[3], double xyz[3]) const
{
    double natural[3], proper[3], local[3];
    eraLdsun(const_cast<double*>(catalogue), m_astrom.eh, m_astrom.em, natural);
    eraAb(natural, m_astrom.v, m_astrom.em, m_astrom.bm1, proper);
    eraRxp(const_cast<double(*)[3]>(toHorizon), proper, local);
    // Diurnal aberration acts along the y axis, which the turn to the horizon leaves alone. (A context
    // from eraApco13 has the observer's rotation in v already, and no diurnal term.)
    const double f = 1 - m_astrom.diurab * local[1];
    xyz[0] = f * local[0];
    xyz[1] = f * (local[1] + m_astrom.diurab);
    xyz[2] = f * local[2];
}

double SkyInstant::elevation(const double toHorizon[3][3], const double catalogue[3]) const
{
    double v[3];
    local(toHorizon, catalogue, v);
    return (ERFA_DPI / 2 - std::atan2(std::sqrt(v[0] * v[0] + v[1] * v[1]), v[2])) * ERFA_DR2D;
}

Horizontal SkyInstant::place(const double toHorizon[3][3], const double catalogue[3]) const
{
    double v[3];
    local(toHorizon, catalogue, v);
    const double x = v[0], y = v[1], z = v[2];
    const double azimuth = (x != 0 || y != 0) ? std::atan2(y, -x) : 0.0;
    return fromRadians(azimuth, std::atan2(std::sqrt(x * x + y * y), z), true);
}

bool SkyInstant::surelyAtOrBelow(const double toHorizon[3][3], const double catalogue[3], double elevation) const
{
    if (!(elevation < 90))
        return elevation >= 90;
    if (!(elevation > -90))
        return false;
    // Deflection and aberration turn a star by under 23" and the diurnal term stretches the vector by
    // a few millionths; the height of the bare catalogue direction over the horizon is therefore
    // within 2e-4 of the sine of the exact elevation. The margin is more than twice that.
    const double height =
        toHorizon[2][0] * catalogue[0] + toHorizon[2][1] * catalogue[1] + toHorizon[2][2] * catalogue[2];
    if (elevation != m_sureElevation) {
        m_sureSine = std::sin(elevation * ERFA_DD2R);
        m_sureElevation = elevation;
    }
    return height <= m_sureSine - 5e-4;
}

double SkyInstant::localSiderealTime() const
{
    return eraAnp(m_astrom.eral - m_eo) / hoursToRad;
}

Horizontal SkyInstant::observed(double rightAscension, double declination) const
{
    double catalogue[3];
    catalogueUnit(rightAscension, declination, catalogue);
    return observed(catalogue);
}

Horizontal SkyInstant::observed(const double catalogue[3]) const
{
    return place(m_toHorizon, catalogue);
}

double SkyInstant::elevation(const double catalogue[3]) const
{
    return elevation(m_toHorizon, catalogue);
}

double SkyInstant::elevationAt(const double catalogue[3], double latitude, double siderealTime) const
{
    return elevation(horizonAt(latitude, siderealTime), catalogue);
}

bool SkyInstant::surelyAtOrBelow(const double catalogue[3], double elevation) const
{
    return surelyAtOrBelow(m_toHorizon, catalogue, elevation);
}

Horizontal SkyInstant::observedAt(double rightAscension, double declination, double latitude,
                                  double siderealTime) const
{
    double catalogue[3];
    catalogueUnit(rightAscension, declination, catalogue);
    return observedAt(catalogue, latitude, siderealTime);
}

Horizontal SkyInstant::observedAt(const double catalogue[3], double latitude, double siderealTime) const
{
    return place(horizonAt(latitude, siderealTime), catalogue);
}

bool SkyInstant::surelyAtOrBelowAt(const double catalogue[3], double elevation, double latitude,
                                   double siderealTime) const
{
    return surelyAtOrBelow(horizonAt(latitude, siderealTime), catalogue, elevation);
}

const double (*SkyInstant::horizonAt(double latitude, double siderealTime) const)[3]
{
    // The apparent sidereal time plus the equation of the origins is the angle CIRS places turn by.
    if (latitude != m_atLatitude || siderealTime != m_atSiderealTime) {
        toHorizon(siderealTime * hoursToRad + m_eo, latitude * ERFA_DD2R, 0, 0, m_atToHorizon);
        m_atLatitude = latitude;
        m_atSiderealTime = siderealTime;
    }
    return m_atToHorizon;
}

Horizontal SkyInstant::sun() const
{
    // eh is the heliocentric direction of the observer, so the Sun lies the other way; the
    // observer's own position puts the diurnal parallax in.
    double towardsSun[3];
    eraSxp(-1.0, m_astrom.eh, towardsSun);
    double ra = 0, dec = 0;
    eraC2s(towardsSun, &ra, &dec);
    return observed(eraAnp(ra) / hoursToRad, dec * ERFA_DR2D);
}

std::optional<Horizontal> SkyInstant::moon() const
{
#ifdef KESTROVE_HAVE_MOON98
    double moonGeo[2][3];
    eraMoon98(m_tt1, m_tt2, moonGeo);
    // The observer's geocentric position: heliocentric observer less heliocentric Earth. The
    // Moon's parallax reaches a degree, so it matters here.
    double earthHelio[2][3], earthBary[2][3];
    eraEpv00(m_tt1, m_tt2, earthHelio, earthBary);
    double observerHelio[3], observerGeo[3], topocentric[3];
    eraSxp(m_astrom.em, m_astrom.eh, observerHelio);
    eraPmp(observerHelio, earthHelio[0], observerGeo);
    eraPmp(moonGeo[0], observerGeo, topocentric);
    double ra = 0, dec = 0;
    eraC2s(topocentric, &ra, &dec);
    return observed(eraAnp(ra) / hoursToRad, dec * ERFA_DR2D);
#else
    return std::nullopt;
#endif
}

namespace {

constexpr qint64 slotMs = 60 * 60 * 1000;

// Full contexts on the hours, kept for every scan of the same site: a preview's night, its
// searches for the Sun and its survey all ask for the same ones.
std::shared_ptr<const SkyInstant> fullContextOfSlot(const Site& site, qint64 slot)
{
    struct Kept
    {
        Site site;
        qint64 slot = 0;
        std::shared_ptr<const SkyInstant> sky;
    };
    thread_local std::array<Kept, 64> kept;
    thread_local size_t next = 0;
    for (const Kept& k : kept)
        if (k.sky && k.slot == slot && k.site.latitude == site.latitude && k.site.longitude == site.longitude &&
            k.site.elevation == site.elevation)
            return k.sky;
    auto sky =
        std::make_shared<const SkyInstant>(QDateTime::fromMSecsSinceEpoch(slot * slotMs, QTimeZone::utc()), site);
    kept[next++ % kept.size()] = {site, slot, sky};
    return sky;
}

} // namespace

std::shared_ptr<const SkyInstant> SkyContexts::at(const QDateTime& utc)
{
    const qint64 ms = utc.toMSecsSinceEpoch();
    if (m_last && m_last->msecsSinceEpoch() == ms)
        return m_last;
    // The nearest hour: a context is never carried further than half an hour.
    const qint64 slot = (ms >= 0 ? ms + slotMs / 2 : ms - slotMs / 2 + 1) / slotMs;
    if (!m_base || m_base->msecsSinceEpoch() != slot * slotMs)
        m_base = fullContextOfSlot(m_site, slot);
    m_last = std::make_shared<const SkyInstant>(*m_base, utc);
    return m_last;
}

bool haveMoonEphemeris()
{
#ifdef KESTROVE_HAVE_MOON98
    return true;
#else
    return false;
#endif
}

double sunAltitude(const QDateTime& utc, const Site& site)
{
    return SkyInstant(utc, site).sun().elevation;
}

namespace {

// Terrestrial time of a UTC instant as an ERFA two-part date.
void terrestrialTime(const QDateTime& utc, const QString& call, double& tt1, double& tt2)
{
    const ErfaInstant e = erfaInstant(utc.toUTC(), call);
    tt1 = e.tt1;
    tt2 = e.tt2;
}

} // namespace

Equatorial j2000ToJnow(const Equatorial& j2000, const QDateTime& utc)
{
    double tt1 = 0, tt2 = 0;
    terrestrialTime(utc, QStringLiteral("j2000ToJnow"), tt1, tt2);
    double ri = 0, di = 0, eo = 0;
    // TT stands in for TDB: they differ by under 2 ms.
    eraAtci13(j2000.rightAscension * hoursToRad, j2000.declination * ERFA_DD2R, 0, 0, 0, 0, tt1, tt2, &ri,
              &di, &eo);
    return {eraAnp(ri - eo) / hoursToRad, di * ERFA_DR2D};
}

Equatorial jnowToJ2000(const Equatorial& jnow, const QDateTime& utc)
{
    double tt1 = 0, tt2 = 0;
    terrestrialTime(utc, QStringLiteral("jnowToJ2000"), tt1, tt2);
    const double ri = eraAnp(jnow.rightAscension * hoursToRad + eraEo06a(tt1, tt2));
    double rc = 0, dc = 0, eo = 0;
    eraAtic13(ri, jnow.declination * ERFA_DD2R, tt1, tt2, &rc, &dc, &eo);
    return {eraAnp(rc) / hoursToRad, dc * ERFA_DR2D};
}

namespace {

// Coarse enough to be cheap, fine enough that the Sun cannot cross an altitude twice in one step
// anywhere but within a few degrees of a pole.
constexpr int stepSeconds = 600;

// Bisects down to a second between an instant on one side of the altitude and one on the other.
QDateTime crossingBetween(SkyContexts& skies, QDateTime before, QDateTime after, double altitude)
{
    const bool wasAbove = skies.at(before)->sun().elevation >= altitude;
    while (before.secsTo(after) > 1) {
        const QDateTime middle = before.addSecs(before.secsTo(after) / 2);
        if ((skies.at(middle)->sun().elevation >= altitude) == wasAbove)
            before = middle;
        else
            after = middle;
    }
    return after;
}

} // namespace

QList<QDateTime> sunCrossings(const Site& site, const QDateTime& fromUtc, const QDateTime& toUtc,
                              double sunAltitudeLimit)
{
    QList<QDateTime> crossings;
    SkyContexts skies(site);
    QDateTime previous = fromUtc.toUTC();
    bool previousAbove = skies.at(previous)->sun().elevation >= sunAltitudeLimit;
    while (previous < toUtc) {
        QDateTime next = previous.addSecs(stepSeconds);
        if (next > toUtc)
            next = toUtc.toUTC();
        const bool above = skies.at(next)->sun().elevation >= sunAltitudeLimit;
        if (above != previousAbove)
            crossings << crossingBetween(skies, previous, next, sunAltitudeLimit);
        previous = next;
        previousAbove = above;
    }
    return crossings;
}

std::optional<double> airmassAt(double elevation)
{
    if (!(elevation > 0))
        return std::nullopt;
    return 1.0 / (std::sin(elevation * M_PI / 180.0) + 0.50572 * std::pow(elevation + 6.07995, -1.6364));
}

double separation(double ra1Hours, double dec1, double ra2Hours, double dec2)
{
    return eraSeps(ra1Hours * hoursToRad, dec1 * ERFA_DD2R, ra2Hours * hoursToRad, dec2 * ERFA_DD2R) *
           ERFA_DR2D;
}

} // namespace kestrove
