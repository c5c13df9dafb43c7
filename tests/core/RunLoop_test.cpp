#include "core/SimSurvey.h"
#include "host/FileSystem.h"
#include "host/ObservatoryControl.h"
#include "host/SkyUtil.h"
#include "report/NightReasons.h"
#include "text/HostError.h"
#include "text/ValueText.h"

#include <QRegularExpression>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <functional>

namespace kestrove::test {
namespace {

const QString kStars(64, QLatin1Char('*'));
const QString kNoTarget = QStringLiteral("No viable target - sleeping for 5 minutes");
const QString kFailure =
    QStringLiteral("ACP did not successfully complete the plan - not updating targets file");

qint64 secondsSince(SimSurvey& sim, const QDateTime& start)
{
    return start.secsTo(sim.utc());
}

int count(const QStringList& lines, const QString& line)
{
    return static_cast<int>(lines.count(line));
}

// One supernova target on the meridian at declination 20 (elevation 70 at latitude 40).
QString writeOneSupernova(SimSurvey& sim, const QString& name = QStringLiteral("SN2024abc"),
                          const QString& config = QStringLiteral("**** "))
{
    const QString target = name + QLatin1Char('\t') + sim.onMeridian(20);
    sim.writeProgramFile(QStringLiteral("SNeTargets.txt"), {target, config});
    return target;
}

TEST(RunLoop, WithNoKindEnabledEveryPassSleepsThreeHundredAndOneSeconds)
{
    SimSurvey sim;
    const QDateTime start = sim.utc();
    const QString banner = QStringLiteral("**** Searching for new target ") +
                           sim.core->acpUtil->FormatVar(sim.core->now(), QStringLiteral("General Date"));

    sim.run(2);

    EXPECT_EQ(secondsSince(sim, start), 2 * 301);
    const QStringList log = sim.logLines();
    ASSERT_EQ(log.size(), 8);
    EXPECT_EQ(log.mid(0, 4), QStringList({kStars, banner, kStars, kNoTarget}));
    EXPECT_EQ(log[4], kStars);
    EXPECT_EQ(log[7], kNoTarget);
    EXPECT_EQ(sim.view.status(), QStringLiteral("Survey stopped"));
    EXPECT_TRUE(sim.view.statuses.contains(kNoTarget));
    EXPECT_FALSE(sim.view.running);
    EXPECT_FALSE(sim.core->isRunning());
    EXPECT_EQ(sim.core->surveyLog, nullptr);
    EXPECT_TRUE(sim.core->firstPass); // no plan was handed over
}

// The roof opens for a kind with targets of its own, once one is checked: with none, or with the
// follow-ups alone, every pass only sleeps and the roof stays shut.
TEST(RunLoop, TheRoofOpensOnceAKindWithTargetsIsChecked)
{
    struct Case
    {
        const char* name;
        std::vector<SurveyKind> atStart;
        bool slcAfterFirstPass;
        bool opens;
    };
    const Case cases[] = {
        {"no kind", {}, false, false},
        {"follow-ups alone", {SurveyKind::MPF}, false, false},
        {"SLC", {SurveyKind::SLC}, false, true},
        {"SLC checked after the first pass", {}, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimSurvey sim;
        sim.writeProgramFile(QStringLiteral("SLCTargets.txt"), {});
        for (const SurveyKind kind : c.atStart)
            sim.enable(kind);
        const ObservatoryControl* roof = sim.host->observatoryControl();
        ASSERT_NE(roof, nullptr);
        const QDateTime firstPassEnds = sim.utc().addSecs(301);
        bool openedUnchecked = false;
        bool opened = false;
        sim.view.onProcessEvents = [&] {
            if (c.slcAfterFirstPass && sim.utc() >= firstPassEnds)
                sim.enable(SurveyKind::SLC);
            const bool open = roof->state() == ObservatoryState::Open;
            opened = opened || open;
            openedUnchecked = openedUnchecked || (open && !sim.view.checked[SurveyKind::SLC]);
        };
        sim.run(3);
        EXPECT_EQ(opened, c.opens);
        EXPECT_FALSE(openedUnchecked);
    }
}

TEST(RunLoop, ACompletedPlanIsRecordedInItsTargetsFile)
{
    SimSurvey sim;
    sim.saveSettings([](SurveySettings& s) { s.lastFocusJD = 0; });
    const QString target = writeOneSupernova(sim);
    sim.enable(SurveyKind::SNe);

    sim.run(1);

    const QStringList log = sim.logLines();
    const qsizetype running = log.indexOf(QStringLiteral("Running ACP plan for selected target:SN2024abc"));
    ASSERT_GE(running, 0) << log.join('\n').toStdString();
    EXPECT_LT(log.indexOf(QStringLiteral("Creating plan file")), running);
    EXPECT_EQ(log.mid(running + 1, 2).first(), QStringLiteral("Updating targets file"));
    EXPECT_FALSE(log.contains(kFailure));
    EXPECT_TRUE(
        sim.view.statuses.contains(QStringLiteral("Running ACP plan for selected target: SN2024abc")));
    const QStringList targets = sim.programLines(QStringLiteral("SNeTargets.txt"));
    ASSERT_EQ(targets.size(), 2);
    EXPECT_EQ(targets[0], target);
    EXPECT_TRUE(targets[1].startsWith(QStringLiteral("**** lastImageJD=24604"))) << targets[1].toStdString();
    // Handed over through runplanonce.txt.
    EXPECT_EQ(SimSurvey::readLines(sim.planDir() + QStringLiteral("/runplanonce.txt")),
              QStringList({sim.planPath()}));
    EXPECT_FALSE(sim.core->firstPass);
    EXPECT_EQ(sim.core->coordTransform, nullptr);
    EXPECT_TRUE(QFile::exists(sim.host->acquisitionLogPath()));
}

// The chain script that reports a completed plan to a program folder.
QByteArray chainScriptFor(const QString& programFolder)
{
    QString folder = programFolder;
    folder.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return "sub main()\r\n"
           "  Set objFSO = CreateObject(\"Scripting.FileSystemObject\")\r\n"
           "  Set objFile = objFSO.OpenTextFile(\"" +
           folder.toLatin1() +
           "completed.txt\", 8, True) ' 8=append\r\n"
           "  objFile.Write(\"completed\")\r\n"
           "  objFile.Close\r\n"
           "end sub\r\n";
}

// Whatever "completed.vbs" held, every completed plan of the night is recorded: a script the
// interpreter reads as leaving this folder's marker is kept as the observer wrote it; one that is
// not is kept aside once and written anew, with a word to the observer unless it merely named the
// folder it was copied from.
TEST(RunLoop, TheChainScriptAlwaysReportsToThisFolder)
{
    struct Case
    {
        const char* name;
        QString programName;
        std::function<QByteArray(const QString& folder)> existing; // null: no script yet
        bool replaced;
        bool copied = false; // a sound script naming another folder
    };
    const Case cases[] = {
        {"missing", QStringLiteral("program"), {}, false},
        {"right", QStringLiteral("program"), [](const QString& f) { return chainScriptFor(f); }, false},
        {"copied from another folder", QStringLiteral("program"),
         [](const QString&) { return chainScriptFor(QStringLiteral("/home/observer/demo/")); }, true, true},
        {"damaged", QStringLiteral("program"),
         [](const QString& f) { return chainScriptFor(f).left(40) + "\r\n"; }, true},
        {"a comment added", QStringLiteral("program"),
         [](const QString& f) { return "' mine, do not touch\r\n" + chainScriptFor(f) + "' edited\r\n"; },
         false},
        {"LF line ends and other case", QStringLiteral("program"),
         [](const QString& f) {
             return chainScriptFor(f).replace("\r\n", "\n").replace("sub main", "Sub Main");
         },
         false},
        {"another file of this folder", QStringLiteral("program"),
         [](const QString& f) { return chainScriptFor(f).replace("completed.txt", "done.txt"); }, true},
        {"a statement added", QStringLiteral("program"),
         [](const QString& f) {
             return chainScriptFor(f).replace("end sub", "  MsgBox \"done\"\r\nend sub");
         },
         true},
        {"quote in the folder", QStringLiteral("my \"best\" program"), {}, false},
        {"quote, undoubled script", QStringLiteral("a\"b"),
         [](const QString& f) {
             return chainScriptFor(QStringLiteral("x"))
                 .replace("\"xcompleted", "\"" + f.toLatin1() + "completed");
         },
         true},
    };
    for (const Case& c : cases) {
        SimSurvey sim({}, c.programName);
        const QString script = sim.programFile(QStringLiteral("completed.vbs"));
        const QString old = sim.programFile(QStringLiteral("completed.vbs.old"));
        QByteArray before;
        if (c.existing) {
            before = c.existing(sim.programFolder);
            writeBytes(script, before);
        }
        writeOneSupernova(sim);
        sim.enable(SurveyKind::SNe);
        sim.saveSettings([](SurveySettings& s) { s.lastFocusJD = 1e9; });

        sim.run(2);

        EXPECT_EQ(readBytes(script), c.existing && !c.replaced ? before : chainScriptFor(sim.programFolder))
            << c.name;
        EXPECT_FALSE(sim.logLines().contains(kFailure)) << c.name;
        EXPECT_TRUE(
            sim.programLines(QStringLiteral("SNeTargets.txt")).value(1).startsWith("**** lastImageJD="))
            << c.name;
        EXPECT_EQ(QFile::exists(old), c.replaced) << c.name;
        if (c.replaced) {
            EXPECT_EQ(readBytes(old), before) << c.name;
            EXPECT_EQ(sim.view.statuses.filter(QStringLiteral("completed.vbs.old")).size(), 1) << c.name;
            // A copied folder's is expected: a note, no warning. Otherwise said once, naming both files.
            if (c.copied) {
                EXPECT_TRUE(sim.view.messages.isEmpty()) << sim.view.messages.join(u'\n').toStdString();
                EXPECT_EQ(sim.view.statuses.filter(QStringLiteral("/home/observer/demo")).size(), 1);
                continue;
            }
            ASSERT_EQ(sim.view.messages.size(), 1) << c.name;
            EXPECT_TRUE(sim.view.messages[0].contains(script)) << sim.view.messages[0].toStdString();
            EXPECT_TRUE(sim.view.messages[0].contains(old)) << sim.view.messages[0].toStdString();
        } else {
            EXPECT_TRUE(sim.view.messages.isEmpty()) << c.name;
        }
    }
}

// A folder whose name a single-byte file cannot hold could never be named in the plan or the
// script; the survey does not start.
TEST(RunLoop, AProgramFolderBeyondLatin1IsRefusedAtStart)
{
    const QString names[] = {QStringLiteral("\u5929\u6587"), QStringLiteral("\u03a9mega")};
    for (const QString& name : names) {
        SimSurvey sim({}, name);
        writeOneSupernova(sim);
        sim.enable(SurveyKind::SNe);

        EXPECT_FALSE(sim.core->startSurvey());

        ASSERT_EQ(sim.view.messages.size(), 1);
        EXPECT_TRUE(sim.view.messages[0].contains(sim.programFolder)) << sim.view.messages[0].toStdString();
        EXPECT_FALSE(sim.core->isRunning());
        EXPECT_FALSE(sim.view.running);
        EXPECT_FALSE(QFile::exists(sim.logPath()));
        EXPECT_FALSE(QFile::exists(sim.programFile(QStringLiteral("completed.vbs"))));
        EXPECT_FALSE(QFile::exists(sim.planPath()));
    }
}

// Two kinds offer the same position; the lightcurve target's priority puts its raw score just
// under the supernova's (10 × priority / transit elevation against 100 / 90 per degree).
class WeightTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString position = sim.onMeridian(20); // transit elevation 70
        snTarget = QStringLiteral("SN2024abc\t") + position;
        starTarget = QStringLiteral("V1234 Her\t") + position;
        sim.writeProgramFile(QStringLiteral("SNeTargets.txt"), {snTarget, QStringLiteral("**** ")});
        const double priority = 0.995 * 70 * 100 / 900;
        sim.writeProgramFile(
            QStringLiteral("SLCTargets.txt"),
            {starTarget, QStringLiteral("**** priority=") + QString::number(priority, 'f', 6)});
    }

    QString chosen()
    {
        for (const QString& line : sim.logLines())
            if (line.startsWith(QStringLiteral("Running ACP plan for selected target:")))
                return line.mid(37);
        return {};
    }

    SimSurvey sim;
    QString snTarget;
    QString starTarget;
};

TEST_F(WeightTest, WeightsDecideAndATieKeepsTheEarlierKind)
{
    struct Case
    {
        const char* snWeight;
        const char* starWeight;
        const char* winner;
    };
    const Case cases[] = {
        {"100", "100", "SN2024abc"}, {"100", "101", "V1234 Her"}, {"0", "0", "SN2024abc"},
        {"0", "0.5", "V1234 Her"},   {"2.5", "2.5", "SN2024abc"},
    };
    for (const Case& c : cases) {
        QFile::remove(sim.logPath());
        sim.enable(SurveyKind::SNe, QString::fromLatin1(c.snWeight));
        sim.enable(SurveyKind::SLC, QString::fromLatin1(c.starWeight));
        SetUp(); // both targets unobserved and on the meridian again
        sim.run(1);
        EXPECT_EQ(chosen(), QString::fromLatin1(c.winner)) << c.snWeight << " against " << c.starWeight;
    }
}

TEST_F(WeightTest, AWeightThatIsNotANumberEndsTheRunWithAClearError)
{
    sim.enable(SurveyKind::SNe, QStringLiteral("1O0"));
    try {
        sim.run(1);
        FAIL() << "the run went on";
    } catch (const HostError& error) {
        EXPECT_TRUE(error.message().contains(QStringLiteral("1O0"))) << error.what();
        EXPECT_TRUE(error.message().contains(QStringLiteral("SNe"))) << error.what();
    }
    EXPECT_FALSE(sim.core->isRunning());
    EXPECT_FALSE(sim.view.running);
    EXPECT_EQ(sim.core->surveyLog, nullptr);
    EXPECT_EQ(sim.core->coordTransform, nullptr);
}

// A lightcurve target last imaged three hours ago at a 60-minute cadence has a cadence factor of
// about -1; with priority 15 on the meridian it scores about -150.
TEST(RunLoop, ANegativeScoreDropsOutWhenItsWeightedScoreFallsToMinusTenThousand)
{
    for (const char* weight : {"100", "50"}) {
        SimSurvey sim;
        const QString star = QStringLiteral("V1234 Her\t") + sim.onMeridian(20);
        const double lastImage = sim.jdNow() - 0.125;
        sim.writeProgramFile(QStringLiteral("SLCTargets.txt"),
                             {star, QStringLiteral("**** lastImageJD=") + QString::number(lastImage, 'f', 8) +
                                        QStringLiteral(" priority=15")});
        sim.enable(SurveyKind::SLC, QString::fromLatin1(weight));

        sim.run(1);

        const QStringList log = sim.logLines();
        const QStringList scores = log.filter(QStringLiteral("  Score=-1"));
        ASSERT_EQ(scores.size(), 1) << log.join('\n').toStdString();
        const bool ran = log.contains(QStringLiteral("Running ACP plan for selected target:V1234 Her"));
        EXPECT_EQ(ran, QByteArray(weight) == "50") << weight;
        EXPECT_EQ(log.contains(kNoTarget), QByteArray(weight) == "100") << weight;
    }
}

// Acts once when the clock has reached an instant while a condition holds.
void actAt(SimSurvey& sim, const QDateTime& when, std::function<void()> action)
{
    auto done = std::make_shared<bool>(false);
    sim.view.onProcessEvents = [&sim, when, action, done] {
        if (!*done && sim.utc() >= when) {
            *done = true;
            action();
        }
    };
}

// When the acquisition log says the plan on a target ended.
QDateTime planEnd(SimSurvey& sim, const QString& target)
{
    for (const QString& line : SimSurvey::readLines(sim.host->acquisitionLogPath())) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.value(1) == QStringLiteral("end") && fields.value(2) == target)
            return QDateTime::fromString(fields[0], Qt::ISODate);
    }
    return {};
}

// "Stop Survey" lets a running plan end and records it; a second press, closing the window and
// "Stop Survey and ACP" stop at once; --until reached during a plan acts as one press.
TEST(RunLoop, StopDuringAPlanWaitsForItUnlessPressedAgain)
{
    enum class Stop
    {
        Once,
        Twice,
        Unload,
        Until
    };
    struct Case
    {
        const char* name;
        Stop stop;
        bool waits; // the plan ends and is recorded before the run ends
    };
    const Case cases[] = {
        {"Stop Survey", Stop::Once, true},
        {"Stop Survey twice", Stop::Twice, false},
        {"window closed", Stop::Unload, false},
        {"--until reached", Stop::Until, true},
    };
    for (const Case& c : cases) {
        SimSurvey sim;
        sim.saveSettings([](SurveySettings& s) {
            s.lastFocusJD = 1e9; // no autofocus
            s.exposureSNe = 600;
        });
        const QString target = writeOneSupernova(sim);
        sim.enable(SurveyKind::SNe);
        const QDateTime start = sim.utc();
        const QDateTime stopAt = start.addSecs(120);
        QString shownAtStop;
        if (c.stop == Stop::Until)
            sim.core->runLimits.untilUtc = stopAt;
        else
            actAt(sim, stopAt, [&] {
                ASSERT_TRUE(sim.core->acpUtil->ScriptActive());
                if (c.stop == Stop::Unload) {
                    sim.core->unload();
                    return;
                }
                sim.core->stopSurvey();
                shownAtStop = sim.view.status();
                if (c.stop == Stop::Twice)
                    sim.core->stopSurvey();
            });

        sim.run(0);

        const QStringList log = sim.logLines();
        const QStringList targets = sim.programLines(QStringLiteral("SNeTargets.txt"));
        EXPECT_EQ(sim.view.status(), QStringLiteral("Survey stopped")) << c.name;
        EXPECT_FALSE(sim.view.running) << c.name;
        if (c.waits) {
            const QDateTime end = planEnd(sim, QStringLiteral("SN2024abc"));
            ASSERT_TRUE(end.isValid()) << c.name;
            EXPECT_GE(sim.utc(), end) << c.name;
            EXPECT_FALSE(log.contains(kFailure)) << c.name;
            EXPECT_TRUE(targets.value(1).startsWith(QStringLiteral("**** lastImageJD="))) << c.name;
            EXPECT_EQ(count(log, kStars), 2) << c.name; // no second pass
            // The status names the plan and the minutes it has left, as the plan turned out.
            const QStringList waiting =
                sim.view.statuses.filter(QStringLiteral("Survey stopping: waiting for SN2024abc to end"));
            ASSERT_FALSE(waiting.isEmpty()) << c.name;
            const QRegularExpressionMatch left =
                QRegularExpression(QStringLiteral(", about (\\d+) min left$")).match(waiting.first());
            ASSERT_TRUE(left.hasMatch()) << waiting.first().toStdString();
            EXPECT_NEAR(left.captured(1).toInt() * 60, stopAt.secsTo(end), 62) << c.name;
            if (c.stop == Stop::Once) {
                EXPECT_EQ(shownAtStop, waiting.first());
            }
        } else {
            EXPECT_LE(secondsSince(sim, start), 121) << c.name;
            EXPECT_TRUE(sim.core->acpUtil->ScriptActive()) << c.name;
            EXPECT_EQ(log.last(), kFailure) << c.name;
            EXPECT_EQ(targets, QStringList({target, QStringLiteral("**** ")})) << c.name;
            if (c.stop == Stop::Twice) {
                EXPECT_EQ(sim.view.statuses.filter(QStringLiteral("Survey stopping")).last(),
                          QStringLiteral("Survey stopping"));
            }
        }
    }
}

// "Survey stopping" says the minutes the plan then takes, within a fifth, whatever the plan spends
// before its images: an autofocus, the plate solves at its pointing.
TEST(RunLoop, StoppingSaysWithinAFifthHowLongThePlanTakes)
{
    struct Case
    {
        const char* name;
        bool focus;
        double pointingSeconds;
        int stopAfter; // seconds after the start
    };
    const Case cases[] = {
        {"images only", false, 0, 30},
        {"autofocus first", true, 0, 30},
        {"plate solves", false, 120, 30},
        {"both, stopped while focusing", true, 120, 60},
        {"both, stopped while imaging", true, 120, 400},
    };
    for (const Case& c : cases) {
        SimSurvey sim([&](ObservatorySettings& s) {
            s.autofocusSeconds = 300;
            s.pointingSeconds = c.pointingSeconds;
        });
        sim.saveSettings([&](SurveySettings& s) {
            s.lastFocusJD = c.focus ? 0 : 1e9;
            s.exposureSNe = 300;
        });
        writeOneSupernova(sim);
        sim.enable(SurveyKind::SNe);
        QDateTime stopAt;
        actAt(sim, sim.utc().addSecs(c.stopAfter), [&] {
            stopAt = sim.utc();
            sim.core->stopSurvey();
        });

        sim.run(0);

        const QDateTime end = planEnd(sim, QStringLiteral("SN2024abc"));
        ASSERT_TRUE(end.isValid()) << c.name;
        const QStringList waiting =
            sim.view.statuses.filter(QStringLiteral("Survey stopping: waiting for SN2024abc to end"));
        ASSERT_FALSE(waiting.isEmpty()) << c.name;
        const QRegularExpressionMatch said =
            QRegularExpression(QStringLiteral(", about (\\d+) min left$")).match(waiting.first());
        ASSERT_TRUE(said.hasMatch()) << waiting.first().toStdString();
        const double taken = stopAt.secsTo(end) / 60.0;
        EXPECT_NEAR(said.captured(1).toDouble(), taken, 0.2 * taken) << c.name;
    }
}

// Half an hour before the Sun reaches -12 degrees, a plan is handed over only when its images,
// their downloads and the slew and settle end before then; one that would not is logged, not run,
// and the pass counts as idle.
TEST(RunLoop, APlanThatWouldOutlastTheNightIsNotStarted)
{
    struct Case
    {
        const char* name;
        std::optional<double> sunLimit;
        float exposure;
        int images;
        double downloadSeconds;
        double slewSeconds; // what the selection's slew model charges, settle included
        bool refused;
        double domeRate = 0; // degrees per second of a dome that follows the mount; 0: none
    };
    const Case cases[] = {
        {"ends in time", -12, 600, 1, 5, 50, false},
        {"exposure past the limit", -12, 2400, 1, 5, 50, true},
        {"downloads past the limit", -12, 150, 10, 60, 50, true},
        {"slew past the limit", -12, 1200, 1, 5, 1000, true},
        {"no limit", std::nullopt, 2400, 1, 5, 50, false},
        // The mount stands some 90 degrees of azimuth from the target: the dome's turn is charged
        // when it is the slower.
        {"a slow dome's turn past the limit", -12, 600, 1, 5, 50, true, 0.05},
        {"a dome faster than the mount", -12, 600, 1, 5, 50, false, 30},
    };
    const Site site{40, -105, 1600};
    const QDateTime night(QDate(2024, 4, 14), QTime(7, 0), QTimeZone::utc());
    const QDateTime dawn = *firstSunAboveLimit(site, -12, night, night.addSecs(8 * 3600));
    for (const Case& c : cases) {
        SimSurvey sim([&](ObservatorySettings& s) {
            s.clockStart = utcInstantText(dawn.addSecs(-1800));
            s.sunAltitude = c.sunLimit;
            s.downloadSeconds = c.downloadSeconds;
            s.settleTime = 10;
            if (c.domeRate > 0) {
                s.indi.dome = QStringLiteral("Dome");
                s.dome.rotationRate = c.domeRate;
            }
        });
        const QString target = writeOneSupernova(sim, QStringLiteral("SN2024abc"),
                                                 QStringLiteral("**** imageCount=%1").arg(c.images));
        // The mount stands at 0h, 0 degrees.
        const double distance = separation(0, 0, sim.siderealTime(), 20);
        sim.saveSettings([&](SurveySettings& s) {
            s.lastFocusJD = 0; // autofocus due
            s.exposureSNe = c.exposure;
            s.slewRate = static_cast<float>(distance / (c.slewSeconds - 10));
        });
        sim.enable(SurveyKind::SNe);
        NightReasons reasons;
        sim.core->observer = &reasons;

        sim.run(1);

        const QStringList log = sim.logLines();
        const QString why =
            QStringLiteral("Not starting SN2024abc: the Sun reaches -12 deg at %1, before the plan would end")
                .arg(dawn.toTimeZone(QTimeZone("America/Denver")).toString(QStringLiteral("HH:mm")));
        EXPECT_EQ(log.contains(why), c.refused) << c.name << "\n" << log.join('\n').toStdString();
        EXPECT_EQ(log.contains(kNoTarget), c.refused) << c.name;
        EXPECT_EQ(SimSurvey::readLines(sim.host->acquisitionLogPath()).filter("\tstart\t").size(),
                  c.refused ? 0 : 1)
            << c.name;
        EXPECT_EQ(reasons.idlePasses(), c.refused ? 1 : 0) << c.name;
        ASSERT_EQ(reasons.targets().size(), 1) << c.name;
        EXPECT_EQ(reasons.targets()[0].count(Outcome::SunLimit), c.refused ? 1 : 0) << c.name;
        EXPECT_EQ(reasons.targets()[0].count(Outcome::Chosen), c.refused ? 0 : 1) << c.name;
        // A plan not run did no autofocus.
        sim.core->LoadConfig();
        EXPECT_EQ(sim.core->settings.lastFocusJD > 0, !c.refused) << c.name;
    }
}

TEST(RunLoop, StopSurveyAndAcpAlsoAbortsTheScript)
{
    SimSurvey sim([](ObservatorySettings& s) { s.autofocusSeconds = 600; });
    sim.saveSettings([](SurveySettings& s) { s.lastFocusJD = 0; });
    const QString target = writeOneSupernova(sim);
    sim.enable(SurveyKind::SNe);
    const QDateTime start = sim.utc();
    actAt(sim, start.addSecs(120), [&] { sim.core->stopSurveyAndAcp(); });

    sim.run(0);

    EXPECT_LE(secondsSince(sim, start), 121);
    EXPECT_FALSE(sim.core->acpUtil->ScriptActive());
    EXPECT_EQ(sim.logLines().last(), kFailure);
    EXPECT_FALSE(QFile::exists(sim.programFile(QStringLiteral("completed.txt"))));
    EXPECT_EQ(sim.programLines(QStringLiteral("SNeTargets.txt")),
              QStringList({target, QStringLiteral("**** ")}));
    EXPECT_TRUE(sim.view.statuses.contains(QStringLiteral("Survey and ACP stopping")));
    EXPECT_EQ(sim.view.status(), QStringLiteral("Survey stopped"));
}

TEST(RunLoop, StopDuringTheSleepEndsTheRunWithinASecond)
{
    SimSurvey sim;
    const QDateTime start = sim.utc();
    actAt(sim, start.addSecs(400), [&] { sim.core->stopSurvey(); });

    sim.run(0);

    EXPECT_LE(secondsSince(sim, start), 401);
    EXPECT_EQ(sim.core->surveyLog, nullptr);
    EXPECT_EQ(sim.logLines().last(), kNoTarget);
    EXPECT_EQ(count(sim.logLines(), kStars), 4);
    EXPECT_EQ(sim.view.status(), QStringLiteral("Survey stopped"));
    EXPECT_FALSE(sim.core->isRunning());
}

TEST(RunLoop, TheMarkerMayComeUpToTenSecondsAfterTheScript)
{
    struct Case
    {
        double chainScriptDelay;
        bool recorded;
    };
    for (const Case c : {Case{5, true}, Case{9, true}, Case{12, false}, Case{30, false}}) {
        SimSurvey sim([&](ObservatorySettings& s) { s.chainScriptDelay = c.chainScriptDelay; });
        writeOneSupernova(sim);
        sim.enable(SurveyKind::SNe);

        sim.run(1);

        const QStringList log = sim.logLines();
        EXPECT_EQ(log.contains(kFailure), !c.recorded) << c.chainScriptDelay;
        EXPECT_EQ(sim.programLines(QStringLiteral("SNeTargets.txt"))[1].startsWith(
                      QStringLiteral("**** lastImageJD=")),
                  c.recorded)
            << c.chainScriptDelay;
    }
}

TEST(RunLoop, AStaleMarkerNeverCountsForANewPlan)
{
    SimSurvey sim([](ObservatorySettings& s) {
        s.failureRate = 1; // every plan fails before its end
    });
    writeOneSupernova(sim);
    writeBytes(sim.programFile(QStringLiteral("completed.txt")), "completed");
    sim.enable(SurveyKind::SNe);

    sim.run(1);

    EXPECT_EQ(sim.logLines().last(), kFailure);
    EXPECT_EQ(sim.programLines(QStringLiteral("SNeTargets.txt"))[1], QStringLiteral("**** "));
}

TEST(RunLoop, RunPlanOnceIsDeletedAtTheStartOfEveryPass)
{
    SimSurvey sim;
    // Imaged within 12 hours by the first pass, so the second pass finds nothing.
    writeOneSupernova(sim);
    sim.enable(SurveyKind::SNe);
    const QString runPlanOnce = sim.planDir() + QStringLiteral("/runplanonce.txt");
    bool seenAfterPlan = false;
    bool goneInSecondPass = false;
    sim.view.onProcessEvents = [&] {
        const QStringList& shown = sim.view.statuses;
        if (shown.contains(kNoTarget))
            goneInSecondPass = !QFile::exists(runPlanOnce);
        else if (shown.contains(QStringLiteral("Running ACP plan for selected target: SN2024abc")))
            seenAfterPlan = seenAfterPlan || QFile::exists(runPlanOnce);
    };

    sim.run(2);

    EXPECT_TRUE(seenAfterPlan);
    EXPECT_TRUE(goneInSecondPass);
    EXPECT_FALSE(QFile::exists(runPlanOnce));
}

TEST(RunLoop, NoWeatherWaitWithoutAWeatherSource)
{
    for (const bool connected : {false, true}) {
        SimSurvey sim([&](ObservatorySettings& s) {
            s.weatherConnected = connected;
            const QDateTime start = QDateTime::fromString(s.clockStart, Qt::ISODate);
            s.unsafe = {{start.addSecs(-60), start.addSecs(600)}};
        });
        const QDateTime start = sim.utc();

        sim.run(1);

        EXPECT_EQ(sim.view.showed(QStringLiteral("Waiting for weather to be safe")), connected);
        EXPECT_EQ(secondsSince(sim, start) >= 600 + 301, connected) << secondsSince(sim, start);
    }
}

TEST(RunLoop, WaitsForTheHostToBeIdleOnceAtStart)
{
    SimSurvey sim([](ObservatorySettings& s) { s.autofocusSeconds = 300; });
    sim.saveSettings([](SurveySettings& s) { s.lastFocusJD = 0; });
    // Something else keeps the host busy: a plan of its own, started before the survey.
    sim.core->planSNe(writeOneSupernova(sim));
    sim.core->acpUtil->LoadScript(sim.core->acpApplication->Path() +
                                  QStringLiteral("/Scripts/AcquireImages.js"));
    sim.core->fileSystem->CreateTextFile(sim.planDir() + QStringLiteral("/runplanonce.txt"), true)
        ->WriteLine(sim.planPath());
    sim.core->acpUtil->RunScript();
    ASSERT_TRUE(sim.core->acpUtil->ScriptActive());
    sim.view.statuses.clear();
    const QDateTime start = sim.utc();

    sim.run(1);

    // The survey's own first status; the observatory's events have theirs beside it.
    const QStringList survey =
        sim.view.statuses.filter(QRegularExpression(QStringLiteral("^(?!Observatory: )")));
    ASSERT_FALSE(survey.isEmpty());
    EXPECT_EQ(survey.first(), QStringLiteral("Waiting for ACP"));
    EXPECT_GE(secondsSince(sim, start), 300 + 301);
}

// Passes every call to the simulated observatory, except that the acquisition script never starts.
class SilentScriptHost : public Host
{
public:
    explicit SilentScriptHost(Host& inner) : m_inner(inner) {}

    std::unique_ptr<FileSystem> createFileSystem() override { return m_inner.createFileSystem(); }
    std::unique_ptr<AcpUtil> createUtil() override { return std::make_unique<Util>(m_inner.createUtil()); }
    std::unique_ptr<AcpTelescope> createTelescope() override { return m_inner.createTelescope(); }
    std::unique_ptr<AcpApplication> createApplication() override { return m_inner.createApplication(); }
    Clock& clock() override { return m_inner.clock(); }

private:
    class Util : public AcpUtil
    {
    public:
        explicit Util(std::unique_ptr<AcpUtil> inner) : m(std::move(inner)) {}
        bool ScriptActive() override { return false; }
        bool WeatherConnected() override { return m->WeatherConnected(); }
        AcpWeather& Weather() override { return m->Weather(); }
        AcpPrefs& Prefs() override { return m->Prefs(); }
        QString FormatVar(const QDateTime& v, const QString& f) override { return m->FormatVar(v, f); }
        double Date_Julian(const QDateTime& v) override { return m->Date_Julian(v); }
        std::unique_ptr<CoordTransform> NewCTHereAndNow() override { return m->NewCTHereAndNow(); }
        std::unique_ptr<CoordTransform> NewCT(double lat, double st) override { return m->NewCT(lat, st); }
        bool IsGEMDestinationWest(double ra) override { return m->IsGEMDestinationWest(ra); }
        double HMS_Hours(const QString& t) override { return m->HMS_Hours(t); }
        double DMS_Degrees(const QString& t) override { return m->DMS_Degrees(t); }
        QString Hours_HMS(double h, const QString& a, const QString& b, const QString& c) override
        {
            return m->Hours_HMS(h, a, b, c);
        }
        QString Degrees_DMS(double d, const QString& a, const QString& b, const QString& c) override
        {
            return m->Degrees_DMS(d, a, b, c);
        }
        void LoadScript(const QString& path) override { m->LoadScript(path); }
        void RunScript() override {}
        void AbortScript() override {}

    private:
        std::unique_ptr<AcpUtil> m;
    };

    Host& m_inner;
};

TEST(RunLoop, AHostThatNeverStartsTheScriptDoesNotHoldTheNight)
{
    SimSurvey sim;
    writeOneSupernova(sim);
    SilentScriptHost silent(*sim.host);
    RecordingView view;
    view.checked[SurveyKind::SNe] = true;
    SurveyCore core(silent, view, sim.programFolder);
    core.load();
    const QDateTime start = sim.utc();

    core.runLimits.passes = 1;
    core.startSurvey();

    // 60 seconds for the start, then up to 10 for the marker.
    EXPECT_EQ(secondsSince(sim, start), 70);
    EXPECT_EQ(sim.logLines().last(), kFailure);
    EXPECT_EQ(view.status(), QStringLiteral("Survey stopped"));
}

TEST(RunLoop, PassesAndUntilEndTheRunAsStopWould)
{
    {
        SimSurvey sim;
        const QDateTime start = sim.utc();
        sim.run(3);
        EXPECT_EQ(secondsSince(sim, start), 3 * 301);
        EXPECT_EQ(count(sim.logLines(), kNoTarget), 3);
        EXPECT_EQ(sim.view.statuses.mid(sim.view.statuses.size() - 2),
                  QStringList({QStringLiteral("Survey stopping"), QStringLiteral("Survey stopped")}));
    }
    {
        SimSurvey sim;
        const QDateTime start = sim.utc();
        sim.core->runLimits.untilUtc = start.addSecs(1000);
        sim.run(0);
        EXPECT_EQ(secondsSince(sim, start), 1000);
        EXPECT_EQ(count(sim.logLines(), kNoTarget), 4);
        EXPECT_EQ(sim.view.status(), QStringLiteral("Survey stopped"));
    }
}

TEST(RunLoop, AnErrorLeavesTheCoreIdle)
{
    SimSurvey sim;
    sim.enable(SurveyKind::SNe); // no SNeTargets.txt
    EXPECT_THROW(sim.run(1), HostError);
    EXPECT_FALSE(sim.core->isRunning());
    EXPECT_FALSE(sim.view.running);
    EXPECT_EQ(sim.core->surveyLog, nullptr);
    // The log was closed whole: the banner is there.
    EXPECT_EQ(count(sim.logLines(), kStars), 2);
}

TEST(RunLoop, AWaitWithinAWaitDoesNotDispatchAgain)
{
    SimSurvey sim;
    int depth = 0;
    int deepest = 0;
    sim.view.onProcessEvents = [&] {
        ++depth;
        deepest = std::max(deepest, depth);
        sim.core->WaitSeconds(1);
        --depth;
    };
    const QDateTime start = sim.utc();
    sim.core->WaitSeconds(3);
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(secondsSince(sim, start), 6);
}

} // namespace
} // namespace kestrove::test
