#include "host/ObservatoryControl.h"
#include "indi/IndiSurvey.h"
#include "settings/ConfigFile.h"

#include <QProcess>

#include <csignal>

using namespace kestrove;
using test::IndiServer;
using test::IndiSurvey;

namespace {

// A kind is checked, for the roof opens only for one, but its list is empty: the run only keeps the
// observatory open.
void keepOpenOnly(IndiSurvey& survey)
{
    survey.view.checked.clear();
    survey.view.checked[SurveyKind::SLC] = true;
    test::writeBytes(survey.programFolder + QStringLiteral("SLCTargets.txt"), {});
}

struct Roof
{
    const char* kind;
    const char* driver;
    const char* device;
};

const Roof kRollOff{"rolloff", "indi_rolloff_dome", "RollOff Simulator"};
const Roof kDome{"dome", "indi_simulator_dome", "Dome Simulator"};

QStringList driversWith(const Roof& roof, const QStringList& more = {})
{
    return QStringList{"indi_simulator_telescope", "indi_simulator_ccd", "indi_simulator_wheel",
                       "indi_simulator_weather", QString::fromLatin1(roof.driver)} +
           more;
}

// The lines of the acquisition log, each "UTC<TAB>event<TAB>...".
struct AcquisitionLog
{
    explicit AcquisitionLog(const QString& text) : lines(text.split(QStringLiteral("\r\n"))) {}

    // The first line from `from` on that holds `text`; -1 when none.
    qsizetype find(const QString& text, qsizetype from = 0) const
    {
        for (qsizetype i = std::max<qsizetype>(from, 0); i < lines.size(); ++i)
            if (lines[i].contains(text))
                return i;
        return -1;
    }
    QDateTime at(qsizetype line) const
    {
        return QDateTime::fromString(lines.value(line).section(u'\t', 0, 0), Qt::ISODate);
    }
    double secondsBetween(qsizetype from, qsizetype to) const { return at(from).msecsTo(at(to)) / 1000.0; }

    QStringList lines;
};

// Waits until a PARK switch is on and settled (the state alone may still be the one before the
// command); false after `seconds`.
bool waitParked(IndiServer& server, const QString& property, double seconds)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < seconds * 1000) {
        if (server.get(property + QStringLiteral(".PARK")) == QStringLiteral("On") &&
            server.get(property + QStringLiteral("._STATE")) == QStringLiteral("Ok") &&
            server.get(property + QStringLiteral(".PARK")) == QStringLiteral("On"))
            return true;
        waitWallMilliseconds(250);
    }
    return false;
}

void startClosed(IndiServer& server, const Roof& roof)
{
    const QString device = QString::fromLatin1(roof.device);
    ASSERT_TRUE(server.set(device + QStringLiteral(".CONNECTION.CONNECT=On")));
    ASSERT_TRUE(server.waitFor(device + QStringLiteral(".DOME_PARK._STATE"), QStringLiteral("Ok"), 10));
    ASSERT_TRUE(server.set(device + QStringLiteral(".DOME_PARK.PARK=On")));
    ASSERT_TRUE(waitParked(server, device + QStringLiteral(".DOME_PARK"), 60)) << "the roof did not close";
}

// A park position beside the target: parking costs seconds, not minutes, in a test. West of the
// meridian, where the target stands once the test runs: a park on the meridian itself may take
// either pier side, and the way back to the target would then be a meridian flip.
void parkBesideTheTarget(IndiServer& server)
{
    ASSERT_TRUE(
        server.set(QStringLiteral("Telescope Simulator.TELESCOPE_PARK_POSITION.PARK_HA;PARK_DEC=0.3;79.5")));
}

class IndiRoof : public testing::TestWithParam<Roof>
{
};

} // namespace

// A night with a shower: opened before the first exposure, the rain aborts the plan and shuts the
// observatory mount first, the dry spell reopens it, the next plan is recorded, and the end of the
// run shuts it down with the camera warmed.
TEST_P(IndiRoof, OpensFirstClosesForRainMountFirstReopensAndShutsDownAtTheEnd)
{
    const Roof roof = GetParam();
    IndiServer server(driversWith(roof));
    IndiSurvey survey(server, [&](ObservatorySettings& s) {
        s.indi.weather = QStringLiteral("Weather Simulator");
        s.indi.roof = QString::fromLatin1(roof.device);
        s.indi.coolTo = -3;
        s.indi.warmTo = 2;
        s.safety.closeDelay = 0;
        s.safety.reopenDelay = 3;
        s.safety.closeAtEnd = true;
    });
    parkBesideTheTarget(server);
    startClosed(server, roof);
    survey.core->settings.exposureSNe = 8;
    survey.core->SaveConfig();
    survey.onceLogged(QStringLiteral("\tcamera\t"), [&] { test::setRain(server, 10); });
    survey.onceLogged(QStringLiteral("\tdone\tRoof closed"), [&] { test::setRain(server, 0); });
    survey.run(2);

    const AcquisitionLog log(survey.acquisitionLog());
    const QString all = log.lines.join(u'\n');
    const qsizetype opened = log.find(QStringLiteral("\tdone\tRoof open"));
    const qsizetype unparked = log.find(QStringLiteral("\tdone\tMount unparked"));
    const qsizetype cooled = log.find(QStringLiteral("\tdone\tCamera cooled"));
    const qsizetype firstPlan = log.find(QStringLiteral("\tcamera\t"));
    ASSERT_GE(opened, 0) << qPrintable(all);
    EXPECT_LT(opened, unparked) << qPrintable(all);
    EXPECT_LT(unparked, cooled) << qPrintable(all);
    EXPECT_LT(cooled, firstPlan) << qPrintable(all);

    const qsizetype aborted = log.find(QStringLiteral("\taborted, weather unsafe\tSNtest"));
    const qsizetype parked = log.find(QStringLiteral("\tdone\tMount parked"), aborted);
    const qsizetype closing = log.find(QStringLiteral("\tclose\troof"), aborted);
    const qsizetype closed = log.find(QStringLiteral("\tdone\tRoof closed"), aborted);
    ASSERT_GE(aborted, 0) << qPrintable(all);
    ASSERT_GE(closed, 0) << qPrintable(all);
    EXPECT_LT(parked, closing) << "the roof moves only once the mount is parked\n" << qPrintable(all);
    EXPECT_LT(log.secondsBetween(aborted, closed), 60) << qPrintable(all);
    std::printf("%s: weather unsafe to mount parked %.0f s, to roof closed %.0f s\n", roof.kind,
                log.secondsBetween(aborted, parked), log.secondsBetween(aborted, closed));

    const qsizetype reopened = log.find(QStringLiteral("\tdone\tRoof open"), closed);
    const qsizetype second = log.find(QStringLiteral("\tend\tSNtest\t2 images"), reopened);
    EXPECT_GE(reopened, 0) << qPrintable(all);
    EXPECT_GE(second, 0) << qPrintable(all);
    EXPECT_TRUE(survey.marker());
    EXPECT_TRUE(survey.catalogueUpdated());
    EXPECT_EQ(survey.images().size(), 2);

    // Shut down at the end: parked, closed, the camera set to warm.
    const qsizetype warmed = log.find(QStringLiteral("\twarm\tcamera"), second);
    EXPECT_LT(log.find(QStringLiteral("\tdone\tMount parked"), second),
              log.find(QStringLiteral("\tdone\tRoof closed"), second));
    EXPECT_GE(warmed, 0) << qPrintable(all);
    EXPECT_EQ(server.get(QStringLiteral("Telescope Simulator.TELESCOPE_PARK.PARK")), QStringLiteral("On"));
    EXPECT_EQ(server.get(QString::fromLatin1(roof.device) + QStringLiteral(".DOME_PARK.PARK")),
              QStringLiteral("On"));
    EXPECT_EQ(server.get(QStringLiteral("CCD Simulator.CCD_TEMPERATURE._STATE")) != QStringLiteral("Alert"),
              true);

    const QString surveyLog = survey.surveyLog();
    for (const char* line : {"Observatory: Closing: weather unsafe", "Observatory: Closing: run ended",
                             "Observatory: Closed: run ended"})
        EXPECT_TRUE(surveyLog.contains(QString::fromLatin1(line))) << line;
    const QString history =
        QString::fromLatin1(test::readBytes(survey.host->settings().logDir + QStringLiteral("/history.csv")));
    EXPECT_TRUE(history.contains(QStringLiteral(",Observatory,Closing: weather unsafe,")))
        << qPrintable(history);
}

INSTANTIATE_TEST_SUITE_P(Kinds, IndiRoof, testing::Values(kRollOff, kDome),
                         [](const testing::TestParamInfo<Roof>& info) {
                             return std::string(info.param.kind);
                         });

// A weather device that dies closes the observatory; a roof whose driver is gone is retried a
// bounded number of times and named, with the mount parked all the same.
TEST(IndiRoofFaults, ALostWeatherDeviceClosesAndADeadRoofIsNamedWithTheMountParked)
{
    IndiServer server(driversWith(kRollOff));
    IndiSurvey survey(server, [&](ObservatorySettings& s) {
        s.indi.weather = QStringLiteral("Weather Simulator");
        s.indi.roof = QString::fromLatin1(kRollOff.device);
        s.safety.closeDelay = 0;
        s.safety.closeAtEnd = true;
    });
    parkBesideTheTarget(server);
    keepOpenOnly(survey);
    survey.onceLogged(QStringLiteral("\tdone\tMount unparked"), [&] {
        server.killDriver(QString::fromLatin1(kRollOff.driver));
        server.killDriver(QStringLiteral("indi_simulator_weather"));
    });
    QTimer stop;
    QObject::connect(&stop, &QTimer::timeout, [&] {
        if (survey.surveyLog().contains(QStringLiteral("Observatory: Closing failed: ")))
            survey.core->stopSurvey();
    });
    stop.start(200);
    survey.run(0);

    const QString log = survey.acquisitionLog();
    const QString surveyLog = survey.surveyLog();
    EXPECT_TRUE(surveyLog.contains(QStringLiteral("Observatory: Closing: weather unsafe")))
        << qPrintable(log);
    EXPECT_TRUE(surveyLog.contains(
        QStringLiteral("Observatory: Closing failed: roof \"RollOff Simulator\" did "
                       "not close: the server has no device \"RollOff Simulator\" (3 tries)")))
        << qPrintable(surveyLog);
    EXPECT_EQ(server.get(QStringLiteral("Telescope Simulator.TELESCOPE_PARK.PARK")), QStringLiteral("On"));
    EXPECT_FALSE(survey.host->observatoryControl()->fault().isEmpty());
}

// The roof shut by another program (a second "kestrove --close", a hand at the controls) while the
// survey has it open: the survey parks the mount too and keeps it all shut until the next Start.
TEST(IndiRoofFaults, ARoofShutFromOutsideStaysShut)
{
    IndiServer server(driversWith(kRollOff));
    IndiSurvey survey(server, [&](ObservatorySettings& s) {
        s.indi.roof = QString::fromLatin1(kRollOff.device);
        s.safety.closeAtEnd = true;
    });
    parkBesideTheTarget(server);
    keepOpenOnly(survey);
    survey.onceLogged(QStringLiteral("\tdone\tMount unparked"),
                      [&] { server.set(QStringLiteral("RollOff Simulator.DOME_PARK.PARK=On")); });
    QTimer stop;
    QObject::connect(&stop, &QTimer::timeout, [&] {
        if (survey.surveyLog().contains(QStringLiteral("Observatory: Closed: found shut from outside")))
            QTimer::singleShot(3000, [&] { survey.core->stopSurvey(); });
        if (survey.surveyLog().contains(QStringLiteral("Observatory: Closed: found shut from outside")))
            stop.stop();
    });
    stop.start(200);
    QTimer::singleShot(60000, [&] { survey.core->stopSurvey(); }); // when nothing notices
    survey.run(0);

    const QString surveyLog = survey.surveyLog();
    EXPECT_TRUE(surveyLog.contains(
        QStringLiteral("Observatory: Found shut from outside: roof \"RollOff Simulator\" parked")))
        << qPrintable(surveyLog);
    const QString log = survey.acquisitionLog();
    EXPECT_EQ(log.count(QStringLiteral("\topen\troof")), 1) << "never reopened by itself\n"
                                                            << qPrintable(log);
    EXPECT_TRUE(waitParked(server, QStringLiteral("Telescope Simulator.TELESCOPE_PARK"), 10));
}

// Kestrove killed while the observatory is open: the watchdog, no longer fed, parks and closes.
TEST(IndiRoofFaults, TheWatchdogShutsTheObservatoryWhenKestroveIsKilled)
{
    IndiServer server(driversWith(kRollOff, {"indi_watchdog"}));
    QTemporaryDir dir;
    const QString program = dir.path() + QStringLiteral("/program");
    const QString observatory = dir.path() + QStringLiteral("/observatory");
    QDir().mkpath(program);
    ObservatorySettings s = observatoryDefaults(observatory);
    s.kind = HostKind::Indi;
    s.sunAltitude.reset();
    s.indi.server = server.address();
    s.indi.mount = QStringLiteral("Telescope Simulator");
    s.indi.camera = QStringLiteral("CCD Simulator");
    s.indi.roof = QString::fromLatin1(kRollOff.device);
    s.indi.watchdog = QStringLiteral("WatchDog");
    s.indi.heartbeat = 10;
    writeObservatorySettings(observatory, s);
    SurveySettings config; // a kind to open the roof for, with no target
    config.SLCEnabled = 1;
    writeConfigFile(program + QStringLiteral("/"), config);
    test::writeBytes(program + QStringLiteral("/SLCTargets.txt"), {});
    startClosed(server, kRollOff);

    QProcess kestrove;
    kestrove.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    kestrove.setStandardOutputFile(QProcess::nullDevice());
    kestrove.start(QStringLiteral(KESTROVE_EXECUTABLE),
                   {"--headless", "--folder", program, "--observatory", observatory});
    ASSERT_TRUE(kestrove.waitForStarted(10000));
    ASSERT_TRUE(
        server.waitFor(QStringLiteral("RollOff Simulator.DOME_PARK.UNPARK"), QStringLiteral("On"), 60) &&
        server.waitFor(QStringLiteral("Telescope Simulator.TELESCOPE_PARK.UNPARK"), QStringLiteral("On"),
                       60));
    ASSERT_EQ(server.get(QStringLiteral("WatchDog.WATCHDOG_HEARTBEAT.WATCHDOG_HEARTBEAT_VALUE")),
              QStringLiteral("10"));

    QElapsedTimer sinceKill;
    ASSERT_GT(kestrove.processId(), 0); // kill(0) would be this test's own process group
    ::kill(static_cast<pid_t>(kestrove.processId()), SIGKILL);
    sinceKill.start();
    kestrove.waitForFinished(5000);
    const bool parked = waitParked(server, QStringLiteral("Telescope Simulator.TELESCOPE_PARK"), 70);
    const bool closed = waitParked(server, QStringLiteral("RollOff Simulator.DOME_PARK"), 70);
    EXPECT_TRUE(parked);
    EXPECT_TRUE(closed);
    EXPECT_LT(sinceKill.elapsed() / 1000.0, 10 + 60);
    std::printf("SIGKILL to roof closed: %.0f s (heartbeat 10 s)\n", sinceKill.elapsed() / 1000.0);
}
