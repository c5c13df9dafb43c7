#include "core/SurveyCore.h"
#include "selection/SelectionSkeleton.h"
#include "text/NumberText.h"

#include <QStringBuilder>

namespace kestrove {

using namespace selection;

bool SurveyCore::selectMPS(float& bestScore, QString& bestTarget)
{
    bestScore = noScore;
    bool found = false;
    SlewState slew;
    TargetPosition target;
    const bool balancedPolicy = balanced();

    const int16_t fileCount = createMPSFiles();
    setStatus(QStringLiteral("Selecting MPS target"));

    const auto evaluate = [&](const QString& targetLine, const QString& configLine) {
        TargetConfig config;
        config.lastImageJD = 0;
        config.reshoot = false;
        config.imageCount = 0;
        config.priority = 100;
        config.interval = settings.intervalMPS;
        config.exposure = settings.exposureMPS;
        config.binning = settings.cameraBinningMPS;
        config.filter = settings.cameraFilterMPS;
        readTargetConfig(*this, configLine, config);
        if (!readTargetPosition(*this, targetLine, target)) {
            noteRejected(*this, SurveyKind::MPS, targetLine, Outcome::NoPosition);
            return;
        }

        bool rejected = false;
        Outcome rule = Outcome::Chosen;
        const auto reject = [&](Outcome why) {
            if (!rejected)
                rule = why;
            rejected = true;
        };
        Outcome whyNot = Outcome::Chosen;
        // A new set must still be observable when its last image is taken, plus 5 minutes.
        if (config.imageCount == 0) {
            const double latitude = acpTelescope->SiteLatitude();
            const double setEnd = acpTelescope->SiderealTime() +
                                  static_cast<double>((settings.imagesMPS - 1) * config.interval) / 60 +
                                  5.0 / 60;
            coordTransform = acpUtil->NewCT(latitude, setEnd);
            if (!isObservable(*this, *coordTransform, target, whyNot, false))
                reject(whyNot);
        }
        coordTransform = acpUtil->NewCTHereAndNow();
        if (!isObservable(*this, *coordTransform, target, whyNot))
            reject(whyNot);
        if (config.imageCount >= settings.imagesMPS)
            reject(Outcome::SetComplete);
        const TargetLimits* limits = rejected ? nullptr : ownLimits(*this);
        if (limits && !withinOwnLimits(*this, *limits, coordTransform->Elevation(), whyNot))
            reject(whyNot);
        if (rejected) {
            noteRejected(*this, SurveyKind::MPS, targetLine, rule);
            return;
        }

        logTarget(*this, QStringLiteral("MPS"), target);
        const double interval = config.interval;
        const double minsSinceLast = minutesSinceLast(*this, config.lastImageJD, config.interval);
        const double elevation = coordTransform->Elevation();
        float score = static_cast<float>(elevation) * 100.0f / 90.0f;
        // A set under way is strongly preferred once its next image is due.
        if (minsSinceLast >= interval && config.imageCount == 1)
            score = score * 3.0f;
        if (minsSinceLast >= interval && config.imageCount == 2)
            score = score * 1.5f;
        if (julianNow() - config.lastImageJD > 1.5)
            score = static_cast<float>(score * 1.1);
        score = adjustForPointing(target.ra, target.slewDirection, score, slew);
        // The balanced policy does not score a field before its set's next image is due.
        if (balancedPolicy && minsSinceLast < interval) {
            if (logging())
                logLine(QLatin1String("  Skipping - not due until ") % integerText(config.interval) %
                        QLatin1String(" minutes after its last image"));
            ++notDueThisPass;
            noteRejected(*this, SurveyKind::MPS, targetLine, Outcome::NotDue);
            return;
        }
        if (minsSinceLast < interval)
            score = noScore;
        score = scoreOrNone(score);
        logScore(*this, score, elevation, slew.slewTime, minsSinceLast);
        if (balancedPolicy && score < 0) {
            skipNegative(*this, SurveyKind::MPS, targetLine);
            return;
        }
        if (minsSinceLast < interval)
            noteRejected(*this, SurveyKind::MPS, targetLine, Outcome::NotDue);
        else
            noteScored(*this, SurveyKind::MPS, targetLine, score);
        if (chooseBest(*this, score, targetLine, bestScore, bestTarget))
            found = true;
    };

    // After a stop the remaining files are still opened and closed, but none of their lines is read.
    for (int k = 1; k <= fileCount; ++k)
        scanTargetsFile(*this,
                        programFile(QStringLiteral("MPSfov") + QString::number(k) + QStringLiteral(".txt")),
                        evaluate);
    return found;
}

} // namespace kestrove
