#include "SkyFrames.h"
#include "imaging/Candidates.h"
#include "imaging/Cutouts.h"
#include "imaging/FieldMagnitudes.h"
#include "imaging/ImagingError.h"
#include "imaging/Movers.h"
#include "imaging/SkyIndex.h"
#include "imaging/Sources.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <fitsio.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>

using namespace kestrove::imaging;
using namespace kestrove::imaging::test;

namespace {

constexpr double kScale = 1.5; // arcseconds a pixel
constexpr int kSize = 512;
const SkyPoint kTarget{150, 30};

double arcsecBetween(const SkyPoint& a, const SkyPoint& b)
{
    return angularDistance(a.ra, a.dec, b.ra, b.dec) * 3600;
}

SkyPoint offset(double east, double north, const SkyPoint& from = kTarget)
{
    return fromTangentOffsets(from, east, north);
}

const SkySource* nearestSource(const SourceList& list, double x, double y, double within = 1.5)
{
    const SkySource* best = nullptr;
    for (const SkySource& s : list.sources)
        if (std::hypot(s.x - x, s.y - y) <= within && (!best || s.flux > best->flux))
            best = &s;
    return best;
}

SourceList detected(const FitsImage& image, const Wcs& wcs)
{
    SourceList list = detectSources(image);
    placeOnSky(list, wcs);
    return list;
}

} // namespace

TEST(Sources, FluxesAndErrorsHoldOverManyNoiseRealisations)
{
    // A faint star (S/N about 10) among four bright ones that give the seeing, drawn again and again
    // on new noise: the spread of its measured flux is the error each measurement states, and the
    // mean is the flux an aperture of one FWHM holds (93.75 % of a Gaussian's).
    const Exposure e;
    constexpr double faint = 480;
    std::vector<double> fluxes, errors;
    for (unsigned seed = 1; seed <= 40; ++seed) {
        FitsImage image = noiseFrame(160, 160, e.background, e.noise, seed);
        for (const auto& [x, y] : {std::pair{30.3, 30.7}, {130.1, 30.2}, {30.6, 129.9}, {129.8, 130.4}})
            drawStar(image, x, y, 60000, e.sigma);
        drawStar(image, 80.4, 79.6, faint, e.sigma);
        const SourceList list = detectSources(image);
        EXPECT_NEAR(list.seeing, e.sigma * 2.3548, 0.25);
        if (const SkySource* s = nearestSource(list, 80.4, 79.6)) {
            fluxes.push_back(s->flux);
            errors.push_back(s->fluxError);
        }
    }
    ASSERT_GE(fluxes.size(), 38u);
    const double mean = std::accumulate(fluxes.begin(), fluxes.end(), 0.0) / fluxes.size();
    double spread = 0;
    for (double f : fluxes)
        spread += (f - mean) * (f - mean);
    spread = std::sqrt(spread / (fluxes.size() - 1));
    const double stated = std::accumulate(errors.begin(), errors.end(), 0.0) / errors.size();
    EXPECT_NEAR(mean / (faint * 0.9375), 1.0, 0.05);
    EXPECT_NEAR(spread / stated, 1.0, 0.3) << "spread " << spread << ", stated " << stated;
    EXPECT_NEAR(mean / stated, 10, 2.5);
}

TEST(Sources, SaturatedEdgeAndSharpSourcesAreFlaggedAndStarsPlacedOnTheSky)
{
    const Wcs wcs = skyWcs(kTarget.ra, kTarget.dec, kScale, kSize, kSize, 20);
    const Exposure e;
    std::vector<SkyStar> sky;
    std::vector<std::pair<double, double>> grid;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            grid.emplace_back(70 + 110 * i + 0.3 * j, 80 + 110 * j + 0.2 * i);
            double ra = 0, dec = 0;
            wcs.pixelToSky(grid.back().first + 1, grid.back().second + 1, ra, dec);
            sky.push_back({ra, dec, 13});
        }
    auto at = [&](double x, double y, double mag) {
        double ra = 0, dec = 0;
        wcs.pixelToSky(x + 1, y + 1, ra, dec);
        sky.push_back({ra, dec, mag});
    };
    at(250.5, 300.5, 9); // saturated
    at(3.2, 200.4, 13);  // cut by the left edge
    at(9.0, 420.0, 13);  // whole, but within the edge margin
    FitsImage image = render(sky, wcs, kSize, kSize, e);
    image.pixels[static_cast<size_t>(140) * kSize + 330] += 2500; // a hot pixel
    const SourceList list = detected(image, wcs);
    EXPECT_FLOAT_EQ(list.saturation, e.saturation);

    struct Expected
    {
        const char* name;
        double x, y;
        bool saturated, atEdge, sharp;
    };
    const Expected expected[] = {
        {"saturated star", 250.5, 300.5, true, false, false},
        {"star cut by the edge", 3.2, 200.4, false, true, false},
        {"star within the margin", 9.0, 420.0, false, true, false},
        {"hot pixel", 330, 140, false, false, true},
        {"ordinary star", grid[5].first, grid[5].second, false, false, false},
    };
    for (const Expected& x : expected) {
        const SkySource* s = nearestSource(list, x.x, x.y, 2);
        ASSERT_NE(s, nullptr) << x.name;
        EXPECT_EQ(s->saturated, x.saturated) << x.name;
        EXPECT_EQ(s->atEdge, x.atEdge) << x.name;
        EXPECT_EQ(isSharp(*s, list), x.sharp) << x.name;
    }
    for (size_t k = 0; k < grid.size(); ++k) {
        const SkySource* s = nearestSource(list, grid[k].first, grid[k].second);
        ASSERT_NE(s, nullptr) << k;
        EXPECT_LT(arcsecBetween(s->place(), {sky[k].ra, sky[k].dec}), 0.05) << k;
    }
}

TEST(SkyIndex, FindsTheNearestAcrossZeroHoursAndAtThePole)
{
    const std::vector<SkyPoint> points{{359.9995, 10}, {0.0010, 10}, {180, 89.9999}, {0, 89.9998}, {45, -30}};
    const SkyIndex index(points);
    struct Case
    {
        const char* name;
        SkyPoint place;
        double radius;
        int nearest;
        size_t within;
    };
    const Case cases[] = {
        {"just east of 0h", {0.0002, 10}, 5, 0, 2}, {"across 0h, only one in reach", {0.0009, 10}, 1, 1, 1},
        {"at the pole", {90, 90}, 1, 2, 2},         {"nothing near", {45.01, -30}, 30, -1, 0},
        {"just in reach", {45, -30.008}, 29, 4, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(index.nearest(c.place, c.radius), c.nearest) << c.name;
        EXPECT_EQ(index.within(c.place, c.radius).size(), c.within) << c.name;
    }
    double xi = 0, eta = 0;
    tangentOffsets(kTarget, offset(120, -45), xi, eta);
    EXPECT_NEAR(xi, 120, 1e-6);
    EXPECT_NEAR(eta, -45, 1e-6);
}

TEST(FieldMagnitudes, MagnitudesOnTheCatalogueScaleOrTheReferencesThroughCloud)
{
    const std::vector<SkyStar> sky = starField(kTarget.ra, kTarget.dec, 0.1, 150, 11, 17, 4);
    const Wcs wcsA = skyWcs(kTarget.ra, kTarget.dec, kScale, kSize, kSize, 0);
    const Wcs wcsB = skyWcs(kTarget.ra + 0.004, kTarget.dec - 0.003, kScale, kSize, kSize, 1);
    Exposure clear, cloudy;
    cloudy.transparency = 0.55;
    cloudy.sigma = 1.6;
    cloudy.seed = 2;
    SourceList a = detected(render(sky, wcsA, kSize, kSize, clear), wcsA);
    SourceList b = detected(render(sky, wcsB, kSize, kSize, cloudy), wcsB);

    // Relative: the cloudy frame's stars come out as bright as in the clear reference.
    const ZeroPoint relative = relativeZeroPoint(b, a, 2 * a.seeingArcsec());
    EXPECT_FALSE(relative.catalogue);
    EXPECT_GT(relative.stars, 30);
    EXPECT_NEAR(fluxRatio(relative, relativeZeroPoint(a, a, 3)), 0.55, 0.02);
    applyZeroPoint(a, relativeZeroPoint(a, a, 3));
    applyZeroPoint(b, relative);
    const SkyIndex indexA([&] {
        std::vector<SkyPoint> p;
        for (const SkySource& s : a.sources)
            p.push_back(s.place());
        return p;
    }());
    int compared = 0;
    for (const SkySource& s : b.sources) {
        const int k = indexA.nearest(s.place(), 3);
        if (k < 0 || s.snr < 100 || !isPhotometric(s, b) ||
            !isPhotometric(a.sources[static_cast<size_t>(k)], a))
            continue;
        EXPECT_NEAR(s.mag, a.sources[static_cast<size_t>(k)].mag, 0.03) << s.x << " " << s.y;
        ++compared;
    }
    EXPECT_GT(compared, 20);

    // On the catalogue's scale: each star within a few hundredths of its catalogue magnitude.
    std::vector<FieldStar> catalogue;
    for (const SkyStar& s : sky)
        catalogue.push_back({s.ra, s.dec, s.mag});
    const auto zp = catalogueZeroPoint(b, catalogue, 3);
    ASSERT_TRUE(zp.has_value());
    EXPECT_TRUE(zp->catalogue);
    // An aperture of one FWHM holds 93.75 % of a star's light: the zero point takes that in.
    EXPECT_NEAR(zp->value, 25 + 2.5 * std::log10(0.55 * 0.9375), 0.02);
    EXPECT_LT(zp->scatter, 0.03);
    EXPECT_FALSE(catalogueZeroPoint(b, {catalogue.begin(), catalogue.begin() + 2}, 3).has_value());
}

TEST(FieldMagnitudes, CatalogueStarsAreReadFromSolveFieldsTable)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("field.rdls"));
    fitsfile* f = nullptr;
    int status = 0;
    fits_create_diskfile(&f, QFile::encodeName(path).constData(), &status);
    fits_create_img(f, BYTE_IMG, 0, nullptr, &status);
    // solve-field's order: the tag-along magnitude first.
    char mag[] = "MAG_VT", ra[] = "RA", dec[] = "DEC", e[] = "E", d[] = "D";
    char* names[] = {mag, ra, dec};
    char* forms[] = {e, d, d};
    fits_create_tbl(f, BINARY_TBL, 0, 3, names, forms, nullptr, nullptr, &status);
    const double rows[2][3] = {{9.331, 149.816, 29.8797}, {9.752, 150.218, 30.2046}};
    for (int r = 0; r < 2; ++r) {
        float m = static_cast<float>(rows[r][0]);
        fits_write_col(f, TFLOAT, 1, r + 1, 1, 1, &m, &status);
        fits_write_col(f, TDOUBLE, 2, r + 1, 1, 1, const_cast<double*>(&rows[r][1]), &status);
        fits_write_col(f, TDOUBLE, 3, r + 1, 1, 1, const_cast<double*>(&rows[r][2]), &status);
    }
    fits_close_file(f, &status);
    ASSERT_EQ(status, 0);
    const std::vector<FieldStar> stars = readCatalogueStars(path);
    ASSERT_EQ(stars.size(), 2u);
    EXPECT_NEAR(stars[1].ra, 150.218, 1e-9);
    EXPECT_NEAR(stars[1].dec, 30.2046, 1e-9);
    EXPECT_NEAR(stars[0].mag, 9.331, 1e-5);

    const QString image = dir.filePath(QStringLiteral("image.fits"));
    writeFitsImage(image, noiseFrame(20, 20, 0, 1, 1));
    EXPECT_THROW(readCatalogueStars(image), ImagingError);
    EXPECT_THROW(readCatalogueStars(dir.filePath(QStringLiteral("missing.rdls"))), ImagingError);
}

namespace {

// A source of a hand-made list, at arcseconds east and north of a place.
struct Spot
{
    double east = 0;
    double north = 0;
    double snr = 50;
    bool saturated = false;
    bool atEdge = false;
    bool sharp = false;
    double extent = 2; // pixels
};

// A list as detectSources and placeOnSky would leave it: seeing 2.5 px (3.75"), 1.5"/px.
SourceList listOf(const std::vector<Spot>& spots, const Wcs& wcs, const SkyPoint& from = kTarget)
{
    SourceList list;
    list.width = list.height = kSize;
    list.seeing = list.aperture = 2.5;
    list.edgeMargin = 10;
    list.noise = 8;
    list.peakRatio = 0.1;
    for (const Spot& spot : spots) {
        SkySource s;
        const SkyPoint p = offset(spot.east, spot.north, from);
        s.ra = p.ra;
        s.dec = p.dec;
        wcs.skyToPixel(p.ra, p.dec, s.x, s.y);
        s.x -= 1;
        s.y -= 1;
        s.flux = 1000;
        s.fluxError = s.flux / spot.snr;
        s.snr = spot.snr;
        s.peak = spot.sharp ? 900 : 100;
        s.saturated = spot.saturated;
        s.atEdge = spot.atEdge;
        s.extent = spot.extent;
        list.sources.push_back(s);
    }
    list.wcs = wcs;
    return list;
}

std::vector<Spot> operator+(std::vector<Spot> a, const std::vector<Spot>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<Spot> kField{{-150, 100}, {-60, -130}, {0, 0, 80}, {90, 40},
                               {140, -150}, {-20, 170},  {45, -95}};

} // namespace

TEST(Candidates, TheRulesOfANewSource)
{
    const Wcs wcs = skyWcs(kTarget.ra, kTarget.dec, kScale, kSize, kSize, 0);
    const Wcs elsewhere = skyWcs(kTarget.ra + 0.15, kTarget.dec, kScale, kSize, kSize, 0);
    const Spot fresh{30, -20, 20};
    struct Case
    {
        const char* name;
        std::vector<Spot> reference;
        std::vector<Spot> first;
        std::vector<Spot> second;
        size_t candidates;
        std::vector<SkyPoint> bogus = {};
        const Wcs* referenceWcs = nullptr;
    };
    const std::vector<Case> cases = {
        {"a new star by the galaxy", kField, kField + std::vector<Spot>{fresh},
         kField + std::vector<Spot>{fresh}, 1},
        {"two new stars", kField, kField + std::vector<Spot>{fresh, {-100, 80, 9}},
         kField + std::vector<Spot>{fresh, {-100, 80, 12}}, 2},
        {"nothing new", kField, kField, kField, 0},
        {"beyond the search radius", kField, kField + std::vector<Spot>{{185, 0, 20}},
         kField + std::vector<Spot>{{185, 0, 20}}, 0},
        {"under minSnr in one frame", kField, kField + std::vector<Spot>{fresh},
         kField + std::vector<Spot>{{30, -20, 6.5}}, 0},
        {"a reference star within twice the seeing", kField + std::vector<Spot>{{36, -20}},
         kField + std::vector<Spot>{fresh}, kField + std::vector<Spot>{fresh}, 0},
        {"the nearest reference star just beyond it", kField + std::vector<Spot>{{38, -20}},
         kField + std::vector<Spot>{fresh}, kField + std::vector<Spot>{fresh}, 1},
        {"in the glare of a saturated star",
         kField + std::vector<Spot>{{44, -20, 900, true, false, false, 6}}, kField + std::vector<Spot>{fresh},
         kField + std::vector<Spot>{fresh}, 0},
        {"saturated itself", kField, kField + std::vector<Spot>{{30, -20, 900, true}},
         kField + std::vector<Spot>{{30, -20, 900, true}}, 0},
        {"at the frame's edge", kField, kField + std::vector<Spot>{{30, -20, 20, false, true}},
         kField + std::vector<Spot>{fresh}, 0},
        {"as sharp as a hot pixel", kField, kField + std::vector<Spot>{{30, -20, 20, false, false, true}},
         kField + std::vector<Spot>{{30, -20, 20, false, false, true}}, 0},
        {"missing from the second frame", kField, kField + std::vector<Spot>{fresh}, kField, 0},
        {"moved between the frames", kField, kField + std::vector<Spot>{fresh},
         kField + std::vector<Spot>{{34, -20, 20}}, 0},
        {"where the user saw a bogus one",
         kField,
         kField + std::vector<Spot>{fresh},
         kField + std::vector<Spot>{fresh},
         0,
         {offset(31, -22)}},
        {"off the reference's frame",
         kField,
         kField + std::vector<Spot>{fresh},
         kField + std::vector<Spot>{fresh},
         0,
         {},
         &elsewhere},
    };
    for (const Case& c : cases) {
        const SourceList reference = listOf(c.reference, c.referenceWcs ? *c.referenceWcs : wcs);
        const std::vector<SourceList> frames{listOf(c.first, wcs), listOf(c.second, wcs)};
        const std::vector<Candidate> found = findCandidates(reference, frames, kTarget, {}, c.bogus);
        EXPECT_EQ(found.size(), c.candidates) << c.name;
        if (c.candidates == 0 || found.empty())
            continue;
        const Candidate& first = found.front();
        EXPECT_LT(arcsecBetween(first.place(), offset(fresh.east, fresh.north)), 0.01) << c.name;
        ASSERT_EQ(first.sightings.size(), 2u) << c.name;
        EXPECT_EQ(first.sightings[1].frame, 1) << c.name;
        EXPECT_EQ(first.snr, 20) << c.name;
    }
    // The radius is the setting's.
    DiscoverySettings wide;
    wide.radius = 3.5;
    EXPECT_EQ(findCandidates(listOf(kField, wcs), {listOf(kField + std::vector<Spot>{{185, 0, 20}}, wcs)},
                             kTarget, wide)
                  .size(),
              1u);
}

namespace {

// A galaxy: an exponential disc of `scale` pixels holding the light of a star of `mag`.
void drawGalaxy(FitsImage& image, double x, double y, double mag, double scale, const Exposure& e)
{
    const double total = countsOf(mag, e);
    for (int j = 0; j < image.height; ++j)
        for (int i = 0; i < image.width; ++i) {
            const double r = std::hypot(i - x, j - y);
            if (r < 12 * scale)
                image.pixels[static_cast<size_t>(j) * image.width + i] +=
                    static_cast<float>(total / (2 * M_PI * scale * scale) * std::exp(-r / scale));
        }
}

struct Night
{
    Wcs wcs;
    Exposure exposure;
};

// A frame of the field around the target with its galaxy, and whatever stars are added to it.
SourceList observe(const std::vector<SkyStar>& sky, const Night& night, FitsImage* keep = nullptr)
{
    FitsImage image = render(sky, night.wcs, kSize, kSize, night.exposure);
    double gx = 0, gy = 0;
    night.wcs.skyToPixel(kTarget.ra, kTarget.dec, gx, gy);
    drawGalaxy(image, gx - 1, gy - 1, 12.5, 6 / (night.wcs.scale() / kScale), night.exposure);
    SourceList list = detected(image, night.wcs);
    if (keep)
        *keep = std::move(image);
    return list;
}

std::vector<FieldStar> catalogueOf(const std::vector<SkyStar>& sky)
{
    std::vector<FieldStar> catalogue;
    for (const SkyStar& s : sky)
        catalogue.push_back({s.ra, s.dec, s.mag});
    return catalogue;
}

} // namespace

// The whole search on drawn frames: a reference night, and two frames of a later night, pointed a
// little differently, through thinner sky and worse seeing. A star added on the galaxy's disc is the
// one candidate, where and as bright as it was put; the unchanged field gives none.
TEST(Candidates, AStarAddedOnAGalaxyIsFoundWhereAndAsBrightAsItWasPut)
{
    const std::vector<SkyStar> field = starField(kTarget.ra, kTarget.dec, 0.1, 150, 11, 18.5, 7);
    const std::vector<FieldStar> catalogue = catalogueOf(field);
    Night first{skyWcs(kTarget.ra, kTarget.dec, kScale, kSize, kSize, 0), {}};
    FitsImage referenceImage;
    SourceList reference = observe(field, first, &referenceImage);
    applyZeroPoint(reference, *catalogueZeroPoint(reference, catalogue, 3));

    const SkyPoint supernova = offset(15, 11); // on the disc, 19" from the core
    const double supernovaMag = 16.2;
    std::vector<SkyStar> later = field;
    later.push_back({supernova.ra, supernova.dec, supernovaMag});
    for (const bool added : {false, true}) {
        std::vector<SourceList> frames;
        std::vector<FitsImage> images;
        for (unsigned k = 0; k < 2; ++k) {
            Night second{
                skyWcs(kTarget.ra + 0.006, kTarget.dec - 0.004 + 0.0005 * k, kScale, kSize, kSize, 0.7), {}};
            second.exposure.sigma = 1.7;
            second.exposure.transparency = 0.7;
            second.exposure.seed = 10 + k + (added ? 5 : 0);
            images.emplace_back();
            frames.push_back(observe(added ? later : field, second, &images.back()));
            applyZeroPoint(frames.back(), *catalogueZeroPoint(frames.back(), catalogue, 3));
        }
        const std::vector<Candidate> found = findCandidates(reference, frames, kTarget, {});
        if (!added) {
            EXPECT_TRUE(found.empty())
                << found.size() << " in the unchanged field, the first "
                << (found.empty() ? 0 : arcsecBetween(found[0].place(), kTarget)) << "\" from the galaxy";
            continue;
        }
        ASSERT_EQ(found.size(), 1u);
        const Candidate& c = found.front();
        // The frame's source is pulled toward the core and holds some of the galaxy's light; on the
        // difference it is where and as bright as it was put.
        EXPECT_LT(arcsecBetween(c.place(), supernova), 1.5);

        // Its cut-outs: the difference shows it at the centre and little of the galaxy or the stars.
        const SourceList& frame = frames.front();
        const ZeroPoint frameZero = *catalogueZeroPoint(frame, catalogue, 3);
        const double ratio = fluxRatio(frameZero, *catalogueZeroPoint(reference, catalogue, 3));
        const Cutouts cut =
            makeCutouts(images.front(), frame, referenceImage, reference, c.place(), ratio, 64);
        ASSERT_EQ(cut.difference.width, 64);
        const NewLight light = newLight(cut, frame, 1.5 * frame.seeing);
        EXPECT_LT(arcsecBetween(light.place, supernova), 0.5);
        EXPECT_NEAR(frameZero.value - 2.5 * std::log10(light.flux), supernovaMag, 0.1);
        // A bright star at the square's edge leaves a few per cent of itself: the brightest near the
        // centre is the new star.
        int brightest = 32 * 64 + 32;
        for (int y = 16; y < 48; ++y)
            for (int x = 16; x < 48; ++x)
                if (cut.difference.at(x, y) > cut.difference.pixels[static_cast<size_t>(brightest)])
                    brightest = y * 64 + x;
        EXPECT_LE(std::abs(brightest % 64 - cut.centreX), 2);
        EXPECT_LE(std::abs(brightest / 64 - cut.centreY), 2);
        const float peak = cut.difference.pixels[static_cast<size_t>(brightest)];
        double galaxyX = 0, galaxyY = 0, starX = 0, starY = 0;
        frame.wcs->skyToPixel(kTarget.ra, kTarget.dec, galaxyX, galaxyY);
        frame.wcs->skyToPixel(c.ra, c.dec, starX, starY);
        const int gx = 32 + static_cast<int>(std::lround(galaxyX - starX));
        const int gy = 32 + static_cast<int>(std::lround(galaxyY - starY));
        const double core = cut.difference.at(gx, gy);
        const double coreLight = cut.frame.at(gx, gy) - frame.background;
        EXPECT_LT(std::abs(core), 0.15 * coreLight + 5 * cut.frameNoise)
            << "the galaxy's core is left at " << core;
        EXPECT_GT(peak, 10 * cut.frameNoise); // its peak is 16 sigma

        QTemporaryDir dir;
        const QString base = dir.filePath(QStringLiteral("SN-1"));
        writeCutouts(cut, base);
        for (const char* suffix : {"-reference.png", "-new.png", "-difference.png"}) {
            const QImage picture(base + QLatin1String(suffix));
            EXPECT_EQ(picture.size(), QSize(128, 128)) << suffix;
        }
        EXPECT_THROW(writeCutouts(cut, dir.filePath(QStringLiteral("no/such/folder/SN-1"))), ImagingError);
    }
}

namespace {

// A set's frames by hand: the field's stars (a little jitter) in each, a mover through them, and
// as many one-off detections (cosmic rays, noise) as asked.
struct SetCase
{
    const char* name;
    double rate;      // arcseconds a minute
    double direction; // degrees east of north
    int frames = 3;
    double minutesApart = 10;
    double snr = 30;
    int missing = -1;      // a frame that does not show it
    double bend = 0;       // arcseconds the middle frame's detection lies off the line
    double middleAt = 0.5; // where along the path the middle frame shows it (0.5: uniform)
    int junk = 0;          // one-off detections in each frame
    size_t movers = 1;
};

std::vector<SourceList> setOf(const SetCase& c, std::vector<double>& times, unsigned seed)
{
    const Wcs wcs = skyWcs(kTarget.ra, kTarget.dec, kScale, kSize, kSize, 0);
    std::mt19937 random(seed);
    std::normal_distribution<double> jitter(0, 0.2);
    std::uniform_real_distribution<double> anywhere(-340, 340);
    const double ve = c.rate * std::sin(c.direction * M_PI / 180);
    const double vn = c.rate * std::cos(c.direction * M_PI / 180);
    std::vector<SourceList> frames;
    times.clear();
    for (int f = 0; f < c.frames; ++f) {
        const double minutes = f * c.minutesApart;
        times.push_back(1.7e9 + minutes * 60);
        std::vector<Spot> spots;
        for (const Spot& s : kField)
            spots.push_back({s.east + jitter(random), s.north + jitter(random)});
        if (f != c.missing) {
            double t = minutes - c.minutesApart * (c.frames - 1) / 2.0;
            if (c.frames == 3 && f == 1)
                t = (c.middleAt - 0.5) * 2 * c.minutesApart;
            const double bend = f == 1 ? c.bend : 0;
            spots.push_back({-40 + ve * t + bend * std::cos(c.direction * M_PI / 180) + jitter(random),
                             25 + vn * t - bend * std::sin(c.direction * M_PI / 180) + jitter(random),
                             c.snr});
        }
        for (int j = 0; j < c.junk; ++j)
            spots.push_back({anywhere(random), anywhere(random), 9});
        frames.push_back(listOf(spots, wcs));
    }
    return frames;
}

} // namespace

TEST(Movers, LinkedWhenStraightUniformAndWithinTheRates)
{
    const std::vector<SetCase> cases = {
        {"5\"/min through three frames", 5, 60},
        {"0.5\"/min, slow but clear of the stars", 0.5, 200},
        {"90\"/min, fast", 90, 300},
        {"four frames, one of them missing it", 5, 130, 4, 10, 30, 2},
        {"five frames", 12, 10, 5, 4},
        {"stars only", 0, 0, 3, 10, 30, -1, 0, 0.5, 0, 0},
        {"too slow: 0.05\"/min", 0.05, 45, 3, 10, 30, -1, 0, 0.5, 0, 0},
        {"too fast: 150\"/min", 150, 45, 3, 5, 30, -1, 0, 0.5, 0, 0},
        {"bent: the middle 4\" off the line", 5, 60, 3, 10, 30, -1, 4, 0.5, 0, 0},
        {"not uniform: the middle a quarter of the way", 5, 60, 3, 10, 30, -1, 0, 0.25, 0, 0},
        {"too faint to count", 5, 60, 3, 10, 6, -1, 0, 0.5, 0, 0},
        {"seen in only two frames", 5, 60, 3, 10, 30, 1, 0, 0.5, 0, 0},
        {"among one-off detections", 5, 60, 3, 10, 30, -1, 0, 0.5, 10, 1},
    };
    for (const SetCase& c : cases) {
        std::vector<double> times;
        const std::vector<SourceList> frames = setOf(c, times, 3);
        const std::vector<Mover> found = linkMovers(frames, times, {});
        ASSERT_EQ(found.size(), c.movers) << c.name;
        if (c.movers == 0)
            continue;
        const Mover& m = found.front();
        EXPECT_NEAR(m.rate, c.rate, 0.02 * c.rate + 0.02) << c.name;
        EXPECT_NEAR(std::remainder(m.direction - c.direction, 360), 0, c.rate < 1 ? 5 : 1) << c.name;
        EXPECT_EQ(m.detections.size(), static_cast<size_t>(c.frames - (c.missing >= 0 ? 1 : 0))) << c.name;
        EXPECT_LE(m.residual, 2) << c.name;
        for (size_t k = 1; k < m.detections.size(); ++k)
            EXPECT_LT(m.detections[k - 1].time, m.detections[k].time) << c.name;
    }
    // Two movers crossing the field.
    std::vector<double> times;
    std::vector<SourceList> frames = setOf({"one", 5, 60}, times, 3);
    const std::vector<SourceList> other = setOf({"other", 8, 250}, times, 4);
    for (size_t f = 0; f < frames.size(); ++f)
        frames[f].sources.push_back(other[f].sources.back());
    EXPECT_EQ(linkMovers(frames, times, {}).size(), 2u);
}

// Drawn frames of a set: a 16th-magnitude mover at 5"/min among a field of stars, each frame
// pointed a little differently.
TEST(Movers, AMoverDrawnAmongStarsIsFoundWithItsRateAndDirection)
{
    const std::vector<SkyStar> field = starField(kTarget.ra, kTarget.dec, 0.1, 200, 11, 18.5, 9);
    const std::vector<FieldStar> catalogue = catalogueOf(field);
    std::vector<SourceList> frames;
    std::vector<double> times;
    for (int f = 0; f < 3; ++f) {
        const double minutes = 8.0 * f;
        std::vector<SkyStar> sky = field;
        const SkyPoint place =
            offset(-60 + 5 * minutes * std::sin(M_PI / 3), 30 + 5 * minutes * std::cos(M_PI / 3));
        sky.push_back({place.ra, place.dec, 16});
        Exposure e;
        e.seed = 20 + f;
        const Wcs wcs =
            skyWcs(kTarget.ra + 0.001 * f, kTarget.dec - 0.0007 * f, kScale, kSize, kSize, 0.2 * f);
        frames.push_back(detected(render(sky, wcs, kSize, kSize, e), wcs));
        applyZeroPoint(frames.back(), *catalogueZeroPoint(frames.back(), catalogue, 3));
        times.push_back(1.7e9 + minutes * 60);
    }
    const std::vector<Mover> found = linkMovers(frames, times, {});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NEAR(found[0].rate, 5, 0.1);
    EXPECT_NEAR(found[0].direction, 60, 1);
    EXPECT_NEAR(found[0].mag, 16, 0.1);
    EXPECT_EQ(found[0].detections.size(), 3u);
}

// Thirty frames of an unchanged field, searched as plans of two against a reference and as sets of
// three: nothing is raised, though faint stars come and go with the noise.
TEST(Discovery, UnchangedFramesRaiseNothing)
{
    const std::vector<SkyStar> sky = starField(kTarget.ra, kTarget.dec, 0.11, 400, 10, 19, 3);
    const Wcs wcs = skyWcs(kTarget.ra, kTarget.dec, kScale, kSize, kSize, 0);
    auto frame = [&](unsigned seed) {
        Exposure e;
        e.seed = seed;
        e.sigma = 1.5;
        return detected(render(sky, wcs, kSize, kSize, e), wcs);
    };
    const SourceList reference = frame(1);
    std::vector<SourceList> night;
    for (unsigned i = 0; i < 30; ++i)
        night.push_back(frame(100 + i));
    size_t candidates = 0, movers = 0;
    for (size_t i = 0; i + 1 < night.size(); i += 2)
        candidates += findCandidates(reference, {night[i], night[i + 1]}, kTarget, {}).size();
    for (size_t i = 0; i + 2 < night.size(); i += 3)
        movers += linkMovers({night[i], night[i + 1], night[i + 2]}, {0, 600, 1200}, {}).size();
    EXPECT_EQ(candidates, 0u);
    EXPECT_EQ(movers, 0u);
}
