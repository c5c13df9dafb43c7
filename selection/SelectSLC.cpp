#include "core/SurveyCore.h"
#include "selection/SelectionSkeleton.h"
#include "text/NumberText.h"

#include <QStringBuilder>

#include <algorithm>
#include <cmath>

namespace kestrove {

using namespace selection;

bool SurveyCore::selectSLC(float& bestScore, QString& bestTarget)
{
    setStatus(QStringLiteral("Selecting SLC target"));
    bestScore = noScore;
    bool found = false;
    SlewState slew;
    TargetPosition target;
    const bool balancedPolicy = balanced();
    // The balanced policy takes a star only once its interval has passed since its last image (a
    // star not imaged for over half a day is not counted as one interval old), the more overdue the
    // sooner, and never at a negative score.
    const auto scoreBalanced = [&](const QString& targetLine, const TargetConfig& config, double elevation,
                                   float transit) {
        const double minsSinceLast = (julianNow() - config.lastImageJD) / 0.0006944444;
        const double interval = config.interval;
        if (config.interval > 0 && minsSinceLast < interval) {
            if (logging())
                logLine(QLatin1String("  Skipping - not due until ") % integerText(config.interval) %
                        QLatin1String(" minutes after its last image"));
            ++notDueThisPass;
            noteRejected(*this, SurveyKind::SLC, targetLine, Outcome::NotDue);
            return;
        }
        const double overdue = config.interval > 0 ? std::min(minsSinceLast / interval, 3.0) : 1.0;
        float score = static_cast<float>(overdue * config.priority * (elevation / transit));
        score = adjustForPointing(target.ra, target.slewDirection, score, slew);
        score = scoreOrNone(score);
        logScore(*this, score, elevation, slew.slewTime, minsSinceLast);
        if (score < 0) {
            skipNegative(*this, SurveyKind::SLC, targetLine);
            return;
        }
        noteScored(*this, SurveyKind::SLC, targetLine, score);
        if (chooseBest(*this, score, targetLine, bestScore, bestTarget))
            found = true;
    };

    scanTargetsFile(
        *this, programFile(QStringLiteral("SLCTargets.txt")),
        [&](const QString& targetLine, const QString& configLine) {
            TargetConfig config;
            config.lastImageJD = 0;
            config.reshoot = false;
            config.imageCount = 1;
            config.priority = 100;
            config.interval = 60;
            config.exposure = settings.exposureSLC;
            config.binning = settings.cameraBinningSLC;
            config.filter = settings.cameraFilterSLC;
            readTargetConfig(*this, configLine, config);
            if (!readTargetPosition(*this, targetLine, target)) {
                noteRejected(*this, SurveyKind::SLC, targetLine, Outcome::NoPosition);
                return;
            }

            coordTransform = acpUtil->NewCTHereAndNow();
            Outcome rule = Outcome::Chosen;
            bool rejected = !isObservable(*this, *coordTransform, target, rule);
            // Elevation at the meridian; past the zenith it is measured from the other side.
            const float decFromPole = target.dec + 90.0f;
            float transit = static_cast<float>(decFromPole - acpTelescope->SiteLatitude());
            if (transit > 90)
                transit = 180 - transit;
            // A rejected target may not have been placed exactly, and needs no elevation.
            const double elevation = rejected ? 0.0 : coordTransform->Elevation();
            if (elevation < transit * settings.minElevationSLC && !rejected) {
                rule = Outcome::TransitElevation;
                rejected = true;
            }
            // A star that culminates on the horizon gives no elevation ratio to score with.
            if (!std::isfinite(elevation / transit) && !rejected) {
                rule = Outcome::NoPosition;
                rejected = true;
            }
            const TargetLimits* limits = rejected ? nullptr : ownLimits(*this);
            if (limits && !withinOwnLimits(*this, *limits, elevation, rule))
                rejected = true;
            if (rejected) {
                noteRejected(*this, SurveyKind::SLC, targetLine, rule);
                return;
            }

            logTarget(*this, QStringLiteral("SLC"), target);
            if (balancedPolicy) {
                scoreBalanced(targetLine, config, elevation, transit);
                return;
            }
            const double minsSinceLast = minutesSinceLast(*this, config.lastImageJD, config.interval);
            const double interval = config.interval;
            // A cadence of zero minutes means every pass: always due, at the top of the triangle.
            const bool due = config.interval == 0 || minsSinceLast >= interval;
            const double cadence =
                config.interval == 0 ? 1.0 : (interval - std::fabs(interval - minsSinceLast)) / interval;
            float score = static_cast<float>(cadence * config.priority * (elevation / transit));
            if (due)
                score = score * 10.0f;
            score = adjustForPointing(target.ra, target.slewDirection, score, slew);
            score = scoreOrNone(score);
            logScore(*this, score, elevation, slew.slewTime, minsSinceLast);
            noteScored(*this, SurveyKind::SLC, targetLine, score);
            if (chooseBest(*this, score, targetLine, bestScore, bestTarget))
                found = true;
        });
    return found;
}

bool SurveyCore::selectMPF(float&, QString&)
{
    return false;
}

} // namespace kestrove
