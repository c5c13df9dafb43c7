#include "core/SimSurvey.h"
#include "report/MonthPreview.h"
#include "text/ValueText.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <numeric>

namespace kestrove::test {
namespace {

QString samplesFolder()
{
    return QFileInfo(QStringLiteral(__FILE__)).dir().filePath(QStringLiteral("../../samples"));
}

QDateTime utc(int day, int hour, int minute = 0)
{
    return QDateTime(QDate(2024, 12, day), QTime(hour, minute), QTimeZone::utc());
}

ObservedPlan plan(SurveyKind kind, const QString& target, const QDateTime& start,
                  const QString& result = QStringLiteral("completed"))
{
    ObservedPlan p;
    p.entry.kind = kind;
    p.entry.target = target;
    p.entry.startUtc = start;
    p.entry.endUtc = start.addSecs(300);
    p.entry.result = result;
    return p;
}

// The sample catalogues with every kind on, and the user's observatory in "observatory".
class MonthPreviewTest : public ::testing::Test
{
protected:
    MonthPreviewTest()
        : sim([this](ObservatorySettings& s) {
              // June nights at latitude 50 are short: the month's runs stay cheap.
              s.latitude = 50;
              observatory = s;
          })
    {
        for (const QString& name : QDir(samplesFolder()).entryList(QDir::Files))
            QFile::copy(QDir(samplesFolder()).filePath(name), sim.programFile(name));
        sim.saveSettings([](SurveySettings& s) {
            s.SNeEnabled = s.MPSEnabled = s.SLCEnabled = 1;
            s.SLCWeight = 80;
        });
        observatoryFolder = sim.programFolder + QStringLiteral("observatory");
        observatory.planDir = observatoryFolder + QStringLiteral("/Plans");
        observatory.logDir = observatoryFolder + QStringLiteral("/Logs");
        observatory.hostPath = observatoryFolder;
        writeObservatorySettings(observatoryFolder, observatory);
        request.programFolder = sim.programFolder;
        request.observatoryFolder = observatoryFolder;
        request.observatory = resolvedUserObservatory(observatoryFolder);
        request.night = QDate(2024, 6, 10);
    }

    // The request for one of the nights from the first on, over its dark window.
    PreviewRequest nightRequest(int night) const
    {
        PreviewRequest one = request;
        one.night = request.night.addDays(night);
        one.span = darkSpan(*request.observatory, one.night);
        return one;
    }

    ObservatorySettings observatory;
    SimSurvey sim;
    QString observatoryFolder;
    PreviewRequest request;
};

void expectSameChoices(const QList<ObservedPlan>& a, const QList<ObservedPlan>& b, int night)
{
    ASSERT_EQ(a.size(), b.size()) << "night " << night;
    for (qsizetype i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].entry.kind, b[i].entry.kind) << night << ' ' << i;
        EXPECT_EQ(a[i].entry.target, b[i].entry.target) << night << ' ' << i;
        EXPECT_EQ(a[i].entry.startUtc, b[i].entry.startUtc) << night << ' ' << i;
        EXPECT_EQ(a[i].entry.score, b[i].entry.score) << night << ' ' << i;
    }
}

// The month is the nights previewed one after the other in one copy, and what a night observed
// shapes the next: a fresh preview of the second night chooses otherwise.
TEST_F(MonthPreviewTest, IsTheNightsRunInSequenceOnOneCopy)
{
    constexpr int nights = 2;
    const MonthReport month = runMonthPreview(MonthRequest{request, nights, 1, 0});
    ASSERT_EQ(month.nights.size(), nights);
    EXPECT_FALSE(month.stopped);

    PreviewScratch scratch(sim.programFolder);
    for (int n = 0; n < nights; ++n) {
        const NightReport one = runPreview(scratch, nightRequest(n));
        ASSERT_GT(one.plans.size(), 10) << n;
        EXPECT_EQ(month.nights[n].night, one.night);
        expectSameChoices(month.nights[n].plans, one.plans, n);
    }

    const NightReport fresh = runPreview(nightRequest(1));
    bool differs = fresh.plans.size() != month.nights[1].plans.size();
    for (qsizetype i = 0; !differs && i < fresh.plans.size(); ++i)
        differs = fresh.plans[i].entry.target != month.nights[1].plans[i].entry.target;
    EXPECT_TRUE(differs) << "the first night's updates carry into the second";

    // Every target of the catalogues has a line, visited or not, and the visits add up to the plans
    // completed.
    int visits = 0;
    for (const TargetCoverage& t : month.coverage)
        visits += t.visits;
    int plans = 0;
    for (const MonthNight& n : month.nights)
        plans += static_cast<int>(std::count_if(n.plans.begin(), n.plans.end(), [](const ObservedPlan& p) {
            return p.entry.result.startsWith(QLatin1String("completed"));
        }));
    EXPECT_EQ(visits, plans);
    const auto slc = std::count_if(month.coverage.begin(), month.coverage.end(),
                                   [](const TargetCoverage& t) { return t.kind == SurveyKind::SLC; });
    EXPECT_EQ(slc, 18);
}

// Over a month of nights no plan is handed over that the Sun limit then cuts short, though plans
// focus and plate solve before their images: the run loop charges what the observatory spends.
// Each plan takes about what was expected of it.
TEST_F(MonthPreviewTest, NoPlanOfAMonthIsCutShortAtDawn)
{
    observatory.autofocusSeconds = 240;
    observatory.pointingSeconds = 60;
    writeObservatorySettings(observatoryFolder, observatory);
    request.observatory = resolvedUserObservatory(observatoryFolder);
    sim.saveSettings([](SurveySettings& s) { s.focusInterval = 20; });

    const MonthReport month = runMonthPreview(MonthRequest{request, 30, 1, 0});

    int completed = 0;
    double worst = 0;
    for (const MonthNight& night : month.nights)
        for (const ObservedPlan& plan : night.plans) {
            const HistoryEntry& e = plan.entry;
            EXPECT_EQ(e.result, QStringLiteral("completed"))
                << e.target.toStdString() << " at " << utcInstantText(e.startUtc).toStdString();
            ASSERT_TRUE(plan.expectedSeconds) << e.target.toStdString();
            const double taken = static_cast<double>(e.startUtc.secsTo(e.endUtc));
            worst = std::max(worst, std::abs(*plan.expectedSeconds - taken) / taken);
            ++completed;
        }
    EXPECT_GT(completed, 30 * 10);
    EXPECT_LT(worst, 0.2);
}

// Nights lost to weather are the same for the same seed, and none is run.
TEST_F(MonthPreviewTest, CloudyNightsFollowTheSeed)
{
    const QList<bool> clear = clearNights(30, 0.5, 42);
    EXPECT_EQ(clearNights(30, 0.5, 42), clear);
    EXPECT_NE(clearNights(30, 0.5, 43), clear);
    const auto lost = std::count(clear.begin(), clear.end(), false);
    EXPECT_GT(lost, 5);
    EXPECT_LT(lost, 25);
    EXPECT_EQ(clearNights(10, 1, 42), QList<bool>(10, true));
    EXPECT_EQ(clearNights(10, 0, 42), QList<bool>(10, false));

    const MonthReport month = runMonthPreview(MonthRequest{request, 4, 0, 42});
    ASSERT_EQ(month.nights.size(), 4);
    for (const MonthNight& night : month.nights) {
        EXPECT_FALSE(night.clear);
        EXPECT_TRUE(night.plans.isEmpty());
    }
}

TEST(MonthCoverageTest, CountsAgainstAHandCountedMonth)
{
    // Three nights, the second cloudy. A: twice on the first night and once on the third; B (SLC,
    // asked every 20 minutes) three times on the first; C never; D only in the plans. The plans that
    // did not complete, or whose frames were all rejected, are no visits; E had only such.
    const QString dawn = QStringLiteral("failed: aborted, the Sun is above the limit");
    QList<MonthNight> nights(3);
    nights[0].plans = {
        plan(SurveyKind::SNe, "A", utc(8, 2)),
        plan(SurveyKind::SLC, "B", utc(8, 2, 30)),
        plan(SurveyKind::SLC, "B", utc(8, 2, 45), QStringLiteral("rejected: 3 stars where 80 expected")),
        plan(SurveyKind::SLC, "B", utc(8, 3), QStringLiteral("completed; record pending: disk full")),
        plan(SurveyKind::SNe, "A", utc(8, 4)),
        plan(SurveyKind::SLC, "B", utc(8, 4)),
        plan(SurveyKind::SNe, "A", utc(8, 6), dawn)};
    nights[1].clear = false;
    nights[2].plans = {plan(SurveyKind::SNe, "A", utc(10, 3)), plan(SurveyKind::MPS, "D", utc(10, 4)),
                       plan(SurveyKind::SNe, "E", utc(10, 5), dawn)};
    const auto coverage = coverageOf(
        nights, {{SurveyKind::SNe, "A"}, {SurveyKind::SLC, "B"}, {SurveyKind::SNe, "C"}}, {{"B", 20}});

    struct Expected
    {
        const char* name;
        QList<int> perNight;
        std::optional<double> mean, longest;
        QDateTime first, last;
        std::optional<int> asked;
        std::optional<double> got;
    };
    const Expected expected[] = {
        {"A", {2, 0, 1}, 24.5, 47, utc(8, 2), utc(10, 3), {}, {}},
        {"B", {3, 0, 0}, 0.75, 1, utc(8, 2, 30), utc(8, 4), 20, 45},
        {"C", {0, 0, 0}, {}, {}, {}, {}, {}, {}},
        {"D", {0, 0, 1}, {}, {}, utc(10, 4), utc(10, 4), {}, {}},
        {"E", {0, 0, 0}, {}, {}, {}, {}, {}, {}},
    };
    ASSERT_EQ(coverage.size(), std::size(expected));
    for (qsizetype i = 0; i < coverage.size(); ++i) {
        const TargetCoverage& t = coverage[i];
        const Expected& e = expected[i];
        EXPECT_EQ(t.name, e.name);
        EXPECT_EQ(t.visitsPerNight, e.perNight) << e.name;
        EXPECT_EQ(t.visits, std::accumulate(e.perNight.begin(), e.perNight.end(), 0)) << e.name;
        EXPECT_EQ(t.nightsObserved,
                  std::count_if(e.perNight.begin(), e.perNight.end(), [](int v) { return v > 0; }))
            << e.name;
        EXPECT_EQ(t.meanIntervalHours, e.mean) << e.name;
        EXPECT_EQ(t.longestIntervalHours, e.longest) << e.name;
        EXPECT_EQ(t.firstUtc, e.first) << e.name;
        EXPECT_EQ(t.lastUtc, e.last) << e.name;
        EXPECT_EQ(t.cadenceAsked, e.asked) << e.name;
        EXPECT_EQ(t.cadenceGot, e.got) << e.name;
    }
}

// Kept means within a tenth of the interval asked, from either side.
TEST(MonthCoverageTest, CadenceIsKeptWithinATenthEitherWay)
{
    const struct
    {
        int asked;
        double got;
        bool kept;
    } cases[] = {
        {60, 60, true},    {60, 66, true},    {60, 54, true},  {60, 66.1, false},
        {60, 53.9, false}, {720, 1.8, false}, {20, 45, false}, {1440, 1500, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cadenceKept(c.asked, c.got), c.kept) << c.asked << " asked, " << c.got << " got";
}

TEST(MonthCoverageTest, ReadsTheCadenceEachSlcTargetAsks)
{
    const auto intervals = slcIntervals(samplesFolder() + QStringLiteral("/SLCTargets.txt"));
    const std::pair<const char*, int> expected[] = {
        {"Algol", 20}, {"Mira", 1440}, {"R Lyr", 60}, {"RR Lyr", 10}, {"delta Cep", 120}};
    EXPECT_EQ(intervals.size(), 18u);
    for (const auto& [name, interval] : expected)
        EXPECT_EQ(intervals.at(name), interval) << name;
}

} // namespace
} // namespace kestrove::test
