#include "sky/DomeGeometry.h"

#include <cmath>
#include <numbers>

namespace kestrove {

namespace {

constexpr double kRadian = std::numbers::pi / 180;

// East, north, up.
struct Vec
{
    double e, n, u;
};

Vec operator+(Vec a, Vec b)
{
    return {a.e + b.e, a.n + b.n, a.u + b.u};
}

Vec operator*(double k, Vec a)
{
    return {k * a.e, k * a.n, k * a.u};
}

double dot(Vec a, Vec b)
{
    return a.e * b.e + a.n * b.n + a.u * b.u;
}

double azimuthOf(Vec v)
{
    const double a = std::atan2(v.e, v.n) / kRadian;
    return a < 0 ? a + 360 : a;
}

// The equatorial frame on the horizon's axes: the pole, the equator on the meridian, and the
// equator six hours west.
struct EquatorialFrame
{
    Vec pole, meridian, west;

    explicit EquatorialFrame(double latitude)
        : pole{0, std::cos(latitude * kRadian), std::sin(latitude * kRadian)},
          meridian{0, -std::sin(latitude * kRadian), std::cos(latitude * kRadian)}, west{-1, 0, 0}
    {
    }
};

Vec axisOrigin(const DomeLayout& dome, const EquatorialFrame& frame, double hourAngle, PierSide side)
{
    const double h = hourAngle * 15 * kRadian;
    // The declination axis turns with the hour angle, square to the pole and to the tube; a tube on the
    // west of the pier lies along it, one on the east against it.
    const Vec axis = -std::sin(h) * frame.meridian + std::cos(h) * frame.west;
    const double arm = side == PierSide::West ? dome.declinationAxis : -dome.declinationAxis;
    return Vec{dome.east, dome.north, dome.up} + arm * axis;
}

} // namespace

PierSide pierSideFor(double hourAngle)
{
    const double h = std::remainder(hourAngle, 24.0);
    return h > 0 && h < 12 ? PierSide::East : PierSide::West;
}

DomePoint opticalAxisOrigin(const DomeLayout& dome, double latitude, double hourAngle, PierSide side)
{
    const Vec at = axisOrigin(dome, EquatorialFrame(latitude), hourAngle, side);
    return {at.e, at.n, at.u};
}

double slitAzimuth(const DomeLayout& dome, double latitude, double hourAngle, double declination,
                   PierSide side)
{
    const double h = hourAngle * 15 * kRadian;
    const double delta = declination * kRadian;
    const EquatorialFrame frame(latitude);
    const Vec tube = std::cos(delta) * (std::cos(h) * frame.meridian + std::sin(h) * frame.west) +
                     std::sin(delta) * frame.pole;
    const Vec start = axisOrigin(dome, frame, hourAngle, side);

    // The far root of |start + t tube| = radius: the tube starts inside the dome.
    const double b = dot(start, tube);
    const double c = dot(start, start) - dome.radius * dome.radius;
    if (!(c < 0))
        return azimuthOf(tube);
    const double t = -b + std::sqrt(b * b - c);
    const Vec hit = start + t * tube;
    // Straight up through the dome's centre the slit may stand anywhere: the telescope's azimuth.
    if (std::hypot(hit.e, hit.n) < 1e-9 * dome.radius)
        return azimuthOf(tube);
    return azimuthOf(hit);
}

double azimuthTurn(double from, double to)
{
    double d = std::fmod(to - from, 360.0);
    if (d <= -180)
        d += 360;
    else if (d > 180)
        d -= 360;
    return d;
}

} // namespace kestrove
