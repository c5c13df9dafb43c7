#include "database/ObservationDb.h"
#include "host/AcquisitionLog.h"
#include "host/indi/steps/CalibrationStep.h"
#include "imaging/FitsFile.h"
#include "imaging/MasterFrame.h"
#include "indi/IndiSurvey.h"
#include "settings/ConfigFile.h"

#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <numeric>

using namespace kestrove;
using test::IndiServer;
using test::IndiSurvey;

namespace {

// One server for the cases: each survey parks beside its target, so the close costs seconds.
class IndiCalibration : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        server = new IndiServer({"indi_simulator_telescope", "indi_simulator_ccd", "indi_simulator_wheel",
                                 "indi_simulator_weather", "indi_simulator_lightpanel"});
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    static IndiServer* server;
};

IndiServer* IndiCalibration::server = nullptr;

// The simulator's sky for the night's frames: bright enough at 1 s to show its vignetting. Its flats
// are as bright as a sky a tenth as many magnitudes: the panel's brightness is set through it.
constexpr double kSkyGlow = 11;
constexpr double kPanelGlow = 80;
constexpr double kFlatLevel = 20000;

} // namespace

// The night's close (mount parked, the camera still set up) takes darks of every exposure and
// binning the night's frames used and a bias of each binning, combines each into a master in the
// calibration library and records it; the survey log names each master. The night's frames were
// calibrated with the newest dark there was when they were taken.
TEST_F(IndiCalibration, TheNightsCloseMakesDarksMatchingEveryExposureUsed)
{
    QString lastWeeksDark;
    IndiSurvey survey(*server, [](ObservatorySettings& s) {
        s.safety.closeAtEnd = true;
        s.calibration.enabled = true;
        s.calibration.darks = 3;
        s.calibration.bias = 2;
    });
    // Parked beside the target: the close costs seconds.
    ASSERT_TRUE(
        server->set(QStringLiteral("Telescope Simulator.TELESCOPE_PARK_POSITION.PARK_HA;PARK_DEC=0.3;79.5")));
    // Earlier in the night a plan took 2 s frames unbinned; a test frame of a cloud pause is none
    // of the night's exposures.
    {
        database::ObservationDb earlier(database::observationsPath(survey.host->settings().logDir));
        database::FrameRecord f;
        f.target = QStringLiteral("SN earlier");
        f.kind = QStringLiteral("SNe");
        f.utc = QDateTime::currentDateTimeUtc().addSecs(-3600);
        f.exposure = 2;
        f.binning = 1;
        f.path = QStringLiteral("/images/earlier.fits");
        f.accepted = true;
        earlier.addFrame(f);
        f.kind = QStringLiteral("test");
        f.exposure = 5;
        f.binning = 3;
        earlier.addFrame(f);
        // Last week's dark of the plan's exposure and binning: level 7, on the whole binned chip.
        const QString library = survey.host->settings().hostPath + QStringLiteral("/Calibration");
        QDir().mkpath(library);
        lastWeeksDark = library + QStringLiteral("/dark-1s-bin2-lastweek.fits");
        imaging::writeFitsImage(lastWeeksDark, {640, 512, std::vector<float>(640 * 512, 7.0f), std::nullopt});
        database::MasterRecord dark;
        dark.setting = {imaging::MasterKind::Dark, 1, 2, std::nullopt, {}};
        dark.utc = QDateTime::currentDateTimeUtc().addDays(-7);
        dark.frames = 10;
        dark.path = lastWeeksDark;
        earlier.addMaster(dark);
    }
    survey.run(1);

    const QString log = survey.acquisitionLog();
    ASSERT_TRUE(log.contains(QStringLiteral("\tcalibrate\tdone"))) << qPrintable(log);
    const qsizetype parked = log.indexOf(QStringLiteral("\tdone\tMount parked"));
    const qsizetype calibrating = log.indexOf(QStringLiteral("\tcalibrate\tstart"));
    ASSERT_GE(parked, 0) << qPrintable(log);
    EXPECT_GT(calibrating, parked) << "calibration frames are taken once the mount is parked";

    database::ObservationDb db(database::observationsPath(survey.host->settings().logDir),
                               database::ObservationDb::Access::Read);
    const auto masters =
        db.masters(QDateTime::currentDateTimeUtc().addDays(-1), QDateTime::currentDateTimeUtc().addSecs(60));
    // kind, exposure, binning -> frames combined; the chip is 1280 x 1024.
    std::map<std::tuple<QString, double, int>, int> made;
    for (const database::MasterRecord& m : masters) {
        made[{imaging::masterKindText(m.setting.kind), m.setting.exposure, m.setting.binning}] = m.frames;
        ASSERT_TRUE(QFileInfo::exists(m.path)) << qPrintable(m.path);
        EXPECT_TRUE(m.path.startsWith(survey.host->settings().hostPath + QStringLiteral("/Calibration/")));
        const imaging::FitsImage image = imaging::readFitsImage(m.path);
        EXPECT_EQ(image.width, 1280 / m.setting.binning) << qPrintable(m.path);
        EXPECT_EQ(image.height, 1024 / m.setting.binning) << qPrintable(m.path);
    }
    const std::map<std::tuple<QString, double, int>, int> expected{
        {{QStringLiteral("dark"), 1.0, 2}, 3},
        {{QStringLiteral("bias"), 0.0, 2}, 2},
        {{QStringLiteral("dark"), 2.0, 1}, 3},
        {{QStringLiteral("bias"), 0.0, 1}, 2},
    };
    EXPECT_EQ(made, expected) << qPrintable(log);
    EXPECT_EQ(server->get(QStringLiteral("CCD Simulator.CCD_FRAME_TYPE.FRAME_LIGHT")), QStringLiteral("On"));

    const QString surveyLog = survey.surveyLog();
    EXPECT_TRUE(surveyLog.contains(QStringLiteral("Observatory: Master dark 1 s bin 2 of 3 frames")))
        << qPrintable(surveyLog);
    EXPECT_TRUE(surveyLog.contains(QStringLiteral("Observatory: Master bias bin 1 of 2 frames")));

    // The plan's frames were calibrated with last week's dark, the newest then, beside the raw ones.
    const QStringList images = survey.images();
    QStringList raws;
    for (const QString& path : images)
        if (!path.endsWith(QStringLiteral("-cal.fits")))
            raws << path;
    ASSERT_EQ(raws.size(), 2) << qPrintable(images.join(u' '));
    for (const QString& raw : raws) {
        const QString cal = imaging::calibratedPath(raw);
        ASSERT_TRUE(images.contains(cal)) << qPrintable(cal);
        EXPECT_EQ(imaging::headerValue(imaging::readFitsHeader(cal), QStringLiteral("DARKFILE")),
                  QFileInfo(lastWeeksDark).fileName());
        EXPECT_TRUE(log.contains(QStringLiteral("\tcalibrated\tSNtest\t") + cal));
        const imaging::FitsImage before = imaging::readFitsImage(raw);
        const imaging::FitsImage after = imaging::readFitsImage(cal);
        ASSERT_EQ(before.pixels.size(), after.pixels.size());
        EXPECT_NEAR(imaging::meanOf(before) - imaging::meanOf(after), 7.0, 0.01);
    }

    // Timed from the log: the calibration's share of the close.
    const auto timeOf = [&](qsizetype at) {
        const qsizetype start = log.lastIndexOf(QStringLiteral("\r\n"), at) + 2;
        return QDateTime::fromString(log.mid(start, log.indexOf(u'\t', start) - start), Qt::ISODate);
    };
    const qsizetype done = log.indexOf(QStringLiteral("\tcalibrate\tdone"));
    std::printf(
        "calibration at the close: %zu masters of %d frames in %.1f s\n", masters.size(),
        std::accumulate(made.begin(), made.end(), 0, [](int n, const auto& m) { return n + m.second; }),
        timeOf(calibrating).msecsTo(timeOf(done)) / 1000.0);
}

namespace {

// The large-scale unevenness of a frame: the spread of its 32-pixel blocks' means against their mean.
double unevenness(const imaging::FitsImage& image)
{
    std::vector<double> blocks;
    for (int by = 0; by + 32 <= image.height; by += 32)
        for (int bx = 0; bx + 32 <= image.width; bx += 32) {
            double sum = 0;
            for (int y = by; y < by + 32; ++y)
                for (int x = bx; x < bx + 32; ++x)
                    sum += image.pixels[static_cast<size_t>(y) * image.width + x];
            blocks.push_back(sum / (32 * 32));
        }
    const double mean = std::accumulate(blocks.begin(), blocks.end(), 0.0) / blocks.size();
    double variance = 0;
    for (double b : blocks)
        variance += (b - mean) * (b - mean);
    return std::sqrt(variance / blocks.size()) / mean;
}

} // namespace

// After the darks and bias the close lights the panel and takes flats of the night's filter and
// binning, each exposure steered towards the level; the kept flats make a master flat that takes
// the simulator's vignetting out of the night's frames. The panel is off at the end.
TEST_F(IndiCalibration, PanelFlatsConvergeOnTheLevelAndTakeOutTheVignetting)
{
    // A bright sky, so that the night's frames show the vignetting the flats take out.
    ASSERT_TRUE(server->set(QStringLiteral("CCD Simulator.SIMULATOR_SETTINGS.SIM_SKYGLOW=%1").arg(kSkyGlow)));
    ASSERT_TRUE(server->waitFor(QStringLiteral("CCD Simulator.SIMULATOR_SETTINGS.SIM_SKYGLOW"),
                                QString::number(kSkyGlow), 10));
    // A case before on this server may have parked the mount at its close, and a parked mount takes
    // no sync; run alone, the mount is not connected yet and parks nothing.
    if (server->get(QStringLiteral("Telescope Simulator.TELESCOPE_PARK.PARK")) == QLatin1String("On")) {
        ASSERT_TRUE(server->set(QStringLiteral("Telescope Simulator.TELESCOPE_PARK.UNPARK=On")));
        ASSERT_TRUE(server->waitFor(QStringLiteral("Telescope Simulator.TELESCOPE_PARK.UNPARK"),
                                    QStringLiteral("On"), 10));
    }
    IndiSurvey survey(*server, [](ObservatorySettings& s) {
        s.safety.closeAtEnd = true;
        s.calibration.enabled = true;
        s.calibration.darks = 3;
        s.calibration.bias = 2;
        s.calibration.flatLevel = kFlatLevel;
        s.indi.lightPanel = QStringLiteral("Light Panel Simulator");
    });
    // The simulator centres its vignetting on the frame: the night's frames take the whole chip.
    survey.core->settings.cameraSubframeSNe = 1;
    survey.core->SaveConfig();
    ASSERT_TRUE(server->set(QStringLiteral("CCD Simulator.SCOPE_INFO.FOCAL_LENGTH;APERTURE=200;50")));
    survey.onceLogged(QStringLiteral("\tcalibrate\tstart"), [] {
        server->set(QStringLiteral("CCD Simulator.SIMULATOR_SETTINGS.SIM_SKYGLOW=%1").arg(kPanelGlow));
    });
    ASSERT_TRUE(
        server->set(QStringLiteral("Telescope Simulator.TELESCOPE_PARK_POSITION.PARK_HA;PARK_DEC=0.3;79.5")));
    survey.run(1);
    const QString log = survey.acquisitionLog();
    ASSERT_TRUE(log.contains(QStringLiteral("\tcalibrate\tdone"))) << qPrintable(log);

    // Each flat's level, in the order taken, and whether it was kept.
    std::vector<std::pair<double, bool>> flats;
    for (const QString& line : log.split(QStringLiteral("\r\n"))) {
        const QStringList f = line.split(u'\t');
        if (f.size() >= 5 && f[1] == QStringLiteral("flat"))
            flats.emplace_back(f[3].section(u' ', 2, 2).toDouble(), f[4] == QStringLiteral("kept"));
    }
    ASSERT_FALSE(flats.empty()) << qPrintable(log);
    int kept = 0;
    for (const auto& [level, keep] : flats)
        if (keep) {
            ++kept;
            EXPECT_NEAR(level, kFlatLevel, kFlatLevel * indi::kFlatTolerance);
        }
    EXPECT_EQ(kept, 3) << qPrintable(log);

    database::ObservationDb db(database::observationsPath(survey.host->settings().logDir),
                               database::ObservationDb::Access::Read);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const auto flat =
        db.newestMaster({imaging::MasterKind::Flat, 0, 2, std::nullopt, QStringLiteral("Green")},
                        now.addSecs(-600), now.addSecs(60));
    ASSERT_TRUE(flat) << qPrintable(log);
    EXPECT_EQ(flat->frames, 3);
    const auto bias = db.newestMaster({imaging::MasterKind::Bias, 0, 2, std::nullopt, {}}, now.addSecs(-600),
                                      now.addSecs(60));
    ASSERT_TRUE(bias);
    // The switch is sent as the close ends; the driver says so a moment later.
    EXPECT_TRUE(server->waitFor(QStringLiteral("Light Panel Simulator.FLAT_LIGHT_CONTROL.FLAT_LIGHT_OFF"),
                                QStringLiteral("On"), 10));

    // The night's frames, calibrated with the bias and the new flat: the vignetting is gone.
    const imaging::FitsImage biasImage = imaging::readFitsImage(bias->path);
    const imaging::FitsImage flatImage = imaging::readFitsImage(flat->path);
    for (const QString& path : survey.images()) {
        if (path.endsWith(QStringLiteral("-cal.fits")))
            continue;
        const imaging::FitsImage raw = imaging::readFitsImage(path);
        const imaging::FitsImage calibrated = imaging::calibratedImage(raw, &biasImage, &flatImage);
        const imaging::FitsImage lessBias = imaging::calibratedImage(raw, &biasImage, nullptr);
        const double before = unevenness(lessBias);
        const double after = unevenness(calibrated);
        std::printf("flatness: %.4f raw, %.4f calibrated: %.1f times flatter\n", before, after,
                    before / after);
        EXPECT_GT(before / after, 3.0) << qPrintable(path);
    }
    std::printf("flats: %zu taken, %d kept; levels", flats.size(), kept);
    for (const auto& [level, keep] : flats)
        std::printf(" %.0f%s", level, keep ? "" : "*");
    std::printf(" (target %.0f, * not kept)\n", kFlatLevel);
}

namespace {

// The longitude at which the Sun stands nearest `altitude` now at latitude 60, rising: the INDI
// host keeps the system's time, so the site is moved into the twilight instead of the clock.
double dawnLongitude(double altitude)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    double best = 0;
    double miss = 1e9;
    for (double longitude = -180; longitude < 180; longitude += 0.25) {
        const Site site{60, longitude, 100};
        const double sun = sunAltitude(now, site);
        if (sunAltitude(now.addSecs(300), site) > sun && std::abs(sun - altitude) < miss) {
            miss = std::abs(sun - altitude);
            best = longitude;
        }
    }
    return best;
}

// The sky of the flats brightens by this much SIM_SKYGLOW a second (about 3 % more light).
constexpr double kDawnGlowStart = 68;
constexpr double kDawnGlowPerSecond = 0.3;

} // namespace

// The run ends in the morning twilight with the roof open: before the mount parks, it turns to the
// blank sky opposite the Sun and takes flats of the night's filter and binning while the sky
// brightens, each exposure shorter than the last as it follows the brightening to the level; the
// kept flats make the master. Darks follow at the close.
TEST_F(IndiCalibration, SkyFlatsFollowTheBrighteningDawnToTheLevel)
{
    const double longitude = dawnLongitude(-5);
    // The mount's own site is the survey's, so that its sidereal time is the host's; a mount not
    // connected yet is sent the site as it connects.
    server->set(QStringLiteral("Telescope Simulator.GEOGRAPHIC_COORD.LAT;LONG;ELEV=60;%1;100")
                    .arg(std::fmod(longitude + 360, 360), 0, 'f', 4));
    ASSERT_TRUE(
        server->set(QStringLiteral("CCD Simulator.SIMULATOR_SETTINGS.SIM_SKYGLOW=%1").arg(kDawnGlowStart)));
    if (server->get(QStringLiteral("Telescope Simulator.TELESCOPE_PARK.PARK")) == QLatin1String("On")) {
        ASSERT_TRUE(server->set(QStringLiteral("Telescope Simulator.TELESCOPE_PARK.UNPARK=On")));
        ASSERT_TRUE(server->waitFor(QStringLiteral("Telescope Simulator.TELESCOPE_PARK.UNPARK"),
                                    QStringLiteral("On"), 10));
    }
    IndiSurvey survey(*server, [&](ObservatorySettings& s) {
        s.longitude = longitude;
        s.safety.closeAtEnd = true;
        s.calibration.enabled = true;
        s.calibration.skyFlats = true;
        s.calibration.darks = 3;
        s.calibration.bias = 0;
        s.calibration.flatLevel = kFlatLevel;
        s.calibration.flatExposureMax = 5;
    });
    ASSERT_TRUE(
        server->set(QStringLiteral("Telescope Simulator.TELESCOPE_PARK_POSITION.PARK_HA;PARK_DEC=0.3;79.5")));
    // The dawn, driven by the test once the flats' field is reached.
    QTimer dawn;
    double glow = kDawnGlowStart;
    QObject::connect(&dawn, &QTimer::timeout, [&] {
        glow -= kDawnGlowPerSecond;
        server->set(QStringLiteral("CCD Simulator.SIMULATOR_SETTINGS.SIM_SKYGLOW=%1").arg(glow, 0, 'f', 2));
    });
    survey.onceLogged(QStringLiteral("\tslewed\tsky flats"), [&] { dawn.start(1000); });
    QElapsedTimer wall;
    wall.start();
    survey.run(1);
    dawn.stop();
    const QString log = survey.acquisitionLog();
    ASSERT_TRUE(log.contains(QStringLiteral("\tdone\tSky flats taken"))) << qPrintable(log);
    EXPECT_LT(log.indexOf(QStringLiteral("\tdone\tSky flats taken")),
              log.indexOf(QStringLiteral("\tdone\tMount parked")))
        << "the flats come before the mount parks";
    EXPECT_FALSE(log.contains(QStringLiteral("FLAT_LIGHT")));

    // Each flat's exposure and level, in the order taken, and whether it was kept.
    struct Flat
    {
        double seconds;
        double level;
        bool kept;
    };
    std::vector<Flat> flats;
    for (const QString& line : log.split(QStringLiteral("\r\n"))) {
        const QStringList f = line.split(u'\t');
        if (f.size() >= 5 && f[1] == QStringLiteral("flat"))
            flats.push_back({f[3].section(u' ', 0, 0).toDouble(), f[3].section(u' ', 2, 2).toDouble(),
                             f[4] == QStringLiteral("kept")});
    }
    std::vector<Flat> kept;
    std::copy_if(flats.begin(), flats.end(), std::back_inserter(kept), [](const Flat& f) { return f.kept; });
    ASSERT_EQ(kept.size(), 3u) << qPrintable(log);
    for (const Flat& f : kept)
        EXPECT_NEAR(f.level, kFlatLevel, kFlatLevel * indi::kFlatTolerance);
    EXPECT_LT(kept.back().seconds, kept.front().seconds) << "the brightening sky shortens the exposures";

    database::ObservationDb db(database::observationsPath(survey.host->settings().logDir),
                               database::ObservationDb::Access::Read);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const auto flat =
        db.newestMaster({imaging::MasterKind::Flat, 0, 2, std::nullopt, QStringLiteral("Green")},
                        now.addSecs(-600), now.addSecs(60));
    ASSERT_TRUE(flat) << qPrintable(log);
    EXPECT_EQ(flat->frames, 3);

    std::printf("sky flats at dawn (Sun %.1f deg): %zu taken, %zu kept;",
                sunAltitude(now, {60, longitude, 100}), flats.size(), kept.size());
    for (const Flat& f : flats)
        std::printf(" %s s %.0f%s", qPrintable(QString::number(f.seconds)), f.level, f.kept ? "" : "*");
    std::printf(" (target %.0f, * not kept); the case took %.1f s\n", kFlatLevel, wall.elapsed() / 1000.0);
    server->set(QStringLiteral("Telescope Simulator.GEOGRAPHIC_COORD.LAT;LONG;ELEV=60;10;100"));
}

// "kestrove --calibrate darks" closes the observatory and takes the darks and bias the last day's
// frames need, then ends.
TEST_F(IndiCalibration, TheCalibrateCommandTakesTheDaysDarksAndEnds)
{
    QTemporaryDir dir;
    const QString program = dir.path() + QStringLiteral("/program");
    const QString observatory = dir.path() + QStringLiteral("/observatory");
    QDir().mkpath(program);
    ObservatorySettings s = observatoryDefaults(observatory);
    s.kind = HostKind::Indi;
    s.sunAltitude.reset();
    s.indi.server = server->address();
    s.indi.mount = QStringLiteral("Telescope Simulator");
    s.indi.camera = QStringLiteral("CCD Simulator");
    s.calibration.darks = 2;
    s.calibration.bias = 2;
    writeObservatorySettings(observatory, s);
    writeConfigFile(program + QStringLiteral("/"), SurveySettings());
    {
        database::ObservationDb db(database::observationsPath(readObservatorySettings(observatory).logDir));
        database::FrameRecord f;
        f.target = QStringLiteral("SN earlier");
        f.kind = QStringLiteral("SNe");
        f.utc = QDateTime::currentDateTimeUtc().addSecs(-3600);
        f.exposure = 1;
        f.binning = 2;
        f.path = QStringLiteral("/images/earlier.fits");
        f.accepted = true;
        db.addFrame(f);
    }
    // Parked beside where the cases before left it; run alone, the mount is not connected yet and
    // parks at its own position.
    server->set(QStringLiteral("Telescope Simulator.TELESCOPE_PARK_POSITION.PARK_HA;PARK_DEC=0.3;79.5"));

    QElapsedTimer wall;
    wall.start();
    QProcess kestrove;
    kestrove.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    kestrove.setStandardOutputFile(QProcess::nullDevice());
    kestrove.start(QStringLiteral(KESTROVE_EXECUTABLE),
                   {"--calibrate", "darks", "--folder", program, "--observatory", observatory});
    ASSERT_TRUE(kestrove.waitForFinished(120000));
    EXPECT_EQ(kestrove.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(kestrove.exitCode(), 0);

    const QString logDir = readObservatorySettings(observatory).logDir;
    database::ObservationDb db(database::observationsPath(logDir), database::ObservationDb::Access::Read);
    std::map<std::pair<QString, double>, int> made;
    for (const database::MasterRecord& m : db.masters(QDateTime::currentDateTimeUtc().addSecs(-600),
                                                      QDateTime::currentDateTimeUtc().addSecs(60)))
        made[{imaging::masterKindText(m.setting.kind), m.setting.exposure}] = m.frames;
    const std::map<std::pair<QString, double>, int> expected{{{QStringLiteral("dark"), 1.0}, 2},
                                                             {{QStringLiteral("bias"), 0.0}, 2}};
    EXPECT_EQ(made, expected) << qPrintable(QString::fromLatin1(test::readBytes(acquisitionLogPath(logDir))));
    std::printf("kestrove --calibrate darks: %.1f s\n", wall.elapsed() / 1000.0);
}
