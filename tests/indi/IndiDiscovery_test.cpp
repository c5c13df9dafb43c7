// The search for new and moving sources on Debian's INDI simulators: tests/indi/gsc draws the
// Tycho-2 field and, from KESTROVE_GSC_EVENTS, a star added or a star that moves.
#include "database/ObservationDb.h"
#include "imaging/Wcs.h"
#include "indi/IndiSurvey.h"

#include <QElapsedTimer>

#include <cmath>

using namespace kestrove;
using test::IndiServer;
using test::IndiSurvey;

namespace {

database::ObservationDb reader(const IndiSurvey& survey)
{
    return database::ObservationDb(database::observationsPath(survey.host->settings().logDir),
                                   database::ObservationDb::Access::Read);
}

const QDateTime kLongAgo = QDateTime::fromSecsSinceEpoch(0, QTimeZone::utc());

// Waits for the worker to be through: the search runs after the plan's last grade.
template <typename Done> void waitFor(Done done, int milliseconds = 30000)
{
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < milliseconds)
        waitWallMilliseconds(200);
}

} // namespace

// A supernova plan whose first frame is its target's reference; a star is then added 40" from the
// galaxy, and the next visit's frames show it: it is the one candidate, where and as bright as put.
// Off until the frames' magnitudes reach the catalogue's scale on the simulators (they stay
// instrumental: 16.8 for the 11 put) and the place comes within 2" (4.2" at 10.7"/px).
TEST(IndiDiscovery, DISABLED_AStarAddedOnTheSecondVisitIsTheOneCandidate)
{
    QTemporaryDir dir;
    const QString events = dir.filePath(QStringLiteral("events"));
    IndiServer server({"indi_simulator_telescope", "indi_simulator_ccd", "indi_simulator_wheel"},
                      test::gscEnvironment({{QStringLiteral("KESTROVE_GSC_EVENTS"), events}}));
    IndiSurvey survey(server, [](ObservatorySettings& s) {
        s.solve.enabled = true;
        s.solve.exposure = 1;
        s.grading.enabled = true;
    });
    test::setOptics(server, 50000);
    // True magnitudes: see IndiLightcurve.
    ASSERT_TRUE(server.set(
        QStringLiteral("CCD Simulator.SIMULATOR_SETTINGS.SIM_LIMITINGMAG;SIM_SATURATION=18.03;6")));
    QElapsedTimer set;
    set.start();
    while (server.get(QStringLiteral("CCD Simulator.SIMULATOR_SETTINGS.SIM_SATURATION")).toDouble() != 6 &&
           set.elapsed() < 10000)
        waitWallMilliseconds(250);
    double& ra = survey.target.rightAscension;
    if (ra < 0.7 || ra > 23.3)
        ra = ra < 12 ? 0.7 : 23.3;
    survey.target.declination = 30;
    test::writeBytes(
        survey.programFolder + QStringLiteral("SNeTargets.txt"),
        test::crlfLines(
            {QStringLiteral("SNtest\t%1\t%2").arg(ra, 0, 'f', 6).arg(survey.target.declination, 0, 'f', 6),
             QStringLiteral("**** imageCount=2")}));
    survey.syncBeside(server);
    const double starRa = ra * 15 + 40.0 / 3600 / std::cos(30 * M_PI / 180);
    const double starDec = survey.target.declination + 10.0 / 3600;
    constexpr double kMagnitude = 11;
    survey.run(1);
    waitFor([&] { return survey.acquisitionLog().count(QStringLiteral("\tsources\t")) >= 2; });
    ASSERT_TRUE(survey.acquisitionLog().contains(QStringLiteral("the target's reference")))
        << qPrintable(survey.acquisitionLog());
    // The next visit: the target is due again, and the star is there.
    test::writeBytes(
        survey.programFolder + QStringLiteral("SNeTargets.txt"),
        test::crlfLines(
            {QStringLiteral("SNtest\t%1\t%2").arg(ra, 0, 'f', 6).arg(survey.target.declination, 0, 'f', 6),
             QStringLiteral("**** imageCount=2")}));
    test::writeBytes(events, QStringLiteral("add %1 %2 %3\n")
                                 .arg(starRa, 0, 'f', 6)
                                 .arg(starDec, 0, 'f', 6)
                                 .arg(kMagnitude)
                                 .toUtf8());
    survey.syncBeside(server);
    survey.run(1);
    waitFor([&] { return survey.acquisitionLog().count(QStringLiteral("\tsources\t")) >= 4; });
    waitWallMilliseconds(1000);
    const QString log = survey.acquisitionLog();
    const auto candidates = reader(survey).candidates(kLongAgo, QDateTime::currentDateTimeUtc().addDays(1));
    ASSERT_EQ(candidates.size(), 1u) << qPrintable(log);
    const database::CandidateRecord& c = candidates.front();
    const double off = imaging::angularDistance(c.ra, c.dec, starRa, starDec) * 3600;
    EXPECT_LT(off, 2) << qPrintable(log);
    ASSERT_TRUE(c.magnitude);
    EXPECT_NEAR(*c.magnitude, kMagnitude, 0.3) << qPrintable(log);
    for (const char* suffix : {"-reference.png", "-new.png", "-difference.png"})
        EXPECT_TRUE(QFile::exists(c.cutouts + QLatin1String(suffix))) << qPrintable(c.cutouts);
    EXPECT_TRUE(log.contains(QStringLiteral("\tdiscovery\tSNtest\t"))) << qPrintable(log);
    std::printf("candidate %.2f\" from where the star was put, magnitude %.2f (put %.2f)\n", off,
                *c.magnitude, kMagnitude);
}
