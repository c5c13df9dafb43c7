#include "app/HeadlessRun.h"
#include "core/SimSurvey.h"
#include "settings/ObservatoryForm.h"
#include "settings/ObservatorySettings.h"
#include "sky/SiteClock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>
#include <optional>

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
        out.clear();
        outTimes.clear();
        // Each status line starts with the observatory's time.
        static const QRegularExpression timed(
            QStringLiteral("^(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ) (.*)$"));
        for (const QString& line : QString::fromLocal8Bit(::testing::internal::GetCapturedStdout())
                                       .split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QRegularExpressionMatch match = timed.match(line);
            out << (match.hasMatch() ? match.captured(2) : line);
            outTimes << (match.hasMatch() ? QDateTime::fromString(match.captured(1), Qt::ISODate)
                                          : QDateTime());
        }
        err = QString::fromLocal8Bit(::testing::internal::GetCapturedStderr())
                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return status;
    }

    ObservatorySettings observatorySettings;
    SimSurvey sim;
    QString observatoryFolder;
    CommandLine commandLine;
    QStringList out; // status texts, without their times
    QList<QDateTime> outTimes;
    QStringList err;
};

TEST_F(HeadlessRunTest, StatusGoesToStandardOutputAndAStopSavesTheSettings)
{
    sim.saveSettings([](SurveySettings& s) { s.SNeWeight = 250; });
    commandLine.limits.passes = 2;

    ASSERT_EQ(run(), 0) << err.join('\n').toStdString();

    // Nor does the roof open for it.
    EXPECT_EQ(out, QStringList({QStringLiteral("No viable target - sleeping for 5 minutes"),
                                QStringLiteral("Survey stopping"), QStringLiteral("Survey stopped"),
                                QStringLiteral("Run ended: --passes 2 done")}));
    // Nothing is enabled, and the run says so before its first pass.
    ASSERT_EQ(err.size(), 1);
    EXPECT_TRUE(err[0].startsWith(QStringLiteral("Kestrove: No survey kind is enabled")))
        << err[0].toStdString();
    EXPECT_EQ(sim.logLines().count(QStringLiteral("No viable target - sleeping for 5 minutes")), 2);
    sim.core->LoadConfig();
    EXPECT_EQ(sim.core->settings.SNeWeight, 250);
}

// A status is printed once, when its text changes, after the observatory's time; the last line
// says why the run ended.
TEST_F(HeadlessRunTest, StatusLinesAreTimedAndNeverRepeated)
{
    struct Case
    {
        const char* name;
        int unsafeSeconds; // from the start
        int passes;
        int untilSeconds;                     // 0: no --until
        QList<std::pair<int, QString>> lines; // seconds after the start, text
    };
    const QString waiting = QStringLiteral("Waiting for weather to be safe");
    const QString idle = QStringLiteral("No viable target - sleeping for 5 minutes");
    const QString stopping = QStringLiteral("Survey stopping");
    const QString stopped = QStringLiteral("Survey stopped");
    const QString opening = QStringLiteral("Observatory: Opening: dark and the weather safe");
    const QString open = QStringLiteral("Observatory: Open");
    const QString selecting = QStringLiteral("Selecting SLC target");
    const Case cases[] = {
        {"an hour of unsafe weather",
         3600,
         1,
         0,
         {{0, waiting + QStringLiteral(": closed for weather, reopens when it turns safe")},
          {10, QStringLiteral("Observatory: Closing: weather unsafe")},
          {10, QStringLiteral("Observatory: Closed: weather unsafe; reopens 0 min after it turns safe")},
          {10, waiting + QStringLiteral(": closed for weather, reopens when it turns safe")},
          {3600, opening},
          {3600, open},
          {3600, selecting},
          {3600, idle},
          {3901, stopping},
          {3901, stopped},
          {3901, "Run ended: --passes 1 done"}}},
        {"--until",
         0,
         0,
         700,
         {{0, opening},
          {0, open},
          {0, selecting},
          {0, idle},
          {301, selecting},
          {301, idle},
          {602, selecting},
          {602, idle},
          {700, stopping},
          {700, stopped},
          {700, "Run ended: --until 2024-04-14T09:21:40Z reached"}}},
    };
    // A kind to observe, so that the roof opens; its empty list keeps the passes short.
    sim.saveSettings([](SurveySettings& s) { s.SLCEnabled = 1; });
    sim.writeProgramFile(QStringLiteral("SLCTargets.txt"), {});
    const QDateTime start = sim.utc();
    for (const Case& c : cases) {
        ObservatorySettings settings = observatorySettings;
        settings.planDir = sim.planDir();
        settings.logDir = sim.core->acpUtil->Prefs().LocalUser().DefaultLogDir();
        settings.hostPath = sim.core->acpApplication->Path();
        settings.weatherConnected = c.unsafeSeconds > 0;
        settings.safety.reopenDelay = 0;
        settings.unsafe = {{start.addSecs(-60), start.addSecs(c.unsafeSeconds)}};
        writeObservatorySettings(observatoryFolder, settings);
        commandLine.limits.passes = c.passes;
        commandLine.limits.untilUtc = c.untilSeconds > 0 ? start.addSecs(c.untilSeconds) : QDateTime();

        ASSERT_EQ(run(), 0) << err.join('\n').toStdString();

        QList<std::pair<int, QString>> lines;
        for (qsizetype i = 0; i < out.size(); ++i)
            lines.append({outTimes[i].isValid() ? static_cast<int>(start.secsTo(outTimes[i])) : -1, out[i]});
        EXPECT_EQ(lines, c.lines) << c.name;
    }
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

    EXPECT_EQ(out.mid(out.size() - 3),
              QStringList({QStringLiteral("Survey stopping"), QStringLiteral("Survey stopped"),
                           QStringLiteral("Run ended: stopped by SIGINT")}));
    EXPECT_EQ(sim.logLines().count(QStringLiteral("No viable target - sleeping for 5 minutes")), 1);
    // The handler is put back afterwards.
    struct sigaction current = {};
    sigaction(SIGINT, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}

// "Close Observatory" pressed on the web page ends the run, and the run says so.
TEST_F(HeadlessRunTest, AWebCloseEndsTheRunSayingWhy)
{
    int argc = 1;
    char name[] = "kestrove_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    commandLine.webPort = probe.serverPort();
    probe.close();
    saveObservatoryChanges(observatoryFolder, {{QStringLiteral("web/token"), QStringLiteral("s3cret")}});
    // Should the request be lost, the run still ends, much later.
    commandLine.limits.untilUtc = sim.utc().addSecs(24 * 3600);
    QTcpSocket page;
    QObject::connect(&page, &QTcpSocket::connected, [&] {
        page.write("POST /api/close HTTP/1.1\r\nHost: localhost\r\nAuthorization: Bearer s3cret\r\n"
                   "Content-Length: 0\r\n\r\n");
    });
    QTimer::singleShot(0, [&] { page.connectToHost(QHostAddress::LocalHost, commandLine.webPort); });

    ASSERT_EQ(run(), 0) << err.join('\n').toStdString();

    EXPECT_EQ(out.last(), QStringLiteral("Run ended: closed from the web page"));
}

// Each SIGINT is one press of "Stop Survey": the first lets the running plan end and records it,
// the second stops at once.
TEST_F(HeadlessRunTest, InterruptsDuringAPlanActAsPressesOfStopSurvey)
{
    int argc = 1;
    char name[] = "kestrove_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    sim.saveSettings([](SurveySettings& s) {
        s.SNeEnabled = 1;
        s.lastFocusJD = 1e9; // no autofocus
        s.exposureSNe = 600;
    });
    commandLine.limits.untilUtc = sim.utc().addSecs(3600);
    const QString target = QStringLiteral("SN2024abc\t") + sim.onMeridian(20);
    const QString runPlanOnce = sim.planDir() + QStringLiteral("/runplanonce.txt");
    for (const int interrupts : {1, 2}) {
        sim.writeProgramFile(QStringLiteral("SNeTargets.txt"), {target, QStringLiteral("**** ")});
        QFile::remove(runPlanOnce);
        // Raised once the plan has been handed over.
        QTimer watch;
        watch.setInterval(0);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (!QFile::exists(runPlanOnce))
                return;
            watch.stop();
            for (int i = 0; i < interrupts; ++i)
                std::raise(SIGINT);
        });
        watch.start();

        ASSERT_EQ(run(), 0) << err.join('\n').toStdString();

        EXPECT_EQ(sim.programLines(QStringLiteral("SNeTargets.txt"))[1].startsWith(
                      QStringLiteral("**** lastImageJD=")),
                  interrupts == 1)
            << interrupts;
        if (interrupts == 1) {
            EXPECT_FALSE(
                out.filter(QStringLiteral("Survey stopping: waiting for SN2024abc to end")).isEmpty());
        }
        EXPECT_EQ(out.last(), QStringLiteral("Run ended: stopped by SIGINT")) << interrupts;
    }
}

TEST(HeadlessStartWarnings, SayWhenARunCanOnlySleepOrWillTakeAllNight)
{
    struct Case
    {
        const char* name;
        int16_t SNe, MPS, MPF, SLC;
        double speed;       // -1: a real observatory's clock, the computer's own time
        int untilMinutes;   // ahead of the clock; 0: no --until
        QStringList starts; // of the warnings, in order
    };
    const QString none = QStringLiteral("No survey kind is enabled");
    const QString slow = QStringLiteral("The observatory's clock runs ");
    const Case cases[] = {
        {"SNe enabled, virtual time", 1, 0, 0, 0, 0, 600, {}},
        {"MPS enabled, no limit", 0, 1, 0, 0, 1, 0, {}},
        {"nothing enabled", 0, 0, 0, 0, 0, 0, {none}},
        {"MPF alone has no targets", 0, 0, 1, 0, 0, 0, {none}},
        {"real time, an hour ahead", 0, 0, 0, 1, 1, 60, {}},
        {"real time, a night ahead", 0, 0, 0, 1, 1, 600, {slow + "in real time and --until "}},
        {"ten times faster, a night ahead", 0, 0, 0, 1, 10, 660, {slow + "at 10 times real time"}},
        {"sixty times faster, a night ahead", 1, 0, 0, 0, 60, 660, {}},
        {"both", 0, 0, 0, 0, 1, 120, {none, slow}},
        {"a real observatory, a night ahead", 1, 0, 0, 0, -1, 600, {}},
    };
    for (const Case& c : cases) {
        SurveySettings settings;
        settings.SNeEnabled = c.SNe;
        settings.MPSEnabled = c.MPS;
        settings.MPFEnabled = c.MPF;
        settings.SLCEnabled = c.SLC;
        const QDateTime start(QDate(2026, 12, 7), QTime(20, 0), QTimeZone::utc());
        const SiteClock clock = c.speed < 0 ? SiteClock::systemTime(QTimeZone::utc())
                                            : SiteClock(start, c.speed, QTimeZone::utc());
        RunLimits limits;
        if (c.untilMinutes > 0)
            limits.untilUtc = clock.utcNow().addSecs(c.untilMinutes * 60);

        const QStringList warnings = startWarnings(settings, clock, limits);

        ASSERT_EQ(warnings.size(), c.starts.size()) << c.name << ": " << warnings.join('\n').toStdString();
        for (qsizetype i = 0; i < warnings.size(); ++i)
            EXPECT_TRUE(warnings[i].startsWith(c.starts[i])) << c.name << ": " << warnings[i].toStdString();
    }
}

TEST_F(HeadlessRunTest, LinesOfObservatoryIniThatAreNotUsedAreNamedOnStandardError)
{
    QFile ini(observatoryIniPath(observatoryFolder));
    ASSERT_TRUE(ini.open(QIODevice::Append));
    ini.write("[clock]\r\ns\"peed=1\r\n");
    ini.close();
    sim.saveSettings([](SurveySettings& s) { s.SLCEnabled = 1; });
    sim.writeProgramFile(QStringLiteral("SLCTargets.txt"), {});
    commandLine.limits.passes = 1;

    ASSERT_EQ(run(), 0) << err.join('\n').toStdString();

    ASSERT_EQ(err.size(), 1);
    EXPECT_TRUE(err[0].startsWith(QStringLiteral("Kestrove: observatory.ini line ")));
    EXPECT_TRUE(err[0].endsWith(QStringLiteral(": unknown key \"s\"peed\" in [clock]: \"s\"peed=1\"")))
        << err[0].toStdString();
}

// Two runs on one program folder would overwrite each other's records: the program itself, started
// a second time on the folder, is refused and names the run that holds it. The lock of a run that
// was killed does not block the next one.
TEST(HeadlessLock, ASecondRunOnOneProgramFolderIsRefused)
{
    std::optional<QCoreApplication> app;
    int argc = 1;
    char name[] = "kestrove_tests";
    char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        app.emplace(argc, argv);
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("program"));
    QDir().mkpath(program);
    // An observatory whose first pass sleeps in real time, and one whose pass is over at once.
    const auto observatory = [&](const QString& folder, const QByteArray& ini) {
        QDir().mkpath(dir.filePath(folder));
        writeBytes(dir.filePath(folder + QStringLiteral("/observatory.ini")), ini);
        return dir.filePath(folder);
    };
    const QString sleeping =
        observatory(QStringLiteral("sleeping"), "[clock]\r\nspeed=1\r\n[limits]\r\nsunAltitude=\r\n");
    const QString virtualTime =
        observatory(QStringLiteral("virtual"), "[clock]\r\nstart=2026-12-07T22:00:00Z\r\nspeed=0\r\n");
    const auto start = [&](QProcess& process, const QString& observatoryFolder, const QStringList& more) {
        process.start(QStringLiteral(KESTROVE_EXECUTABLE),
                      QStringList{QStringLiteral("--headless"), QStringLiteral("--folder"), program,
                                  QStringLiteral("--observatory"), observatoryFolder} +
                          more);
        return process.waitForStarted(10000);
    };
    const QStringList onePass{QStringLiteral("--passes"), QStringLiteral("1")};

    QProcess first;
    ASSERT_TRUE(start(first, sleeping, {}));
    QByteArray said;
    while (!said.contains("No viable target") && first.waitForReadyRead(60000))
        said += first.readAllStandardOutput();
    ASSERT_TRUE(said.contains("No viable target")) << said.toStdString();

    QProcess second;
    ASSERT_TRUE(start(second, virtualTime, onePass));
    ASSERT_TRUE(second.waitForFinished(60000));
    const QString refusal = QString::fromLocal8Bit(second.readAllStandardError());
    EXPECT_EQ(second.exitCode(), 1) << refusal.toStdString();
    EXPECT_TRUE(refusal.contains(
        QStringLiteral("process %1 on %2").arg(first.processId()).arg(QSysInfo::machineHostName())))
        << refusal.toStdString();

    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    ASSERT_TRUE(first.waitForFinished(10000));
    ASSERT_TRUE(QFile::exists(program + QStringLiteral("/Kestrove.lock")));
    QProcess third;
    ASSERT_TRUE(start(third, virtualTime, onePass));
    ASSERT_TRUE(third.waitForFinished(60000));
    EXPECT_EQ(third.exitCode(), 0) << third.readAllStandardError().toStdString();
    EXPECT_FALSE(QFile::exists(program + QStringLiteral("/Kestrove.lock")));
}

// Surveys of two program folders that share an observatory, or only its log folder, would rewrite
// each other's pending.txt and history.csv: the second is refused and names the first run's process,
// host and program folder. Once the first has gone, the second starts.
TEST(HeadlessLock, ASecondRunOnOneObservatoryIsRefused)
{
    std::optional<QCoreApplication> app;
    int argc = 1;
    char name[] = "kestrove_tests";
    char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        app.emplace(argc, argv);
    QTemporaryDir dir;
    const auto folder = [&](const char* name) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        QDir().mkpath(path);
        return path;
    };
    const QString first = folder("first"), second = folder("second");
    // An observatory whose passes sleep in real time, and one of its own that keeps its log in the
    // first one's log folder.
    const QString observatory = folder("observatory");
    writeBytes(observatory + QStringLiteral("/observatory.ini"),
               "[clock]\r\nspeed=1\r\n[limits]\r\nsunAltitude=\r\n");
    const QString sharingLogs = folder("sharing-logs");
    writeBytes(
        sharingLogs + QStringLiteral("/observatory.ini"),
        "[clock]\r\nstart=2026-12-07T22:00:00Z\r\nspeed=0\r\n[folders]\r\nlogDir=../observatory/Logs\r\n");
    const auto start = [&](QProcess& process, const QString& program, const QString& observatoryFolder) {
        process.start(QStringLiteral(KESTROVE_EXECUTABLE),
                      {QStringLiteral("--headless"), QStringLiteral("--folder"), program,
                       QStringLiteral("--observatory"), observatoryFolder, QStringLiteral("--passes"),
                       QStringLiteral("1")});
        return process.waitForStarted(10000);
    };

    QProcess running;
    ASSERT_TRUE(start(running, first, observatory));
    QByteArray said;
    while (!said.contains("No viable target") && running.waitForReadyRead(60000))
        said += running.readAllStandardOutput();
    ASSERT_TRUE(said.contains("No viable target")) << said.toStdString();

    for (const QString& observatoryFolder : {observatory, sharingLogs}) {
        QProcess refused;
        ASSERT_TRUE(start(refused, second, observatoryFolder));
        if (!refused.waitForFinished(20000)) {
            ADD_FAILURE() << observatoryFolder.toStdString() << ": a second survey runs beside the first";
            continue;
        }
        const QString refusal = QString::fromLocal8Bit(refused.readAllStandardError());
        EXPECT_EQ(refused.exitCode(), 1) << refusal.toStdString();
        EXPECT_TRUE(refusal.contains(
            QStringLiteral("process %1 on %2").arg(running.processId()).arg(QSysInfo::machineHostName())))
            << refusal.toStdString();
        EXPECT_TRUE(refusal.contains(first)) << refusal.toStdString();
    }

    ::kill(static_cast<pid_t>(running.processId()), SIGKILL);
    ASSERT_TRUE(running.waitForFinished(10000));
    QProcess after;
    ASSERT_TRUE(start(after, second, sharingLogs));
    ASSERT_TRUE(after.waitForFinished(60000));
    EXPECT_EQ(after.exitCode(), 0) << after.readAllStandardError().toStdString();
}

// "kestrove --close" asks the survey running on the folders to close, which ends its run; it does not
// drive the observatory beside it.
TEST(HeadlessClose, CloseFromAShellEndsTheRunningSurvey)
{
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("program"));
    const QString observatory = dir.filePath(QStringLiteral("observatory"));
    QDir().mkpath(program);
    QDir().mkpath(observatory);
    writeBytes(observatory + QStringLiteral("/observatory.ini"),
               "[clock]\r\nstart=2024-03-01T22:00:00Z\r\nspeed=10\r\n");
    const QStringList folders{QStringLiteral("--folder"), program, QStringLiteral("--observatory"),
                              observatory};

    QProcess survey;
    survey.start(QStringLiteral(KESTROVE_EXECUTABLE), QStringList{QStringLiteral("--headless")} + folders);
    ASSERT_TRUE(survey.waitForStarted(10000));
    QByteArray said;
    while (!said.contains("No viable target") && survey.waitForReadyRead(60000))
        said += survey.readAllStandardOutput();
    ASSERT_TRUE(said.contains("No viable target")) << said.toStdString();

    QProcess closer;
    closer.start(QStringLiteral(KESTROVE_EXECUTABLE), QStringList{QStringLiteral("--close")} + folders);
    ASSERT_TRUE(closer.waitForFinished(60000));
    EXPECT_EQ(closer.exitCode(), 0) << closer.readAllStandardError().toStdString();

    const bool ended = survey.waitForFinished(30000);
    if (!ended)
        ::kill(static_cast<pid_t>(survey.processId()), SIGKILL);
    ASSERT_TRUE(ended) << "the survey is still running";
    said += survey.readAllStandardOutput();
    EXPECT_EQ(survey.exitCode(), 0);
    EXPECT_TRUE(said.trimmed().endsWith("Run ended: closed from outside")) << said.toStdString();
    const QByteArray log = readBytes(observatory + QStringLiteral("/Logs/AcquireImages.log"));
    EXPECT_TRUE(log.trimmed().endsWith("\tdone\tRoof closed")) << log.toStdString();
}

// With no survey running, --close shuts the observatory itself and says nothing of the survey it
// does not start.
TEST(HeadlessClose, CloseWithNoSurveyRunningWarnsOfNoSurvey)
{
    QTemporaryDir dir;
    const QString observatory = dir.filePath(QStringLiteral("observatory"));
    QDir().mkpath(observatory);
    writeBytes(observatory + QStringLiteral("/observatory.ini"),
               "[clock]\r\nstart=2024-03-01T22:00:00Z\r\nspeed=0\r\n");
    CommandLine commandLine;
    commandLine.close = true;
    commandLine.folder = dir.path();
    commandLine.observatory = observatory;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(runHeadless(commandLine), 0);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(errors.find("No survey kind"), std::string::npos) << errors;
}

// --close prints its answer, not the INDI library's own line on connecting; an error of Kestrove's
// is still said.
TEST(HeadlessClose, CloseSaysNothingForTheIndiLibrary)
{
    QTemporaryDir dir;
    const QString observatory = dir.filePath(QStringLiteral("observatory"));
    QDir().mkpath(observatory);
    // Nothing listens on port 1: the connection is refused at once.
    writeBytes(observatory + QStringLiteral("/observatory.ini"),
               "[host]\r\nkind=indi\r\n[indi]\r\nserver=localhost:1\r\nmount=Telescope Simulator\r\n"
               "camera=CCD Simulator\r\nroof=RollOff Simulator\r\n");
    QProcess closer;
    closer.start(QStringLiteral(KESTROVE_EXECUTABLE),
                 {QStringLiteral("--close"), QStringLiteral("--folder"), dir.path(),
                  QStringLiteral("--observatory"), observatory});
    ASSERT_TRUE(closer.waitForFinished(60000));
    const QByteArray said = closer.readAllStandardOutput() + closer.readAllStandardError();
    EXPECT_EQ(closer.exitCode(), 1);
    EXPECT_FALSE(said.contains("INDI::BaseClient")) << said.toStdString();
    EXPECT_TRUE(said.contains("cannot reach the INDI server at localhost:1")) << said.toStdString();
}

} // namespace
} // namespace kestrove::test
