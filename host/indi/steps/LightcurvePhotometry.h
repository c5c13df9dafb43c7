#pragma once

#include "host/indi/steps/FrameGrader.h"
#include "imaging/LightcurveFrame.h"

#include <QFutureWatcher>

#include <deque>
#include <functional>
#include <map>

namespace kestrove::database {
struct LightcurvePoint;
}

namespace kestrove::indi {

// Measures the lightcurve of each accepted, solved lightcurve frame: the target where its catalogue
// place falls through the plan's WCS, the comparison ensemble and check star chosen from the
// target's first such frame and kept while they stay usable. The photometry runs in a worker
// thread on the frame's own bytes, a frame at a time; back on the survey's thread the point is
// timed in BJD_TDB, recorded in observations.sqlite and added to "lightcurves/NAME.csv". Nothing
// waits on it.
class LightcurvePhotometry
{
public:
    explicit LightcurvePhotometry(StepContext& context);

    // Whether a graded frame is one to measure: an accepted lightcurve frame with a WCS and pixels.
    static bool wanted(const GradedFrame& graded);
    // Measures the frame recorded as row `frameRecord` (0: none) when it is wanted.
    void add(const GradedFrame& graded, qint64 frameRecord);
    int pending() const { return static_cast<int>(m_queue.size()); }
    // The stars the user named for `target`: each comparison with its catalogue magnitude when
    // given (all given: the lightcurve is on their scale), each named by its label or its place.
    // None without a comparison.
    static std::optional<imaging::LightcurveStars> namedStars(const imaging::CatalogueStar& target,
                                                              const std::vector<NamedStar>& comparisons,
                                                              const std::optional<NamedStar>& check);
    // Each point recorded, and the worker's milliseconds for it.
    std::function<void(const database::LightcurvePoint&, double milliseconds)> onPoint;

private:
    struct Job
    {
        FrameToGrade frame;
        double hfr = 0;
        qint64 frameRecord = 0;
    };
    struct Measured
    {
        std::optional<imaging::LightcurveStars> chosen; // when chosen from this frame
        imaging::LightcurveFrame frame;
        QString error;
        double milliseconds = 0;
        imaging::FrameGain gain;
    };
    static Measured measure(const QByteArray& fits, std::optional<double> gain, const imaging::Wcs& wcs,
                            double hfr, const imaging::CatalogueStar& target,
                            const std::optional<imaging::LightcurveStars>& stars);
    void next();
    void measured(const Measured& result);
    void record(const Job& job, const imaging::LightcurveStars& stars, const Measured& result);

    StepContext& m_context;
    std::deque<Job> m_queue; // the first is being measured while the watcher runs
    QFutureWatcher<Measured> m_watcher;
    // Each target's stars, by target and filter.
    std::map<std::pair<QString, QString>, imaging::LightcurveStars> m_stars;
    bool m_gainTold = false; // that 1 e-/ADU is assumed, said once
};

} // namespace kestrove::indi
