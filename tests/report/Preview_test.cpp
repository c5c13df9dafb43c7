#include "app/HeadlessRun.h"
#include "core/SimSurvey.h"
#include "report/Preview.h"
#include "text/HostError.h"
#include "text/ValueText.h"

#include <QDirIterator>
#include <gtest/gtest.h>
#include <map>

namespace kestrove::test {
namespace {

QString samplesFolder()
{
    return QFileInfo(QStringLiteral(__FILE__)).dir().filePath(QStringLiteral("../../samples"));
}

// Every file below a folder, by its relative path, with its bytes.
std::map<QString, QByteArray> snapshot(const QString& folder)
{
    std::map<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files[QDir(folder).relativeFilePath(path)] = readBytes(path);
    }
    return files;
}

// The sample catalogues with every kind on, in a program folder whose observatory (in virtual time,
// as "observatory.ini" in its "observatory" folder) starts at the beginning of the span.
class PreviewTest : public ::testing::Test
{
protected:
    PreviewTest()
        : sim([this](ObservatorySettings& s) {
              s.alignmentMode = 2;
              observatory = s;
          })
    {
        for (const QString& name : QDir(samplesFolder()).entryList(QDir::Files))
            QFile::copy(QDir(samplesFolder()).filePath(name), sim.programFile(name));
        sim.saveSettings([](SurveySettings& s) {
            s.SNeEnabled = s.MPSEnabled = s.SLCEnabled = 1;
            s.SLCWeight = 80;
            s.minElevationSLC = 0.5f;
        });
        observatoryFolder = sim.programFolder + QStringLiteral("observatory");
        night = QDate(2024, 12, 7);
        const TimeSpan dark = darkSpan(observatory, night);
        span = {dark.startUtc, dark.startUtc.addSecs(4 * 3600)};
        observatory.clockStart = utcInstantText(span.startUtc);
        observatory.planDir = observatoryFolder + QStringLiteral("/Plans");
        observatory.logDir = observatoryFolder + QStringLiteral("/Logs");
        observatory.hostPath = observatoryFolder;
        writeObservatorySettings(observatoryFolder, observatory);
        // The folders of a user's observatory exist already.
        makeObservatoryFolders(readObservatorySettings(observatoryFolder));
    }

    NightReport preview()
    {
        PreviewRequest request;
        request.programFolder = sim.programFolder;
        request.observatoryFolder = observatoryFolder;
        request.night = night;
        request.span = span;
        return runPreview(request);
    }

    ObservatorySettings observatory;
    SimSurvey sim;
    QString observatoryFolder;
    QDate night;
    TimeSpan span;
};

// The preview runs the survey itself: a headless run from the same instant on the same catalogues
// observes the same targets in the same order at the same times, and the preview leaves every file
// of the user's as it was.
TEST_F(PreviewTest, MakesTheChoicesOfARealRunAndTouchesNoFileOfTheUsers)
{
    const auto programBefore = snapshot(sim.programFolder);
    const NightReport report = preview();
    EXPECT_EQ(snapshot(sim.programFolder), programBefore);
    ASSERT_GT(report.plans.size(), 20);
    EXPECT_TRUE(report.messages.isEmpty()) << report.messages.join('\n').toStdString();

    CommandLine commandLine;
    commandLine.folder = sim.programFolder;
    commandLine.headless = true;
    commandLine.limits.untilUtc = span.endUtc;
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(runHeadless(commandLine), 0);
    ::testing::internal::GetCapturedStdout();
    const History real = readHistory(historyPath(observatory.logDir));

    ASSERT_EQ(real.entries.size(), report.plans.size());
    std::map<SurveyKind, int> kinds;
    for (qsizetype i = 0; i < real.entries.size(); ++i) {
        const HistoryEntry& a = real.entries[i];
        const HistoryEntry& b = report.plans[i].entry;
        EXPECT_EQ(a.kind, b.kind) << i;
        EXPECT_EQ(a.target, b.target) << i;
        EXPECT_EQ(a.startUtc, b.startUtc) << i;
        EXPECT_EQ(a.endUtc, b.endUtc) << i;
        EXPECT_EQ(a.score, b.score) << i;
        ++kinds[b.kind];
        // The real run kept each plan in the night's folder.
        EXPECT_TRUE(a.planFile.contains(QStringLiteral("/Plans/2024-12-07/"))) << a.planFile.toStdString();
        EXPECT_TRUE(QFile::exists(a.planFile)) << a.planFile.toStdString();
    }
    EXPECT_EQ(kinds.size(), 3u) << "every kind observed";
}

// Every target of every pass has exactly one outcome, and the chosen ones are the plans.
TEST_F(PreviewTest, ReasonsAddUpPassByPass)
{
    const NightReport report = preview();
    ASSERT_GT(report.passes, 0);
    EXPECT_EQ(report.passes, report.plans.size() + report.idlePasses);
    std::map<QString, int> plansPerTarget;
    for (const ObservedPlan& plan : report.plans)
        ++plansPerTarget[kindText(plan.entry.kind) + u' ' + plan.entry.target];

    std::map<Outcome, int> seen;
    for (const TargetReasons& target : report.reasons) {
        int outcomes = 0;
        for (int i = 0; i < outcomeCount; ++i) {
            outcomes += target.outcomes[i];
            seen[static_cast<Outcome>(i)] += target.outcomes[i];
        }
        EXPECT_EQ(outcomes, target.considered) << target.name.toStdString();
        EXPECT_EQ(target.considered, report.passes) << target.name.toStdString();
        const auto it = plansPerTarget.find(kindText(target.kind) + u' ' + target.name);
        EXPECT_EQ(target.count(Outcome::Chosen), it == plansPerTarget.end() ? 0 : it->second)
            << target.name.toStdString();
    }
    // The sample night shows the rules at work.
    for (const Outcome outcome : {Outcome::Chosen, Outcome::ImagedWithin12h, Outcome::MinimumElevation,
                                  Outcome::TransitElevation, Outcome::NotDue, Outcome::LowerScore})
        EXPECT_GT(seen[outcome], 0) << static_cast<int>(outcome);
}

// With every kind off the night has no plan; the preview says why rather than show an empty night.
TEST_F(PreviewTest, WithNoKindEnabledSaysSo)
{
    sim.saveSettings([](SurveySettings& s) { s.SNeEnabled = s.MPSEnabled = s.SLCEnabled = 0; });
    const NightReport report = preview();
    EXPECT_TRUE(report.plans.isEmpty());
    ASSERT_EQ(report.messages.size(), 1);
    EXPECT_TRUE(report.messages[0].startsWith(QStringLiteral("No survey kind is enabled")))
        << report.messages[0].toStdString();
}

// West of Greenwich the last night of year 9999 ends in year 10000, which no instant of the
// observatory's clock or files can name: the night is refused, and the message names it.
TEST_F(PreviewTest, ANightPastTheLastInstantIsRefusedByItsDate)
{
    observatory.latitude = 19.82;
    observatory.longitude = -155.47;
    observatory.timeZone = QStringLiteral("Pacific/Honolulu");
    writeObservatorySettings(observatoryFolder, observatory);
    night = QDate(9999, 12, 31);
    span = darkSpan(observatory, night);
    try {
        preview();
        FAIL() << "previewed";
    } catch (const HostError& error) {
        const QString message = QString::fromUtf8(error.what());
        EXPECT_TRUE(message.startsWith(QStringLiteral("preview \"9999-12-31\": "))) << message.toStdString();
        EXPECT_TRUE(message.contains(QStringLiteral("9999-12-31T23:59:59Z"))) << message.toStdString();
    }
}

} // namespace
} // namespace kestrove::test
