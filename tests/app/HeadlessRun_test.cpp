#include "app/HeadlessRun.h"
#include "app/SimSurvey.h"

#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>

namespace kestrove::test {
namespace {

// A program folder with its settings, and the simulated observatory in virtual time kept in the
// program folder's "observatory" folder, where a headless run looks for it by default.
class HeadlessRunTest : public ::testing::Test
{
protected:
    HeadlessRunTest() : sim([this](ObservatorySettings& s) { observatorySettings = s; })
    {
        observatoryFolder = sim.programFolder + QStringLiteral("observatory");
        ObservatorySettings settings = observatorySettings;
        // Folders stay where the test's own observatory has them.
        settings.planDir = sim.planDir();
        settings.logDir = sim.core->acpUtil->Prefs().LocalUser().DefaultLogDir();
        settings.hostPath = sim.core->acpApplication->Path();
        writeObservatorySettings(observatoryFolder, settings);
        commandLine.folder = sim.programFolder;
        commandLine.headless = true;
    }

    int run()
    {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int status = runHeadless(commandLine);
        out = QString::fromLocal8Bit(::testing::internal::GetCapturedStdout())
                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        err = QString::fromLocal8Bit(::testing::internal::GetCapturedStderr())
                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return status;
    }

    ObservatorySettings observatorySettings;
    SimSurvey sim;
    QString observatoryFolder;
    CommandLine commandLine;
    QStringList out;
    QStringList err;
};

TEST_F(HeadlessRunTest, StatusGoesToStandardOutputAndAStopSavesTheSettings)
{
    sim.saveSettings([](SurveySettings& s) { s.SNeWeight = 250; });
    commandLine.limits.passes = 2;

    ASSERT_EQ(run(), 0) << err.join('\n').toStdString();

    EXPECT_EQ(out, QStringList({QStringLiteral("No viable target - sleeping for 5 minutes"),
                                QStringLiteral("No viable target - sleeping for 5 minutes"),
                                QStringLiteral("Survey stopping"), QStringLiteral("Survey stopped")}));
    EXPECT_TRUE(err.isEmpty());
    EXPECT_EQ(sim.logLines().count(QStringLiteral("No viable target - sleeping for 5 minutes")), 2);
    sim.core->LoadConfig();
    EXPECT_EQ(sim.core->settings.SNeWeight, 250);
}

TEST_F(HeadlessRunTest, TheSettingsStandInForTheCheckBoxes)
{
    const QString target = QStringLiteral("SN2024abc\t") + sim.onMeridian(20);
    sim.writeProgramFile(QStringLiteral("SNeTargets.txt"), {target, QStringLiteral("**** ")});
    sim.saveSettings([](SurveySettings& s) {
        s.SNeEnabled = 1;
        s.lastFocusJD = 0;
    });
    commandLine.limits.passes = 1;

    ASSERT_EQ(run(), 0) << err.join('\n').toStdString();

    EXPECT_TRUE(out.contains(QStringLiteral("Selecting SNe target")));
    EXPECT_TRUE(out.contains(QStringLiteral("Running ACP plan for selected target: SN2024abc")));
    EXPECT_TRUE(sim.programLines(QStringLiteral("SNeTargets.txt"))[1].startsWith(
        QStringLiteral("**** lastImageJD=")));
    // The autofocus of the plan was saved, and the stop saved it again.
    sim.core->LoadConfig();
    EXPECT_GT(sim.core->settings.lastFocusJD, 2460000);
}

TEST_F(HeadlessRunTest, AnErrorIsPrintedAndEndsWithAFailureStatus)
{
    sim.saveSettings([](SurveySettings& s) { s.SNeEnabled = 1; }); // and no SNeTargets.txt
    commandLine.limits.passes = 1;

    EXPECT_EQ(run(), 1);

    ASSERT_EQ(err.size(), 1);
    EXPECT_TRUE(err[0].startsWith(QStringLiteral("Kestrove: "))) << err[0].toStdString();
    EXPECT_TRUE(err[0].contains(QStringLiteral("SNeTargets.txt"))) << err[0].toStdString();
}

TEST_F(HeadlessRunTest, InterruptActsAsStopSurvey)
{
    int argc = 1;
    char name[] = "kestrove_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    // Raised from inside the run, at its first event dispatch.
    QTimer::singleShot(0, [] { std::raise(SIGINT); });
    // Should the signal be lost, the run still ends, much later.
    commandLine.limits.untilUtc = sim.utc().addSecs(3600);

    ASSERT_EQ(run(), 0) << err.join('\n').toStdString();

    EXPECT_EQ(out.mid(out.size() - 2),
              QStringList({QStringLiteral("Survey stopping"), QStringLiteral("Survey stopped")}));
    EXPECT_EQ(sim.logLines().count(QStringLiteral("No viable target - sleeping for 5 minutes")), 1);
    // The handler is put back afterwards.
    struct sigaction current = {};
    sigaction(SIGINT, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}

} // namespace
} // namespace kestrove::test
