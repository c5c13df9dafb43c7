#include "imaging/Ensemble.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace kestrove::imaging {

ComparisonChoice chooseComparisons(const PhotometryFrame& frame, double targetX, double targetY,
                                   double targetFlux, const Apertures& apertures,
                                   const ComparisonRules& rules)
{
    const std::vector<Source>& sources = frame.sources();
    const double margin = apertures.skyOuter + 1;
    const double reach = rules.isolation * apertures.skyInner;
    struct Candidate
    {
        size_t index;
        double key;
    };
    std::vector<Candidate> candidates;
    for (size_t i = 0; i < sources.size(); ++i) {
        const Source& s = sources[i];
        if (s.blended || s.truncated || s.saturated || !(s.flux > 0))
            continue;
        if (s.x < margin || s.y < margin || s.x > frame.width() - 1 - margin ||
            s.y > frame.height() - 1 - margin)
            continue;
        // Not the target, nor a star whose light reaches the target's ring.
        if (std::hypot(s.x - targetX, s.y - targetY) <= apertures.skyOuter + apertures.radius)
            continue;
        // A neighbour a hundredth as bright moves a star's sum by under a hundredth of a magnitude
        // even when all of it falls in the aperture.
        const bool crowded = std::any_of(sources.begin(), sources.end(), [&](const Source& o) {
            return &o != &s && o.flux >= s.flux / 100 && std::hypot(o.x - s.x, o.y - s.y) <= reach;
        });
        if (crowded)
            continue;
        const StarFlux flux = frame.measure(s.x, s.y, apertures);
        if (!flux.usable())
            continue;
        if (targetFlux > 0) {
            const double difference = std::fabs(2.5 * std::log10(flux.flux / targetFlux));
            if (difference <= rules.magnitudeRange)
                candidates.push_back({i, difference});
        } else {
            candidates.push_back({i, -flux.flux});
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.key < b.key; });
    ComparisonChoice choice;
    for (const Candidate& c : candidates) {
        if (static_cast<int>(choice.ensemble.size()) < rules.count)
            choice.ensemble.push_back(c.index);
        else if (!choice.check)
            choice.check = c.index;
    }
    // Two stars make an ensemble that can tell which of them varies only with a third; short of
    // that, the check star joins it.
    if (choice.check && choice.ensemble.size() < 3) {
        choice.ensemble.push_back(*choice.check);
        choice.check.reset();
    }
    return choice;
}

std::optional<Magnitude> differentialMagnitude(const StarFlux& star,
                                               const std::vector<ComparisonFlux>& comparisons)
{
    if (!star.usable())
        return std::nullopt;
    double weights = 0, sum = 0;
    for (const ComparisonFlux& c : comparisons) {
        if (!c.flux.usable())
            continue;
        const double error = c.flux.magnitudeError();
        const double w = 1 / (error * error);
        sum += w * (c.flux.magnitude() - c.reference);
        weights += w;
    }
    if (!(weights > 0) || !std::isfinite(weights))
        return std::nullopt;
    const double zeroPoint = sum / weights;
    const double error = star.magnitudeError();
    return Magnitude{star.magnitude() - zeroPoint, std::sqrt(error * error + 1 / weights)};
}

namespace {

struct ZeroPoint
{
    double value = 0;
    double variance = 0;
    bool valid = false;
};

// The zero point of frame `f` from the comparisons `use` allows, `skip` left out.
ZeroPoint zeroPoint(const NightFrame& frame, const std::vector<double>& references,
                    const std::vector<bool>& use, size_t skip)
{
    double weights = 0, sum = 0;
    for (size_t i = 0; i < frame.comparisons.size(); ++i) {
        if (!use[i] || i == skip || !frame.comparisons[i])
            continue;
        const Magnitude& m = *frame.comparisons[i];
        const double w = 1 / (m.error * m.error);
        sum += w * (m.value - references[i]);
        weights += w;
    }
    if (!(weights > 0) || !std::isfinite(weights))
        return {};
    return {sum / weights, 1 / weights, true};
}

double medianOf(std::vector<double> values)
{
    if (values.empty())
        return 0;
    const size_t half = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<long>(half), values.end());
    const double upper = values[half];
    if (values.size() % 2)
        return upper;
    return (*std::max_element(values.begin(), values.begin() + static_cast<long>(half)) + upper) / 2;
}

std::optional<Magnitude> against(const std::optional<Magnitude>& star, const ZeroPoint& zero)
{
    if (!star || !zero.valid)
        return std::nullopt;
    return Magnitude{star->value - zero.value, std::sqrt(star->error * star->error + zero.variance)};
}

} // namespace

NightLightcurve solveNight(const std::vector<NightFrame>& frames,
                           const std::vector<std::optional<double>>& catalogue, const NightRules& rules)
{
    size_t count = 0;
    for (const NightFrame& f : frames)
        count = std::max(count, f.comparisons.size());
    const bool standard = catalogue.size() >= count && count > 0 &&
                          std::all_of(catalogue.begin(), catalogue.begin() + static_cast<long>(count),
                                      [](const std::optional<double>& m) { return m.has_value(); });
    std::vector<NightFrame> night = frames;
    for (NightFrame& f : night)
        f.comparisons.resize(count);

    NightLightcurve result;
    result.kept.assign(count, true);
    result.references.assign(count, 0);
    result.scatter.assign(count, 0);
    result.expected.assign(count, 0);
    std::vector<double>& references = result.references;
    const size_t none = count;
    for (;;) {
        // Alternately the frames' zero points from the stars' magnitudes and the stars' magnitudes
        // from the zero points; the mean of the kept stars' magnitudes held at zero unless a
        // catalogue sets them.
        if (standard) {
            for (size_t i = 0; i < count; ++i)
                references[i] = *catalogue[i];
        } else {
            std::fill(references.begin(), references.end(), 0.0);
        }
        for (int iteration = 0; iteration < 50 && !standard; ++iteration) {
            std::vector<ZeroPoint> zero;
            for (const NightFrame& f : night)
                zero.push_back(zeroPoint(f, references, result.kept, none));
            double change = 0, mean = 0;
            int kept = 0;
            for (size_t i = 0; i < count; ++i) {
                double weights = 0, sum = 0;
                for (size_t f = 0; f < night.size(); ++f) {
                    const auto& m = night[f].comparisons[i];
                    if (!m || !zero[f].valid)
                        continue;
                    const double w = 1 / (m->error * m->error);
                    sum += w * (m->value - zero[f].value);
                    weights += w;
                }
                const double reference = weights > 0 ? sum / weights : 0;
                change = std::max(change, std::fabs(reference - references[i]));
                references[i] = reference;
                if (result.kept[i]) {
                    mean += reference;
                    ++kept;
                }
            }
            if (kept > 0)
                for (double& r : references)
                    r -= mean / kept;
            if (change < 1e-7)
                break;
        }

        // Each comparison against the others: its scatter, and what its errors and theirs allow.
        for (size_t i = 0; i < count; ++i) {
            std::vector<double> residuals;
            double variance = 0;
            for (const NightFrame& f : night) {
                const auto m = against(f.comparisons[i], zeroPoint(f, references, result.kept, i));
                if (!m)
                    continue;
                residuals.push_back(m->value - references[i]);
                variance += m->error * m->error;
            }
            if (residuals.size() < 3) {
                result.scatter[i] = result.expected[i] = 0;
                continue;
            }
            const double n = static_cast<double>(residuals.size());
            const double mean = std::accumulate(residuals.begin(), residuals.end(), 0.0) / n;
            double sum = 0;
            for (double r : residuals)
                sum += (r - mean) * (r - mean);
            result.scatter[i] = std::sqrt(sum / (n - 1));
            result.expected[i] = std::sqrt(variance / n);
        }
        std::vector<double> keptScatter;
        for (size_t i = 0; i < count; ++i)
            if (result.kept[i] && result.expected[i] > 0)
                keptScatter.push_back(result.scatter[i]);
        const double median = medianOf(keptScatter);
        for (double& s : keptScatter)
            s = std::fabs(s - median);
        const double limit = median + rules.madFactor * 1.4826 * medianOf(keptScatter);
        size_t worst = none;
        double worstScatter = 0;
        for (size_t i = 0; i < count; ++i) {
            const double s = result.scatter[i];
            if (result.kept[i] && result.expected[i] > 0 && s > limit && s > rules.scatterFloor &&
                s > rules.scatterFactor * result.expected[i] && s > worstScatter) {
                worstScatter = s;
                worst = i;
            }
        }
        const auto kept = std::count(result.kept.begin(), result.kept.end(), true);
        if (worst == none || kept <= rules.minimumComparisons)
            break;
        result.kept[worst] = false;
    }

    for (const NightFrame& f : night) {
        const ZeroPoint zero = zeroPoint(f, references, result.kept, none);
        result.target.push_back(against(f.target, zero));
        result.check.push_back(against(f.check, zero));
    }
    return result;
}

} // namespace kestrove::imaging
