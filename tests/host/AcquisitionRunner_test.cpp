#include "support/TestSite.h"
#include "support/TestSupport.h"

#include "host/ChainScript.h"
#include "host/sim/AcquisitionRunner.h"
#include "sky/Astronomy.h"
#include "text/HostError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <functional>

#include <gtest/gtest.h>

using namespace kestrove;
using namespace kestrove::sim;

namespace {

// The chain script exactly as the run loop writes it, for a program folder.
QByteArray completedScript(const QString& programFolder)
{
    return test::crlfLines({QStringLiteral("sub main()"),
                            QStringLiteral("  Set objFSO = CreateObject(\"Scripting.FileSystemObject\")"),
                            QStringLiteral("  Set objFile = objFSO.OpenTextFile(\"") + programFolder +
                                QStringLiteral("completed.txt\", 8, True) ' 8=append"),
                            QStringLiteral("  objFile.Write(\"completed\")"),
                            QStringLiteral("  objFile.Close"), QStringLiteral("end sub")});
}

QStringList logLines(const QString& path)
{
    QString text = QString::fromLatin1(test::readBytes(path));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text.split(u'\n', Qt::SkipEmptyParts);
}

QStringList linesOfKind(const QStringList& lines, const QString& kind)
{
    QStringList found;
    for (const QString& line : lines)
        if (line.section(u'\t', 1, 1) == kind)
            found << line;
    return found;
}

} // namespace

class AcquisitionTest : public ::testing::Test
{
protected:
    AcquisitionTest() : program(dir.filePath(QStringLiteral("program/"))) { QDir().mkpath(program); }

    ObservatorySettings settings()
    {
        ObservatorySettings s =
            test::fixedSite(dir.filePath(QStringLiteral("obs")), QStringLiteral("2026-12-07T22:00:00Z"));
        s.mountRightAscension = 0;
        s.mountDeclination = 0;
        s.slewRate = 2;
        s.settleTime = 10;
        s.autofocusSeconds = 120;
        s.downloadSeconds = 5;
        return s;
    }

    void open(const ObservatorySettings& s)
    {
        observatory = std::make_unique<SimObservatory>(dir.filePath(QStringLiteral("obs")), s);
        util = observatory->createUtil();
        telescope = observatory->createTelescope();
        test::writeBytes(program + QStringLiteral("completed.vbs"), completedScript(program));
    }

    // The plan as the plan writer leaves it, handed over through "runplanonce.txt".
    void handOver(QStringList planLines)
    {
        const QString planDir = util->Prefs().LocalUser().DefaultPlanDir();
        planLines << QStringLiteral("#chainscript ") + program + QStringLiteral("completed.vbs");
        test::writeBytes(planDir + QStringLiteral("/surveyplan.txt"), test::crlfLines(planLines));
        test::writeBytes(planDir + QStringLiteral("/runplanonce.txt"),
                         test::crlfLines({planDir + QStringLiteral("/surveyplan.txt")}));
    }

    void runScript()
    {
        util->LoadScript(observatory->createApplication()->Path() +
                         QStringLiteral("/Scripts/AcquireImages.js"));
        util->RunScript();
    }

    bool marker() const { return QFileInfo::exists(program + QStringLiteral("completed.txt")); }
    QStringList log() const { return logLines(observatory->acquisitionLogPath()); }
    void advance(double seconds) { observatory->simClock().advanceSeconds(seconds); }

    static QStringList standardPlan()
    {
        return {QStringLiteral("#autofocus"),
                QStringLiteral("#dir /images/SNe/NGC1/20261207"),
                QStringLiteral("#calibrate"),
                QStringLiteral("#subframe 0.5"),
                QStringLiteral("#filter R"),
                QStringLiteral("#binning 2"),
                QStringLiteral("#count 3"),
                QStringLiteral("#interval 60"),
                QStringLiteral("NGC1\t06:00:00\t+00:00:00")};
    }

    // autofocus 120 + slew 90 degrees at 2 deg/s + settle 10 + 3 x (60 + 5)
    static constexpr int standardSeconds = 120 + 45 + 10 + 3 * 65;

    QTemporaryDir dir;
    QString program;
    std::unique_ptr<SimObservatory> observatory;
    std::unique_ptr<AcpUtil> util;
    std::unique_ptr<AcpTelescope> telescope;
};

TEST_F(AcquisitionTest, PlanTakesItsTimeAndLeavesTheMountOnTarget)
{
    open(settings());
    handOver(standardPlan());
    runScript();
    EXPECT_TRUE(util->ScriptActive());

    advance(120 + 44);
    EXPECT_EQ(telescope->RightAscension(), 0); // still slewing
    advance(1);
    EXPECT_EQ(telescope->RightAscension(), 6);
    EXPECT_EQ(telescope->Declination(), 0);

    advance(standardSeconds - 165 - 1);
    EXPECT_TRUE(util->ScriptActive());
    EXPECT_FALSE(marker());
    advance(1);
    EXPECT_FALSE(util->ScriptActive());
    EXPECT_TRUE(marker());
    EXPECT_EQ(test::readBytes(program + QStringLiteral("completed.txt")), QByteArray("completed"));
}

TEST_F(AcquisitionTest, AcquisitionLogHasOneLinePerImage)
{
    open(settings());
    handOver(standardPlan());
    runScript();
    advance(standardSeconds);
    const QStringList images = linesOfKind(log(), QStringLiteral("image"));
    ASSERT_EQ(images.size(), 3);
    // Exposures start after autofocus, slew and settle, then every 65 s.
    EXPECT_EQ(images[0],
              QStringLiteral("2026-12-07T22:02:55Z\timage\tNGC1\tR\t2\t60\t/images/SNe/NGC1/20261207"));
    EXPECT_TRUE(images[1].startsWith(QStringLiteral("2026-12-07T22:04:00Z\t")));
    EXPECT_TRUE(images[2].startsWith(QStringLiteral("2026-12-07T22:05:05Z\t")));
    EXPECT_EQ(linesOfKind(log(), QStringLiteral("end")).size(), 1);
}

TEST_F(AcquisitionTest, WithoutAutofocusAndFromTheTargetItIsOnlyExposures)
{
    ObservatorySettings s = settings();
    s.mountRightAscension = 6;
    open(s);
    handOver({QStringLiteral("#count 2"), QStringLiteral("#interval 30"), QStringLiteral("T\t6\t0")});
    runScript();
    advance(10 + 2 * 35 - 1);
    EXPECT_TRUE(util->ScriptActive());
    advance(1);
    EXPECT_FALSE(util->ScriptActive());
    EXPECT_EQ(linesOfKind(log(), QStringLiteral("image")).size(), 2);
    EXPECT_TRUE(linesOfKind(log(), QStringLiteral("image"))[0].contains(QStringLiteral("\tT\t\t1\t30\t")));
}

TEST_F(AcquisitionTest, ChainScriptWaitsForItsDelay)
{
    ObservatorySettings s = settings();
    s.chainScriptDelay = 7;
    open(s);
    handOver(standardPlan());
    runScript();
    advance(standardSeconds);
    EXPECT_FALSE(util->ScriptActive());
    EXPECT_FALSE(marker());
    advance(6);
    EXPECT_FALSE(marker());
    advance(1);
    EXPECT_TRUE(marker());
}

// A chain script takes effect only while the hand-over that started its plan is in place: the run
// loop deletes "runplanonce.txt" at the top of every pass and writes a new one for the next plan, and
// a late marker would be taken for that plan's.
TEST_F(AcquisitionTest, ALateChainScriptIsDroppedOnceItsHandOverIsGone)
{
    const QString planDir = dir.filePath(QStringLiteral("obs/Plans"));
    const QString runPlanOnce = planDir + QStringLiteral("/runplanonce.txt");
    const struct
    {
        const char* what;
        std::function<void()> act; // between the plan's end and its chain script
        bool runs;
    } cases[] = {
        {"nothing changes", [] {}, true},
        {"the hand-over is deleted", [&] { QFile::remove(runPlanOnce); }, false},
        // What the loop does: the same bytes, at once, in a new file.
        {"the hand-over is deleted and written again",
         [&] {
             QFile::remove(runPlanOnce);
             handOver(standardPlan());
         },
         false},
        {"the hand-over is rewritten with another plan",
         [&] { test::writeBytes(runPlanOnce, test::crlfLines({planDir + QStringLiteral("/other.txt")})); },
         false},
        {"a new script is loaded", [&] { util->LoadScript(program + QStringLiteral("completed.vbs")); },
         false},
        {"a new script is run", [&] { runScript(); }, false},
    };
    for (const auto& c : cases) {
        ObservatorySettings s = settings();
        s.chainScriptDelay = 19;
        QFile::remove(observatory ? observatory->acquisitionLogPath() : QString());
        open(s);
        QFile::remove(program + QStringLiteral("completed.txt"));
        handOver(standardPlan());
        runScript();
        advance(standardSeconds);
        ASSERT_FALSE(util->ScriptActive()) << c.what;
        c.act();
        advance(19);
        EXPECT_EQ(marker(), c.runs) << c.what;
        const QStringList dropped = log().filter(QStringLiteral("chain script not run"));
        EXPECT_EQ(dropped.size(), c.runs ? 0 : 1) << c.what;
        EXPECT_EQ(linesOfKind(log(), QStringLiteral("chainscript")).size(), c.runs ? 1 : 0) << c.what;
    }
}

TEST_F(AcquisitionTest, ClockCallbackCatchesUpWithoutAnyRead)
{
    open(settings());
    handOver(standardPlan());
    runScript();
    for (int i = 0; i < standardSeconds; ++i)
        observatory->simClock().sleepSeconds(1);
    EXPECT_TRUE(marker());
    EXPECT_EQ(linesOfKind(log(), QStringLiteral("image")).size(), 3);
}

TEST_F(AcquisitionTest, AbortEndsAtOnceAndLeavesNoMarker)
{
    open(settings());
    handOver(standardPlan());
    runScript();
    advance(200);
    util->AbortScript();
    EXPECT_FALSE(util->ScriptActive());
    advance(3600);
    EXPECT_FALSE(marker());
    EXPECT_EQ(linesOfKind(log(), QStringLiteral("aborted")).size(), 1);
    EXPECT_EQ(linesOfKind(log(), QStringLiteral("image")).size(), 0);
    EXPECT_NO_THROW(util->AbortScript()); // nothing running
}

TEST_F(AcquisitionTest, NonMatchingChainScriptIsRejectedAndLogged)
{
    open(settings());
    test::writeBytes(program + QStringLiteral("completed.vbs"),
                     completedScript(program) + "CreateObject(\"WScript.Shell\").Run \"sh\"\r\n");
    handOver(standardPlan());
    runScript();
    advance(standardSeconds + 60);
    EXPECT_FALSE(marker());
    const QStringList errors = linesOfKind(log(), QStringLiteral("error"));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("completed.vbs")));
}

TEST_F(AcquisitionTest, CertainFailureNeverLeavesAMarker)
{
    ObservatorySettings s = settings();
    s.failureRate = 1;
    open(s);
    for (int run = 0; run < 5; ++run) {
        handOver(standardPlan());
        runScript();
        int seconds = 0;
        while (util->ScriptActive()) {
            advance(1);
            ++seconds;
        }
        EXPECT_LT(seconds, standardSeconds);
        advance(60);
        EXPECT_FALSE(marker());
    }
    EXPECT_EQ(linesOfKind(log(), QStringLiteral("failed (simulated fault)")).size(), 5);
}

TEST_F(AcquisitionTest, SameSeedSameOutcomes)
{
    const auto outcomes = [this](unsigned seed) {
        ObservatorySettings s = settings();
        s.failureRate = 0.5;
        s.failureSeed = seed;
        open(s);
        QString pattern;
        for (int run = 0; run < 12; ++run) {
            QFile::remove(program + QStringLiteral("completed.txt"));
            handOver(standardPlan());
            runScript();
            advance(standardSeconds);
            pattern += marker() ? u'+' : u'-';
        }
        return pattern;
    };
    const QString first = outcomes(7);
    EXPECT_EQ(outcomes(7), first);
    EXPECT_TRUE(first.contains(u'+'));
    EXPECT_TRUE(first.contains(u'-'));
}

TEST_F(AcquisitionTest, UnsafeWeatherAbortsTheRunningPlan)
{
    ObservatorySettings s = settings();
    s.weatherConnected = true;
    s.unsafe = {{test::utc("2026-12-07T22:03:20Z"), test::utc("2026-12-07T23:00:00Z")}};
    open(s);
    handOver(standardPlan());
    runScript();
    advance(199);
    EXPECT_TRUE(util->ScriptActive());
    advance(1);
    EXPECT_FALSE(util->ScriptActive());
    advance(3600);
    EXPECT_FALSE(marker());
    EXPECT_EQ(linesOfKind(log(), QStringLiteral("aborted, weather unsafe")).size(), 1);
    EXPECT_EQ(linesOfKind(log(), QStringLiteral("image")).size(), 0); // first exposure ends at 235 s

    // The same interval with no weather source connected changes nothing.
    s.weatherConnected = false;
    open(s);
    observatory->simClock().setUtc(test::utc("2026-12-07T22:00:00Z"));
    handOver(standardPlan());
    runScript();
    advance(standardSeconds);
    EXPECT_TRUE(marker());
}

TEST_F(AcquisitionTest, DawnAbortsTheRunningPlan)
{
    // The Sun stands at -9.34 degrees at 07:10 and climbs past -9 within two minutes, well before
    // the plan's 370 seconds are over.
    ObservatorySettings s = settings();
    s.clockStart = QStringLiteral("2026-12-08T07:10:00Z");
    s.sunAltitude = -9;
    open(s);
    handOver(standardPlan());
    runScript();
    EXPECT_TRUE(util->ScriptActive());
    advance(standardSeconds);
    EXPECT_FALSE(util->ScriptActive());
    advance(60);
    EXPECT_FALSE(marker());
    const QStringList aborted = linesOfKind(log(), QStringLiteral("aborted, the Sun is above the limit"));
    ASSERT_EQ(aborted.size(), 1);
    const QDateTime at = test::utc(aborted.front().section(u'\t', 0, 0).toLatin1().constData());
    EXPECT_NEAR(sunAltitude(at, {28.7606, -17.8816, 2396}), -9, 0.01);

    // Without a limit the same plan runs to its end.
    s.sunAltitude.reset();
    open(s);
    observatory->simClock().setUtc(test::utc("2026-12-08T07:10:00Z"));
    handOver(standardPlan());
    runScript();
    advance(standardSeconds);
    EXPECT_TRUE(marker());
}

TEST_F(AcquisitionTest, ScriptErrors)
{
    open(settings());
    EXPECT_THROW(util->RunScript(), HostError); // nothing loaded
    runScript();                                // no runplanonce.txt: the script fails at once
    EXPECT_FALSE(util->ScriptActive());
    EXPECT_EQ(linesOfKind(log(), QStringLiteral("error")).size(), 1);

    handOver(standardPlan());
    runScript();
    EXPECT_THROW(util->RunScript(), HostError); // already running
    EXPECT_TRUE(util->ScriptActive());

    util->AbortScript();
    handOver({QStringLiteral("#count 2"), QStringLiteral("#bogus 3"), QStringLiteral("T\t6\t0")});
    runScript();
    EXPECT_FALSE(util->ScriptActive());
    const QStringList errors = linesOfKind(log(), QStringLiteral("error"));
    ASSERT_EQ(errors.size(), 2);
    EXPECT_TRUE(errors[1].contains(QStringLiteral("line 2")));
}

TEST(ChainScript, AcceptsTheCompletionScriptShape)
{
    const struct
    {
        const char* script;
        const char* path;
        const char* text;
    } cases[] = {
        {"sub main()\r\n  Set objFSO = CreateObject(\"Scripting.FileSystemObject\")\r\n"
         "  Set objFile = objFSO.OpenTextFile(\"/p/completed.txt\", 8, True) ' 8=append\r\n"
         "  objFile.Write(\"completed\")\r\n  objFile.Close\r\nend sub\r\n",
         "/p/completed.txt", "completed"},
        {"' marker\n\nSUB Main\nset fs = createobject( \"scripting.filesystemobject\" )\n\n"
         "SET f = FS.OpenTextFile(\"/a b/it's.txt\", 8, true)\nf.Write \"say \"\"hi\"\"\" ' "
         "quoted\nF.close()\nEnd Sub\n",
         "/a b/it's.txt", "say \"hi\""},
    };
    for (const auto& c : cases) {
        const ChainEffect effect = parseChainScript(QStringLiteral("x.vbs"), QByteArray(c.script));
        EXPECT_EQ(effect.path, QString::fromLatin1(c.path));
        EXPECT_EQ(effect.text, QString::fromLatin1(c.text));
    }
}

TEST(ChainScript, RejectsEverythingElse)
{
    const QByteArray good = "sub main()\n"
                            "Set objFSO = CreateObject(\"Scripting.FileSystemObject\")\n"
                            "Set objFile = objFSO.OpenTextFile(\"/p/completed.txt\", 8, True)\n"
                            "objFile.Write(\"completed\")\n"
                            "objFile.Close\n"
                            "end sub\n";
    const struct
    {
        const char* from;
        const char* to;
    } edits[] = {
        {"sub main()", "sub other()"},
        {"Scripting.FileSystemObject", "WScript.Shell"},
        {", 8, True", ", 2, True"},
        {", 8, True", ", 8, False"},
        {"objFSO.OpenTextFile", "other.OpenTextFile"},
        {"objFile.Write", "other.Write"},
        {"objFile.Write(\"completed\")", "objFile.WriteLine(\"completed\")"},
        {"objFile.Close\n", ""},
        {"end sub\n", ""},
        {"end sub\n", "end sub\nmain\n"},
        {"objFile.Close\n", "objFile.Close\nobjFSO.DeleteFile(\"/x\")\n"},
        {"\"/p/completed.txt\"", "\"\""},
    };
    for (const auto& e : edits) {
        QByteArray script = good;
        script.replace(e.from, e.to);
        ASSERT_NE(script, good);
        EXPECT_THROW(parseChainScript(QStringLiteral("x.vbs"), script), HostError) << script.constData();
    }
    EXPECT_NO_THROW(parseChainScript(QStringLiteral("x.vbs"), good));
}

TEST(ChainScript, AppendsCreatingTheFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("completed.txt"));
    applyChainEffect({path, QStringLiteral("completed")});
    applyChainEffect({path, QStringLiteral("completed")});
    EXPECT_EQ(test::readBytes(path), QByteArray("completedcompleted"));
    EXPECT_THROW(applyChainEffect({dir.filePath(QStringLiteral("no/such.txt")), QStringLiteral("x")}),
                 HostError);
}

TEST(AcquisitionPlan, ReadsDirectivesAndTarget)
{
    const AcquisitionPlan plan =
        parsePlan(QStringLiteral("p.txt"),
                  {QStringLiteral("#autofocus"), QStringLiteral("#dir /i/SLC/V1/20261207"),
                   QStringLiteral("#calibrate"), QStringLiteral("#subframe 0.5"), QStringLiteral("#filter V"),
                   QStringLiteral("#binning 2"), QStringLiteral("#count 4"), QStringLiteral("#interval 12.5"),
                   QStringLiteral("V1 Cyg\t10:38:45.9\t+53:30:12"),
                   QStringLiteral("#chainscript /prog/completed.vbs")});
    EXPECT_TRUE(plan.autofocus);
    EXPECT_EQ(plan.dir, QStringLiteral("/i/SLC/V1/20261207"));
    EXPECT_EQ(plan.filter, QStringLiteral("V"));
    EXPECT_EQ(plan.binning, 2);
    EXPECT_EQ(plan.count, 4);
    EXPECT_EQ(plan.interval, 12.5);
    EXPECT_EQ(plan.target, QStringLiteral("V1 Cyg"));
    EXPECT_NEAR(plan.rightAscension, 10 + 38 / 60.0 + 45.9 / 3600, 1e-12);
    EXPECT_NEAR(plan.declination, 53 + 30 / 60.0 + 12 / 3600.0, 1e-12);
    EXPECT_EQ(plan.chainScript, QStringLiteral("/prog/completed.vbs"));

    for (const QStringList& bad :
         {QStringList{QStringLiteral("#count 2")},
          QStringList{QStringLiteral("#count x"), QStringLiteral("T\t1\t2")},
          QStringList{QStringLiteral("#binning 1.5"), QStringLiteral("T\t1\t2")},
          QStringList{QStringLiteral("T\t1")}, QStringList{QStringLiteral("T\tx\t2")},
          QStringList{QStringLiteral("T\t1\t2"), QStringLiteral("U\t1\t2")},
          QStringList{QStringLiteral("T\t5\t") + QString(400, u'9')}})
        EXPECT_THROW(parsePlan(QStringLiteral("p.txt"), bad), HostError) << bad.join(u'|').toStdString();
}
