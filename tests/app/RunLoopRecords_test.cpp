#include "app/SimSurvey.h"
#include "host/LocalFileSystem.h"
#include "report/History.h"
#include "report/NightReasons.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace kestrove::test {
namespace {

// After each plan the survey appends a line to "history.csv" beside its log and keeps the plan in
// the night's folder; what the host says of a failed plan goes into the line.
TEST(RunLoopRecords, EachPlanLeavesAHistoryLineAndACopyOfThePlan)
{
    const struct
    {
        double failureRate;
        const char* result;
    } cases[] = {{0, "completed"}, {1, "failed: failed (simulated fault)"}};
    for (const auto& c : cases) {
        SimSurvey sim([&c](ObservatorySettings& s) { s.failureRate = c.failureRate; });
        const QString target = QStringLiteral("SN 2024/abc\t") + sim.onMeridian(20);
        sim.writeProgramFile(QStringLiteral("SNeTargets.txt"), {target, QStringLiteral("**** ")});
        sim.enable(SurveyKind::SNe, QStringLiteral("50"));
        const QDateTime start = sim.utc();

        sim.run(1);

        const QString logDir = sim.core->acpUtil->Prefs().LocalUser().DefaultLogDir();
        const History history = readHistory(historyPath(logDir));
        ASSERT_EQ(history.entries.size(), 1);
        const HistoryEntry& entry = history.entries[0];
        EXPECT_EQ(entry.kind, SurveyKind::SNe);
        EXPECT_EQ(entry.target, QStringLiteral("SN 2024/abc"));
        EXPECT_EQ(entry.result, QString::fromLatin1(c.result));
        EXPECT_EQ(entry.startUtc, start);
        EXPECT_GT(entry.endUtc, entry.startUtc);
        EXPECT_NEAR(entry.declination, 20, 1e-4);
        EXPECT_NEAR(entry.score, 50 * 70 * 100 / 90.0, 10); // weight 50, elevation about 70
        // 03:10 local on 14 April belongs to the night of the 13th.
        EXPECT_EQ(entry.planFile,
                  sim.planDir() + QStringLiteral("/2024-04-13/20240414T091000Z-SNe-SN_2024_abc.txt"));
        EXPECT_EQ(readBytes(entry.planFile), readBytes(sim.planPath()));
    }
}

// An observer sees the selection without changing a line of the log, a file or a choice.
TEST(RunLoopRecords, AnObserverChangesNothing)
{
    QList<QStringList> logs;
    QList<QByteArray> targets;
    for (const bool watched : {false, true}) {
        SimSurvey sim;
        QStringList sne;
        for (int i = 0; i < 12; ++i)
            sne << QStringLiteral("SN%1\t%2\t%3")
                       .arg(i)
                       .arg(sim.siderealTime() - 6 + i, 0, 'f', 4)
                       .arg(10 + 5 * i)
                << (i % 4 == 0 ? QStringLiteral("**** lastImageJD=%1").arg(sim.jdNow() - 0.1, 0, 'f', 6)
                               : QStringLiteral("**** "));
        sim.writeProgramFile(QStringLiteral("SNeTargets.txt"), sne);
        sim.enable(SurveyKind::SNe);
        NightReasons reasons;
        if (watched)
            sim.core->observer = &reasons;
        sim.run(3);
        logs << sim.logLines();
        targets << readBytes(sim.programFile(QStringLiteral("SNeTargets.txt")));
        if (watched) {
            EXPECT_EQ(reasons.passes(), 3);
            EXPECT_EQ(reasons.choices().size(), 3);
        }
    }
    // Only the banners' date and time may differ: the two runs start at the same instant.
    EXPECT_EQ(logs[0], logs[1]);
    EXPECT_EQ(targets[0], targets[1]);
}

// Someone following the log sees what a pass wrote before the pass ends.
TEST(RunLoopRecords, AFlushedLogIsReadableWhileItStaysOpen)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Kestrove.log"));
    LocalFileSystem fs;
    auto log = fs.OpenTextFile(path, IOMode::ForAppending, true);
    log->WriteLine(QStringLiteral("first"));
    EXPECT_EQ(readBytes(path), QByteArray());
    log->Flush();
    EXPECT_EQ(readBytes(path), QByteArray("first\r\n"));
    log->WriteLine(QStringLiteral("second"));
    log->Close();
    EXPECT_EQ(readBytes(path), QByteArray("first\r\nsecond\r\n"));
}

// A log or plan folder removed during a night is made again: the run, its log and its history go on.
TEST(RunLoopRecords, AFolderRemovedDuringTheNightIsMadeAgain)
{
    for (const bool logFolder : {true, false}) {
        SimSurvey sim;
        sim.writeProgramFile(QStringLiteral("SNeTargets.txt"),
                             {QStringLiteral("SN1\t") + sim.onMeridian(20), QStringLiteral("**** "),
                              QStringLiteral("SN2\t") + sim.onMeridian(30), QStringLiteral("**** ")});
        sim.enable(SurveyKind::SNe);
        const QString logDir = sim.core->acpUtil->Prefs().LocalUser().DefaultLogDir();
        const QString folder = logFolder ? logDir : sim.planDir();
        bool removed = false;
        sim.view.onProcessEvents = [&] {
            if (!removed && sim.view.status().startsWith(QStringLiteral("Running ACP plan")))
                removed = QDir(folder).removeRecursively();
        };

        EXPECT_NO_THROW(sim.run(2)) << folder.toStdString();

        EXPECT_TRUE(removed);
        EXPECT_EQ(readHistory(historyPath(logDir)).entries.size(), 2) << folder.toStdString();
        EXPECT_EQ(sim.logLines().filter(QStringLiteral("Running ACP plan for selected target:")).size(),
                  logFolder ? 1 : 2)
            << folder.toStdString();
        EXPECT_EQ(sim.view.status(), QStringLiteral("Survey stopped"));
    }
}

} // namespace
} // namespace kestrove::test
