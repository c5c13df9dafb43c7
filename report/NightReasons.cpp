#include "report/NightReasons.h"

#include <algorithm>

namespace kestrove {

void NightReasons::passStarted(const QDateTime& utc)
{
    // A pass cut short before its choice leaves its scored targets unsettled.
    if (!m_scoredThisPass.empty())
        settlePass(false, SurveyKind::SNe, QString());
    m_passUtc = utc;
    m_offeredThisPass = 0;
    ++m_passes;
}

int NightReasons::row(SurveyKind kind, const QString& targetLine)
{
    const int k = static_cast<int>(kind);
    std::vector<int>& order = m_readOrder[k];
    size_t& next = m_nextRead[k];
    if (next < order.size() && m_targets[order[next]].targetLine == targetLine)
        return order[next++];
    QHash<QString, int>& rows = m_rows[k];
    const auto it = rows.constFind(targetLine);
    if (it != rows.constEnd()) {
        next = m_placeInOrder[*it] + 1;
        return *it;
    }
    TargetReasons target;
    target.kind = kind;
    target.targetLine = targetLine;
    const qsizetype tab = targetLine.indexOf(u'\t');
    target.name = tab < 0 ? targetLine : targetLine.left(tab);
    m_targets << target;
    const int index = static_cast<int>(m_targets.size() - 1);
    rows.insert(targetLine, index);
    order.push_back(index);
    m_placeInOrder.push_back(order.size() - 1);
    next = order.size();
    return index;
}

int NightReasons::findRow(SurveyKind kind, const QString& targetLine) const
{
    return m_rows[static_cast<int>(kind)].value(targetLine, -1);
}

void NightReasons::rejected(SurveyKind kind, const QString& targetLine, Outcome rule)
{
    TargetReasons& target = m_targets[row(kind, targetLine)];
    ++target.considered;
    ++target.outcomes[static_cast<int>(rule)];
}

void NightReasons::scored(SurveyKind kind, const QString& targetLine, float)
{
    const int index = row(kind, targetLine);
    ++m_targets[index].considered;
    m_scoredThisPass.push_back(index);
}

void NightReasons::passChosen(bool found, SurveyKind kind, const QString& targetLine, float weightedScore)
{
    if (found)
        m_choices << PassChoice{m_passUtc, kind, targetLine, weightedScore, {}, std::nullopt};
    else
        ++m_idlePasses;
    m_offeredForPlan = m_offeredThisPass;
    settlePass(found, kind, targetLine);
}

void NightReasons::planRefused(SurveyKind kind, const QString& targetLine)
{
    TargetReasons& target = m_targets[row(kind, targetLine)];
    if (target.count(Outcome::Chosen) == 0 || m_choices.isEmpty())
        return;
    --target.outcomes[static_cast<int>(Outcome::Chosen)];
    ++target.outcomes[static_cast<int>(Outcome::SunLimit)];
    m_choices.removeLast();
    ++m_idlePasses;
}

void NightReasons::planHandedOver(SurveyKind, const QString&, const QDateTime& startUtc,
                                  std::optional<double> expectedSeconds)
{
    if (m_choices.isEmpty())
        return;
    m_choices.last().startUtc = startUtc;
    m_choices.last().expectedSeconds = expectedSeconds;
}

void NightReasons::settlePass(bool found, SurveyKind kind, const QString& targetLine)
{
    bool chosen = false;
    const int winner = found ? findRow(kind, targetLine) : -1;
    for (const int index : m_scoredThisPass) {
        TargetReasons& target = m_targets[index];
        // A target line twice in its file is read twice; only one reading can be the plan.
        const bool isWinner = !chosen && index == winner;
        chosen = chosen || isWinner;
        const bool held =
            std::find(m_heldThisPass.begin(), m_heldThisPass.end(), index) != m_heldThisPass.end();
        ++target.outcomes[static_cast<int>(isWinner ? Outcome::Chosen
                                           : held   ? Outcome::ShareUsed
                                                    : Outcome::LowerScore)];
    }
    m_scoredThisPass.clear();
    m_heldThisPass.clear();
}

void NightReasons::shareUsed(SurveyKind kind, const QString& targetLine)
{
    const int index = findRow(kind, targetLine);
    if (index >= 0)
        m_heldThisPass.push_back(index);
}

void NightReasons::planEnded(SurveyKind kind, double seconds)
{
    bookPlan(m_times, m_shares, kind, m_offeredForPlan, seconds);
}

void NightReasons::kindBest(SurveyKind kind, const QString&, float score, float weightedScore)
{
    m_offeredThisPass |= 1u << slotOf(kind);
    m_best[static_cast<int>(kind)].push_back(score);
    m_weightedBest[static_cast<int>(kind)].push_back(weightedScore);
}

namespace {

double median(std::vector<float> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle]
                                  : (static_cast<double>(values[middle - 1]) + values[middle]) / 2;
}

} // namespace

QList<KindScore> NightReasons::kindScores() const
{
    QList<KindScore> scores;
    for (const SurveyKind kind : {SurveyKind::SNe, SurveyKind::MPS, SurveyKind::MPF, SurveyKind::SLC}) {
        const int index = static_cast<int>(kind);
        if (!m_best[index].empty())
            scores << KindScore{kind, static_cast<int>(m_best[index].size()), median(m_best[index]),
                                median(m_weightedBest[index])};
    }
    return scores;
}

QList<TargetReasons> NightReasons::targets() const
{
    QList<TargetReasons> sorted = m_targets;
    // The kinds' codes follow the order of selection.
    std::stable_sort(sorted.begin(), sorted.end(), [](const TargetReasons& a, const TargetReasons& b) {
        return static_cast<int>(a.kind) < static_cast<int>(b.kind);
    });
    return sorted;
}

} // namespace kestrove
