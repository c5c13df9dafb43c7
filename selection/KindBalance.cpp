#include "core/KindBalance.h"

#include <algorithm>

namespace kestrove {

KindShares kindShares(const QList<QPair<QString, double>>& shares)
{
    KindShares byKind{};
    for (const SurveyKind kind : {SurveyKind::SNe, SurveyKind::MPS, SurveyKind::MPF, SurveyKind::SLC})
        for (const auto& [name, percent] : shares)
            if (name == kindText(kind))
                byKind[slotOf(kind)] = percent;
    return byKind;
}

double normalisedScore(KindBalance& balance, SurveyKind kind, float raw)
{
    std::vector<float>& recent = balance.recentBest[slotOf(kind)];
    recent.push_back(raw);
    if (recent.size() > recentBestCount)
        recent.erase(recent.begin());
    std::vector<float> sorted = recent;
    const size_t middle = sorted.size() / 2;
    std::nth_element(sorted.begin(), sorted.begin() + middle, sorted.end());
    double scale = sorted[middle];
    if (sorted.size() % 2 == 0) {
        const float below = *std::max_element(sorted.begin(), sorted.begin() + middle);
        scale = (scale + below) / 2;
    }
    if (!(scale > 0))
        return raw > 0 ? 1.0 : 0.0;
    return raw / scale;
}

int chooseOffer(const KindBalance& balance, const KindShares& shares, const QList<KindOffer>& offers,
                QList<SurveyKind>& held)
{
    held.clear();
    const bool sharing = anyShare(shares);
    const auto withinShare = [&](SurveyKind kind) {
        const int k = slotOf(kind);
        return shares[k] > 0 && balance.times.entitled[k] >= balance.times.seconds[k];
    };
    bool anyWithin = false;
    for (const KindOffer& offer : offers)
        anyWithin = anyWithin || (offer.weighted >= 0 && withinShare(offer.kind));
    int best = -1;
    for (qsizetype i = 0; i < offers.size(); ++i) {
        const KindOffer& offer = offers[i];
        if (!(offer.weighted >= 0))
            continue;
        if (sharing && anyWithin && !withinShare(offer.kind)) {
            held << offer.kind;
            continue;
        }
        if (best < 0 || offer.weighted > offers[best].weighted)
            best = static_cast<int>(i);
    }
    return best;
}

void bookPlan(KindTimes& times, const KindShares& shares, SurveyKind kind, unsigned offered, double seconds)
{
    // The kind whose plan this was had a target to take, whatever the mask says.
    offered |= 1u << slotOf(kind);
    times.seconds[slotOf(kind)] += seconds;
    double total = 0;
    for (int k = 1; k < kindSlots; ++k)
        if (offered & (1u << k)) {
            times.available[k] += seconds;
            total += shares[k];
        }
    if (!(total > 0))
        return;
    for (int k = 1; k < kindSlots; ++k)
        if (offered & (1u << k))
            times.entitled[k] += seconds * shares[k] / total;
}

} // namespace kestrove
