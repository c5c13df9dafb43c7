#include "selection/SelectionSkeleton.h"

#include "sky/Astronomy.h"
#include "sky/Clock.h"
#include "text/NumberText.h"

#include <QStringBuilder>

#include <algorithm>
#include <cmath>

namespace kestrove::selection {

void readTargetConfig(SurveyCore& core, const QString& configLine, TargetConfig& config)
{
    ParsedEntry* cached = core.parsedEntry;
    const LineKey key = cached ? LineKey::of(configLine) : LineKey();
    if (cached && cached->configRead && cached->configLine == key && cached->presets == config) {
        config = cached->config;
        return;
    }
    const TargetConfig presets = config;
    // Outside a scan the limits of the entry last read are kept by the core.
    TargetLimits& limits = cached ? cached->limits : core.entryLimits;
    limits = TargetLimits();
    // A line with a problem is parsed again at every pass, so that its message is shown each time.
    const bool clean = core.parseTargetConfig(configLine, config, limits);
    if (cached) {
        cached->configRead = clean;
        cached->configLine = key;
        cached->presets = presets;
        cached->config = config;
        cached->hasLimits = limits.any();
    }
}

bool readTargetPosition(SurveyCore& core, const QString& targetLine, TargetPosition& position)
{
    // The scan has already told this line from the one the entry was read from.
    ParsedEntry* cached = core.parsedEntry;
    if (cached && cached->positionRead) {
        position.kept = &cached->name;
        position.ra = cached->ra;
        position.dec = cached->dec;
        position.place = cached->place;
        position.slewDirection = cached->slewDirection;
        return true;
    }
    position.kept = nullptr;
    if (!core.parseTarget(targetLine, position.parsedName, position.ra, position.dec))
        return false;
    if (!std::isfinite(position.ra) || !std::isfinite(position.dec))
        return false;
    position.place = CataloguePlace::of(position.ra, position.dec);
    position.slewDirection = SurveyCore::targetSlewDirection(position.ra, position.dec);
    if (cached) {
        cached->positionRead = true;
        cached->name = position.parsedName;
        cached->ra = position.ra;
        cached->dec = position.dec;
        cached->place = position.place;
        cached->slewDirection = position.slewDirection;
    }
    return true;
}

namespace {

// Angular distance between two places given as elevation and azimuth, degrees.
double horizontalSeparation(double elevation1, double azimuth1, double elevation2, double azimuth2)
{
    constexpr double toRadians = 3.14159265358979323846 / 180;
    const double e1 = elevation1 * toRadians, e2 = elevation2 * toRadians;
    const double cosine = std::sin(e1) * std::sin(e2) +
                          std::cos(e1) * std::cos(e2) * std::cos((azimuth1 - azimuth2) * toRadians);
    return std::acos(std::clamp(cosine, -1.0, 1.0)) / toRadians;
}

} // namespace

bool isObservable(SurveyCore& core, CoordTransform& transform, const TargetPosition& target, Outcome& rule,
                  bool avoidMoon)
{
    transform.setPlace(target.place);
    AcpPrefs& prefs = core.acpUtil->Prefs();
    const SurveySettings& settings = core.settings;
    const bool altAzimuth = core.acpTelescope->AlignmentMode() == 0;
    const double tiltUp = prefs.TiltUpLimit();
    const double lowest = prefs.MinimumElevation() + 1;
    // At any time most of a catalogue stands below the lowest elevation. When no rule before that one
    // can reject such a target, it is not placed exactly: a dot product tells.
    const bool lowestDecides = settings.minAzimuth <= 0 && settings.maxAzimuth >= 360 &&
                               settings.maxElevation >= lowest && (!altAzimuth || tiltUp >= lowest);
    if (lowestDecides && transform.surelyAtOrBelow(lowest)) {
        rule = !altAzimuth && target.dec > tiltUp ? Outcome::MountLimit : Outcome::MinimumElevation;
        return false;
    }
    const double elevation = transform.Elevation();
    if (!std::isfinite(elevation)) {
        rule = Outcome::NoPosition;
        return false;
    }
    // The azimuth is worked out only for a rule that reads it, where the transform allows.
    const bool windowReadsAzimuth = !(settings.minAzimuth <= 0 && settings.maxAzimuth >= 360);
    const bool horizonReadsAzimuth = elevation > lowest && !(elevation > prefs.highestHorizon() + 5);
    const std::optional<double> moonLimit = avoidMoon ? prefs.moonSeparation() : std::nullopt;
    double moonElevation = 0, moonAzimuth = 0;
    const bool moonUp = moonLimit && core.acpUtil->moonPlace(moonElevation, moonAzimuth) && moonElevation > 0;
    double azimuth = 0;
    if (windowReadsAzimuth || horizonReadsAzimuth || moonUp || !transform.azimuthWithEveryElevation()) {
        azimuth = transform.Azimuth();
        if (!std::isfinite(azimuth)) {
            rule = Outcome::NoPosition;
            return false;
        }
    }

    bool rejected = false;
    const auto reject = [&](Outcome why) {
        if (!rejected)
            rule = why;
        rejected = true;
    };
    // Mount limit: an alt-azimuth mount by elevation, an equatorial one by declination.
    if (altAzimuth ? elevation > tiltUp : target.dec > tiltUp)
        reject(Outcome::MountLimit);
    // Observation window; the bounds lie inside and the azimuth range does not wrap.
    if (elevation > settings.maxElevation ||
        (windowReadsAzimuth && (azimuth < settings.minAzimuth || azimuth > settings.maxAzimuth)))
        reject(Outcome::ObservationWindow);
    // Horizon limits.
    if (elevation <= lowest)
        reject(Outcome::MinimumElevation);
    else if (horizonReadsAzimuth && elevation <= prefs.GetHorizon(azimuth) + 5)
        reject(Outcome::Horizon);
    // Moon avoidance, when the host sets a limit: only a Moon above the horizon brightens the sky.
    if (moonUp) {
        const double separation = horizontalSeparation(elevation, azimuth, moonElevation, moonAzimuth);
        if (separation < *moonLimit) {
            if (!rejected && core.logging())
                core.logLine(QLatin1String("  Skipping ") % target.name() % QLatin1String(" - ") %
                             QString::number(separation, 'f', 1) % QLatin1String(" deg from the Moon"));
            reject(Outcome::Moon);
        }
    }
    return !rejected;
}

bool withinOwnLimits(SurveyCore& core, const TargetLimits& limits, double elevation, Outcome& rule)
{
    if (elevation < limits.minAltitude) {
        rule = Outcome::BelowMinAltitude;
        return false;
    }
    if (limits.maxAirmass != TargetLimits::noMaxAirmass) {
        const std::optional<double> airmass = airmassAt(elevation);
        if (!airmass || *airmass > limits.maxAirmass) {
            rule = Outcome::AboveMaxAirmass;
            return false;
        }
    }
    if (limits.windowStart >= 0 && limits.windowEnd >= 0) {
        const QTime time = core.now().time();
        const int minute = time.hour() * 60 + time.minute();
        const int start = limits.windowStart;
        const int end = limits.windowEnd;
        const bool inside = start < end ? minute >= start && minute < end : minute >= start || minute < end;
        if (!inside) {
            rule = Outcome::OutsideWindow;
            return false;
        }
    }
    return true;
}

NightAhead nightAhead(SurveyCore& core)
{
    NightAhead ahead;
    ahead.latitude = core.acpTelescope->SiteLatitude();
    ahead.siderealTime = core.acpTelescope->SiderealTime();
    if (core.acpUtil->sunLimit()) {
        // No night lasts 18 hours where the Sun sets at all.
        const QDateTime now = core.host().clock().utcNow();
        const std::optional<QDateTime> dawn = core.acpUtil->sunAboveLimitBetween(now, now.addSecs(18 * 3600));
        if (dawn)
            ahead.hoursLeft = std::max(0.0, static_cast<double>(now.msecsTo(*dawn)) / 3600000.0);
    }
    return ahead;
}

double elevationAtHourAngle(double latitude, double declination, double hourAngle)
{
    constexpr double toRadians = 3.14159265358979323846 / 180;
    const double phi = latitude * toRadians;
    const double delta = declination * toRadians;
    const double sine = std::sin(phi) * std::sin(delta) +
                        std::cos(phi) * std::cos(delta) * std::cos(hourAngle * 15 * toRadians);
    return std::asin(std::clamp(sine, -1.0, 1.0)) / toRadians;
}

double highestElevationAhead(double latitude, double declination, double hourAngle,
                             std::optional<double> hoursLeft)
{
    // Sidereal hours pass 1.0027 times as fast as solar ones.
    constexpr double siderealPerSolar = 1.0027379;
    double h = std::fmod(hourAngle, 24.0);
    if (h > 12)
        h -= 24;
    else if (h <= -12)
        h += 24;
    const double now = elevationAtHourAngle(latitude, declination, h);
    // Past the meridian it only sinks until its lower culmination, beyond any night.
    if (h >= 0)
        return now;
    if (!hoursLeft || -h <= *hoursLeft * siderealPerSolar)
        return 90 - std::fabs(latitude - declination);
    return std::max(now, elevationAtHourAngle(latitude, declination, h + *hoursLeft * siderealPerSolar));
}

double nearHighest(const NightAhead& ahead, const TargetPosition& target)
{
    const double hourAngle = ahead.siderealTime - target.ra;
    const double highest = highestElevationAhead(ahead.latitude, target.dec, hourAngle, ahead.hoursLeft);
    const double now = elevationAtHourAngle(ahead.latitude, target.dec, hourAngle);
    if (!(highest > 0))
        return 1;
    return std::clamp(now / highest, 0.0, 1.0);
}

void skipNegative(SurveyCore& core, SurveyKind kind, const QString& targetLine)
{
    if (core.logging())
        core.logLine(QStringLiteral("  Skipping - a negative score is never taken"));
    ++core.negativeThisPass;
    noteRejected(core, kind, targetLine, Outcome::NegativeScore);
}

// The log lines are built with one allocation each: a long catalogue writes them by the hundred thousand.
void logTarget(SurveyCore& core, const QString& kind, const TargetPosition& target)
{
    if (!core.logging())
        return;
    core.logLine(kind % QLatin1String(" Target: ") % target.name() % QLatin1String(" RA=") %
                 singleChars(target.ra).view() % QLatin1String(", DEC=") % singleChars(target.dec).view());
}

void logScore(SurveyCore& core, float score, double elevation, float slewTime)
{
    if (!core.logging())
        return;
    core.logLine(QLatin1String("  Score=") % singleChars(score).view() % QLatin1String(" Elev=") %
                 doubleChars(elevation).view() % QLatin1String(" slewTime=") % singleChars(slewTime).view());
}

void logScore(SurveyCore& core, float score, double elevation, float slewTime, double minsSinceLast)
{
    if (!core.logging())
        return;
    core.logLine(QLatin1String("  Score=") % singleChars(score).view() % QLatin1String(" Elev=") %
                 doubleChars(elevation).view() % QLatin1String(" slewTime=") % singleChars(slewTime).view() %
                 QLatin1String(" minsSinceLast=") % doubleChars(minsSinceLast).view());
}

bool chooseBest(SurveyCore& core, float score, const QString& targetLine, float& bestScore,
                QString& bestTarget)
{
    if (!(score > bestScore))
        return false;
    bestScore = score;
    bestTarget = targetLine;
    if (core.logging())
        core.logLine(QLatin1String("  >>> New bestscore = ") % singleChars(bestScore).view());
    return true;
}

float scoreOrNone(float score)
{
    return std::isnan(score) ? noScore : score;
}

double minutesSinceLast(SurveyCore& core, double lastImageJD, int16_t interval)
{
    const double sinceLast = core.julianNow() - lastImageJD;
    if (sinceLast > 0.5)
        return interval;
    return sinceLast / 0.0006944444;
}

} // namespace kestrove::selection
