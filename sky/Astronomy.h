#pragma once

#include <QDateTime>
#include <QList>
#include <cmath>
#include <memory>
#include <optional>

#include <erfa.h>
#include <erfam.h>

namespace kestrove {

struct Site
{
    double latitude = 0;  // degrees, north positive
    double longitude = 0; // degrees, east positive
    double elevation = 0; // metres
};

struct Horizontal
{
    double elevation = 0; // degrees
    double azimuth = 0;   // degrees from north through east, 0..360
};

// Everything about the sky at one instant for one site that does not depend on the target:
// ERFA's astrometry context (Earth's position and velocity, precession-nutation, Earth rotation),
// and the one rotation from the catalogue frame to the horizon that every target of a pass shares.
// Building it costs tens of microseconds; each transform with it well under one.
class SkyInstant
{
public:
    SkyInstant(const QDateTime& utc, const Site& site);
    // The context of `base` carried to `utc` for a few microseconds: the Earth's rotation exactly, the
    // observer's place around the Sun along its velocity. Within half an hour of the base, what is
    // left out (precession, nutation, the turn of the velocity) moves a star or the Sun by a few
    // hundredths of an arcsecond and the Moon by under a minute of arc.
    SkyInstant(const SkyInstant& base, const QDateTime& utc);

    qint64 msecsSinceEpoch() const { return m_msecs; }
    const Site& site() const { return m_site; }
    // Local apparent sidereal time, hours 0..24.
    double localSiderealTime() const;
    // Topocentric apparent place of a J2000 (ICRS) position, without refraction.
    Horizontal observed(double rightAscension, double declination) const;
    // The same place seen from `latitude` at local apparent sidereal time `siderealTime` (hours).
    Horizontal observedAt(double rightAscension, double declination, double latitude,
                          double siderealTime) const;
    // The same from the position's unit vector (catalogueUnit).
    Horizontal observed(const double catalogue[3]) const;
    Horizontal observedAt(const double catalogue[3], double latitude, double siderealTime) const;
    // The elevation alone of observed and observedAt, to the last bit.
    double elevation(const double catalogue[3]) const;
    double elevationAt(const double catalogue[3], double latitude, double siderealTime) const;
    // True when the position stands at or below `elevation` (degrees) beyond doubt, told by a dot
    // product; false when that is too close to call.
    bool surelyAtOrBelow(const double catalogue[3], double elevation) const;
    bool surelyAtOrBelowAt(const double catalogue[3], double elevation, double latitude,
                           double siderealTime) const;

    // Topocentric apparent places of the Sun and, when this ERFA has a lunar ephemeris, the Moon;
    // without refraction.
    Horizontal sun() const;
    std::optional<Horizontal> moon() const;

private:
    void prepareHorizon();
    // The matrix to the horizon of `latitude` with the Earth turned to `angle` (radians).
    void toHorizon(double angle, double latitude, double xpl, double ypl, double m[3][3]) const;
    // The matrix of observedAt for a latitude and sidereal time.
    const double (*horizonAt(double latitude, double siderealTime) const)[3];
    // The place in the horizon frame as a vector (x south, y east, z to the zenith).
    void local(const double toHorizon[3][3], const double catalogue[3], double xyz[3]) const;
    double elevation(const double toHorizon[3][3], const double catalogue[3]) const;
    Horizontal place(const double toHorizon[3][3], const double catalogue[3]) const;
    bool surelyAtOrBelow(const double toHorizon[3][3], const double catalogue[3], double elevation) const;

    qint64 m_msecs;
    Site m_site;
    // ERFA takes the context, its vectors and matrices by non-const pointer but does not change them.
    mutable eraASTROM m_astrom;
    double m_eo = 0;  // equation of the origins, ERA - GST
    double m_tt1 = 0; // the instant in TT, as ERFA's two-part date
    double m_tt2 = 0;
    // Bias-precession-nutation, Earth rotation, polar motion and the site's latitude in one matrix:
    // from the catalogue frame, after deflection and aberration, to the local horizon.
    mutable double m_toHorizon[3][3];
    // The last latitude and sidereal time asked of observedAt, and their matrix: a pass asks the
    // same for every target.
    mutable double m_atLatitude = std::nan("");
    mutable double m_atSiderealTime = std::nan("");
    mutable double m_atToHorizon[3][3];
    // The sine of the last elevation asked of surelyAtOrBelow: a pass asks the same.
    mutable double m_sureElevation = std::nan("");
    mutable double m_sureSine = 0;
};

// The unit vector of a J2000 position (right ascension in hours, declination in degrees), as the
// transforms take it.
void catalogueUnit(double rightAscension, double declination, double unit[3]);

// Contexts for instants near one another, as a night's scan asks for them: each is carried from the
// full one of the nearest hour, and the last few dozen full ones are kept for every scan.
class SkyContexts
{
public:
    explicit SkyContexts(const Site& site) : m_site(site) {}

    const Site& site() const { return m_site; }
    std::shared_ptr<const SkyInstant> at(const QDateTime& utc);
    // The context last given, if any.
    const std::shared_ptr<const SkyInstant>& last() const { return m_last; }

private:
    Site m_site;
    std::shared_ptr<const SkyInstant> m_base;
    std::shared_ptr<const SkyInstant> m_last;
};

// Whether SkyInstant::moon() gives anything.
bool haveMoonEphemeris();
// The Sun's altitude (degrees) at a site.
double sunAltitude(const QDateTime& utc, const Site& site);

// An equatorial position: right ascension in hours, declination in degrees.
struct Equatorial
{
    double rightAscension = 0;
    double declination = 0;
};

// A J2000 (ICRS) position as the apparent place of the true equator and equinox of date (JNow),
// the frame INDI mounts speak; and back. Light deflection and aberration included, no refraction.
Equatorial j2000ToJnow(const Equatorial& j2000, const QDateTime& utc);
Equatorial jnowToJ2000(const Equatorial& jnow, const QDateTime& utc);

// The instants between two others at which the Sun's centre crosses an altitude, rising or
// setting, in order, to a second.
QList<QDateTime> sunCrossings(const Site& site, const QDateTime& fromUtc, const QDateTime& toUtc,
                              double sunAltitude);

// Airmass for an apparent elevation in degrees (Kasten and Young 1989); none at or below 0.
std::optional<double> airmassAt(double elevation);

// Angular distance between two J2000 positions, degrees.
double separation(double ra1Hours, double dec1, double ra2Hours, double dec2);

} // namespace kestrove
