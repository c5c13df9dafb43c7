#include "core/SurveyCore.h"
#include "settings/ObservatorySettings.h"
#include "sky/DomeGeometry.h"

#include <algorithm>
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

namespace {

// Seconds to slew `distance` degrees and settle, with a flip; 0 for a mount that cannot be charged.
// A dome slower than the mount (`domeSeconds` to turn its slit) holds the frame back as long.
float slewAndSettle(double distance, bool flip, const SurveySettings& settings, AcpPrefs& prefs,
                    double domeSeconds)
{
    const double mountSeconds = static_cast<double>(static_cast<float>(distance)) / settings.slewRate;
    float slewTime = static_cast<float>(std::max(mountSeconds, domeSeconds) + prefs.SlewsettleTime());
    if (flip)
        slewTime = slewTime + settings.flipTime;
    // A mount that reports no position (NaN) cannot be charged for a slew.
    return std::isnan(slewTime) ? 0 : slewTime;
}

} // namespace

double SurveyCore::domeSeconds(const SlewDirection& target, double scopeRA, double scopeDec)
{
    const ObservatorySettings* observatory = m_host.observatorySettings();
    if (!observatory || observatory->indi.dome.isEmpty() || std::isnan(scopeRA) || std::isnan(scopeDec))
        return 0;
    const DomeSettings& dome = observatory->dome;
    const double latitude = acpTelescope->SiteLatitude();
    const double lst = acpTelescope->SiderealTime();
    const double pi = 4 * std::atan(1.0);
    // The dome follows the mount, so its slit stands where the mount points now.
    const auto slit = [&](double ra, double dec) {
        const double hourAngle = std::remainder(lst - ra, 24.0);
        return slitAzimuth(dome.layout(), latitude, hourAngle, dec, pierSideFor(hourAngle));
    };
    const double targetRA = std::atan2(target[1], target[0]) * 12 / pi;
    const double targetDec = 90 - std::acos(std::clamp(target[2], -1.0, 1.0)) * 180 / pi;
    return std::abs(azimuthTurn(slit(scopeRA, scopeDec), slit(targetRA, targetDec))) / dome.rotationRate;
}

float SurveyCore::slewSeconds(float targetRA, float targetDec, bool flip)
{
    // A rate of zero or less would make every slew endless; such a mount is charged nothing.
    if (!(settings.slewRate > 0))
        return 0;
    const float targetAngle = targetRA * 15.0f;
    const double scopeRA = acpTelescope->RightAscension();
    const double scopeDec = acpTelescope->Declination();
    return slewAndSettle(SlewDistance(targetAngle, targetDec, scopeRA * 15, scopeDec), flip, settings,
                         acpUtil->Prefs(),
                         domeSeconds(targetSlewDirection(targetRA, targetDec), scopeRA, scopeDec));
}

float SurveyCore::slewSeconds(const SlewDirection& target, bool flip, SlewState& state)
{
    if (!(settings.slewRate > 0))
        return 0;
    const double scopeRA = acpTelescope->RightAscension();
    const double scopeDec = acpTelescope->Declination();
    if (scopeRA != state.scopeRA || scopeDec != state.scopeDec) {
        state.scope = slewDirection(scopeRA * 15, scopeDec);
        state.scopeRA = scopeRA;
        state.scopeDec = scopeDec;
    }
    return slewAndSettle(slewDistance(target, state.scope), flip, settings, acpUtil->Prefs(),
                         domeSeconds(target, scopeRA, scopeDec));
}

SlewDirection SurveyCore::slewDirection(double ra, double dec)
{
    const double pi = 4 * std::atan(1.0);
    const double polar = (90 - dec) * pi / 180;
    const double angle = ra * pi / 180;
    return {std::sin(polar) * std::cos(angle), std::sin(polar) * std::sin(angle), std::cos(polar)};
}

SlewDirection SurveyCore::targetSlewDirection(float targetRA, float targetDec)
{
    return slewDirection(targetRA * 15.0f, targetDec);
}

double SurveyCore::slewDistance(const SlewDirection& target, const SlewDirection& scope)
{
    // Half the chord is the sine of half the distance: exact for a target where the mount points,
    // where the cosine of the distance is not.
    const double dx = target[0] - scope[0], dy = target[1] - scope[1], dz = target[2] - scope[2];
    const double halfChord = std::sqrt(dx * dx + dy * dy + dz * dz) / 2;
    return 2 * std::asin(std::min(halfChord, 1.0)) * 180 / (4 * std::atan(1.0));
}

bool SurveyCore::flipsFor(float targetRA)
{
    return acpTelescope->AlignmentMode() == 2 &&
           acpUtil->IsGEMDestinationWest(targetRA) !=
               acpUtil->IsGEMDestinationWest(acpTelescope->RightAscension());
}

float SurveyCore::adjustForPointing(float targetRA, float targetDec, float score, SlewState& state)
{
    return adjustForPointing(targetRA, targetSlewDirection(targetRA, targetDec), score, state);
}

float SurveyCore::adjustForPointing(float targetRA, const SlewDirection& target, float score,
                                    SlewState& state)
{
    if (acpTelescope->AlignmentMode() == 2) {
        const bool targetWest = acpUtil->IsGEMDestinationWest(targetRA);
        state.flip = targetWest != acpUtil->IsGEMDestinationWest(acpTelescope->RightAscension());
        if (targetWest)
            score = score + 30;
    }
    if (firstPass)
        return score;
    state.slewTime = slewSeconds(target, state.flip, state);
    return score - state.slewTime / 2;
}

} // namespace kestrove
