#include "imaging/ImagingError.h"
#include "imaging/MasterFrame.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace kestrove::imaging;

namespace {

FitsImage image(int width, int height, std::vector<float> pixels)
{
    return {width, height, std::move(pixels), std::nullopt};
}

FitsImage filled(int width, int height, float value)
{
    return {width, height, std::vector<float>(static_cast<size_t>(width) * height, value), std::nullopt};
}

} // namespace

TEST(MasterFrame, MedianCombineTakesEachPixelsMiddleValue)
{
    const struct
    {
        const char* what;
        std::vector<std::vector<float>> frames; // each 2x1 pixels
        std::vector<float> median;
    } cases[] = {
        {"one frame is itself", {{5, 7}}, {5, 7}},
        {"odd count: the middle", {{1, 9}, {3, 2}, {2, 4}}, {2, 4}},
        {"even count: the mean of the two middle values", {{1, 10}, {3, 20}, {5, 30}, {7, 40}}, {4, 25}},
        {"a cosmic ray in one frame does not reach the master",
         {{100, 100}, {100, 65000}, {101, 99}},
         {100, 100}},
    };
    for (const auto& c : cases) {
        std::vector<FitsImage> frames;
        for (const auto& pixels : c.frames)
            frames.push_back(image(2, 1, pixels));
        EXPECT_EQ(medianCombine(frames).pixels, c.median) << c.what;
    }
    EXPECT_THROW(medianCombine({}), ImagingError);
    EXPECT_THROW(medianCombine({filled(2, 1, 0), filled(1, 2, 0)}), ImagingError);
}

TEST(MasterFrame, CalibrationSubtractsTheDarkAndDividesByTheNormalisedFlat)
{
    // A frame of sky 1000 through optics passing 100 % at the centre and 80 % at the edge, on a chip
    // with a dark current of 50 and a hot pixel of 900.
    const FitsImage dark = image(3, 1, {50, 950, 50});
    const FitsImage flat = image(3, 1, {0.8f * 20000, 20000, 0.8f * 20000});
    const FitsImage raw = image(3, 1, {800 + 50, 1000 + 950, 800 + 50});
    const struct
    {
        const char* what;
        const FitsImage* dark;
        const FitsImage* flat;
        std::vector<float> expected;
    } cases[] = {
        {"nothing to apply", nullptr, nullptr, {850, 1950, 850}},
        {"dark only", &dark, nullptr, {800, 1000, 800}},
        // The flat's mean is 0.8667 of its centre: the sky comes out level at that mean.
        {"dark and flat", &dark, &flat, {866.67f, 866.67f, 866.67f}},
    };
    for (const auto& c : cases) {
        const FitsImage out = calibratedImage(raw, c.dark, c.flat);
        ASSERT_EQ(out.pixels.size(), c.expected.size()) << c.what;
        for (size_t i = 0; i < out.pixels.size(); ++i)
            EXPECT_NEAR(out.pixels[i], c.expected[i], 0.01) << c.what << " pixel " << i;
    }
    const FitsImage small = filled(2, 1, 0);
    EXPECT_THROW(calibratedImage(raw, &small, nullptr), ImagingError);
    EXPECT_THROW(calibratedImage(raw, nullptr, &small), ImagingError);
}

TEST(MasterFrame, NamesInTheLibraryAndBesideTheRawFrame)
{
    const QDateTime made = QDateTime::fromString(QStringLiteral("2026-12-09T05:12:30Z"), Qt::ISODate);
    const struct
    {
        MasterSetting setting;
        const char* name;
    } cases[] = {
        {{MasterKind::Dark, 60, 2, -10.0, {}}, "dark-60s-bin2-m10C-20261209T051230.fits"},
        {{MasterKind::Bias, 0, 1, std::nullopt, {}}, "bias-bin1-20261209T051230.fits"},
        {{MasterKind::Flat, 2.5, 1, 5.0, QStringLiteral("Sloan r'")},
         "flat-2.5s-bin1-5C-Sloan_r_-20261209T051230.fits"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(masterFileName(c.setting, made), QString::fromLatin1(c.name));
    EXPECT_EQ(calibratedPath(QStringLiteral("/img/SNe/N1/SN-001.fits")),
              QStringLiteral("/img/SNe/N1/SN-001-cal.fits"));
    EXPECT_EQ(calibratedPath(QStringLiteral("/img/a.b.fit")), QStringLiteral("/img/a.b-cal.fit"));
}

namespace {

// The spread of the frame's 16 x 16 block medians over their mean: 0 for a level frame.
double unevenness(const FitsImage& image)
{
    std::vector<double> blocks;
    for (int by = 0; by + 16 <= image.height; by += 16)
        for (int bx = 0; bx + 16 <= image.width; bx += 16)
            blocks.push_back(medianOf(croppedImage(image, bx, by, 16, 16)));
    double mean = 0;
    for (double b : blocks)
        mean += b / static_cast<double>(blocks.size());
    double variance = 0;
    for (double b : blocks)
        variance += (b - mean) * (b - mean) / static_cast<double>(blocks.size());
    return std::sqrt(variance) / mean;
}

} // namespace

// A frame of even sky through vignetting optics on a chip with a dark-current gradient and hot
// pixels, taken as a subframe: the calibrated copy is level, the raw frame stays as it was.
TEST(MasterFrame, ACalibratedFrameIsFlatterThanTheRawAndNamesItsMasters)
{
    QTemporaryDir dir;
    const int chipWidth = 256, chipHeight = 192;
    const int x0 = 64, y0 = 32, width = 128, height = 128;
    const auto vignetting = [&](int x, int y) {
        const double dx = (x - chipWidth / 2.0) / chipWidth, dy = (y - chipHeight / 2.0) / chipWidth;
        return 1.0 - 1.6 * (dx * dx + dy * dy);
    };
    const auto darkCurrent = [&](int x, int y) {
        return 100.0 + 0.5 * x + ((x * 7 + y * 13) % 97 == 0 ? 3000 : 0);
    };
    FitsImage dark = filled(chipWidth, chipHeight, 0);
    FitsImage flat = filled(chipWidth, chipHeight, 0);
    for (int y = 0; y < chipHeight; ++y)
        for (int x = 0; x < chipWidth; ++x) {
            dark.pixels[static_cast<size_t>(y) * chipWidth + x] = static_cast<float>(darkCurrent(x, y));
            flat.pixels[static_cast<size_t>(y) * chipWidth + x] =
                static_cast<float>(25000 * vignetting(x, y));
        }
    FitsImage raw = filled(width, height, 0);
    std::mt19937 generator(7);
    std::normal_distribution<double> readNoise(0, 10);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            raw.pixels[static_cast<size_t>(y) * width + x] = static_cast<float>(
                2000 * vignetting(x0 + x, y0 + y) + darkCurrent(x0 + x, y0 + y) + readNoise(generator));
    const QString darkPath = dir.filePath(QStringLiteral("dark-60s-bin1-20261209T051230.fits"));
    const QString flatPath = dir.filePath(QStringLiteral("flat-2s-bin1-Green-20261209T170000.fits"));
    const QString rawPath = dir.filePath(QStringLiteral("SN-001.fits"));
    writeFitsImage(darkPath, dark);
    writeFitsImage(flatPath, flat);
    writeFitsImage(rawPath, raw, {{QStringLiteral("OBJECT"), QStringLiteral("SN 2026abc"), {}}});
    QFile rawFile(rawPath);
    ASSERT_TRUE(rawFile.open(QIODevice::ReadOnly));
    const QByteArray rawBytes = rawFile.readAll();
    rawFile.close();

    const FitsImage out = calibrateFrame(raw, rawPath, {darkPath, false, flatPath, x0, y0});

    const QString calPath = dir.filePath(QStringLiteral("SN-001-cal.fits"));
    ASSERT_TRUE(QFile::exists(calPath));
    const FitsImage back = readFitsImage(calPath);
    EXPECT_EQ(back.pixels, out.pixels);
    const double before = unevenness(raw);
    const double after = unevenness(back);
    std::printf("unevenness of the block medians: raw %.4f, calibrated %.6f, %.0f times flatter\n", before,
                after, before / after);
    EXPECT_GT(before / after, 20);
    const auto header = readFitsHeader(calPath);
    EXPECT_EQ(headerValue(header, QStringLiteral("DARKFILE")), QFileInfo(darkPath).fileName());
    EXPECT_EQ(headerValue(header, QStringLiteral("FLATFILE")), QFileInfo(flatPath).fileName());
    EXPECT_EQ(headerValue(header, QStringLiteral("OBJECT")), QStringLiteral("SN 2026abc"));
    EXPECT_EQ(headerValue(header, QStringLiteral("BITPIX")), QStringLiteral("-32"));
    ASSERT_TRUE(rawFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(rawFile.readAll(), rawBytes) << "the raw frame is left as it was";

    // A master of another chip size is refused, naming the sizes.
    EXPECT_THROW(calibrateFrame(raw, rawPath, {darkPath, false, {}, 200, 100}), ImagingError);
}
