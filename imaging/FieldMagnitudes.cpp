#include "imaging/FieldMagnitudes.h"

#include "imaging/ImagingError.h"

#include <QFile>

#include <fitsio.h>

#include <algorithm>
#include <cmath>

namespace kestrove::imaging {

namespace {

double median(std::vector<double> values)
{
    const auto mid = values.begin() + static_cast<long>(values.size() / 2);
    std::nth_element(values.begin(), mid, values.end());
    double m = *mid;
    if (values.size() % 2 == 0)
        m = (m + *std::max_element(values.begin(), mid)) / 2;
    return m;
}

ZeroPoint fromDifferences(const std::vector<double>& differences, bool catalogue)
{
    ZeroPoint zp;
    zp.catalogue = catalogue;
    zp.stars = static_cast<int>(differences.size());
    if (differences.empty())
        return zp;
    zp.value = median(differences);
    std::vector<double> deviations;
    for (double d : differences)
        deviations.push_back(std::abs(d - zp.value));
    zp.scatter = 1.4826 * median(deviations);
    return zp;
}

double instrumental(double flux)
{
    return -2.5 * std::log10(flux);
}

} // namespace

bool isPhotometric(const SkySource& source, const SourceList& list)
{
    return source.snr >= 20 && !source.saturated && !source.atEdge && !source.blended && source.flux > 0 &&
           !isSharp(source, list);
}

ZeroPoint relativeZeroPoint(const SourceList& frame, const SourceList& reference, double radius)
{
    std::vector<SkyPoint> places;
    for (const SkySource& s : reference.sources)
        places.push_back(s.place());
    const SkyIndex index(places);
    std::vector<double> differences;
    for (const SkySource& s : frame.sources) {
        if (!isPhotometric(s, frame))
            continue;
        // Two reference stars this close would blend: neither says how bright the frame's star is.
        const std::vector<int> near = index.within(s.place(), radius);
        if (near.size() != 1)
            continue;
        const SkySource& r = reference.sources[static_cast<size_t>(near.front())];
        if (isPhotometric(r, reference))
            differences.push_back(kInstrumentalZeroPoint + instrumental(r.flux) - instrumental(s.flux));
    }
    return fromDifferences(differences, false);
}

std::optional<ZeroPoint> catalogueZeroPoint(const SourceList& frame,
                                            const std::vector<FieldStar>& catalogue, double radius,
                                            int minimumStars)
{
    std::vector<SkyPoint> places;
    for (const FieldStar& c : catalogue)
        places.push_back({c.ra, c.dec});
    const SkyIndex index(places);
    std::vector<double> differences;
    for (const SkySource& s : frame.sources) {
        if (!isPhotometric(s, frame))
            continue;
        const std::vector<int> near = index.within(s.place(), radius);
        if (near.size() == 1)
            differences.push_back(catalogue[static_cast<size_t>(near.front())].mag - instrumental(s.flux));
    }
    if (static_cast<int>(differences.size()) < std::max(1, minimumStars))
        return std::nullopt;
    return fromDifferences(differences, true);
}

double fluxRatio(const ZeroPoint& frame, const ZeroPoint& reference)
{
    return std::pow(10.0, 0.4 * (frame.value - reference.value));
}

void applyZeroPoint(SourceList& list, const ZeroPoint& zeroPoint)
{
    for (SkySource& s : list.sources) {
        if (s.flux > 0) {
            s.mag = zeroPoint.value + instrumental(s.flux);
            s.magError = 2.5 / std::log(10.0) * s.fluxError / s.flux;
        } else {
            s.mag = std::numeric_limits<double>::quiet_NaN();
            s.magError = std::numeric_limits<double>::quiet_NaN();
        }
    }
}

std::vector<FieldStar> readCatalogueStars(const QString& path)
{
    fitsfile* f = nullptr;
    int status = 0;
    auto fail = [&](const QString& what) {
        char text[FLEN_STATUS] = {};
        fits_get_errstatus(status, text);
        if (f) {
            int ignored = 0;
            fits_close_file(f, &ignored);
        }
        throw ImagingError(
            QStringLiteral("%1: %2%3")
                .arg(path, what,
                     status ? QStringLiteral(" (") + QString::fromLatin1(text) + QStringLiteral(")")
                            : QString()));
    };
    if (fits_open_table(&f, QFile::encodeName(path).constData(), READONLY, &status))
        fail(QStringLiteral("not a FITS table"));
    int columns = 0;
    long rows = 0;
    fits_get_num_cols(f, &columns, &status);
    fits_get_num_rows(f, &rows, &status);
    int raColumn = 0, decColumn = 0, magColumn = 0;
    for (int c = 1; c <= columns && !status; ++c) {
        char key[FLEN_KEYWORD] = {}, name[FLEN_VALUE] = {};
        fits_make_keyn("TTYPE", c, key, &status);
        int keyStatus = 0;
        if (fits_read_key(f, TSTRING, key, name, nullptr, &keyStatus))
            continue;
        const QString column = QString::fromLatin1(name).trimmed().toUpper();
        if (column == QStringLiteral("RA"))
            raColumn = c;
        else if (column == QStringLiteral("DEC"))
            decColumn = c;
        else if (!magColumn && column.startsWith(QStringLiteral("MAG")))
            magColumn = c;
    }
    if (status)
        fail(QStringLiteral("cannot read the table's columns"));
    if (!raColumn || !decColumn || !magColumn)
        fail(QStringLiteral("the table lacks an RA, DEC or MAG column"));
    std::vector<double> ra(static_cast<size_t>(rows)), dec(ra.size()), mag(ra.size());
    if (rows > 0) {
        fits_read_col(f, TDOUBLE, raColumn, 1, 1, rows, nullptr, ra.data(), nullptr, &status);
        fits_read_col(f, TDOUBLE, decColumn, 1, 1, rows, nullptr, dec.data(), nullptr, &status);
        fits_read_col(f, TDOUBLE, magColumn, 1, 1, rows, nullptr, mag.data(), nullptr, &status);
    }
    if (status)
        fail(QStringLiteral("cannot read the stars"));
    fits_close_file(f, &status);
    std::vector<FieldStar> stars;
    for (size_t i = 0; i < ra.size(); ++i)
        if (std::isfinite(mag[i]))
            stars.push_back({ra[i], dec[i], mag[i]});
    return stars;
}

} // namespace kestrove::imaging
