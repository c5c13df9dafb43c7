// The cost of grading a frame: a 1k × 1k FITS file read, its stars detected and measured (as many
// as the INDI grader measures, and at most 200 for comparison), the grade against ten earlier
// frames; then recording it in the observations database. Last, a clear night of frames graded one
// after the other, to count false rejections.
//
// Usage: frame_grading [FRAMES [NIGHT_FRAMES]]

#include "BenchSupport.h"
#include "database/ObservationDb.h"
#include "host/indi/steps/FrameGrader.h"
#include "imaging/FitsFile.h"
#include "imaging/FrameGrade.h"
#include "imaging/Stars.h"

#include <QDateTime>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

using namespace kestrove;
using namespace kestrove::imaging;

namespace {

constexpr int kSize = 1024;
constexpr int kStars = indi::FrameGrader::maxStars;

struct SkyStar
{
    double x, y, flux;
};

// A field of `count` stars, three times as many per magnitude fainter over five magnitudes.
std::vector<SkyStar> makeField(int count, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<SkyStar> stars;
    for (int i = 0; i < count; ++i) {
        const double mag = std::log10(1 + u(random) * (std::pow(10, 2.5) - 1)) / 0.5;
        stars.push_back({20 + u(random) * (kSize - 40), 20 + u(random) * (kSize - 40),
                         150000 * std::pow(10, -0.4 * mag)});
    }
    return stars;
}

// Camera offset 500, a sky of `sky` with its photon noise, Gaussian stars of `sigma`.
FitsImage render(const std::vector<SkyStar>& field, double sky, double sigma, double transparency,
                 unsigned seed)
{
    FitsImage image;
    image.width = kSize;
    image.height = kSize;
    image.pixels.resize(static_cast<size_t>(kSize) * kSize);
    std::mt19937 random(seed);
    std::normal_distribution<float> gauss(static_cast<float>(500 + sky),
                                          static_cast<float>(std::sqrt(sky + 25)));
    for (float& p : image.pixels)
        p = gauss(random);
    const int r = static_cast<int>(std::ceil(sigma * 5));
    for (const SkyStar& s : field)
        for (int j = std::max(0, static_cast<int>(s.y) - r);
             j <= std::min(kSize - 1, static_cast<int>(s.y) + r); ++j)
            for (int i = std::max(0, static_cast<int>(s.x) - r);
                 i <= std::min(kSize - 1, static_cast<int>(s.x) + r); ++i) {
                const double d2 = (i - s.x) * (i - s.x) + (j - s.y) * (j - s.y);
                image.pixels[static_cast<size_t>(j) * kSize + i] += static_cast<float>(
                    transparency * s.flux / (2 * M_PI * sigma * sigma) * std::exp(-d2 / (2 * sigma * sigma)));
            }
    return image;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const int nightFrames = argc > 2 ? std::max(1, std::atoi(argv[2])) : 60;
    QTemporaryDir dir;
    const std::vector<SkyStar> field = makeField(400, 3);

    std::vector<QString> paths;
    for (int n = 0; n < frames; ++n) {
        paths.push_back(dir.filePath(QStringLiteral("frame-%1.fits").arg(n)));
        writeFitsImage(paths.back(), render(field, 300, 1.5, 1, 100 + n));
    }
    // Ten earlier frames of the target as the reference.
    std::vector<FrameMeasurement> reference;
    for (int n = 0; n < 10; ++n)
        reference.push_back(
            measureFrame(detectStars(readFitsImage(paths[static_cast<size_t>(n % frames)]), kStars)));

    for (const int maxStars : {kStars, 200}) {
        std::vector<double> wall, cpu;
        int stars = 0;
        for (const QString& path : paths) {
            FrameGrade g;
            const bench::Timing t = bench::bestOf(
                1, [] {},
                [&] {
                    const FrameMeasurement m = measureFrame(detectStars(readFitsImage(path), maxStars));
                    g = grade(m, reference);
                    stars = m.stars;
                });
            wall.push_back(t.wall);
            cpu.push_back(t.cpu);
        }
        std::printf("grading a %d x %d frame of %zu stars (%d measured, at most %d): median %.1f ms wall, "
                    "%.1f ms CPU; fastest %.1f ms, slowest %.1f ms\n",
                    kSize, kSize, field.size(), stars, maxStars, median(wall), median(cpu),
                    *std::min_element(wall.begin(), wall.end()), *std::max_element(wall.begin(), wall.end()));
    }

    {
        database::ObservationDb db(dir.filePath(QStringLiteral("observations.sqlite")));
        const qint64 plan = db.startPlan(QStringLiteral("SNe"), QStringLiteral("NGC 2403"),
                                         QDateTime::fromSecsSinceEpoch(1713128400, Qt::UTC));
        std::vector<double> writes;
        for (int n = 0; n < 50; ++n) {
            database::FrameRecord record;
            record.planId = plan;
            record.target = QStringLiteral("NGC 2403");
            record.kind = QStringLiteral("SNe");
            record.utc = QDateTime::fromSecsSinceEpoch(1713128400 + 60 * n, Qt::UTC);
            record.filter = QStringLiteral("L");
            record.exposure = 60;
            record.path = paths[static_cast<size_t>(n % frames)];
            record.measurement = reference[static_cast<size_t>(n % 10)];
            record.accepted = true;
            writes.push_back(bench::bestOf(
                                 1, [] {}, [&] { db.addFrame(record); })
                                 .wall);
        }
        std::printf("recording a frame (a transaction, synced): median %.2f ms, slowest %.2f ms\n",
                    median(writes), *std::max_element(writes.begin(), writes.end()));
    }

    // A clear night: seeing, sky brightness and transparency wander; each frame is graded against
    // the accepted ones before it.
    std::mt19937 random(5);
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<FrameMeasurement> accepted;
    int rejected = 0;
    for (int n = 0; n < nightFrames; ++n) {
        const double sigma = 1.5 + 0.2 * u(random);
        const double sky = 300 * (1 + 0.3 * n / nightFrames) * (1 + 0.05 * u(random));
        const FrameMeasurement m =
            measureFrame(detectStars(render(field, sky, sigma, 0.95 + 0.05 * u(random), 1000 + n), kStars));
        const FrameGrade g = grade(m, accepted);
        if (!g.accepted()) {
            ++rejected;
            std::printf("  frame %d rejected: %s\n", n, qPrintable(g.text));
            continue;
        }
        accepted.insert(accepted.begin(), m);
    }
    std::printf("a clear night: %d of %d frames rejected\n", rejected, nightFrames);
    return 0;
}
