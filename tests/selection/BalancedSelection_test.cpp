#include "SelectionFixture.h"
#include "selection/SelectionSkeleton.h"

#include <cmath>
#include <map>

namespace kestrove::test {
namespace {

const double minuteDays = 0.0006944444;

using selection::elevationAtHourAngle;
using selection::highestElevationAhead;

// Records the outcome of every target a selection reads, by name.
class Outcomes : public SelectionObserver
{
public:
    void rejected(SurveyKind, const QString& targetLine, Outcome rule) override
    {
        of[name(targetLine)] = rule;
    }
    void scored(SurveyKind, const QString& targetLine, float score) override
    {
        of[name(targetLine)] = Outcome::Chosen;
        scores[name(targetLine)] = score;
    }
    static QString name(const QString& line) { return line.left(line.indexOf(u'\t')); }

    std::map<QString, Outcome> of;
    std::map<QString, float> scores;
};

class BalancedSelection : public SelectionTest
{
protected:
    BalancedSelection()
    {
        core.observer = &outcomes;
        core.firstPass = true; // no slew penalty: the scores are the kinds' own
        sky.latitude = 40;
        sky.siderealTime = 0;
    }
    void balanced() { core.selection.policy = SelectionPolicy::Balanced; }
    QString lastImage(double minutesAgo) const
    {
        return QStringLiteral(" lastImageJD=") + doubleText(nowJD() - minutesAgo * minuteDays);
    }

    Outcomes outcomes;
};

// A lightcurve star is taken only once its interval has passed, the more overdue the sooner; one
// whose score falls below zero is never taken. The specified scoring takes them all.
TEST_F(BalancedSelection, ALightcurveStarWaitsForItsInterval)
{
    sky.now[1] = {35, 180}; // half its transit elevation of 70 (declination 20)
    const struct
    {
        const char* what;
        QString items;
        Outcome balanced;
        double score; // balanced, when scored
    } cases[] = {
        {"not yet due", QStringLiteral("interval=60") + lastImage(59), Outcome::NotDue, 0},
        {"just due", QStringLiteral("interval=60") + lastImage(66), Outcome::Chosen, 1.1 * 100 * 0.5},
        {"overdue, counted to three intervals", QStringLiteral("interval=60") + lastImage(600),
         Outcome::Chosen, 3 * 100 * 0.5},
        {"never imaged", QStringLiteral("interval=60"), Outcome::Chosen, 3 * 100 * 0.5},
        {"a day's interval, imaged 23 hours ago", QStringLiteral("interval=1440") + lastImage(23 * 60),
         Outcome::NotDue, 0},
        {"a negative priority", QStringLiteral("priority=-5"), Outcome::NegativeScore, 0},
    };
    for (const auto& c : cases) {
        writeProgramFile(QStringLiteral("SLCTargets.txt"), {targetLine("S", 1, 20), "**** " + c.items});
        core.selection.policy = SelectionPolicy::Specified;
        outcomes.of.clear();
        EXPECT_TRUE(core.selectSLC(bestScore, bestTarget)) << c.what;
        EXPECT_EQ(outcomes.of[QStringLiteral("S")], Outcome::Chosen) << c.what;

        balanced();
        core.notDueThisPass = core.negativeThisPass = 0;
        outcomes.of.clear();
        EXPECT_EQ(core.selectSLC(bestScore, bestTarget), c.balanced == Outcome::Chosen) << c.what;
        EXPECT_EQ(outcomes.of[QStringLiteral("S")], c.balanced) << c.what;
        EXPECT_EQ(core.notDueThisPass, c.balanced == Outcome::NotDue) << c.what;
        EXPECT_EQ(core.negativeThisPass, c.balanced == Outcome::NegativeScore) << c.what;
        if (c.balanced == Outcome::Chosen) {
            EXPECT_NEAR(bestScore, c.score, 1e-3) << c.what;
        }
    }
    EXPECT_NE(logText().find("  Skipping - not due until 60 minutes after its last image"),
              std::string::npos);
}

// A minor planet field inside its set's interval is not scored at all.
TEST_F(BalancedSelection, AFieldInsideItsSetsIntervalIsNotDue)
{
    balanced();
    core.settings.intervalMPS = 30;
    core.settings.imagesMPS = 3;
    for (const auto& [minutesAgo, due] : {std::pair{20.0, false}, std::pair{31.0, true}}) {
        // A field file that createMPSFiles finds up to date.
        writeProgramFile(QStringLiteral("MPSTargets.txt"), {"1 0 1 0"});
        writeProgramFile(QStringLiteral("MPSfov1.txt"),
                         {"1 0 1 0", targetLine("1!f", 1, 0), "**** imageCount=1" + lastImage(minutesAgo)});
        outcomes.of.clear();
        EXPECT_EQ(core.selectMPS(bestScore, bestTarget), due) << minutesAgo;
        EXPECT_EQ(outcomes.of[QStringLiteral("1!f")], due ? Outcome::Chosen : Outcome::NotDue) << minutesAgo;
    }
}

// A supernova is taken near the highest it stands for the rest of the night, the nearer the better.
TEST_F(BalancedSelection, ASupernovaWaitsForItsBestHours)
{
    balanced();
    // Declination 40 at latitude 40 crosses the meridian at the zenith; the sidereal time is 0.
    const struct
    {
        double ra;
        Outcome outcome;
    } cases[] = {
        {1.0, Outcome::NotDue},  // an hour before its transit, at 78.5 degrees
        {0.5, Outcome::Chosen},  // half an hour before, at 84.4
        {23.0, Outcome::Chosen}, // an hour past: it only sinks from here
    };
    QStringList lines;
    for (const auto& c : cases) {
        sky.now[static_cast<float>(c.ra)] = {60, 180};
        lines << targetLine(QStringLiteral("G%1").arg(c.ra), c.ra, 40) << "**** ";
    }
    writeProgramFile(QStringLiteral("SNeTargets.txt"), lines);
    ASSERT_TRUE(core.selectSNe(bestScore, bestTarget));
    for (const auto& c : cases)
        EXPECT_EQ(outcomes.of[QStringLiteral("G%1").arg(c.ra)], c.outcome) << c.ra;
    // At the same elevation now, the one past its transit stands at its highest and wins.
    EXPECT_EQ(bestTarget, targetLine(QStringLiteral("G23"), 23, 40));
    EXPECT_NEAR(outcomes.scores[QStringLiteral("G23")], 60 * 100 / 90.0, 1e-3);
    EXPECT_LT(outcomes.scores[QStringLiteral("G0.5")], outcomes.scores[QStringLiteral("G23")]);
}

// The highest a target stands for the rest of the night, as the supernovae are weighed by it.
TEST(HighestElevationAhead, TransitOrTheEndOfTheNight)
{
    const std::optional<double> untilTransit;
    const struct
    {
        double hourAngle;
        std::optional<double> hoursLeft;
        double highest;
    } cases[] = {
        {-2, untilTransit, 70},                    // rising: its transit (latitude 40, declination 20)
        {-2, 3.0, 70},                             // rising, and it transits before the night ends
        {1, 3.0, elevationAtHourAngle(40, 20, 1)}, // setting: where it stands now
        {-6, 3.0, elevationAtHourAngle(40, 20, -6 + 3 * 1.0027379)}, // the night ends before its transit
        {22, untilTransit, 70},                                      // 22 hours is 2 before its transit
    };
    for (const auto& c : cases)
        EXPECT_NEAR(highestElevationAhead(40, 20, c.hourAngle, c.hoursLeft), c.highest, 1e-9) << c.hourAngle;
    EXPECT_NEAR(elevationAtHourAngle(40, 20, 0), 70, 1e-9);
}

// A target's own limits turn it down under either policy; without them nothing changes.
TEST_F(BalancedSelection, ATargetsOwnLimitsApplyUnderEitherPolicy)
{
    sky.localNow = QDateTime(QDate(2024, 3, 10), QTime(23, 30), QTimeZone::utc());
    sky.now[1] = {40, 180}; // airmass 1.55
    const struct
    {
        const char* items;
        Outcome outcome;
    } cases[] = {
        {"", Outcome::Chosen},
        {"minAltitude=40", Outcome::Chosen},
        {"minAltitude=40.5", Outcome::BelowMinAltitude},
        {"maxAirmass=1.6", Outcome::Chosen},
        {"maxAirmass=1.5", Outcome::AboveMaxAirmass},
        {"window=22:00-02:00", Outcome::Chosen},
        {"window=23:31-23:30", Outcome::OutsideWindow},
        {"window=00:00-23:30", Outcome::OutsideWindow},
    };
    for (const SelectionPolicy policy : {SelectionPolicy::Specified, SelectionPolicy::Balanced}) {
        core.selection.policy = policy;
        for (const auto& c : cases) {
            const QString items = QString::fromLatin1(c.items);
            writeProgramFile(QStringLiteral("SNeTargets.txt"), {targetLine("N", 1, 20), "**** " + items});
            writeProgramFile(QStringLiteral("SLCTargets.txt"), {targetLine("L", 1, 20), "**** " + items});
            outcomes.of.clear();
            core.selectSNe(bestScore, bestTarget);
            core.selectSLC(bestScore, bestTarget);
            EXPECT_EQ(outcomes.of[QStringLiteral("N")], c.outcome) << c.items;
            EXPECT_EQ(outcomes.of[QStringLiteral("L")], c.outcome) << c.items;
        }
    }
    EXPECT_TRUE(view.messages.isEmpty()) << view.messages.join(u'\n').toStdString();
}

} // namespace
} // namespace kestrove::test
