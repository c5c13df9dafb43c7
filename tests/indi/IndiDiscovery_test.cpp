// The search for new and moving sources on Debian's INDI simulators: tests/indi/gsc draws the
// Tycho-2 field and, from KESTROVE_GSC_EVENTS, a star added or a star that moves.
#include "database/ObservationDb.h"
#include "imaging/Wcs.h"
#include "indi/IndiSurvey.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

using namespace kestrove;
using test::IndiServer;
using test::IndiSurvey;

namespace {

// The simulator draws each star centred on a whole pixel of its chip, so a place is only as good as
// half a drawn pixel. An 800 mm focal length on its 5.2 um pixels draws at 1.34"/px; a chip of
// 5120 x 4096 keeps the solve's field of 1.9 x 1.5 degrees, enough Tycho-2 stars, binned 4. The
// frames are binned 2, 2.7"/px, where the seeing's 3.5" spans 1.3 pixels.
constexpr int kFocalLength = 800;
constexpr int kBinning = 2;

// One server for the cases, its CCD drawing the events file's stars as well.
class IndiDiscovery : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        dir = new QTemporaryDir;
        server = new IndiServer({"indi_simulator_telescope", "indi_simulator_ccd", "indi_simulator_wheel"},
                                test::gscEnvironment({{QStringLiteral("KESTROVE_GSC_EVENTS"), events()}}));
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
        delete dir;
        dir = nullptr;
    }
    void SetUp() override { setEvents({}); }

    static QString events() { return dir->filePath(QStringLiteral("events")); }
    static void setEvents(const QStringList& lines)
    {
        test::writeBytes(events(), lines.isEmpty() ? QByteArray() : (lines.join(u'\n') + u'\n').toUtf8());
    }

    static IndiServer* server;
    static QTemporaryDir* dir;
};

IndiServer* IndiDiscovery::server = nullptr;
QTemporaryDir* IndiDiscovery::dir = nullptr;

std::unique_ptr<IndiSurvey> makeSurvey(IndiServer& server)
{
    auto survey = std::make_unique<IndiSurvey>(server, [](ObservatorySettings& s) {
        s.solve.enabled = true;
        s.solve.exposure = 1;
        s.solve.binning = 4;
        s.grading.enabled = true;
        s.mpcCode = QStringLiteral("Z99");
    });
    test::setOptics(server, 50000, kFocalLength);
    // True magnitudes (see IndiLightcurve) on the large chip.
    EXPECT_TRUE(
        server.set(QStringLiteral("CCD Simulator.SIMULATOR_SETTINGS.SIM_XRES;SIM_YRES;SIM_LIMITINGMAG;"
                                  "SIM_SATURATION=5120;4096;18.03;6")));
    QElapsedTimer set;
    set.start();
    while ((server.get(QStringLiteral("CCD Simulator.SIMULATOR_SETTINGS.SIM_SATURATION")).toDouble() != 6 ||
            server.get(QStringLiteral("CCD Simulator.SIMULATOR_SETTINGS.SIM_XRES")).toDouble() != 5120) &&
           set.elapsed() < 10000)
        waitWallMilliseconds(250);
    // Declination 30, away from 0h: where the simulator draws the field true (see IndiImaging).
    // KESTROVE_DISCOVERY_RA (hours) puts the field elsewhere for the trials.
    double& ra = survey->target.rightAscension;
    if (const QString forced = qEnvironmentVariable("KESTROVE_DISCOVERY_RA"); !forced.isEmpty())
        ra = forced.toDouble();
    if (ra < 0.7 || ra > 23.3)
        ra = ra < 12 ? 0.7 : 23.3;
    survey->target.declination = 30;
    SurveySettings& settings = survey->core->settings;
    settings.cameraBinningSNe = kBinning;
    settings.exposureMPS = 1;
    settings.cameraBinningMPS = kBinning;
    settings.cameraFilterMPS = QStringLiteral("Green");
    settings.imagesMPS = 3;
    settings.intervalMPS = 0;
    survey->core->SaveConfig();
    return survey;
}

void planSNe(IndiSurvey& survey, int imageCount)
{
    const Equatorial& t = survey.target;
    test::writeBytes(
        survey.programFolder + QStringLiteral("SNeTargets.txt"),
        test::crlfLines(
            {QStringLiteral("SNtest\t%1\t%2").arg(t.rightAscension, 0, 'f', 6).arg(t.declination, 0, 'f', 6),
             QStringLiteral("**** imageCount=%1").arg(imageCount)}));
    survey.view.checked[SurveyKind::SNe] = true;
    survey.view.checked[SurveyKind::MPS] = false;
}

// One minor planet field on the target, its set not begun.
void planMPS(IndiSurvey& survey)
{
    const Equatorial& t = survey.target;
    const auto sexagesimal = [](double value) {
        const double v = std::abs(value);
        return QStringLiteral("%1%2:%3:00")
            .arg(value < 0 ? QStringLiteral("-") : QString())
            .arg(static_cast<int>(v), 2, 10, QLatin1Char('0'))
            .arg(static_cast<int>(std::fmod(v * 60, 60)), 2, 10, QLatin1Char('0'));
    };
    const QString area = sexagesimal(t.rightAscension) + u' ' + sexagesimal(t.declination) + u' ' +
                         sexagesimal(t.rightAscension + 0.02) + u' ' + sexagesimal(t.declination + 0.3);
    test::writeBytes(survey.programFolder + QStringLiteral("MPSTargets.txt"), test::crlfLines({area}));
    test::writeBytes(survey.programFolder + QStringLiteral("MPSfov1.txt"),
                     test::crlfLines({area,
                                      QStringLiteral("1!MPtest\t%1\t%2")
                                          .arg(t.rightAscension, 0, 'f', 6)
                                          .arg(t.declination, 0, 'f', 6),
                                      QStringLiteral("**** ")}));
    survey.view.checked[SurveyKind::SNe] = false;
    survey.view.checked[SurveyKind::MPS] = true;
}

database::ObservationDb reader(const IndiSurvey& survey)
{
    return database::ObservationDb(database::observationsPath(survey.host->settings().logDir),
                                   database::ObservationDb::Access::Read);
}

const QDateTime kLongAgo = QDateTime::fromSecsSinceEpoch(0, QTimeZone::utc());

std::vector<database::CandidateRecord> candidates(const IndiSurvey& survey)
{
    return reader(survey).candidates(kLongAgo, QDateTime::currentDateTimeUtc().addDays(1));
}

std::vector<database::MoverRecord> movers(const IndiSurvey& survey)
{
    return reader(survey).movers(kLongAgo, QDateTime::currentDateTimeUtc().addDays(1));
}

// Waits for the search to be through with `frames` frames: it runs after each frame's grade.
void waitForSources(const IndiSurvey& survey, int frames)
{
    QElapsedTimer waited;
    waited.start();
    while (survey.acquisitionLog().count(QStringLiteral("\tsources\t")) < frames && waited.elapsed() < 30000)
        waitWallMilliseconds(200);
    // The plan's closing search and its records come after its last frame's sources.
    waitWallMilliseconds(1000);
}

// A star `east` and `north` arcseconds of sky from the target.
imaging::SkyPoint beside(const IndiSurvey& survey, double east, double north)
{
    const Equatorial& t = survey.target;
    return {t.rightAscension * 15 + east / 3600 / std::cos(t.declination * M_PI / 180),
            t.declination + north / 3600};
}

double seconds(const QElapsedTimer& timer)
{
    return static_cast<double>(timer.elapsed()) / 1000;
}

} // namespace

// A supernova plan whose first frame is its target's reference; a star is then added 40" from the
// galaxy, and the next visit's frames show it: it is the one candidate, where and as bright as put.
TEST_F(IndiDiscovery, AStarAddedOnTheSecondVisitIsTheOneCandidate)
{
    QElapsedTimer wall;
    wall.start();
    const auto survey = makeSurvey(*server);
    planSNe(*survey, 2);
    survey->syncBeside(*server);
    const imaging::SkyPoint star = beside(*survey, 40, 10);
    constexpr double kMagnitude = 11;
    survey->run(1);
    waitForSources(*survey, 2);
    ASSERT_TRUE(survey->acquisitionLog().contains(QStringLiteral("the target's reference")))
        << qPrintable(survey->acquisitionLog());
    // The next visit: the target is due again, and the star is there.
    planSNe(*survey, 2);
    setEvents(
        {QStringLiteral("add %1 %2 %3").arg(star.ra, 0, 'f', 6).arg(star.dec, 0, 'f', 6).arg(kMagnitude)});
    survey->syncBeside(*server);
    survey->run(1);
    waitForSources(*survey, 4);
    const QString log = survey->acquisitionLog();
    const auto found = candidates(*survey);
    ASSERT_EQ(found.size(), 1u) << qPrintable(log);
    const database::CandidateRecord& c = found.front();
    const double off = imaging::angularDistance(c.ra, c.dec, star.ra, star.dec) * 3600;
    EXPECT_LT(off, 2) << qPrintable(log);
    ASSERT_TRUE(c.magnitude);
    EXPECT_NEAR(*c.magnitude, kMagnitude, 0.3) << qPrintable(log);
    for (const char* suffix : {"-reference.png", "-new.png", "-difference.png"})
        EXPECT_TRUE(QFile::exists(c.cutouts + QLatin1String(suffix))) << qPrintable(c.cutouts);
    EXPECT_TRUE(log.contains(QStringLiteral("\tdiscovery\tSNtest\t"))) << qPrintable(log);
    EXPECT_TRUE(movers(*survey).empty());
    std::printf("candidate %.2f\" from where the star was put, magnitude %.2f (put %.2f); %.1f s\n", off,
                *c.magnitude, kMagnitude, seconds(wall));
}
