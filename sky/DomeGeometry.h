#pragma once

namespace kestrove {

// Where a German equatorial mount stands in its dome, metres. The mount's centre is where its polar
// and declination axes cross, measured from the dome's centre to the north, the east and up; the
// declination axis reaches from the polar axis to the optical axis.
struct DomeLayout
{
    double radius = 0;
    double north = 0;
    double east = 0;
    double up = 0;
    double declinationAxis = 0;

    bool operator==(const DomeLayout&) const = default;
};

// The side of the pier the tube is on, as INDI's TELESCOPE_PIER_SIDE names it: a tube on the east
// side looks west, past the meridian; one on the west side looks east.
enum class PierSide
{
    East,
    West
};

// The side a mount takes for an hour angle (hours), its counterweight down.
PierSide pierSideFor(double hourAngle);

// Where the optical axis crosses the declination axis, metres from the dome's centre: the point the
// telescope looks out from at `hourAngle` hours, seen from `latitude`, its tube on `side` of the pier.
struct DomePoint
{
    double east = 0;
    double north = 0;
    double up = 0;
};
DomePoint opticalAxisOrigin(const DomeLayout& dome, double latitude, double hourAngle, PierSide side);

// The azimuth, degrees east of north, at which the telescope's optical axis leaves the dome: where
// the slit must stand. The telescope points at `hourAngle` hours and `declination` degrees, seen
// from `latitude`. With every offset zero it is the telescope's own azimuth.
double slitAzimuth(const DomeLayout& dome, double latitude, double hourAngle, double declination,
                   PierSide side);

// How far the dome turns, the short way, from azimuth `from` to `to`: degrees in (-180, 180].
double azimuthTurn(double from, double to);

} // namespace kestrove
