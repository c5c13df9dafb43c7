#include "imaging/Wcs.h"

#include <cmath>
#include <numbers>

namespace kestrove::imaging {

namespace {

constexpr double kDeg = std::numbers::pi / 180.0;

} // namespace

void Wcs::pixelToSky(double px, double py, double& ra, double& dec) const
{
    const double dx = px - crpix1;
    const double dy = py - crpix2;
    // Intermediate world coordinates on the tangent plane, radians.
    const double xi = (cd11 * dx + cd12 * dy) * kDeg;
    const double eta = (cd21 * dx + cd22 * dy) * kDeg;
    const double ra0 = crval1 * kDeg;
    const double dec0 = crval2 * kDeg;
    const double denominator = std::cos(dec0) - eta * std::sin(dec0);
    const double alpha = ra0 + std::atan2(xi, denominator);
    const double delta = std::atan2(std::sin(dec0) + eta * std::cos(dec0), std::hypot(xi, denominator));
    ra = std::fmod(alpha / kDeg + 360.0, 360.0);
    dec = delta / kDeg;
}

bool Wcs::skyToPixel(double ra, double dec, double& px, double& py) const
{
    const double ra0 = crval1 * kDeg;
    const double dec0 = crval2 * kDeg;
    const double a = ra * kDeg - ra0;
    const double d = dec * kDeg;
    const double cosc = std::sin(dec0) * std::sin(d) + std::cos(dec0) * std::cos(d) * std::cos(a);
    if (cosc <= 0)
        return false;
    const double xi = std::cos(d) * std::sin(a) / cosc / kDeg;
    const double eta = (std::cos(dec0) * std::sin(d) - std::sin(dec0) * std::cos(d) * std::cos(a)) / cosc / kDeg;
    const double determinant = cd11 * cd22 - cd12 * cd21;
    if (determinant == 0)
        return false;
    px = crpix1 + (cd22 * xi - cd12 * eta) / determinant;
    py = crpix2 + (-cd21 * xi + cd11 * eta) / determinant;
    return true;
}

double Wcs::scale() const
{
    return std::sqrt(std::abs(cd11 * cd22 - cd12 * cd21)) * 3600.0;
}

Wcs Wcs::carriedTo(const ImageGeometry& from, const ImageGeometry& to) const
{
    // A binned pixel p (1-based, centre) of an image with origin X and binning b covers unbinned
    // [X + (p-1)b, X + p b): its centre is the unbinned coordinate X + (p - 0.5) b.
    Wcs w = *this;
    const double ux = from.x + (crpix1 - 0.5) * from.binning;
    const double uy = from.y + (crpix2 - 0.5) * from.binning;
    w.crpix1 = (ux - to.x) / to.binning + 0.5;
    w.crpix2 = (uy - to.y) / to.binning + 0.5;
    const double ratio = static_cast<double>(to.binning) / from.binning;
    w.cd11 *= ratio;
    w.cd12 *= ratio;
    w.cd21 *= ratio;
    w.cd22 *= ratio;
    return w;
}

QList<HeaderCard> Wcs::headerCards() const
{
    return {
        {QStringLiteral("WCSAXES"), 2LL, QStringLiteral("number of WCS axes")},
        {QStringLiteral("CTYPE1"), QStringLiteral("RA---TAN"), QStringLiteral("gnomonic projection")},
        {QStringLiteral("CTYPE2"), QStringLiteral("DEC--TAN"), QStringLiteral("gnomonic projection")},
        {QStringLiteral("CUNIT1"), QStringLiteral("deg"), {}},
        {QStringLiteral("CUNIT2"), QStringLiteral("deg"), {}},
        {QStringLiteral("EQUINOX"), 2000.0, QStringLiteral("equinox of the coordinates"), 1},
        {QStringLiteral("RADESYS"), QStringLiteral("ICRS"), {}},
        {QStringLiteral("CRPIX1"), crpix1, QStringLiteral("reference pixel, axis 1")},
        {QStringLiteral("CRPIX2"), crpix2, QStringLiteral("reference pixel, axis 2")},
        {QStringLiteral("CRVAL1"), crval1, QStringLiteral("RA at the reference pixel, deg")},
        {QStringLiteral("CRVAL2"), crval2, QStringLiteral("Dec at the reference pixel, deg")},
        {QStringLiteral("CD1_1"), cd11, QStringLiteral("deg per pixel")},
        {QStringLiteral("CD1_2"), cd12, QStringLiteral("deg per pixel")},
        {QStringLiteral("CD2_1"), cd21, QStringLiteral("deg per pixel")},
        {QStringLiteral("CD2_2"), cd22, QStringLiteral("deg per pixel")},
    };
}

std::optional<Wcs> readWcs(const QString& path)
{
    QList<QPair<QString, QString>> header;
    try {
        header = readFitsHeader(path);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    auto number = [&](const char* key, bool& ok) {
        const QString text = headerValue(header, QString::fromLatin1(key));
        bool good = false;
        const double v = text.toDouble(&good);
        ok = ok && good;
        return v;
    };
    if (!headerValue(header, QStringLiteral("CTYPE1")).startsWith(QStringLiteral("RA---TAN")))
        return std::nullopt;
    bool ok = true;
    Wcs w;
    w.crpix1 = number("CRPIX1", ok);
    w.crpix2 = number("CRPIX2", ok);
    w.crval1 = number("CRVAL1", ok);
    w.crval2 = number("CRVAL2", ok);
    w.cd11 = number("CD1_1", ok);
    w.cd12 = number("CD1_2", ok);
    w.cd21 = number("CD2_1", ok);
    w.cd22 = number("CD2_2", ok);
    if (!ok)
        return std::nullopt;
    return w;
}

double angularDistance(double ra1, double dec1, double ra2, double dec2)
{
    const double a = std::sin((dec2 - dec1) * kDeg / 2);
    const double b = std::sin((ra2 - ra1) * kDeg / 2);
    const double h = a * a + std::cos(dec1 * kDeg) * std::cos(dec2 * kDeg) * b * b;
    return 2 * std::asin(std::min(1.0, std::sqrt(h))) / kDeg;
}

} // namespace kestrove::imaging
