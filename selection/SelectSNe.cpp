#include "core/SurveyCore.h"
#include "selection/SelectionSkeleton.h"

namespace kestrove {

using namespace selection;

bool SurveyCore::selectSNe(float& bestScore, QString& bestTarget)
{
    setStatus(QStringLiteral("Selecting SNe target"));
    bestScore = noScore;
    bool found = false;
    SlewState slew;
    TargetPosition target;
    const bool balancedPolicy = balanced();
    // The balanced policy prefers a target near the highest it stands for the rest of the night.
    const NightAhead ahead = balancedPolicy ? nightAhead(*this) : NightAhead();

    scanTargetsFile(*this, programFile(QStringLiteral("SNeTargets.txt")),
                    [&](const QString& targetLine, const QString& configLine) {
                        TargetConfig config;
                        config.lastImageJD = 0;
                        config.reshoot = false;
                        config.imageCount = 0;
                        config.priority = 100;
                        config.interval = 0;
                        config.exposure = settings.exposureSNe;
                        config.binning = settings.cameraBinningSNe;
                        config.filter = settings.cameraFilterSNe;
                        readTargetConfig(*this, configLine, config);
                        if (!readTargetPosition(*this, targetLine, target)) {
                            noteRejected(*this, SurveyKind::SNe, targetLine, Outcome::NoPosition);
                            return;
                        }

                        // Each target is imaged at most once in 12 hours.
                        if (!(julianNow() - config.lastImageJD > 0.5)) {
                            logTarget(*this, QStringLiteral("SNe"), target);
                            logLine(QStringLiteral("  Skipping - imaged within last 12 hours"));
                            noteRejected(*this, SurveyKind::SNe, targetLine, Outcome::ImagedWithin12h);
                            return;
                        }

                        coordTransform = acpUtil->NewCTHereAndNow();
                        Outcome rule = Outcome::Chosen;
                        if (!isObservable(*this, *coordTransform, target, rule)) {
                            noteRejected(*this, SurveyKind::SNe, targetLine, rule);
                            return;
                        }
                        const double elevation = coordTransform->Elevation();
                        const TargetLimits* limits = ownLimits(*this);
                        if (limits && !withinOwnLimits(*this, *limits, elevation, rule)) {
                            noteRejected(*this, SurveyKind::SNe, targetLine, rule);
                            return;
                        }
                        logTarget(*this, QStringLiteral("SNe"), target);
                        float score = static_cast<float>(elevation) * 100.0f / 90.0f;
                        if (balancedPolicy) {
                            const double near = nearHighest(ahead, target);
                            if (near < nearHighestEnough) {
                                logLine(QStringLiteral("  Skipping - not yet near its highest tonight"));
                                ++notDueThisPass;
                                noteRejected(*this, SurveyKind::SNe, targetLine, Outcome::NotDue);
                                return;
                            }
                            // Of those near their highest, the nearer the better.
                            score = static_cast<float>(score * near * near);
                        }
                        score = adjustForPointing(target.ra, target.slewDirection, score, slew);
                        // After the pointing adjustment, so that the bonus and the penalty are scaled as
                        // well.
                        if (config.reshoot)
                            score = score * 1.5f;
                        score = scoreOrNone(score);
                        logScore(*this, score, elevation, slew.slewTime);
                        if (balancedPolicy && score < 0) {
                            skipNegative(*this, SurveyKind::SNe, targetLine);
                            return;
                        }
                        noteScored(*this, SurveyKind::SNe, targetLine, score);
                        if (chooseBest(*this, score, targetLine, bestScore, bestTarget))
                            found = true;
                    });
    return found;
}

} // namespace kestrove
