#include "core/SurveyCore.h"

#include <cmath>

namespace kestrove {

double SurveyCore::Arccos(double x)
{
    // Rounding can carry the cosine of a distance just past ±1; those are 0 and 180 degrees.
    if (x >= 1)
        return 0;
    if (x <= -1)
        return 4 * std::atan(1.0);
    return 2 * std::atan(1.0) - std::atan(x / std::sqrt(1 - x * x));
}

double SurveyCore::SlewDistance(double targetRA, double targetDec, double scopeRA, double scopeDec)
{
    const double pi = 4 * std::atan(1.0);
    const double p1 = (90 - targetDec) * pi / 180;
    const double p2 = (90 - scopeDec) * pi / 180;
    // Only the cosine of the difference is used, so 350 degrees acts as 10.
    const double delta = std::fabs(scopeRA - targetRA) * pi / 180;
    const double cosine = std::sin(p2) * std::sin(p1) * std::cos(delta) + std::cos(p2) * std::cos(p1);
    return Arccos(cosine) * 180 / pi;
}

float SurveyCore::slewSeconds(float targetRA, float targetDec, bool flip)
{
    // A rate of zero or less would make every slew endless; such a mount is charged nothing.
    if (!(settings.slewRate > 0))
        return 0;
    const float targetAngle = targetRA * 15.0f;
    const double scopeRA = acpTelescope->RightAscension();
    const double scopeDec = acpTelescope->Declination();
    const float distance = static_cast<float>(SlewDistance(targetAngle, targetDec, scopeRA * 15, scopeDec));
    float slewTime = static_cast<float>(static_cast<double>(distance) / settings.slewRate +
                                        acpUtil->Prefs().SlewsettleTime());
    if (flip)
        slewTime = slewTime + settings.flipTime;
    // A mount that reports no position (NaN) cannot be charged for a slew.
    return std::isnan(slewTime) ? 0 : slewTime;
}

bool SurveyCore::flipsFor(float targetRA)
{
    return acpTelescope->AlignmentMode() == 2 &&
           acpUtil->IsGEMDestinationWest(targetRA) !=
               acpUtil->IsGEMDestinationWest(acpTelescope->RightAscension());
}

float SurveyCore::adjustForPointing(float targetRA, float targetDec, float score, SlewState& state)
{
    if (acpTelescope->AlignmentMode() == 2) {
        const bool targetWest = acpUtil->IsGEMDestinationWest(targetRA);
        state.flip = targetWest != acpUtil->IsGEMDestinationWest(acpTelescope->RightAscension());
        if (targetWest)
            score = score + 30;
    }
    if (firstPass)
        return score;
    state.slewTime = slewSeconds(targetRA, targetDec, state.flip);
    return score - state.slewTime / 2;
}

} // namespace kestrove
