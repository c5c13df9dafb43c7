#include "sky/DomeGeometry.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>

using namespace kestrove;

namespace {

using Vec3 = std::array<double, 3>; // east, north, up

constexpr double kDeg = std::numbers::pi / 180;

Vec3 cross(const Vec3& a, const Vec3& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double length(const Vec3& a)
{
    return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
}

// The telescope's azimuth and altitude by the spherical triangle of pole, zenith and star.
void horizon(double latitude, double hourAngle, double declination, double& azimuth, double& altitude)
{
    const double phi = latitude * kDeg, h = hourAngle * 15 * kDeg, d = declination * kDeg;
    altitude = std::asin(std::sin(phi) * std::sin(d) + std::cos(phi) * std::cos(d) * std::cos(h)) / kDeg;
    azimuth = std::atan2(-std::cos(d) * std::sin(h),
                         std::sin(d) * std::cos(phi) - std::cos(d) * std::cos(h) * std::sin(phi)) /
              kDeg;
    if (azimuth < 0)
        azimuth += 360;
}

// The slit's azimuth worked out another way: the tube from its azimuth and altitude, the declination
// axis as the cross product of tube and pole, and the dome's wall found by bisection.
double independentSlit(const DomeLayout& dome, double latitude, double hourAngle, double declination,
                       PierSide side)
{
    double az = 0, alt = 0;
    horizon(latitude, hourAngle, declination, az, alt);
    const Vec3 tube{std::cos(alt * kDeg) * std::sin(az * kDeg), std::cos(alt * kDeg) * std::cos(az * kDeg),
                    std::sin(alt * kDeg)};
    const Vec3 pole{0, std::cos(latitude * kDeg), std::sin(latitude * kDeg)};
    Vec3 axis = cross(tube, pole); // points west of the pier for a tube on the meridian
    const double n = length(axis) * (side == PierSide::West ? 1 : -1);
    const Vec3 start{dome.east + dome.declinationAxis * axis[0] / n,
                     dome.north + dome.declinationAxis * axis[1] / n,
                     dome.up + dome.declinationAxis * axis[2] / n};
    const auto at = [&](double t) {
        return Vec3{start[0] + t * tube[0], start[1] + t * tube[1], start[2] + t * tube[2]};
    };
    double low = 0, high = 4 * dome.radius;
    for (int i = 0; i < 200; ++i) {
        const double mid = (low + high) / 2;
        (length(at(mid)) < dome.radius ? low : high) = mid;
    }
    const Vec3 hit = at(low);
    const double slit = std::atan2(hit[0], hit[1]) / kDeg;
    return slit < 0 ? slit + 360 : slit;
}

double apart(double a, double b)
{
    return std::abs(std::remainder(a - b, 360.0));
}

constexpr DomeLayout kSmall{2.5, 0.3, -0.2, 0.5, 0.45};
constexpr DomeLayout kLarge{3.5, -0.8, 0.6, 1.0, 0.6};

struct Pointing
{
    const char* what;
    double latitude;
    double hourAngle;
    double declination;
    PierSide side;
};

const Pointing kPointings[] = {
    {"GEM east of the pier, looking west", 50, 2, 20, PierSide::East},
    {"GEM west of the pier, looking east", 50, -2, 20, PierSide::West},
    {"past the meridian, east side", 50, 0.3, 60, PierSide::East},
    {"past the meridian, after no flip", 50, 0.3, 60, PierSide::West},
    {"near the zenith, east side", 50, 0.05, 50.5, PierSide::East},
    {"near the zenith, west side", 50, -0.05, 49.5, PierSide::West},
    {"near the pole", 50, 4, 89.5, PierSide::East},
    {"near the eastern horizon", 50, -5.8, 2, PierSide::West},
    {"near the western horizon", 50, 5.5, 5, PierSide::East},
    {"southern sky, east side", -30, 1.5, -50, PierSide::East},
    {"southern sky, west side", -30, -3, -10, PierSide::West},
    {"southern zenith", -30, -0.05, -29.5, PierSide::West},
    {"southern horizon", -30, 5.6, -3, PierSide::East},
    {"on the equator", 0, -1, 10, PierSide::West},
};

} // namespace

TEST(DomeGeometry, WithoutOffsetsTheSlitIsTheTelescopesAzimuth)
{
    const DomeLayout centred{2, 0, 0, 0, 0};
    for (const Pointing& p : kPointings) {
        double az = 0, alt = 0;
        horizon(p.latitude, p.hourAngle, p.declination, az, alt);
        EXPECT_LT(apart(slitAzimuth(centred, p.latitude, p.hourAngle, p.declination, p.side), az), 1e-9)
            << p.what;
    }
}

TEST(DomeGeometry, AgreesWithAnIndependentComputation)
{
    double largest = 0;
    for (const DomeLayout& dome : {kSmall, kLarge})
        for (const Pointing& p : kPointings) {
            const double slit = slitAzimuth(dome, p.latitude, p.hourAngle, p.declination, p.side);
            const double expected = independentSlit(dome, p.latitude, p.hourAngle, p.declination, p.side);
            EXPECT_LT(apart(slit, expected), 1e-9) << p.what << ": " << slit << " against " << expected;
            largest = std::max(largest, apart(slit, expected));
        }
    std::printf("slit azimuth against the independent computation: largest difference %.1e deg\n", largest);
}

// Worked by hand. On the equator, the zenith is H=0, dec=0 and the due-east horizon H=-6h, dec=0.
TEST(DomeGeometry, HandWorkedCases)
{
    const struct
    {
        const char* what;
        DomeLayout dome;
        double latitude, hourAngle, declination;
        PierSide side;
        double slit;
    } cases[] = {
        // The tube hangs half a metre west of the polar axis and looks straight up: the slit is west.
        {"zenith, tube west of the pier", {2, 0, 0, 0, 0.5}, 0, 0, 0, PierSide::West, 270},
        {"zenith, tube east of the pier", {2, 0, 0, 0, 0.5}, 0, 0, 0, PierSide::East, 90},
        // From 1 m north of the centre, due east meets the wall at east sqrt(3), north 1: 60 degrees.
        {"east horizon, mount north", {2, 1, 0, 0, 0}, 0, -6, 0, PierSide::West, 60},
        // From 1 m east, looking due north on the horizon: the wall at east 1, north sqrt(3): 30 degrees.
        {"north horizon, mount east", {2, 0, 1, 0, 0}, 0, 12, 90 - 1e-9, PierSide::East, 30},
        // The mount's height does not turn the slit of a telescope on the horizon.
        {"east horizon, mount high", {2, 0, 0, 1, 0}, 0, -6, 0, PierSide::West, 90},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(std::remainder(
                        slitAzimuth(c.dome, c.latitude, c.hourAngle, c.declination, c.side) - c.slit, 360.0),
                    0, 1e-6)
            << c.what;
}

TEST(DomeGeometry, PierSideAndTurn)
{
    for (const auto& [hourAngle, side] :
         {std::pair{2.0, PierSide::East}, std::pair{-2.0, PierSide::West}, std::pair{13.0, PierSide::West},
          std::pair{23.0, PierSide::West}, std::pair{-23.0, PierSide::East}})
        EXPECT_EQ(pierSideFor(hourAngle), side) << hourAngle;
    for (const auto& [from, to, turn] :
         {std::tuple{350.0, 10.0, 20.0}, std::tuple{10.0, 350.0, -20.0}, std::tuple{0.0, 180.0, 180.0},
          std::tuple{90.0, 270.0, 180.0}, std::tuple{270.0, 90.0, 180.0}, std::tuple{45.0, 45.0, 0.0}})
        EXPECT_DOUBLE_EQ(azimuthTurn(from, to), turn) << from << " to " << to;
}
