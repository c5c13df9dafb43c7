#include "imaging/FrameGrade.h"

#include "imaging/Wcs.h"

#include <algorithm>
#include <cmath>

namespace kestrove::imaging {

namespace {

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// At least three significant digits and no exponent: 2400, 812, 12.4, 0.830.
QString levelText(double value)
{
    const double magnitude = std::abs(value);
    const int decimals = magnitude >= 100 || magnitude == 0 || !std::isfinite(magnitude)
                             ? 0
                             : std::min(6, 2 - static_cast<int>(std::floor(std::log10(magnitude))));
    return QString::number(value, 'f', decimals);
}

struct Reference
{
    int frames = 0;
    double stars = 0;
    double hfr = 0; // 0: no frame with stars
    double background = 0;
    double noise = 0;
};

Reference referenceOf(const std::vector<FrameMeasurement>& history, int window)
{
    Reference reference;
    std::vector<double> stars, hfr, background, noise;
    for (const FrameMeasurement& m : history) {
        if (reference.frames >= window)
            break;
        ++reference.frames;
        stars.push_back(m.stars);
        if (m.medianHfr > 0)
            hfr.push_back(m.medianHfr);
        background.push_back(m.background);
        noise.push_back(m.noise);
    }
    reference.stars = median(stars);
    reference.hfr = median(hfr);
    reference.background = median(background);
    reference.noise = median(noise);
    return reference;
}

} // namespace

FrameMeasurement measureFrame(const StarField& field)
{
    FrameMeasurement m;
    m.stars = static_cast<int>(field.stars.size());
    m.medianHfr = field.medianHfr;
    m.background = field.background;
    m.noise = field.noise;
    return m;
}

FrameMeasurement measureFrame(const StarField& field, const SolveResult& solve, double aimedRightAscension,
                              double aimedDeclination)
{
    FrameMeasurement m = measureFrame(field);
    if (solve.solved)
        m.solved = SolvedCentre{
            solve.rightAscension, solve.declination,
            angularDistance(solve.rightAscension, solve.declination, aimedRightAscension, aimedDeclination) *
                3600};
    return m;
}

FrameGrade grade(const FrameMeasurement& frame, const std::vector<FrameMeasurement>& history,
                 const GradeThresholds& thresholds)
{
    const Reference reference = referenceOf(history, std::max(1, thresholds.window));
    const bool haveReference = reference.frames > 0;
    const int expectedStars =
        std::max(thresholds.minimumStars, haveReference ? static_cast<int>(std::lround(reference.stars)) : 0);

    if (frame.stars >= thresholds.minimumStars && reference.hfr > 0 &&
        frame.medianHfr > thresholds.hfrFactor * reference.hfr)
        return {GradeReason::HfrHigh,
                QStringLiteral("HFR %1 px where %2 expected")
                    .arg(QString::number(frame.medianHfr, 'f', 1), QString::number(reference.hfr, 'f', 1))};

    if (frame.stars < thresholds.minimumStars ||
        (haveReference && frame.stars < thresholds.starFraction * reference.stars))
        return {GradeReason::TooFewStars,
                QStringLiteral("%1 stars where %2 expected").arg(frame.stars).arg(expectedStars)};

    // Each ratio is a lower bound of how much brighter the sky is: the camera's offset dilutes the
    // levels', read noise the variances'. A reference at or below zero gives no ratio.
    if (haveReference) {
        double sky = 0;
        if (reference.background > 0)
            sky = frame.background / reference.background;
        if (reference.noise > 0)
            sky = std::max(sky, frame.noise * frame.noise / (reference.noise * reference.noise));
        if (sky > thresholds.backgroundFactor)
            return {GradeReason::BackgroundHigh,
                    QStringLiteral("background %1 ADU where %2 expected, sky %3 times as bright")
                        .arg(levelText(frame.background), levelText(reference.background),
                             QString::number(sky, 'f', 1))};
    }

    return {};
}

} // namespace kestrove::imaging
