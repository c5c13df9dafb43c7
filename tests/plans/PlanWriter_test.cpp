#include "core/SimSurvey.h"
#include "host/PlanReader.h"
#include "text/HostError.h"

#include <gtest/gtest.h>

#include <functional>

namespace kestrove::test {
namespace {

const QString kTarget = QStringLiteral("NGC3310\t10:38:45.9\t+53:30:12");

class PlanWriterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        sim.core->settings.baseDir = QStringLiteral("/data/Images/");
        sim.core->settings.lastFocusJD = sim.jdNow(); // no autofocus unless a test asks for it
    }

    QStringList plan() { return SimSurvey::readLines(sim.planPath()); }
    QString chainLine()
    {
        return QStringLiteral("#chainscript ") + sim.programFolder + QStringLiteral("completed.vbs");
    }
    // Opens the survey log as a pass would, so that the writer's log lines can be read.
    void openLog()
    {
        sim.core->surveyLog = sim.core->fileSystem->OpenTextFile(sim.logPath(), IOMode::ForAppending, true);
    }
    QStringList closeLog()
    {
        sim.core->surveyLog->Close();
        sim.core->surveyLog.reset();
        return sim.logLines();
    }

    SimSurvey sim;
};

TEST_F(PlanWriterTest, SupernovaPlanWithEveryLineIsByteExact)
{
    SurveySettings& s = sim.core->settings;
    s.lastFocusJD = 0;
    s.cameraSubframeSNe = 0.5f;
    sim.writeProgramFile(QStringLiteral("SNeTargets.txt"),
                         {QStringLiteral("M51\t13:29:52.7\t+47:11:43"), QStringLiteral("**** "), kTarget,
                          QStringLiteral("**** imageCount=3 filter=R binning=2 exposure=60 reshoot=true")});

    sim.core->planSNe(kTarget);

    const QByteArray expected =
        crlfLines({QStringLiteral("#autofocus"), QStringLiteral("#dir /data/Images/SNe/NGC3310/20240413"),
                   QStringLiteral("#calibrate"), QStringLiteral("#subframe 0.5"), QStringLiteral("#filter R"),
                   QStringLiteral("#binning 2"), QStringLiteral("#count 3"), QStringLiteral("#interval 60"),
                   kTarget, chainLine()});
    EXPECT_EQ(readBytes(sim.planPath()), expected);
    EXPECT_EQ(sim.view.status(), QStringLiteral("Creating SNe plan file"));
}

TEST_F(PlanWriterTest, SupernovaDefaultsComeFromTheSettings)
{
    SurveySettings& s = sim.core->settings;
    s.exposureSNe = 45.5f;
    s.cameraBinningSNe = 3;
    s.cameraFilterSNe = QStringLiteral("V");
    s.cameraSubframeSNe = 1;
    sim.writeProgramFile(QStringLiteral("SNeTargets.txt"),
                         {kTarget, QStringLiteral("**** lastImageJD=2460000.5")});

    sim.core->planSNe(kTarget);

    EXPECT_EQ(
        plan(),
        QStringList({QStringLiteral("#dir /data/Images/SNe/NGC3310/20240413"), QStringLiteral("#calibrate"),
                     QStringLiteral("#subframe 1"), QStringLiteral("#filter V"), QStringLiteral("#binning 3"),
                     QStringLiteral("#count 1"), QStringLiteral("#interval 45.5"), kTarget, chainLine()}));
}

TEST_F(PlanWriterTest, AnEmptyFilterWritesNoFilterLine)
{
    struct Case
    {
        QString settingFilter;
        QString configLine;
    };
    const Case cases[] = {
        {QString(), QStringLiteral("**** ")},
        {QStringLiteral("R"), QStringLiteral("**** filter=")},
    };
    for (const Case& c : cases) {
        sim.core->settings.cameraFilterSNe = c.settingFilter;
        sim.writeProgramFile(QStringLiteral("SNeTargets.txt"), {kTarget, c.configLine});
        sim.core->planSNe(kTarget);
        const QStringList lines = plan();
        EXPECT_EQ(lines.filter(QStringLiteral("#filter")), QStringList()) << c.configLine.toStdString();
        EXPECT_EQ(lines.size(), 8) << c.configLine.toStdString();
    }
}

TEST_F(PlanWriterTest, AutofocusOnlyWhenMoreThanTheIntervalHasPassed)
{
    struct Case
    {
        int focusInterval;
        int secondsSinceFocus; // -1: never focused
        bool autofocus;
    };
    const Case cases[] = {
        {30, 1799, false}, {30, 1800, false}, {30, 1801, true}, {0, 0, false},
        {0, 1, true},      {60, 3600, false}, {60, 3660, true}, {30, -1, true},
    };
    for (const Case& c : cases) {
        SimSurvey local;
        local.writeProgramFile(QStringLiteral("SNeTargets.txt"), {kTarget, QStringLiteral("**** ")});
        SurveySettings& s = local.core->settings;
        s.focusInterval = static_cast<int16_t>(c.focusInterval);
        s.lastFocusJD = c.secondsSinceFocus < 0 ? 0 : local.jdNow();
        local.host->simClock().advanceSeconds(std::max(c.secondsSinceFocus, 0));
        local.core->surveyLog =
            local.core->fileSystem->OpenTextFile(local.logPath(), IOMode::ForAppending, true);

        local.core->planSNe(kTarget);

        local.core->surveyLog.reset();
        const QStringList lines = SimSurvey::readLines(local.planPath());
        const std::string label =
            std::to_string(c.focusInterval) + " min, " + std::to_string(c.secondsSinceFocus) + " s";
        ASSERT_FALSE(lines.isEmpty()) << label;
        EXPECT_EQ(lines.first() == QStringLiteral("#autofocus"), c.autofocus) << label;
        EXPECT_EQ(local.logLines().contains(QStringLiteral("Performing autofocus on this target")),
                  c.autofocus)
            << label;
    }
}

TEST_F(PlanWriterTest, AnAutofocusIsSavedAtOnce)
{
    sim.core->settings.lastFocusJD = 0;
    sim.writeProgramFile(QStringLiteral("SNeTargets.txt"), {kTarget, QStringLiteral("**** ")});
    const double before = sim.jdNow();

    sim.core->planSNe(kTarget);

    EXPECT_NEAR(sim.core->settings.lastFocusJD, before, 1e-9);
    // What the next start reads back.
    sim.core->settings.lastFocusJD = -1;
    sim.core->LoadConfig();
    EXPECT_NEAR(sim.core->settings.lastFocusJD, before, 1e-7);
}

TEST_F(PlanWriterTest, TheNightsFolderChangesAtLocalNoon)
{
    struct Case
    {
        const char* utc; // Mountain daylight time is UTC - 6
        const char* folder;
    };
    const Case cases[] = {
        {"2024-04-14T17:59:00Z", "20240413"}, // 11:59 local
        {"2024-04-14T18:00:00Z", "20240414"}, // 12:00 local
        {"2024-04-15T05:59:59Z", "20240414"}, // 23:59:59 local
        {"2024-04-15T06:00:00Z", "20240414"}, // midnight local
    };
    sim.writeProgramFile(QStringLiteral("SNeTargets.txt"), {kTarget, QStringLiteral("**** ")});
    for (const Case& c : cases) {
        sim.host->simClock().setUtc(QDateTime::fromString(QString::fromLatin1(c.utc), Qt::ISODate));
        sim.core->settings.lastFocusJD = sim.jdNow();
        sim.core->planSNe(kTarget);
        EXPECT_EQ(plan().first(),
                  QStringLiteral("#dir /data/Images/SNe/NGC3310/") + QString::fromLatin1(c.folder))
            << c.utc;
    }
}

TEST_F(PlanWriterTest, MinorPlanetPlanCountsOneImageWithoutSubframeOrTargetFolder)
{
    const QString field = QStringLiteral("2!10h38m45.90s!+53d30m12.0s\t10.6461\t53.503");
    SurveySettings& s = sim.core->settings;
    s.exposureMPS = 30;
    s.cameraBinningMPS = 2;
    s.cameraFilterMPS = QStringLiteral("Clear");
    sim.writeProgramFile(QStringLiteral("MPSfov2.txt"),
                         {QStringLiteral("10:30:00 +53:00:00 10:45:00 +54:00:00"), field,
                          QStringLiteral("**** lastImageJD=2460414.1 imageCount=2")});
    openLog();

    sim.core->planMPS(field);

    EXPECT_EQ(plan(),
              QStringList({QStringLiteral("#dir /data/Images/MPS/20240413"), QStringLiteral("#calibrate"),
                           QStringLiteral("#filter Clear"), QStringLiteral("#binning 2"),
                           QStringLiteral("#count 1"), QStringLiteral("#interval 30"),
                           QStringLiteral("; set=1/3"), field, chainLine()}));
    EXPECT_EQ(closeLog(), QStringList({QStringLiteral("Creating plan file")}));
    EXPECT_EQ(sim.view.status(), QStringLiteral("Creating MPS plan file"));
}

// A field's set is taken a plan per image: each plan says which image of the set it takes, counted
// as the field file's update counts it (a last image over half a day old starts the set again), and
// the plan reader gives it back.
TEST_F(PlanWriterTest, MinorPlanetPlanSaysWhichImageOfItsSetItTakes)
{
    const QString field = QStringLiteral("2!10h38m45.90s!+53d30m12.0s\t10.6461\t53.503");
    const struct
    {
        const char* name;
        double daysSinceLast; // < 0: no lastImageJD
        int imageCount;
        int imagesMPS;
        int image;
    } cases[] = {
        {"new field", -1, 0, 3, 1}, {"second", 0.02, 1, 3, 2},  {"last", 0.04, 2, 3, 3},
        {"stale", 0.6, 2, 3, 1},    {"one a set", -1, 0, 1, 1},
    };
    for (const auto& c : cases) {
        sim.core->settings.imagesMPS = static_cast<int16_t>(c.imagesMPS);
        QString config = QStringLiteral("****");
        if (c.daysSinceLast >= 0)
            config += QStringLiteral(" lastImageJD=%1").arg(sim.jdNow() - c.daysSinceLast, 0, 'f', 6);
        config += QStringLiteral(" imageCount=%1").arg(c.imageCount);
        sim.writeProgramFile(QStringLiteral("MPSfov2.txt"),
                             {QStringLiteral("10:30:00 +53:00:00 10:45:00 +54:00:00"), field, config});
        sim.core->planMPS(field);
        const QStringList lines = plan();
        const QString expected = QStringLiteral("; set=%1/%2").arg(c.image).arg(c.imagesMPS);
        EXPECT_EQ(lines.filter(QStringLiteral("; set=")), QStringList{expected}) << c.name;
        const AcquisitionPlan read = parsePlan(sim.planPath(), lines);
        EXPECT_EQ(read.setImage, c.image) << c.name;
        EXPECT_EQ(read.setSize, c.imagesMPS) << c.name;
    }
}

TEST_F(PlanWriterTest, MinorPlanetTargetWithoutFieldNumberFails)
{
    for (const QString& target : {QStringLiteral("field\t10.5\t53.5"), QStringLiteral("x!y\t10.5\t53.5")})
        EXPECT_THROW(sim.core->planMPS(target), HostError) << target.toStdString();
    EXPECT_FALSE(QFile::exists(sim.planPath()));
}

TEST_F(PlanWriterTest, LightcurveCountDefaultsToTheSetSizeRoundedHalfToEven)
{
    struct Case
    {
        float setSize;
        QString configLine;
        QString count;
    };
    const Case cases[] = {
        {4.5f, QStringLiteral("**** priority=5"), QStringLiteral("#count 4")},
        {5.5f, QStringLiteral("**** "), QStringLiteral("#count 6")},
        {3.0f, QStringLiteral("**** "), QStringLiteral("#count 3")},
        {5.5f, QStringLiteral("**** imageCount=2"), QStringLiteral("#count 2")},
    };
    const QString star = QStringLiteral("RR Lyr\t19:25:27.9\t+42:47:04");
    SurveySettings& s = sim.core->settings;
    s.cameraSubframeSLC = 0.25f;
    s.exposureSLC = 12.5f;
    for (const Case& c : cases) {
        s.setSizeSLC = c.setSize;
        sim.writeProgramFile(QStringLiteral("SLCTargets.txt"), {star, c.configLine});
        sim.core->planSLC(star);
        EXPECT_EQ(plan(), QStringList({QStringLiteral("#dir /data/Images/SLC/RR Lyr/20240413"),
                                       QStringLiteral("#calibrate"), QStringLiteral("#subframe 0.25"),
                                       QStringLiteral("#binning 1"), c.count,
                                       QStringLiteral("#interval 12.5"), star, chainLine()}))
            << c.setSize;
    }
    EXPECT_EQ(sim.view.status(), QStringLiteral("Creating SLC plan file"));
}

// A lightcurve's named comparison and check stars ride in the plan as comments, and the plan reader
// gives them back; a supernova plan carries none, and an item without a place is left out.
TEST_F(PlanWriterTest, NamedStarsReachThePlanReader)
{
    struct Case
    {
        const char* name;
        bool lightcurve;
        QString configLine;
        QStringList comments;
        std::vector<std::pair<double, QString>> comparisons; // declination, label
        QString check;                                       // label; null: none
    };
    const Case cases[] = {
        {"none", true, QStringLiteral("**** priority=5"), {}, {}, {}},
        {"two and a check",
         true,
         QStringLiteral("**** comp=19:25:40,+42:47:00,8.25,A comp=19.5,42.9 check=19:26:00,+42:48:00,,CHK"),
         {QStringLiteral("; comp=19:25:40,+42:47:00,8.25,A"), QStringLiteral("; comp=19.5,42.9"),
          QStringLiteral("; check=19:26:00,+42:48:00,,CHK")},
         {{42 + 47 / 60.0, QStringLiteral("A")}, {42.9, QString()}},
         QStringLiteral("CHK")},
        {"no place",
         true,
         QStringLiteral("**** comp=bright comp=1,2,3"),
         {QStringLiteral("; comp=1,2,3")},
         {{2, QString()}},
         {}},
        {"not a lightcurve", false, QStringLiteral("**** comp=19:25:40,+42:47:00"), {}, {}, {}},
    };
    const QString star = QStringLiteral("RR Lyr\t19:25:27.9\t+42:47:04");
    for (const Case& c : cases) {
        sim.writeProgramFile(c.lightcurve ? QStringLiteral("SLCTargets.txt")
                                          : QStringLiteral("SNeTargets.txt"),
                             {star, c.configLine});
        c.lightcurve ? sim.core->planSLC(star) : sim.core->planSNe(star);
        const QStringList lines = plan();
        QStringList comments;
        for (const QString& line : lines)
            if (line.startsWith(u';'))
                comments << line;
        EXPECT_EQ(comments, c.comments) << c.name;
        EXPECT_EQ(lines.indexOf(star), lines.size() - 2) << c.name; // the comments come before it
        const AcquisitionPlan read = parsePlan(sim.planPath(), lines);
        ASSERT_EQ(read.comparisons.size(), c.comparisons.size()) << c.name;
        for (size_t i = 0; i < c.comparisons.size(); ++i) {
            EXPECT_NEAR(read.comparisons[i].declination, c.comparisons[i].first, 1e-9) << c.name;
            EXPECT_EQ(read.comparisons[i].label, c.comparisons[i].second) << c.name;
        }
        EXPECT_EQ(read.check.has_value(), !c.check.isNull()) << c.name;
        EXPECT_EQ(read.check ? read.check->label : QString(), c.check) << c.name;
    }
    EXPECT_EQ(parsePlan(sim.planPath(), {QStringLiteral("; comp=19:25:40,+42:47:00,8.25,A"), star})
                  .comparisons.front()
                  .magnitude,
              8.25);
    EXPECT_THROW(parsePlan(sim.planPath(), {QStringLiteral("; check=25:00:00,+91"), star}), HostError);
}

TEST_F(PlanWriterTest, ATargetGivenTwiceIsPlannedFromItsSecondEntry)
{
    sim.core->settings.lastFocusJD = 0;
    sim.writeProgramFile(QStringLiteral("SNeTargets.txt"),
                         {kTarget, QStringLiteral("**** imageCount=2"),
                          QStringLiteral("Other\t1:00:00\t+10:00:00"), QStringLiteral("**** "), kTarget,
                          QStringLiteral("**** imageCount=5")});
    openLog();

    sim.core->planSNe(kTarget);

    // The first plan focused; the second was tested again against the new last focus.
    const QStringList lines = plan();
    EXPECT_EQ(lines.first(), QStringLiteral("#dir /data/Images/SNe/NGC3310/20240413"));
    EXPECT_TRUE(lines.contains(QStringLiteral("#count 5")));
    EXPECT_EQ(closeLog(), QStringList({QStringLiteral("Creating plan file"),
                                       QStringLiteral("Performing autofocus on this target")}));
}

TEST_F(PlanWriterTest, NoPlanForATargetThatIsMissingOrHasNoConfigLine)
{
    const QStringList files[] = {
        {QStringLiteral("Other\t1:00:00\t+10:00:00"), QStringLiteral("**** ")},
        {QStringLiteral("Other\t1:00:00\t+10:00:00"), QStringLiteral("**** "), kTarget},
    };
    for (const QStringList& file : files) {
        sim.writeProgramFile(QStringLiteral("SNeTargets.txt"), file);
        sim.core->planSNe(kTarget);
        EXPECT_FALSE(QFile::exists(sim.planPath()));
    }
}

TEST_F(PlanWriterTest, AMissingTargetsFileFails)
{
    EXPECT_THROW(sim.core->planSLC(kTarget), HostError);
}

TEST_F(PlanWriterTest, FollowUpWritesNothing)
{
    sim.core->planMPF(kTarget);
    EXPECT_FALSE(QFile::exists(sim.planPath()));
    EXPECT_TRUE(sim.view.statuses.isEmpty());
}

// The plan writer and the update read the chosen entry's config line again; what they report about
// it names the file and the line too.
TEST_F(PlanWriterTest, MessagesAboutTheChosenEntryNameItsFileAndLine)
{
    struct Case
    {
        const char* kind;
        std::function<void(SurveyCore&)> act;
    };
    const Case cases[] = {
        {"plan", [](SurveyCore& core) { core.planSNe(kTarget); }},
        {"update", [](SurveyCore& core) { core.updateSNe(kTarget); }},
    };
    for (const Case& c : cases) {
        sim.writeProgramFile(QStringLiteral("SNeTargets.txt"),
                             {QStringLiteral("M51\t13:29:52.7\t+47:11:43"), QStringLiteral("**** "), kTarget,
                              QStringLiteral("**** colour=red")});
        sim.view.messages.clear();
        c.act(*sim.core);
        EXPECT_EQ(sim.view.messages,
                  QStringList{
                      QStringLiteral("SNeTargets.txt line 4: Unknown item name colour: \"**** colour=red\"")})
            << c.kind;
    }
    // Outside a file the text alone is shown.
    sim.view.messages.clear();
    QString name;
    sim.core->extractName(QStringLiteral("no tab"), name);
    EXPECT_EQ(sim.view.messages, QStringList{QStringLiteral("Parse error - First tab missing: \"no tab\"")});
}

} // namespace
} // namespace kestrove::test
