#include "imaging/LightcurveFrame.h"

#include <cmath>

namespace kestrove::imaging {

QString positionName(double rightAscension, double declination)
{
    // Whole hundredths of a second of time and tenths of a second of arc, carried before splitting
    // so that 59.999 seconds never shows as 60.
    double ra = std::fmod(rightAscension, 360.0);
    if (ra < 0)
        ra += 360;
    long long centiseconds = std::llround(ra / 15 * 360000);
    centiseconds %= 24LL * 360000;
    const long long decis = std::llround(std::fabs(declination) * 36000);
    return QStringLiteral("J%1%2%3.%4%5%6%7%8.%9")
        .arg(centiseconds / 360000, 2, 10, QLatin1Char('0'))
        .arg(centiseconds / 6000 % 60, 2, 10, QLatin1Char('0'))
        .arg(centiseconds / 100 % 60, 2, 10, QLatin1Char('0'))
        .arg(centiseconds % 100, 2, 10, QLatin1Char('0'))
        .arg(declination < 0 && decis > 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(decis / 36000, 2, 10, QLatin1Char('0'))
        .arg(decis / 600 % 60, 2, 10, QLatin1Char('0'))
        .arg(decis / 10 % 60, 2, 10, QLatin1Char('0'))
        .arg(decis % 10);
}

std::optional<std::pair<double, double>> pixelOf(const Wcs& wcs, double rightAscension, double declination)
{
    double px = 0, py = 0;
    if (!wcs.skyToPixel(rightAscension, declination, px, py))
        return std::nullopt;
    return std::pair{px - 1, py - 1};
}

LightcurveStars chooseStars(const PhotometryFrame& frame, const Wcs& wcs, const CatalogueStar& target,
                            const Apertures& apertures, const ComparisonRules& rules)
{
    LightcurveStars stars;
    stars.target = target;
    double tx = -1e9, ty = -1e9, targetFlux = 0;
    if (const auto at = pixelOf(wcs, target.rightAscension, target.declination)) {
        const StarFlux t = frame.measureCentred(at->first, at->second, apertures);
        tx = t.x;
        ty = t.y;
        if (t.usable())
            targetFlux = t.flux;
    }
    const ComparisonChoice choice = chooseComparisons(frame, tx, ty, targetFlux, apertures, rules);
    const auto named = [&](size_t index) {
        const Source& s = frame.sources()[index];
        CatalogueStar star;
        wcs.pixelToSky(s.x + 1, s.y + 1, star.rightAscension, star.declination);
        star.name = positionName(star.rightAscension, star.declination);
        return star;
    };
    for (size_t index : choice.ensemble)
        stars.comparisons.push_back(named(index));
    if (choice.check)
        stars.check = named(*choice.check);
    return withReferences(stars, measureStars(frame, wcs, stars, apertures));
}

LightcurveFrame measureStars(const PhotometryFrame& frame, const Wcs& wcs, const LightcurveStars& stars,
                             const Apertures& apertures)
{
    const auto measure = [&](const CatalogueStar& star) {
        if (const auto at = pixelOf(wcs, star.rightAscension, star.declination))
            return frame.measureCentred(at->first, at->second, apertures);
        StarFlux nowhere;
        nowhere.flags = OffChip | NoSky;
        return nowhere;
    };
    LightcurveFrame result;
    result.apertures = apertures;
    result.target = measure(stars.target);
    std::vector<ComparisonFlux> ensemble;
    for (const CatalogueStar& c : stars.comparisons) {
        result.comparisons.push_back(measure(c));
        if (c.magnitude)
            ensemble.push_back({result.comparisons.back(), *c.magnitude});
    }
    result.magnitude = differentialMagnitude(result.target, ensemble);
    if (stars.check) {
        result.check = measure(*stars.check);
        result.checkMagnitude = differentialMagnitude(*result.check, ensemble);
    }
    return result;
}

LightcurveStars withReferences(LightcurveStars stars, const LightcurveFrame& frame)
{
    bool missing = false;
    for (const CatalogueStar& c : stars.comparisons)
        missing = missing || !c.magnitude;
    if (!missing)
        return stars;
    // Relative to the ensemble's mean, so that the target's magnitude reads as a difference from it.
    double sum = 0;
    int usable = 0;
    for (size_t i = 0; i < stars.comparisons.size() && i < frame.comparisons.size(); ++i)
        if (frame.comparisons[i].usable()) {
            sum += frame.comparisons[i].magnitude();
            ++usable;
        }
    for (size_t i = 0; i < stars.comparisons.size(); ++i) {
        const bool known = i < frame.comparisons.size() && frame.comparisons[i].usable();
        stars.comparisons[i].magnitude =
            known ? std::optional<double>(frame.comparisons[i].magnitude() - sum / usable) : std::nullopt;
    }
    stars.standard = false;
    return stars;
}

NightFrame nightFrame(const LightcurveFrame& frame)
{
    const auto instrumental = [](const StarFlux& s) -> std::optional<Magnitude> {
        if (!s.usable())
            return std::nullopt;
        return Magnitude{s.magnitude(), s.magnitudeError()};
    };
    NightFrame night;
    night.target = instrumental(frame.target);
    if (frame.check)
        night.check = instrumental(*frame.check);
    for (const StarFlux& c : frame.comparisons)
        night.comparisons.push_back(instrumental(c));
    return night;
}

} // namespace kestrove::imaging
