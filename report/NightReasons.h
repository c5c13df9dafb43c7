#pragma once

#include "core/KindBalance.h"
#include "core/SelectionObserver.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <array>
#include <optional>
#include <vector>

namespace kestrove {

// What became of one target over a night: how many passes read it, and how each of them ended.
struct TargetReasons
{
    SurveyKind kind = SurveyKind::SNe;
    QString name;
    QString targetLine;
    int considered = 0;
    std::array<int, outcomeCount> outcomes{};

    int count(Outcome outcome) const { return outcomes[static_cast<int>(outcome)]; }
};

// One pass's choice, and when its plan was handed over, expected to run how long (seconds).
struct PassChoice
{
    QDateTime utc;
    SurveyKind kind = SurveyKind::SNe;
    QString targetLine;
    float weightedScore = 0;
    QDateTime startUtc;
    std::optional<double> expectedSeconds;
};

// What a kind's best target typically scored in the passes it offered one: the median, before and
// after its weight.
struct KindScore
{
    SurveyKind kind = SurveyKind::SNe;
    int passes = 0;
    double score = 0;
    double weightedScore = 0;
};

// Tallies the selection's reasons target by target over a whole run: every target read in a pass
// gets exactly one outcome, the pass's winner "chosen" and every other scored target "lower score".
class NightReasons : public SelectionObserver
{
public:
    void passStarted(const QDateTime& utc) override;
    void rejected(SurveyKind kind, const QString& targetLine, Outcome rule) override;
    void scored(SurveyKind kind, const QString& targetLine, float score) override;
    void passChosen(bool found, SurveyKind kind, const QString& targetLine, float weightedScore) override;
    void planRefused(SurveyKind kind, const QString& targetLine) override;
    void planHandedOver(SurveyKind kind, const QString& targetLine, const QDateTime& startUtc,
                        std::optional<double> expectedSeconds) override;
    void kindBest(SurveyKind kind, const QString& targetLine, float score, float weightedScore) override;
    void shareUsed(SurveyKind kind, const QString& targetLine) override;
    void planEnded(SurveyKind kind, double seconds) override;

    // The shares that the time each kind was entitled to is counted by; none: no such count.
    void setShares(const KindShares& shares) { m_shares = shares; }
    // The time each kind's plans took against the time of the passes it had a target in.
    const KindTimes& kindTimes() const { return m_times; }

    // In the order the kinds are selected, then as first read.
    QList<TargetReasons> targets() const;
    int passes() const { return m_passes; }
    // Passes that found no viable target.
    int idlePasses() const { return m_idlePasses; }
    const QList<PassChoice>& choices() const { return m_choices; }
    // Each kind that offered a target, in the order the kinds are selected.
    QList<KindScore> kindScores() const;

private:
    int row(SurveyKind kind, const QString& targetLine);
    int findRow(SurveyKind kind, const QString& targetLine) const;
    void settlePass(bool found, SurveyKind kind, const QString& targetLine);

    QList<TargetReasons> m_targets;
    std::array<QHash<QString, int>, 5> m_rows; // by kind, target line to index
    // By kind, the rows in the order first read, and where in it the next read is expected: a pass
    // reads a file as the last one did, so most lookups are one comparison.
    std::array<std::vector<int>, 5> m_readOrder;
    std::array<size_t, 5> m_nextRead{};
    std::vector<size_t> m_placeInOrder; // by row
    std::vector<int> m_scoredThisPass;
    std::vector<int> m_heldThisPass;
    // The kinds (a bit per code) that offered a target this pass, and in the pass of the plan running.
    unsigned m_offeredThisPass = 0;
    unsigned m_offeredForPlan = 0;
    KindShares m_shares{};
    KindTimes m_times;
    QList<PassChoice> m_choices;
    std::array<std::vector<float>, 5> m_best; // by kind, raw best scores
    std::array<std::vector<float>, 5> m_weightedBest;
    QDateTime m_passUtc;
    int m_passes = 0;
    int m_idlePasses = 0;
};

} // namespace kestrove
