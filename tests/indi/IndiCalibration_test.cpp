#include "database/ObservationDb.h"
#include "imaging/FitsFile.h"
#include "imaging/MasterFrame.h"
#include "indi/IndiSurvey.h"

#include <QFileInfo>

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
    static void SetUpTestSuite() { server = new IndiServer; }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    static IndiServer* server;
};

IndiServer* IndiCalibration::server = nullptr;

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
        imaging::writeFitsImage(lastWeeksDark, {640, 512, std::vector<float>(640 * 512, 7.0f)});
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
