#include "selection/SelectionSkeleton.h"

#include "config/NumberText.h"

#include <QStringBuilder>

#include <cmath>

namespace kestrove::selection {

bool readTargetPosition(SurveyCore& core, const QString& targetLine, TargetPosition& position)
{
    if (!core.parseTarget(targetLine, position.name, position.ra, position.dec))
        return false;
    return std::isfinite(position.ra) && std::isfinite(position.dec);
}

bool isObservable(SurveyCore& core, CoordTransform& transform, const TargetPosition& target, Outcome& rule)
{
    transform.setRightAscension(target.ra);
    transform.setDeclination(target.dec);
    const double elevation = transform.Elevation();
    const double azimuth = transform.Azimuth();
    if (!std::isfinite(elevation) || !std::isfinite(azimuth)) {
        rule = Outcome::NoPosition;
        return false;
    }
    AcpPrefs& prefs = core.acpUtil->Prefs();
    const SurveySettings& settings = core.settings;

    bool rejected = false;
    const auto reject = [&](Outcome why) {
        if (!rejected)
            rule = why;
        rejected = true;
    };
    // Mount limit: an alt-azimuth mount by elevation, an equatorial one by declination.
    if (core.acpTelescope->AlignmentMode() == 0) {
        if (elevation > prefs.TiltUpLimit())
            reject(Outcome::MountLimit);
    } else if (target.dec > prefs.TiltUpLimit()) {
        reject(Outcome::MountLimit);
    }
    // Observation window; the bounds lie inside and the azimuth range does not wrap.
    if (elevation > settings.maxElevation || azimuth < settings.minAzimuth || azimuth > settings.maxAzimuth)
        reject(Outcome::ObservationWindow);
    // Horizon limits.
    if (elevation <= prefs.MinimumElevation() + 1)
        reject(Outcome::MinimumElevation);
    else if (elevation <= prefs.GetHorizon(azimuth) + 5)
        reject(Outcome::Horizon);
    return !rejected;
}

// The log lines are built with one allocation each: a long catalogue writes them by the hundred thousand.
void logTarget(SurveyCore& core, const QString& kind, const TargetPosition& target)
{
    core.logLine(kind % QLatin1String(" Target: ") % target.name % QLatin1String(" RA=") %
                 singleText(target.ra) % QLatin1String(", DEC=") % singleText(target.dec));
}

void logScore(SurveyCore& core, float score, double elevation, float slewTime)
{
    core.logLine(QLatin1String("  Score=") % singleText(score) % QLatin1String(" Elev=") %
                 doubleText(elevation) % QLatin1String(" slewTime=") % singleText(slewTime));
}

void logScore(SurveyCore& core, float score, double elevation, float slewTime, double minsSinceLast)
{
    core.logLine(QLatin1String("  Score=") % singleText(score) % QLatin1String(" Elev=") %
                 doubleText(elevation) % QLatin1String(" slewTime=") % singleText(slewTime) %
                 QLatin1String(" minsSinceLast=") % doubleText(minsSinceLast));
}

bool chooseBest(SurveyCore& core, float score, const QString& targetLine, float& bestScore,
                QString& bestTarget)
{
    if (!(score > bestScore))
        return false;
    bestScore = score;
    bestTarget = targetLine;
    core.logLine(QLatin1String("  >>> New bestscore = ") % singleText(bestScore));
    return true;
}

float scoreOrNone(float score)
{
    return std::isnan(score) ? noScore : score;
}

double minutesSinceLast(SurveyCore& core, double lastImageJD, int16_t interval)
{
    const double sinceLast = core.acpUtil->Date_Julian(core.now()) - lastImageJD;
    if (sinceLast > 0.5)
        return interval;
    return sinceLast / 0.0006944444;
}

} // namespace kestrove::selection
