// The cost of searching a frame: a 1k x 1k frame's sources found with SEP, placed on the sky, put on
// the catalogue's scale, then matched against the reference for candidates; the movers of a set of
// three. Last, unchanged frames of one field searched as plans of two and sets of three, to count
// false alarms.
//
// Usage: discovery_frame [FRAMES [UNCHANGED]]

#include "BenchSupport.h"
#include "imaging/Candidates.h"
#include "imaging/FieldMagnitudes.h"
#include "imaging/Movers.h"
#include "imaging/Sources.h"
#include "tests/imaging/SkyFrames.h"

#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>

using namespace kestrove::imaging;
using namespace kestrove::imaging::test;

namespace {

constexpr int kSize = 1024;
constexpr double kScale = 1.5;
const SkyPoint kTarget{150, 30};

SourceList searched(const std::vector<SkyStar>& sky, const std::vector<FieldStar>& catalogue, unsigned seed,
                    double& milliseconds)
{
    const Wcs wcs = skyWcs(kTarget.ra, kTarget.dec, kScale, kSize, kSize, 0);
    Exposure e;
    e.seed = seed;
    e.sigma = 1.5;
    const FitsImage image = render(sky, wcs, kSize, kSize, e);
    QElapsedTimer timer;
    timer.start();
    SourceList list = detectSources(image);
    placeOnSky(list, wcs);
    if (const auto zero = catalogueZeroPoint(list, catalogue, 3))
        applyZeroPoint(list, *zero);
    milliseconds = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    return list;
}

} // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::atoi(argv[1]) : 5;
    const int unchanged = argc > 2 ? std::atoi(argv[2]) : 30;
    const std::vector<SkyStar> sky = starField(kTarget.ra, kTarget.dec, 0.22, 1500, 10, 19, 7);
    std::vector<FieldStar> catalogue;
    for (const SkyStar& s : sky)
        if (s.mag < 13)
            catalogue.push_back({s.ra, s.dec, s.mag});
    double ms = 0, total = 0;
    const SourceList reference = searched(sky, catalogue, 1, ms);
    std::vector<SourceList> lists;
    for (int i = 0; i < frames; ++i) {
        lists.push_back(searched(sky, catalogue, 100 + static_cast<unsigned>(i), ms));
        total += ms;
    }
    std::printf("sources of a %dx%d frame: %.0f ms (mean of %d), %zu sources\n", kSize, kSize, total / frames,
                frames, lists.front().sources.size());
    QElapsedTimer timer;
    timer.start();
    const auto candidates = findCandidates(reference, {lists[0], lists[1]}, kTarget, {});
    const double matching = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    timer.restart();
    const auto movers = linkMovers({lists[0], lists[1], lists[2]}, {0, 600, 1200}, {});
    std::printf("candidates of a plan of two: %.1f ms; movers of a set of three: %.1f ms\n", matching,
                static_cast<double>(timer.nsecsElapsed()) / 1e6);

    // False alarms: unchanged frames, each plan of two against the reference, each set of three linked.
    std::vector<SourceList> night;
    for (int i = 0; i < unchanged; ++i)
        night.push_back(searched(sky, catalogue, 1000 + static_cast<unsigned>(i), ms));
    size_t falseCandidates = 0, falseMovers = 0;
    for (int i = 0; i + 1 < unchanged; i += 2)
        falseCandidates += findCandidates(reference, {night[i], night[i + 1]}, kTarget, {}).size();
    for (int i = 0; i + 2 < unchanged; i += 3)
        falseMovers += linkMovers({night[i], night[i + 1], night[i + 2]}, {0, 600, 1200}, {}).size();
    std::printf("%d unchanged frames: %zu candidates, %zu movers (false alarms); first pair %zu, %zu\n",
                unchanged, falseCandidates, falseMovers, candidates.size(), movers.size());
    return 0;
}
