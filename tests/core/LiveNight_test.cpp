#include "core/SimSurvey.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrove::test {
namespace {

// Runs on the simulated observatory with a clock that moves on while the program works (600 times
// real time), so that the host's timing falls between the run loop's steps as it may on a real night.
struct Outcome
{
    QString target;
    bool recorded = false; // the survey log has its "Last obs time" line
    bool chained = false;  // the observatory ran its chain script before the next plan started
};

QList<Outcome> runLiveNight(double chainScriptDelay, int minutes)
{
    SimSurvey sim([&](ObservatorySettings& s) {
        s.clockSpeed = 600;
        s.chainScriptDelay = chainScriptDelay;
        s.settleTime = 2;
        s.downloadSeconds = 1;
    });
    // More targets than plans, near the meridian: each is imaged once.
    QStringList sne;
    const double lst = sim.siderealTime();
    for (int i = 0; i < 200; ++i)
        sne << QStringLiteral("SN%1\t%2\t%3")
                   .arg(i)
                   .arg(std::fmod(lst + 24 + 0.1 * (i % 10), 24), 0, 'f', 4)
                   .arg(-10 + (i / 10) * 3)
            << QStringLiteral("**** ");
    sim.writeProgramFile(QStringLiteral("SNeTargets.txt"), sne);
    sim.saveSettings([](SurveySettings& s) {
        s.exposureSNe = 5;
        s.lastFocusJD = 1e9; // no autofocus
    });
    sim.enable(SurveyKind::SNe);
    sim.core->runLimits.untilUtc = sim.utc().addSecs(60 * minutes);
    sim.run(0);

    QList<Outcome> plans;
    static const QString running = QStringLiteral("Running ACP plan for selected target:");
    for (const QString& line : sim.logLines()) {
        if (line.startsWith(running))
            plans.append({line.mid(running.size())});
        else if (line.startsWith(QStringLiteral("Last obs time for best ")) && !plans.isEmpty())
            plans.last().recorded = true;
    }
    int started = -1;
    for (const QString& line : SimSurvey::readLines(sim.host->acquisitionLogPath())) {
        const QString event = line.section(QLatin1Char('\t'), 1, 1);
        if (event == QStringLiteral("start"))
            ++started;
        else if (event == QStringLiteral("chainscript") && started >= 0 && started < plans.size())
            plans[started].chained = true;
    }
    EXPECT_EQ(started + 1, plans.size());
    return plans;
}

// A chain script that comes too late for its own plan may only be lost, never taken for the next
// plan's: each plan is recorded exactly when its own chain script ran.
TEST(LiveNight, AChainScriptLaterThanTheMarkerWaitNeverCountsForTheNextPlan)
{
    const QList<Outcome> plans = runLiveNight(19, 40);
    ASSERT_GT(plans.size(), 10);
    for (qsizetype i = 0; i < plans.size(); ++i)
        EXPECT_EQ(plans[i].recorded, plans[i].chained)
            << "plan " << i << " " << plans[i].target.toStdString();
}

} // namespace
} // namespace kestrove::test
