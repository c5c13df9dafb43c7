#include "support/TestSite.h"
#include "support/TestSupport.h"

#include "host/sim/SimObservatory.h"
#include "settings/ObservatorySettings.h"
#include "text/HostError.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kestrove;
using namespace kestrove::sim;

namespace {

void writeIni(const QString& folder, const QByteArray& text)
{
    QDir().mkpath(folder);
    test::writeBytes(folder + QStringLiteral("/observatory.ini"), text);
}

} // namespace

TEST(ObservatorySettings, NewFolderGetsDefaultsWrittenAndReadBack)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("obs/nested"));
    SimObservatory observatory(folder);
    const QString ini = folder + QStringLiteral("/observatory.ini");
    ASSERT_TRUE(QFileInfo::exists(ini));
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/Plans")).isDir());
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/Logs")).isDir());
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/Scripts/AcquireImages.js")).isFile());

    QSettings settings(ini, QSettings::IniFormat);
    for (const char* key : {"host/kind",
                            "site/latitude",
                            "site/longitude",
                            "site/elevation",
                            "site/timeZone",
                            "clock/start",
                            "clock/speed",
                            "mount/alignmentMode",
                            "mount/rightAscension",
                            "mount/declination",
                            "mount/slewRate",
                            "mount/settleTime",
                            "mount/tiltUpLimit",
                            "limits/minimumElevation",
                            "limits/moonSeparation",
                            "limits/horizon",
                            "weather/connected",
                            "weather/unsafe",
                            "folders/planDir",
                            "folders/logDir",
                            "folders/hostPath",
                            "acquisition/autofocusSeconds",
                            "acquisition/downloadSeconds",
                            "acquisition/pointingSeconds",
                            "acquisition/failureRate",
                            "acquisition/failureSeed",
                            "acquisition/chainScriptDelay",
                            "indi/server",
                            "indi/mount",
                            "indi/camera",
                            "indi/filterWheel",
                            "indi/focuser",
                            "indi/weather",
                            "indi/autofocusCommand",
                            "indi/connectTimeout",
                            "indi/slewMargin",
                            "indi/downloadMargin",
                            "indi/autofocusTimeout",
                            "indi/sendSite",
                            "indi/dome",
                            "dome/radius",
                            "dome/slaving",
                            "calibration/darks",
                            "calibration/maxAgeDays"})
        EXPECT_TRUE(settings.contains(QString::fromLatin1(key))) << key;
    EXPECT_EQ(settings.value(QStringLiteral("clock/start")).toString(), QStringLiteral("now"));
    EXPECT_EQ(settings.value(QStringLiteral("folders/planDir")).toString(), QStringLiteral("Plans"));

    const ObservatorySettings read = readObservatorySettings(folder);
    const ObservatorySettings byDefault = observatoryDefaults(folder);
    EXPECT_EQ(read.latitude, byDefault.latitude);
    EXPECT_EQ(read.longitude, byDefault.longitude);
    EXPECT_EQ(read.timeZone, byDefault.timeZone);
    EXPECT_EQ(read.clockSpeed, 1);
    EXPECT_EQ(read.slewRate, byDefault.slewRate);
    EXPECT_EQ(read.planDir, QDir::cleanPath(QDir(folder).absolutePath()) + QStringLiteral("/Plans"));
    EXPECT_EQ(read.hostPath, QDir::cleanPath(QDir(folder).absolutePath()));
    EXPECT_TRUE(read.horizon.isEmpty());
    EXPECT_TRUE(read.unsafe.isEmpty());
    EXPECT_EQ(read.kind, HostKind::Sim);
    EXPECT_EQ(read.indi.server, QStringLiteral("localhost:7624"));

    auto util = observatory.createUtil();
    EXPECT_EQ(util->Prefs().LocalUser().DefaultPlanDir(), read.planDir);
    EXPECT_FALSE(util->Prefs().LocalUser().DefaultLogDir().endsWith(u'/'));
    EXPECT_EQ(observatory.createApplication()->Path(), read.hostPath);
    EXPECT_FALSE(util->ScriptActive());
}

TEST(ObservatorySettings, ReadsEditedValues)
{
    QTemporaryDir dir;
    writeIni(dir.path(),
             "[site]\r\nlatitude=-24.6272\r\nlongitude=-70.4042\r\nelevation=2635\r\n"
             "timeZone=America/Santiago\r\n"
             "[clock]\nstart=2026-12-07T20:00:00Z\nspeed=0\n"
             "[mount]\nalignmentMode=0\nrightAscension=5.5\ndeclination=-12.25\nslewRate=4\n"
             "settleTime=7\ntiltUpLimit=85\n"
             "[limits]\nminimumElevation=12\nhorizon=0:10 180:20\n"
             "[weather]\nconnected=true\n"
             "unsafe=2026-12-07T22:00:00Z/2026-12-08T01:00:00Z;2026-12-09T22:00:00Z/2026-12-10T01:00:00Z\n"
             "[folders]\nplanDir=../shared plans\nlogDir=/tmp\nhostPath=host\n"
             "[acquisition]\nautofocusSeconds=60\ndownloadSeconds=2.5\nfailureRate=0.25\n"
             "failureSeed=42\nchainScriptDelay=3\n"
             "[host]\nkind=indi\n"
             "[indi]\nserver=observatory.local:7625\nmount=Telescope Simulator\ncamera=CCD Simulator\n"
             "filterWheel=Filter Simulator\nfocuser=Focuser Simulator\nweather=Weather Simulator\n"
             "autofocusCommand=/usr/local/bin/focus --fast\nconnectTimeout=5\nslewMargin=60\n"
             "downloadMargin=12\nautofocusTimeout=90\nsendSite=false\n");
    const ObservatorySettings s = readObservatorySettings(dir.path());
    EXPECT_EQ(s.latitude, -24.6272);
    EXPECT_EQ(s.timeZone, QStringLiteral("America/Santiago"));
    EXPECT_EQ(s.clockStart, QStringLiteral("2026-12-07T20:00:00Z"));
    EXPECT_EQ(s.clockSpeed, 0);
    EXPECT_EQ(s.alignmentMode, 0);
    EXPECT_EQ(s.mountRightAscension, 5.5);
    EXPECT_EQ(s.mountDeclination, -12.25);
    EXPECT_EQ(s.slewRate, 4);
    EXPECT_EQ(s.settleTime, 7);
    EXPECT_EQ(s.tiltUpLimit, 85);
    EXPECT_EQ(s.minimumElevation, 12);
    EXPECT_EQ(s.horizon.size(), 2);
    EXPECT_TRUE(s.weatherConnected);
    // ";" would start a comment for QSettings; both intervals must survive.
    EXPECT_EQ(s.unsafe.size(), 2);
    EXPECT_EQ(s.planDir, QDir::cleanPath(dir.path() + QStringLiteral("/../shared plans")));
    EXPECT_EQ(s.logDir, QStringLiteral("/tmp"));
    EXPECT_EQ(s.hostPath, dir.path() + QStringLiteral("/host"));
    EXPECT_EQ(s.autofocusSeconds, 60);
    EXPECT_EQ(s.downloadSeconds, 2.5);
    EXPECT_EQ(s.failureRate, 0.25);
    EXPECT_EQ(s.failureSeed, 42u);
    EXPECT_EQ(s.chainScriptDelay, 3);
    EXPECT_EQ(s.kind, HostKind::Indi);
    EXPECT_EQ(s.indi.server, QStringLiteral("observatory.local:7625"));
    EXPECT_EQ(s.indi.mount, QStringLiteral("Telescope Simulator"));
    EXPECT_EQ(s.indi.camera, QStringLiteral("CCD Simulator"));
    EXPECT_EQ(s.indi.filterWheel, QStringLiteral("Filter Simulator"));
    EXPECT_EQ(s.indi.focuser, QStringLiteral("Focuser Simulator"));
    EXPECT_EQ(s.indi.weather, QStringLiteral("Weather Simulator"));
    EXPECT_EQ(s.indi.autofocusCommand, QStringLiteral("/usr/local/bin/focus --fast"));
    EXPECT_EQ(s.indi.connectTimeout, 5);
    EXPECT_EQ(s.indi.slewMargin, 60);
    EXPECT_EQ(s.indi.downloadMargin, 12);
    EXPECT_EQ(s.indi.autofocusTimeout, 90);
    EXPECT_FALSE(s.indi.sendSite);

    SimObservatory observatory(dir.path());
    EXPECT_EQ(observatory.simClock().utcNow(), test::utc("2026-12-07T20:00:00Z"));
    EXPECT_EQ(observatory.simClock().localNow().time(), QTime(17, 0)); // Chile, UTC-3 in December
    EXPECT_TRUE(QFileInfo(s.hostPath + QStringLiteral("/Scripts/AcquireImages.js")).isFile());
}

TEST(ObservatorySettings, MalformedValueNamesKeyAndFile)
{
    const struct
    {
        const char* section;
        const char* line;
        const char* key;
    } cases[] = {
        {"site", "latitude=north", "latitude"},
        {"site", "latitude=91", "latitude"},
        {"site", "timeZone=Mars/Olympus", "timeZone"},
        {"clock", "start=yesterday", "start"},
        {"clock", "speed=-1", "speed"},
        {"mount", "alignmentMode=1.5", "alignmentMode"},
        {"mount", "alignmentMode=3", "alignmentMode"},
        {"mount", "slewRate=0", "slewRate"},
        {"limits", "horizon=0:10 90", "horizon"},
        {"weather", "connected=maybe", "connected"},
        {"weather", "unsafe=2026-12-07T22:00:00Z", "unsafe"},
        {"folders", "planDir=", "planDir"},
        {"acquisition", "failureRate=2", "failureRate"},
        {"acquisition", "failureSeed=-1", "failureSeed"},
        {"host", "kind=ascom", "kind"},
        {"indi", "connectTimeout=0", "connectTimeout"},
        {"indi", "autofocusTimeout=0", "autofocusTimeout"},
        {"indi", "sendSite=maybe", "sendSite"},
        {"limits", "sunAltitude=dusk", "sunAltitude"},
        {"limits", "sunAltitude=-91", "sunAltitude"},
        {"limits", "moonSeparation=far", "moonSeparation"},
        {"limits", "moonSeparation=181", "moonSeparation"},
        {"selection", "policy=fair", "policy"},
        {"selection", "shares=SNe:50,SNe:50", "shares"},
        {"selection", "shares=SNe:-5", "shares"},
        {"selection", "shares=SNe", "shares"},
        {"selection", "shares=Comets:20", "shares"},
        {"grading", "enabled=perhaps", "enabled"},
        {"grading", "starFraction=1.5", "starFraction"},
        {"grading", "cloudFrames=0", "cloudFrames"},
        {"indi", "roof=RollOff Simulator\ndome=Dome Simulator", "dome"},
        {"dome", "radius=0", "radius"},
        {"dome", "slaving=sometimes", "slaving"},
        {"dome", "tolerance=0", "tolerance"},
        // The default radius of 1.5 m cannot hold a mount 1.2 m up with a 0.4 m declination axis.
        {"dome", "mountOffsetUp=1.2\ndeclinationAxis=0.4", "radius"},
        {"calibration", "darks=0", "darks"},
        {"calibration", "enabled=often", "enabled"},
        {"calibration", "maxAgeDays=-1", "maxAgeDays"},
        {"calibration", "flatExposureMin=5\nflatExposureMax=2", "flatExposureMax"},
        {"calibration", "skyFlatSunMin=-4\nskyFlatSunMax=-8", "skyFlatSunMax"},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        writeIni(dir.path(), QByteArray("[") + c.section + "]\n" + c.line + "\n");
        try {
            readObservatorySettings(dir.path());
            ADD_FAILURE() << "accepted " << c.line;
        } catch (const HostError& e) {
            EXPECT_TRUE(e.message().contains(QString::fromLatin1(c.key))) << e.what();
            EXPECT_TRUE(e.message().contains(dir.path() + QStringLiteral("/observatory.ini"))) << e.what();
        }
    }
}

TEST(ObservatorySettings, WrittenSettingsReadBack)
{
    QTemporaryDir dir;
    ObservatorySettings s = test::fixedSite(dir.path());
    s.horizon = {QPointF(0, 5), QPointF(200, 15.5)};
    s.unsafe = {{test::utc("2026-12-07T22:00:00Z"), test::utc("2026-12-08T01:00:00Z")},
                {test::utc("2026-12-09T22:00:00Z"), test::utc("2026-12-10T01:00:00Z")}};
    s.weatherConnected = true;
    s.failureSeed = 4000000000u;
    s.planDir = dir.path() + QStringLiteral("/p;q");
    s.kind = HostKind::Indi;
    s.indi.camera = QStringLiteral("CCD Simulator");
    s.indi.sendSite = false;
    s.indi.dome = QStringLiteral("Dome Simulator");
    s.dome = {2.5, 0.3, -0.2, 0.5, 0.45, 1.5, 6, DomeSlaving::Driver};
    s.calibration = {false, 7, 0, 20000, 0.5, 12.5, 14};
    s.aavsoCode = QStringLiteral("XYZA");
    writeObservatorySettings(dir.path(), s);
    const ObservatorySettings back = readObservatorySettings(dir.path());
    EXPECT_EQ(back.horizon, s.horizon);
    EXPECT_EQ(back.unsafe, s.unsafe);
    EXPECT_EQ(back.weatherConnected, true);
    EXPECT_EQ(back.failureSeed, s.failureSeed);
    EXPECT_EQ(back.clockStart, s.clockStart);
    EXPECT_EQ(back.kind, HostKind::Indi);
    EXPECT_EQ(back.indi.camera, s.indi.camera);
    EXPECT_FALSE(back.indi.sendSite);
    EXPECT_EQ(back.planDir, s.planDir);
    EXPECT_EQ(back.indi.dome, s.indi.dome);
    EXPECT_EQ(back.dome, s.dome);
    EXPECT_EQ(back.calibration, s.calibration);
    EXPECT_EQ(back.aavsoCode, s.aavsoCode);
}

TEST(ObservatorySettings, SunLimitAndTheMinimumElevationOfANewFile)
{
    const std::optional<double> none;
    const struct
    {
        const char* limits; // the [limits] section as the file holds it
        std::optional<double> sunAltitude;
        std::optional<double> moonSeparation;
    } cases[] = {
        {"minimumElevation=0\n", -12.0, none}, // a file from before the keys keeps the gate, no Moon limit
        {"sunAltitude=\n", none, none},        {"sunAltitude=-18\n", -18.0, none},
        {"sunAltitude= 0.5 \n", 0.5, none},    {"moonSeparation=\n", -12.0, none},
        {"moonSeparation=30\n", -12.0, 30.0},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        writeIni(dir.path(), QByteArray("[limits]\n") + c.limits);
        const ObservatorySettings s = readObservatorySettings(dir.path());
        EXPECT_EQ(s.sunAltitude, c.sunAltitude) << c.limits;
        EXPECT_EQ(s.moonSeparation, c.moonSeparation) << c.limits;
        EXPECT_EQ(s.minimumElevation, 0) << c.limits;
    }

    QTemporaryDir dir;
    const ObservatorySettings fresh = readObservatorySettings(dir.path());
    EXPECT_EQ(fresh.minimumElevation, 20);
    EXPECT_EQ(fresh.sunAltitude, -12.0);
    const QByteArray text = test::readBytes(dir.filePath(QStringLiteral("observatory.ini")));
    EXPECT_TRUE(text.contains("\nminimumElevation=20\n"));
    EXPECT_TRUE(text.contains("\nsunAltitude=-12\n"));
    EXPECT_TRUE(text.contains("\nmoonSeparation=\n"));
    EXPECT_FALSE(fresh.moonSeparation);
}

TEST(ObservatorySettings, SelectionPolicyAndShares)
{
    using Shares = QList<QPair<QString, double>>;
    const struct
    {
        const char* selection; // the [selection] section as the file holds it
        SelectionPolicy policy;
        Shares shares;
    } cases[] = {
        {"", SelectionPolicy::Specified, {}},
        {"policy=Balanced\n", SelectionPolicy::Balanced, {}},
        {"policy=specified\nshares=\n", SelectionPolicy::Specified, {}},
        {"policy=balanced\nshares=SNe:50,SLC:30,MPS:20\n",
         SelectionPolicy::Balanced,
         {{"SNe", 50}, {"SLC", 30}, {"MPS", 20}}},
        {"shares=\"sne:12.5; slc:87.5\"\n", SelectionPolicy::Specified, {{"SNe", 12.5}, {"SLC", 87.5}}},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        writeIni(dir.path(), QByteArray("[selection]\n") + c.selection);
        const ObservatorySettings s = readObservatorySettings(dir.path());
        EXPECT_EQ(s.selection.policy, c.policy) << c.selection;
        EXPECT_EQ(s.selection.shares, c.shares) << c.selection;
        EXPECT_TRUE(s.notes.isEmpty()) << c.selection;
    }
    // Written and read back.
    QTemporaryDir dir;
    ObservatorySettings s = test::fixedSite(dir.path());
    s.selection = {SelectionPolicy::Balanced, {{"MPS", 20}, {"SNe", 80}}};
    writeObservatorySettings(dir.path(), s);
    EXPECT_EQ(readObservatorySettings(dir.path()).selection, s.selection);
}

// A line that the reader cannot use is named at start, with its line number and text; what could
// be read is used.
TEST(ObservatorySettings, LinesThatAreNotUsedAreReportedWithTheirNumbers)
{
    struct Case
    {
        const char* name;
        QByteArray text;
        QStringList notes;
    };
    const Case cases[] = {
        {"a new file", QByteArray(), {}},
        {"known lines, comments and blanks",
         "; comment\r\n# also\r\n\r\n[clock]\r\nstart=2026-12-07T20:00:00Z\r\n  speed = "
         "0\r\n[weather]\r\nunsafe=\r\n",
         {}},
        {"a garbled key",
         "[clock]\r\n[clock]s\"tart=2026-12-07T20:00:00Z\r\nspeed=0\r\n",
         {"observatory.ini line 2: unknown key \"[clock]s\"tart\" in [clock]: "
          "\"[clock]s\"tart=2026-12-07T20:00:00Z\""}},
        {"an unknown section and its keys",
         "[clok]\r\nspeed=0\r\nstart=now\r\n[site]\r\nlatitude=10\r\nlatitud=11\r\n",
         {"observatory.ini line 1: unknown section: \"[clok]\"",
          "observatory.ini line 6: unknown key \"latitud\" in [site]: \"latitud=11\""}},
        {"sections are case-sensitive",
         "[Clock]\nspeed=0\n",
         {"observatory.ini line 1: unknown section: \"[Clock]\""}},
        {"a key before any section",
         "speed=0\r\n[clock]\r\n",
         {"observatory.ini line 1: key \"speed\" outside a section: \"speed=0\""}},
        {"neither section, key nor comment",
         "[clock]\r\nspeed 0\r\n\tx\r\n",
         {"observatory.ini line 2: neither a [section], a key=value nor a comment: \"speed 0\"",
          "observatory.ini line 3: neither a [section], a key=value nor a comment: \"\\tx\""}},
    };
    for (const Case& c : cases) {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("obs"));
        if (!c.text.isNull())
            writeIni(folder, c.text);
        const ObservatorySettings s = readObservatorySettings(folder);
        EXPECT_EQ(s.notes, c.notes) << c.name;
    }

    // The line that could be read still counts.
    QTemporaryDir dir;
    writeIni(dir.path(), "[clock]\r\nstar=now\r\nspeed=0\r\n");
    EXPECT_EQ(readObservatorySettings(dir.path()).clockSpeed, 0);
}

TEST(ObservatorySettings, SolveAndFocusSectionsHaveTheirDefaultsAndReadBack)
{
    QTemporaryDir dir;
    const ObservatorySettings fresh = readObservatorySettings(dir.path());
    EXPECT_FALSE(fresh.solve.enabled.has_value());
    EXPECT_EQ(fresh.solve.exposure, 5);
    EXPECT_EQ(fresh.solve.binning, 2);
    EXPECT_EQ(fresh.solve.tolerance, 60);
    EXPECT_EQ(fresh.solve.attempts, 3);
    EXPECT_FALSE(fresh.solve.sync);
    EXPECT_FALSE(fresh.solve.scale.has_value());
    EXPECT_EQ(fresh.focus.stepsOut, 5);
    EXPECT_EQ(fresh.focus.step, 250);
    EXPECT_EQ(fresh.focus.maxTravel, 5000);
    EXPECT_EQ(fresh.focus.exposure, 3);
    EXPECT_TRUE(fresh.notes.isEmpty()) << qPrintable(fresh.notes.join(u'\n'));

    ObservatorySettings s = fresh;
    s.solve.enabled = false;
    s.solve.scale = 5.36;
    s.solve.sync = true;
    s.solve.indexFolder = dir.path() + QStringLiteral("/indexes");
    s.focus.step = 1000;
    s.focus.stepsOut = 4;
    writeObservatorySettings(dir.path(), s);
    const ObservatorySettings back = readObservatorySettings(dir.path());
    EXPECT_EQ(back.solve.enabled, std::optional<bool>(false));
    EXPECT_EQ(back.solve.scale, std::optional<double>(5.36));
    EXPECT_TRUE(back.solve.sync);
    EXPECT_EQ(back.solve.indexFolder, s.solve.indexFolder);
    EXPECT_EQ(back.focus.step, 1000);
    EXPECT_EQ(back.focus.stepsOut, 4);

    writeIni(dir.path(), "[solve]\nmethod=sideways\n");
    EXPECT_THROW(readObservatorySettings(dir.path()), HostError);
}

// A new file explains [grading] with the values a missing key has; each key reads back.
TEST(ObservatorySettings, GradingHasItsDefaultsAndReadsBack)
{
    QTemporaryDir dir;
    const ObservatorySettings fresh = readObservatorySettings(dir.path());
    EXPECT_EQ(fresh.grading, GradingSettings{});
    EXPECT_TRUE(fresh.grading.enabled);
    EXPECT_TRUE(test::readBytes(observatoryIniPath(dir.path())).contains("\n[grading]\n"));
    EXPECT_TRUE(fresh.notes.isEmpty()) << qPrintable(fresh.notes.join(u'\n'));

    ObservatorySettings s = fresh;
    s.grading = {false, {7, 0.3, 2.5, 3, 20}, 4, 0.5, 2};
    writeObservatorySettings(dir.path(), s);
    EXPECT_EQ(readObservatorySettings(dir.path()).grading, s.grading);
}
