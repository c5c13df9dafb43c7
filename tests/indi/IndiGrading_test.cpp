// The frames' grades on Debian's INDI simulators: the CCD simulator draws the Tycho-2 stars of
// tests/indi/gsc, none while a "clouds" file exists, and blurs them with the focuser simulator's
// distance from the best focus.
#include "core/History.h"
#include "database/ObservationDb.h"
#include "host/ObservatoryControl.h"
#include "indi/IndiSurvey.h"
#include "settings/ConfigFile.h"

#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>

#include <csignal>

using namespace kestrove;
using test::IndiServer;
using test::IndiSurvey;

namespace {

const QStringList kDrivers{"indi_simulator_telescope", "indi_simulator_ccd", "indi_simulator_wheel"};

// Clouds that come and go: while the file exists the simulator draws no star.
class Sky
{
public:
    QList<QPair<QString, QString>> environment() const
    {
        return test::gscEnvironment({{QStringLiteral("KESTROVE_GSC_CLOUDS"), m_clouds}});
    }
    void cover() const { test::writeBytes(m_clouds, {}); }
    void clear() const { QFile::remove(m_clouds); }

private:
    QTemporaryDir m_dir;
    QString m_clouds = m_dir.filePath(QStringLiteral("clouds"));
};

void gradeFrames(ObservatorySettings& s)
{
    s.grading.enabled = true;
}

// The whole chip: at declination 80 a quarter of it holds as few as 4 Tycho-2 stars at some
// sidereal times, under the floor of 5 however clear the sky.
void wholeFrames(IndiSurvey& survey)
{
    survey.core->settings.cameraSubframeSNe = 1;
    survey.core->SaveConfig();
}

QList<HistoryEntry> plansOf(IndiSurvey& survey)
{
    return readHistory(historyPath(survey.host->settings().logDir)).entries;
}

QList<ObservatoryEvent> eventsOf(IndiSurvey& survey)
{
    return readHistory(historyPath(survey.host->settings().logDir)).events;
}

// Every row, from a connection of the test's own.
struct Rows
{
    explicit Rows(const QString& logDir)
    {
        database::ObservationDb db(database::observationsPath(logDir));
        const QDateTime from = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
        const QDateTime to = QDateTime::currentDateTimeUtc().addDays(1);
        frames = db.frames(from, to);
        plans = db.plans(from, to);
    }
    std::vector<database::FrameRecord> frames;
    std::vector<database::PlanRecord> plans;
};

// The plans kept in the night's folders, oldest first.
QStringList archivedPlans(IndiSurvey& survey)
{
    QStringList found;
    QDirIterator it(survey.host->settings().planDir, {QStringLiteral("*-SNe-SNtest.txt")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    std::sort(found.begin(), found.end(), [](const QString& a, const QString& b) {
        return QFileInfo(a).fileName() < QFileInfo(b).fileName();
    });
    return found;
}

} // namespace

// Clouds: the plan's frames show no star, so the plan is not counted and says why; the target stays
// due, and the next plan, under a clear sky, is counted. Every frame and plan is in the database.
TEST(IndiGrading, ACloudyPlanIsNotCountedAndSaysWhyTheNextClearOneIs)
{
    Sky sky;
    IndiServer server(kDrivers, sky.environment());
    IndiSurvey survey(server, gradeFrames);
    wholeFrames(survey);
    test::setOptics(server, 50000);
    sky.cover();
    survey.run(1);
    const QString rejected = survey.host->lastPlanOutcome();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^rejected: [0-4] stars where 5 expected$"))
                    .match(rejected)
                    .hasMatch())
        << qPrintable(rejected) << "\n"
        << qPrintable(survey.acquisitionLog());
    EXPECT_FALSE(survey.marker());
    EXPECT_FALSE(survey.catalogueUpdated());
    ASSERT_EQ(plansOf(survey).size(), 1);
    EXPECT_EQ(plansOf(survey).last().result, rejected);
    EXPECT_TRUE(survey.surveyLog().contains(
        QStringLiteral("Plan for SNtest %1 - not updating targets file").arg(rejected)))
        << qPrintable(survey.surveyLog());
    EXPECT_TRUE(survey.view.showed(QStringLiteral("Plan for SNtest rejected: ")));

    sky.clear();
    survey.run(1);
    EXPECT_EQ(survey.host->lastPlanOutcome(), QStringLiteral("completed"))
        << qPrintable(survey.acquisitionLog());
    EXPECT_TRUE(survey.catalogueUpdated());
    ASSERT_EQ(plansOf(survey).size(), 2);
    EXPECT_EQ(plansOf(survey).last().result, QStringLiteral("completed"));

    const Rows rows(survey.host->settings().logDir);
    ASSERT_EQ(rows.plans.size(), 2u);
    EXPECT_EQ(rows.plans[0].result, rejected);
    EXPECT_EQ(rows.plans[0].frames, 2);
    EXPECT_EQ(rows.plans[0].accepted, 0);
    EXPECT_EQ(rows.plans[1].result, QStringLiteral("completed"));
    EXPECT_EQ(rows.plans[1].frames, 2);
    EXPECT_EQ(rows.plans[1].accepted, 2);
    ASSERT_EQ(rows.frames.size(), 4u);
    for (size_t i = 0; i < rows.frames.size(); ++i) {
        const database::FrameRecord& f = rows.frames[i];
        EXPECT_EQ(f.planId, rows.plans[i / 2].id);
        EXPECT_EQ(f.kind, QStringLiteral("SNe"));
        EXPECT_EQ(f.filter, QStringLiteral("Green"));
        EXPECT_EQ(f.binning, 2);
        EXPECT_TRUE(QFileInfo::exists(f.path)) << qPrintable(f.path);
        EXPECT_GT(f.measurement.background, 0);
        EXPECT_EQ(f.accepted, i >= 2);
        if (i < 2) {
            EXPECT_EQ(QStringLiteral("rejected: ") + f.reason, rejected);
        } else {
            EXPECT_GE(f.measurement.stars, 5);
        }
    }
    std::printf("cloudy: %s; clear: %d and %d stars, HFR %.2f px\n", qPrintable(rejected),
                rows.frames[2].measurement.stars, rows.frames[3].measurement.stars,
                rows.frames[2].measurement.medianHfr);
}

// A frame far softer than the target's recent ones is focus or seeing gone bad: the plan is not
// counted, and the next one focuses first ("#autofocus", here a command that brings the focuser back).
TEST(IndiGrading, ASoftFrameMakesTheNextPlanFocus)
{
    constexpr int bestFocus = 50000; // where the focuser simulator starts
    constexpr int softFocus = bestFocus + 1000;
    Sky sky;
    IndiServer server(kDrivers + QStringList{"indi_simulator_focus"}, sky.environment());
    QTemporaryDir scripts;
    const QString focus = scripts.filePath(QStringLiteral("focus.sh"));
    const QString position = QStringLiteral("'Focuser Simulator.ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION'");
    test::writeBytes(focus, QStringLiteral("indi_setprop -p %1 %2=%3\n"
                                           "for i in $(seq 100); do\n"
                                           "  [ \"$(indi_getprop -p %1 -1 %2)\" = %3 ] && exit 0\n"
                                           "  sleep 0.1\n"
                                           "done\n"
                                           "exit 1\n")
                                .arg(server.port())
                                .arg(position)
                                .arg(bestFocus)
                                .toUtf8());
    IndiSurvey survey(server, [&](ObservatorySettings& s) {
        gradeFrames(s);
        s.indi.focuser = QStringLiteral("Focuser Simulator");
        s.indi.autofocusCommand = QStringLiteral("sh ") + focus;
    });
    wholeFrames(survey);
    test::setOptics(server, bestFocus);
    // A steep curve: 1000 units off, the stars are half as wide again.
    ASSERT_TRUE(server.set(
        QStringLiteral("CCD Simulator.SIM_FOCUSING.SIM_FOCUS_POSITION;SIM_FOCUS_MAX;SIM_SEEING=%1;2000;10")
            .arg(bestFocus)));
    ASSERT_TRUE(server.waitFor(QStringLiteral("CCD Simulator.SIM_FOCUSING.SIM_FOCUS_MAX"),
                               QStringLiteral("2000"), 10));

    survey.run(1); // the first plan focuses, as every night's first does
    EXPECT_EQ(survey.host->lastPlanOutcome(), QStringLiteral("completed"))
        << qPrintable(survey.acquisitionLog());
    // The target due again, the focus drifts.
    test::writeBytes(survey.programFolder + QStringLiteral("SNeTargets.txt"),
                     test::crlfLines({QStringLiteral("SNtest\t%1\t%2")
                                          .arg(survey.target.rightAscension, 0, 'f', 6)
                                          .arg(survey.target.declination, 0, 'f', 6),
                                      QStringLiteral("**** imageCount=2")}));
    ASSERT_TRUE(server.set(
        QStringLiteral("Focuser Simulator.ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=%1").arg(softFocus)));
    ASSERT_TRUE(server.waitFor(QStringLiteral("Focuser Simulator.ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION"),
                               QString::number(softFocus), 20));

    survey.run(1);
    const QString soft = survey.host->lastPlanOutcome();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^rejected: HFR [0-9.]+ px where [0-9.]+ expected$"))
                    .match(soft)
                    .hasMatch())
        << qPrintable(soft) << "\n"
        << qPrintable(survey.acquisitionLog());
    EXPECT_TRUE(survey.surveyLog().contains(QStringLiteral("Refocusing with the next plan: ") + soft.mid(10)))
        << qPrintable(survey.surveyLog());
    EXPECT_EQ(readConfigFile(survey.programFolder).settings.lastFocusJD, 0);

    survey.run(1);
    EXPECT_EQ(survey.host->lastPlanOutcome(), QStringLiteral("completed"))
        << qPrintable(survey.acquisitionLog());
    const QStringList plans = archivedPlans(survey);
    ASSERT_EQ(plans.size(), 3);
    EXPECT_TRUE(test::readBytes(plans[0]).contains("#autofocus"));
    EXPECT_FALSE(test::readBytes(plans[1]).contains("#autofocus"));
    EXPECT_TRUE(test::readBytes(plans[2]).contains("#autofocus"));
    EXPECT_EQ(survey.acquisitionLog().count(QStringLiteral("\tautofocus\tSNtest\tdone")), 2);
    EXPECT_TRUE(survey.catalogueUpdated());
    std::printf("%s\n", qPrintable(soft));
}

// Clouds in the frames of three plans in a row pause imaging with the observatory open; a test
// frame without stars makes the pause longer, one with stars ends it and the survey goes on.
TEST(IndiGrading, StarlessPlansPauseImagingUntilATestFrameShowsStars)
{
    Sky sky;
    IndiServer server(kDrivers, sky.environment());
    IndiSurvey survey(server, [](ObservatorySettings& s) {
        gradeFrames(s);
        s.grading.cloudFrames = 3;
        s.grading.cloudPause = 0.05; // 3 s
        s.grading.testExposure = 1;
    });
    wholeFrames(survey);
    test::setOptics(server, 50000);
    sky.cover();
    // The first test frame still sees clouds; then the sky clears.
    survey.onceLogged(QStringLiteral("\tsky\tWaiting for the sky: 4 frames without stars"),
                      [&] { sky.clear(); });
    QTimer::singleShot(120000, [&] { survey.core->stopSurvey(); }); // when nothing happens
    survey.run(4);

    const QList<HistoryEntry> plans = plansOf(survey);
    ASSERT_EQ(plans.size(), 4) << qPrintable(survey.acquisitionLog());
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(plans[i].result.startsWith(QStringLiteral("rejected: "))) << qPrintable(plans[i].result);
    EXPECT_EQ(plans[3].result, QStringLiteral("completed"));
    QStringList events;
    QList<QDateTime> times;
    for (const ObservatoryEvent& event : eventsOf(survey))
        if (event.text.startsWith(QStringLiteral("Waiting for the sky")) ||
            event.text.startsWith(QStringLiteral("Sky"))) {
            events << event.text;
            times << event.utc;
        }
    static const QRegularExpression pause(
        QStringLiteral("^Waiting for the sky: (\\d) frames without stars, next look at \\d\\d:\\d\\d$"));
    ASSERT_EQ(events.size(), 3) << qPrintable(events.join(u'\n'));
    EXPECT_EQ(pause.match(events[0]).captured(1), QStringLiteral("3")) << qPrintable(events[0]);
    EXPECT_EQ(pause.match(events[1]).captured(1), QStringLiteral("4")) << qPrintable(events[1]);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Sky clear: the test frame shows \\d+ stars$"))
                    .match(events[2])
                    .hasMatch())
        << qPrintable(events[2]);
    // Told as the weather's waits are, in the survey log and the status; the observatory stays open.
    EXPECT_TRUE(survey.surveyLog().contains(QStringLiteral("Observatory: ") + events[0]));
    EXPECT_TRUE(
        survey.view.showed(QStringLiteral("Waiting for the sky: 4 frames without stars, next look at ")));
    EXPECT_EQ(survey.host->observatoryControl()->state(), ObservatoryState::Open);
    // The plans come after the pause's end only.
    EXPECT_GE(plans[3].startUtc, times[2]);

    // Two test frames in the database, where the telescope pointed, apart from the plans.
    const Rows rows(survey.host->settings().logDir);
    std::vector<database::FrameRecord> tests;
    for (const database::FrameRecord& f : rows.frames)
        if (f.kind == QStringLiteral("test"))
            tests.push_back(f);
    ASSERT_EQ(tests.size(), 2u);
    EXPECT_FALSE(tests[0].accepted);
    EXPECT_TRUE(tests[1].accepted);
    EXPECT_EQ(tests[1].planId, 0);
    EXPECT_EQ(tests[1].target, QStringLiteral("SNtest"));
    EXPECT_EQ(rows.frames.size(), 4 * 2 + 2u);
    std::printf("%s\n", qPrintable(events.join(u'\n')));
}

// Killed in the middle of a night: every frame graded before the kill is in the database with its
// grade, its plan counts it, and at most the frame being graded is missing.
TEST(IndiGrading, TheDatabaseKeepsEveryGradedFrameThroughAKill)
{
    Sky sky;
    IndiServer server(kDrivers, sky.environment());
    QTemporaryDir dir;
    const QString program = dir.path() + QStringLiteral("/program/");
    const QString observatory = dir.path() + QStringLiteral("/observatory");
    QDir().mkpath(program);
    ObservatorySettings s = observatoryDefaults(observatory);
    s.kind = HostKind::Indi;
    s.latitude = 60;
    s.longitude = 10;
    s.timeZone = QStringLiteral("Europe/Oslo");
    s.sunAltitude.reset();
    s.minimumElevation = 10;
    s.settleTime = 1;
    s.indi.server = server.address();
    s.indi.mount = QStringLiteral("Telescope Simulator");
    s.indi.camera = QStringLiteral("CCD Simulator");
    s.indi.filterWheel = QStringLiteral("Filter Simulator");
    s.solve.enabled = false;
    writeObservatorySettings(observatory, s);
    // No client has connected the camera yet: its optics are set once it is.
    ASSERT_TRUE(server.set(QStringLiteral("CCD Simulator.CONNECTION.CONNECT=On")));
    test::setOptics(server, 50000);

    SurveySettings config;
    config.SNeEnabled = 1;
    config.exposureSNe = 1;
    config.cameraBinningSNe = 2;
    config.cameraSubframeSNe = 1;
    config.cameraFilterSNe = QStringLiteral("Green");
    config.baseDir = dir.path() + QStringLiteral("/images/");
    config.focusInterval = 32000; // no autofocus: there is no focuser
    config.lastFocusJD = 2460000;
    writeConfigFile(program, config);
    // A long plan where the simulated mount points at start, high in the north.
    test::writeBytes(
        program + QStringLiteral("SNeTargets.txt"),
        test::crlfLines({QStringLiteral("SNlong\t0\t89"), QStringLiteral("**** imageCount=30")}));

    QProcess kestrove;
    kestrove.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    kestrove.setStandardOutputFile(QProcess::nullDevice());
    kestrove.start(QStringLiteral(KESTROVE_EXECUTABLE),
                   {"--headless", "--folder", program, "--observatory", observatory});
    ASSERT_TRUE(kestrove.waitForStarted(10000));
    const QString logPath = observatory + QStringLiteral("/Logs/AcquireImages.log");
    const auto graded = [&] {
        return QFileInfo::exists(logPath)
                   ? QString::fromLatin1(test::readBytes(logPath)).count(QStringLiteral("\tgrade\t"))
                   : 0;
    };
    QElapsedTimer waited;
    waited.start();
    while (graded() < 5 && waited.elapsed() < 60000 && kestrove.state() == QProcess::Running)
        waitWallMilliseconds(100);
    ASSERT_GE(graded(), 5) << test::readBytes(logPath).constData();
    // Mid-frame: a little after the next exposure has begun.
    waitWallMilliseconds(700);
    ::kill(static_cast<pid_t>(kestrove.processId()), SIGKILL);
    kestrove.waitForFinished(5000);

    const QString log = QString::fromLatin1(test::readBytes(logPath));
    const qsizetype gradeLines = log.count(QStringLiteral("\tgrade\t"));
    const qsizetype images = log.count(QStringLiteral("\timage\t"));
    const Rows rows(observatory + QStringLiteral("/Logs"));
    ASSERT_EQ(rows.plans.size(), 1u);
    EXPECT_GE(static_cast<qsizetype>(rows.frames.size()), gradeLines);
    EXPECT_LE(images - static_cast<qsizetype>(rows.frames.size()), 1) << qPrintable(log);
    EXPECT_EQ(rows.plans[0].frames, static_cast<int>(rows.frames.size()));
    EXPECT_EQ(rows.plans[0].accepted, static_cast<int>(rows.frames.size()));
    for (const database::FrameRecord& f : rows.frames) {
        EXPECT_TRUE(f.accepted);
        EXPECT_GT(f.measurement.stars, 0);
        EXPECT_TRUE(log.contains(f.path)) << qPrintable(f.path);
    }
    std::printf("killed after %lld images: %zu frames recorded, %lld graded in the log\n",
                static_cast<long long>(images), rows.frames.size(), static_cast<long long>(gradeLines));
}
