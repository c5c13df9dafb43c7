#include "imaging/Airmass.h"
#include "imaging/FitsFile.h"
#include "imaging/FocusCurve.h"
#include "imaging/ImagingError.h"
#include "imaging/SolveField.h"
#include "imaging/Stars.h"
#include "imaging/Wcs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <fitsio.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace kestrove::imaging;

namespace {

struct SkyStar
{
    double ra = 0;
    double dec = 0;
    double mag = 0;
};

// Adds a circular Gaussian star of total `flux` at 0-based (x, y).
void addStar(FitsImage& image, double x, double y, double flux, double sigma)
{
    const int r = static_cast<int>(std::ceil(sigma * 6));
    for (int j = std::max(0, static_cast<int>(y) - r); j <= std::min(image.height - 1, static_cast<int>(y) + r); ++j)
        for (int i = std::max(0, static_cast<int>(x) - r); i <= std::min(image.width - 1, static_cast<int>(x) + r);
             ++i) {
            const double d2 = (i - x) * (i - x) + (j - y) * (j - y);
            image.pixels[static_cast<size_t>(j) * image.width + i] +=
                static_cast<float>(flux / (2 * M_PI * sigma * sigma) * std::exp(-d2 / (2 * sigma * sigma)));
        }
}

FitsImage blank(int width, int height, double background, double noise, unsigned seed)
{
    FitsImage image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<size_t>(width) * height);
    std::mt19937 random(seed);
    std::normal_distribution<float> gauss(static_cast<float>(background), static_cast<float>(noise));
    for (float& p : image.pixels)
        p = gauss(random);
    return image;
}

// A frame of `count` stars of Gaussian sigma `sigma` on a regular grid away from the edges.
FitsImage starGrid(double sigma, int count, unsigned seed = 1)
{
    FitsImage image = blank(400, 300, 1000, 10, seed);
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> jitter(-0.5, 0.5);
    for (int k = 0; k < count; ++k) {
        const double x = 40 + (k % 8) * 45 + jitter(random);
        const double y = 40 + (k / 8) * 45 + jitter(random);
        addStar(image, x, y, 20000 + 2000 * (k % 5), sigma);
    }
    return image;
}

Wcs testWcs(double ra, double dec, double scaleArcsec, int width, int height, double rotationDeg)
{
    Wcs w;
    w.crpix1 = (width + 1) / 2.0;
    w.crpix2 = (height + 1) / 2.0;
    w.crval1 = ra;
    w.crval2 = dec;
    const double s = scaleArcsec / 3600.0;
    const double t = rotationDeg * M_PI / 180;
    // East to the left (negative x), as a sky seen through a telescope without a mirror.
    w.cd11 = -s * std::cos(t);
    w.cd12 = s * std::sin(t);
    w.cd21 = s * std::sin(t);
    w.cd22 = s * std::cos(t);
    return w;
}

std::vector<SkyStar> randomSky(double ra, double dec, double halfSize, int count, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> u(-1, 1);
    std::uniform_real_distribution<double> mag(8, 12);
    std::vector<SkyStar> stars;
    for (int i = 0; i < count; ++i)
        stars.push_back({ra + u(random) * halfSize / std::cos(dec * M_PI / 180), dec + u(random) * halfSize, mag(random)});
    std::sort(stars.begin(), stars.end(), [](const SkyStar& a, const SkyStar& b) { return a.mag < b.mag; });
    return stars;
}

FitsImage renderSky(const std::vector<SkyStar>& sky, const Wcs& wcs, int width, int height, unsigned seed,
                    double sigma = 1.3)
{
    FitsImage image = blank(width, height, 500, 8, seed);
    for (const SkyStar& s : sky) {
        double px = 0, py = 0;
        if (!wcs.skyToPixel(s.ra, s.dec, px, py))
            continue;
        if (px < -5 || py < -5 || px > width + 5 || py > height + 5)
            continue;
        addStar(image, px - 1, py - 1, 4e5 * std::pow(10, -0.4 * (s.mag - 8)), sigma);
    }
    return image;
}

void writeCatalog(const QString& path, const std::vector<SkyStar>& sky)
{
    QFile::remove(path);
    fitsfile* f = nullptr;
    int status = 0;
    fits_create_diskfile(&f, QFile::encodeName(path).constData(), &status);
    fits_create_img(f, BYTE_IMG, 0, nullptr, &status);
    char ra[] = "RA", dec[] = "DEC", mag[] = "MAG", d[] = "D";
    char* names[] = {ra, dec, mag};
    char* forms[] = {d, d, d};
    fits_create_tbl(f, BINARY_TBL, 0, 3, names, forms, nullptr, nullptr, &status);
    for (size_t i = 0; i < sky.size(); ++i) {
        double values[3] = {sky[i].ra, sky[i].dec, sky[i].mag};
        for (int c = 0; c < 3; ++c)
            fits_write_col(f, TDOUBLE, c + 1, static_cast<LONGLONG>(i + 1), 1, 1, &values[c], &status);
    }
    fits_close_file(f, &status);
    ASSERT_EQ(status, 0);
}

// Runs a solve to its end on the event loop; fails the test past `seconds`.
SolveResult solveNow(const SolveRequest& request, double seconds)
{
    SolveField solver;
    SolveResult result;
    bool done = false;
    QEventLoop loop;
    QObject::connect(&solver, &SolveField::finished, &loop, [&](const SolveResult& r) {
        result = r;
        done = true;
        loop.quit();
    });
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    solver.start(request);
    EXPECT_TRUE(solver.running() || !SolveField::executable().isEmpty());
    loop.exec();
    EXPECT_TRUE(done) << "no answer within " << seconds << " s";
    return result;
}

} // namespace

TEST(FitsFile, HeaderCardsReplaceAddAndRemoveWhileTheDataStay)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("frame.fits"));
    FitsImage image = starGrid(1.5, 10);
    writeFitsImage(path, image,
                   {{QStringLiteral("OBJECT"), QStringLiteral("Unknown"), QStringLiteral("camera's")},
                    {QStringLiteral("AIRMASS"), 74.5, {}},
                    {QStringLiteral("INSTRUME"), QStringLiteral("CCD Simulator"), {}}});
    updateFitsHeader(path, {{QStringLiteral("OBJECT"), QStringLiteral("NGC 2403"), QStringLiteral("target")},
                            HeaderCard::remove(QStringLiteral("AIRMASS")),
                            HeaderCard::remove(QStringLiteral("NOTTHERE")),
                            {QStringLiteral("XBINNING"), 2LL, {}},
                            {QStringLiteral("SITELAT"), 60.125, {}, 4},
                            {QStringLiteral("IMAGETYP"), QStringLiteral("Light Frame"), {}}});
    const auto header = readFitsHeader(path);
    EXPECT_EQ(headerValue(header, QStringLiteral("OBJECT")), QStringLiteral("NGC 2403"));
    EXPECT_EQ(headerValue(header, QStringLiteral("INSTRUME")), QStringLiteral("CCD Simulator"));
    EXPECT_EQ(headerValue(header, QStringLiteral("AIRMASS")), QString());
    EXPECT_EQ(headerValue(header, QStringLiteral("XBINNING")), QStringLiteral("2"));
    EXPECT_EQ(headerValue(header, QStringLiteral("SITELAT")), QStringLiteral("60.1250"));
    EXPECT_EQ(headerValue(header, QStringLiteral("IMAGETYP")), QStringLiteral("Light Frame"));
    int objects = 0;
    for (const auto& card : header)
        objects += card.first == QStringLiteral("OBJECT") ? 1 : 0;
    EXPECT_EQ(objects, 1);
    const FitsImage back = readFitsImage(path);
    ASSERT_EQ(back.width, image.width);
    ASSERT_EQ(back.height, image.height);
    EXPECT_EQ(back.pixels, image.pixels);
    // From memory as from a file.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(readFitsImage(file.readAll()).pixels, image.pixels);
}

TEST(FitsFile, WhatIsNotFitsIsRefusedWithAReason)
{
    EXPECT_THROW(readFitsImage(QByteArray("SIMPLE  = nonsense")), ImagingError);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("text.fits"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a fits file");
    f.close();
    EXPECT_THROW(updateFitsHeader(path, {{QStringLiteral("OBJECT"), QStringLiteral("x"), {}}}), ImagingError);
}

TEST(Stars, MedianHalfFluxRadiusOfGaussianStars)
{
    for (const double sigma : {1.2, 2.0, 3.5}) {
        const StarField field = detectStars(starGrid(sigma, 30, 7));
        EXPECT_GE(field.stars.size(), 28u) << sigma;
        EXPECT_LE(field.stars.size(), 30u) << sigma;
        // A Gaussian holds half its flux within sigma·sqrt(2 ln 2).
        EXPECT_NEAR(field.medianHfr, sigma * 1.1774, 0.12 * sigma) << sigma;
        EXPECT_NEAR(field.background, 1000, 2);
    }
}

TEST(Stars, ANoiseFrameHasNoStars)
{
    EXPECT_LE(detectStars(blank(300, 200, 1000, 10, 3)).stars.size(), 1u);
    FitsImage flat = blank(100, 100, 0, 0, 1);
    std::fill(flat.pixels.begin(), flat.pixels.end(), 500.0f);
    EXPECT_TRUE(detectStars(flat).stars.empty());
}

TEST(Wcs, PixelAndSkyRoundTripAndCarryOverToBinningAndSubframe)
{
    const Wcs solved = testWcs(150.0, 60.0, 10.72, 640, 512, 12);
    double ra = 0, dec = 0, x = 0, y = 0;
    solved.pixelToSky(100.5, 400.25, ra, dec);
    ASSERT_TRUE(solved.skyToPixel(ra, dec, x, y));
    EXPECT_NEAR(x, 100.5, 1e-6);
    EXPECT_NEAR(y, 400.25, 1e-6);
    EXPECT_NEAR(solved.scale(), 10.72, 1e-9);

    // The solve frame: binning 2, whole chip of 1280 x 1024. The survey frame: binning 1, the
    // central half (320, 256) to (960, 768).
    const ImageGeometry from{0, 0, 2};
    const ImageGeometry to{320, 256, 1};
    const Wcs carried = solved.carriedTo(from, to);
    EXPECT_NEAR(carried.scale(), 5.36, 1e-9);
    // The same sky at the same chip position: binned pixel (p) covers unbinned [2(p-1), 2p).
    for (const auto& [bx, by] : {std::pair{160.5, 128.5}, std::pair{200.0, 300.0}, std::pair{320.5, 256.5}}) {
        solved.pixelToSky(bx, by, ra, dec);
        const double ux = (bx - 0.5) * 2; // unbinned continuous coordinate
        const double uy = (by - 0.5) * 2;
        double ra2 = 0, dec2 = 0;
        carried.pixelToSky(ux - 320 + 0.5, uy - 256 + 0.5, ra2, dec2);
        EXPECT_LT(angularDistance(ra, dec, ra2, dec2) * 3600, 1e-6);
    }
    EXPECT_NEAR(angularDistance(10, 0, 11, 0), 1.0, 1e-12);
    EXPECT_NEAR(angularDistance(0, 89, 180, 89), 2.0, 1e-9);
}

TEST(Wcs, WrittenAndReadBack)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("w.fits"));
    const Wcs w = testWcs(33.25, -12.5, 3.1, 100, 80, -30);
    writeFitsImage(path, blank(100, 80, 0, 1, 1), w.headerCards());
    const auto back = readWcs(path);
    ASSERT_TRUE(back.has_value());
    EXPECT_NEAR(back->crval1, 33.25, 1e-12);
    EXPECT_NEAR(back->cd12, w.cd12, 1e-15);
    EXPECT_FALSE(readWcs(dir.filePath(QStringLiteral("missing.fits"))).has_value());
}

TEST(Airmass, FromElevation)
{
    EXPECT_NEAR(*airmassAt(90), 1.0, 1e-3);
    EXPECT_NEAR(*airmassAt(30), 1.995, 0.01);
    EXPECT_NEAR(*airmassAt(10), 5.6, 0.1);
    EXPECT_FALSE(airmassAt(4.9).has_value());
    EXPECT_FALSE(airmassAt(-20).has_value());
}

namespace {

double hyperbolaHfr(double position, double best, double minimum, double slope)
{
    return std::sqrt(minimum * minimum + slope * slope * (position - best) * (position - best));
}

// Runs a sweep against a focuser whose curve is known, with a little measurement noise.
FocusSweep runSweep(int start, int step, int stepsOut, int maxTravel, double best, unsigned seed)
{
    FocusSweep sweep(start, step, stepsOut, maxTravel);
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0, 0.02);
    int guard = 0;
    while (const auto position = sweep.next()) {
        sweep.add({*position, hyperbolaHfr(*position, best, 1.5, 0.004) * (1 + noise(random)), 40});
        if (++guard > 100)
            break;
    }
    return sweep;
}

} // namespace

TEST(FocusCurve, FitFindsTheMinimumOfAHyperbola)
{
    std::vector<FocusPoint> points;
    for (int p = 9000; p <= 11000; p += 250)
        points.push_back({p, hyperbolaHfr(p, 10130, 1.8, 0.003), 50});
    const FocusFit fit = fitFocusCurve(points);
    ASSERT_TRUE(fit.fitted) << qPrintable(fit.why);
    EXPECT_NEAR(fit.bestPosition, 10130, 1);
    EXPECT_NEAR(fit.minimumHfr, 1.8, 0.01);
    EXPECT_GT(fit.r2, 0.999);

    // Points without stars are left out; too few valid points give no fit.
    points[3].hfr = 0;
    EXPECT_EQ(fitFocusCurve(points).pointsUsed, static_cast<int>(points.size()) - 1);
    EXPECT_FALSE(fitFocusCurve({{1, 2, 3}, {2, 0, 0}, {3, 2, 4}}).fitted);
    // A flat line of noise is no curve worth trusting.
    std::vector<FocusPoint> flat;
    std::mt19937 random(4);
    std::normal_distribution<double> noise(3, 0.1);
    for (int p = 0; p < 11; ++p)
        flat.push_back({p * 100, noise(random), 20});
    const FocusFit bad = fitFocusCurve(flat);
    EXPECT_TRUE(!bad.fitted || bad.r2 < 0.8);
}

TEST(FocusCurve, SweepGoesOutThenInAndOnInTheFallingDirection)
{
    // Centred: 2·5+1 points, out first then inward.
    FocusSweep centred = runSweep(10000, 250, 5, 5000, 10100, 1);
    ASSERT_EQ(centred.points().size(), 11u);
    EXPECT_EQ(centred.points().front().position, 11250);
    EXPECT_EQ(centred.points().back().position, 8750);
    EXPECT_TRUE(centred.bracketed());
    FocusFit fit = fitFocusCurve(centred.window());
    ASSERT_TRUE(fit.fitted);
    EXPECT_NEAR(fit.bestPosition, 10100, 60);

    // The best focus lies 2000 below the start: the sweep goes on inward until it is bracketed.
    FocusSweep low = runSweep(10000, 250, 5, 5000, 8000, 2);
    EXPECT_TRUE(low.bracketed());
    EXPECT_LE(low.sorted().front().position, 8000 - 2 * 250);
    fit = fitFocusCurve(low.window());
    ASSERT_TRUE(fit.fitted);
    EXPECT_NEAR(fit.bestPosition, 8000, 60);

    // And outward, beyond the first point.
    FocusSweep high = runSweep(10000, 250, 5, 5000, 12300, 3);
    EXPECT_TRUE(high.bracketed());
    fit = fitFocusCurve(high.window());
    ASSERT_TRUE(fit.fitted);
    EXPECT_NEAR(fit.bestPosition, 12300, 60);

    // Never beyond maxTravel: the sweep stops unbracketed and says why.
    FocusSweep far = runSweep(10000, 250, 5, 2000, 20000, 4);
    EXPECT_FALSE(far.bracketed());
    EXPECT_LE(far.sorted().back().position, 12000);
    EXPECT_TRUE(far.unbracketedReason().contains(QStringLiteral("outer")));
}

TEST(FocusCurve, ChartIsAnSvgWithThePointsAndTheMinimum)
{
    FocusSweep sweep = runSweep(10000, 250, 5, 5000, 10100, 1);
    const FocusFit fit = fitFocusCurve(sweep.window());
    const QString svg = focusChartSvg(sweep.points(), fit, QStringLiteral("M 51 <focus>"));
    EXPECT_TRUE(svg.startsWith(QStringLiteral("<?xml")));
    EXPECT_EQ(svg.count(QStringLiteral("<circle")), 11);
    EXPECT_TRUE(svg.contains(QStringLiteral("M 51 &lt;focus&gt;")));
    EXPECT_TRUE(svg.contains(QStringLiteral("best 10")));
    // The fitted curve is a path of 101 points: M x y L x y ...
    EXPECT_TRUE(svg.contains(QRegularExpression(QStringLiteral("d=\"M[0-9.]+ [0-9.]+ L[0-9.]+ [0-9.]+ L"))));
}

// A synthetic sky, an index built from it with build-astrometry-index, a frame rendered from it
// with a known WCS: solve-field finds the centre and the scale.
class SolveFieldTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_FALSE(SolveField::executable().isEmpty()) << "solve-field (Debian astrometry.net) is needed";
        ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("build-astrometry-index")).isEmpty());
        folder = new QTemporaryDir;
        sky = randomSky(150, 40, 2.5, 900, 11);
        const QString catalog = folder->filePath(QStringLiteral("catalog.fits"));
        writeCatalog(catalog, sky);
        QDir().mkpath(folder->filePath(QStringLiteral("index")));
        QElapsedTimer timer;
        timer.start();
        for (const int preset : {5, 6}) {
            QProcess build;
            build.setProcessChannelMode(QProcess::MergedChannels);
            build.start(QStringLiteral("build-astrometry-index"),
                        {QStringLiteral("-i"), catalog, QStringLiteral("-o"),
                         folder->filePath(QStringLiteral("index/index-test-%1.fits").arg(preset)), QStringLiteral("-P"),
                         QString::number(preset), QStringLiteral("-E"), QStringLiteral("-M"), QStringLiteral("-S"),
                         QStringLiteral("MAG"), QStringLiteral("-I"), QString::number(900 + preset),
                         QStringLiteral("-t"), folder->path()});
            ASSERT_TRUE(build.waitForFinished(120000));
            ASSERT_EQ(build.exitCode(), 0) << build.readAll().toStdString();
        }
        std::printf("synthetic indexes built in %.2f s\n", timer.elapsed() / 1000.0);
    }
    static void TearDownTestSuite()
    {
        delete folder;
        folder = nullptr;
    }

    static QTemporaryDir* folder;
    static std::vector<SkyStar> sky;
};

QTemporaryDir* SolveFieldTest::folder = nullptr;
std::vector<SkyStar> SolveFieldTest::sky;

// Stars well sampled, and a pixel wide as an undersampled camera draws them (and the INDI CCD
// simulator does): there, a solution fitted to only the four stars of its quad drifts pixels off.
TEST_F(SolveFieldTest, SolvesAFrameOfTheSyntheticSkyWithHints)
{
    for (const double sigma : {1.3, 0.35}) {
        SCOPED_TRACE(sigma);
        const Wcs truth = testWcs(150.3, 40.2, 10.0, 600, 450, 7);
        const QString image = folder->filePath(QStringLiteral("field.fits"));
        writeFitsImage(image, renderSky(sky, truth, 600, 450, 5, sigma));
        SolveRequest request;
        request.imagePath = image;
        request.workDir = folder->filePath(QStringLiteral("solve"));
        request.indexFolder = SolveField::findIndexFolder(folder->filePath(QStringLiteral("index")));
        ASSERT_FALSE(request.indexFolder.isEmpty());
        request.rightAscension = 150.0;
        request.declination = 40.0;
        request.radius = 3;
        request.scale = 10.0;
        request.cpuLimit = 20;
        const SolveResult result = solveNow(request, 90);
        ASSERT_TRUE(result.solved) << qPrintable(result.reason);
        double ra = 0, dec = 0;
        truth.pixelToSky(300.5, 225.5, ra, dec);
        EXPECT_LT(angularDistance(result.rightAscension, result.declination, ra, dec) * 3600, 10.0);
        EXPECT_NEAR(result.wcs.scale(), 10.0, 0.1);
        EXPECT_EQ(result.width, 600);
        EXPECT_EQ(result.height, 450);
        double worst = 0;
        for (const auto& [x, y] :
             {std::pair{1.0, 1.0}, {600.0, 1.0}, {1.0, 450.0}, {600.0, 450.0}, {300.5, 225.5}}) {
            double solvedRa = 0, solvedDec = 0;
            truth.pixelToSky(x, y, ra, dec);
            result.wcs.pixelToSky(x, y, solvedRa, solvedDec);
            worst = std::max(worst, angularDistance(solvedRa, solvedDec, ra, dec) * 3600 / 10.0);
        }
        EXPECT_LT(worst, 0.3) << "pixels";
        std::printf("stars of sigma %.2f px: solved in %.2f s, %d sources, off the truth by %.3f px at most\n",
                    sigma, result.seconds, result.sources, worst);
    }
}

TEST_F(SolveFieldTest, AStarlessFrameFailsInBoundedTimeWithAReason)
{
    const QString image = folder->filePath(QStringLiteral("clouds.fits"));
    writeFitsImage(image, blank(600, 450, 500, 8, 9));
    SolveRequest request;
    request.imagePath = image;
    request.workDir = folder->filePath(QStringLiteral("clouds"));
    request.indexFolder = folder->filePath(QStringLiteral("index"));
    request.rightAscension = 150.0;
    request.declination = 40.0;
    request.scale = 10.0;
    request.cpuLimit = 10;
    QElapsedTimer timer;
    timer.start();
    const SolveResult result = solveNow(request, 60);
    EXPECT_FALSE(result.solved);
    EXPECT_FALSE(result.reason.isEmpty());
    EXPECT_LT(timer.elapsed(), 45000);
    std::printf("starless frame: %s after %.2f s\n", qPrintable(result.reason), result.seconds);
}

TEST_F(SolveFieldTest, IndexFolderIsFoundOrItsAbsenceNamed)
{
    QString why;
    EXPECT_EQ(SolveField::findIndexFolder(folder->filePath(QStringLiteral("index")), &why),
              folder->filePath(QStringLiteral("index")));
    EXPECT_TRUE(why.contains(QStringLiteral("indexFolder")));
    EXPECT_TRUE(SolveField::findIndexFolder(folder->filePath(QStringLiteral("nothing")), &why).isEmpty());
    EXPECT_TRUE(why.contains(QStringLiteral("holds no index")));
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
