#pragma once

#include "core/SurveyView.h"

#include <QList>
#include <QPair>
#include <QString>
#include <array>
#include <cstddef>
#include <vector>

namespace kestrove {

// Arrays by survey kind are indexed by the kind's code, 1 to 4.
inline constexpr int kindSlots = 5;

inline int slotOf(SurveyKind kind)
{
    return static_cast<int>(kind);
}

// Each kind's share of the night by code, relative to the others; all zero: no shares.
using KindShares = std::array<double, kindSlots>;

// The shares of [selection] shares (kind names and percents) by code.
KindShares kindShares(const QList<QPair<QString, double>>& shares);
inline bool anyShare(const KindShares& shares)
{
    for (const double share : shares)
        if (share > 0)
            return true;
    return false;
}

// The time each kind's plans took, against the time it could have had: the seconds of every plan of
// a pass in which the kind had a target to take, and of those, the part its share entitled it to.
struct KindTimes
{
    std::array<double, kindSlots> seconds{};
    std::array<double, kindSlots> available{};
    std::array<double, kindSlots> entitled{};
};

// What the balanced policy carries from pass to pass, and in a preview from night to night: each
// kind's recent best scores, which set its scale, and the time its plans took against its share.
struct KindBalance
{
    // Each kind's best raw score of its recent passes, oldest first.
    std::array<std::vector<float>, kindSlots> recentBest;
    KindTimes times;
};

// How many recent bests set a kind's scale: enough for a steady median, few enough to follow the
// sky through a night.
inline constexpr size_t recentBestCount = 40;

// A kind's best raw score on one scale with the other kinds': divided by the median of the kind's
// recent bests, this one included, which it then joins. So a kind's typical winner is worth 1
// whatever its own scoring, and equal weights give the kinds comparable chances.
double normalisedScore(KindBalance& balance, SurveyKind kind, float raw);

// One kind's best of a pass, with its score on the common scale times the kind's weight.
struct KindOffer
{
    SurveyKind kind = SurveyKind::SNe;
    float weighted = 0;
};

// The offer a pass takes, or -1 when none may run (a negative score never does). With shares, a kind
// that has taken more than its share is held back while a kind within its share has a target; such
// kinds are listed in `held`. Otherwise, and among the kinds within their shares, the highest
// weighted score wins; a tie keeps the earlier offer.
int chooseOffer(const KindBalance& balance, const KindShares& shares, const QList<KindOffer>& offers,
                QList<SurveyKind>& held);

// Books a plan of `seconds` by `kind`, taken in a pass in which the kinds of `offered` (a bit per
// code) had a target to take: the time counts for each of them as available, split among them by
// their shares as entitled.
void bookPlan(KindTimes& times, const KindShares& shares, SurveyKind kind, unsigned offered, double seconds);

} // namespace kestrove
