// The lightcurve of a variable star on Debian's INDI simulators: tests/indi/gsc draws the Tycho-2
// field and, from KESTROVE_GSC_EVENTS, one star whose magnitude follows a sinusoid in wall time.
#include "database/ObservationDb.h"
#include "host/LightcurveFile.h"
#include "indi/IndiSurvey.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace kestrove;
using test::IndiServer;
using test::IndiSurvey;

namespace {

constexpr double kPeriod = 30;      // seconds
constexpr double kAmplitude = 0.25; // magnitudes: half of a 0.5 mag swing
constexpr double kMeanMagnitude = 9;

// m = c + s sin x + k cos x, x = 2 pi (t - t0) / period, by least squares: the amplitude hypot(s, k)
// and the phase atan2(k, s) in cycles, 0 for the curve as drawn.
struct Sinusoid
{
    double mean = 0;
    double amplitude = 0;
    double phase = 0;
};

Sinusoid fitSinusoid(const std::vector<double>& seconds, const std::vector<double>& magnitudes)
{
    double a[3][4] = {};
    for (size_t i = 0; i < seconds.size(); ++i) {
        const double x = 2 * std::numbers::pi * seconds[i] / kPeriod;
        const double row[3] = {1, std::sin(x), std::cos(x)};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                a[r][c] += row[r] * row[c];
            a[r][3] += row[r] * magnitudes[i];
        }
    }
    for (int p = 0; p < 3; ++p)
        for (int r = 0; r < 3; ++r)
            if (r != p) {
                const double f = a[r][p] / a[p][p];
                for (int c = 0; c < 4; ++c)
                    a[r][c] -= f * a[p][c];
            }
    const double mean = a[0][3] / a[0][0], s = a[1][3] / a[1][1], k = a[2][3] / a[2][2];
    return {mean, std::hypot(s, k), std::atan2(k, s) / (2 * std::numbers::pi)};
}

// The photometry's time per frame, as its debug lines tell it.
std::vector<double> g_milliseconds;
QtMessageHandler g_previous = nullptr;

void collectTimes(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    static const QRegularExpression time(QStringLiteral("^photometry of .*: ([0-9.]+) ms$"));
    if (context.category && QLatin1String(context.category) == QLatin1String("kestrove.lightcurve")) {
        if (const auto match = time.match(message); match.hasMatch())
            g_milliseconds.push_back(match.captured(1).toDouble());
        return;
    }
    g_previous(type, context, message);
}

} // namespace

// One plan of many short frames over two periods: every accepted, solved frame gets its point in
// the database and in lightcurves/NAME.csv, and the sinusoid comes back in amplitude and phase.
// The check star, constant, shows the scatter the photometry reaches against its own errors.
TEST(IndiLightcurve, AVariableStarsCurveIsRecovered)
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
    // The simulator draws a star of magnitude m as 10^(0.4 k (limit - m)) ADU a second, with k such
    // that a star at the saturation magnitude fills 65000 ADU: k is 1, true magnitudes, when the two
    // lie 2.5 log10(65000) = 12.03 apart (by default, 17 and 1, it is 0.75).
    ASSERT_TRUE(server.set(
        QStringLiteral("CCD Simulator.SIMULATOR_SETTINGS.SIM_LIMITINGMAG;SIM_SATURATION=18.03;6")));
    QElapsedTimer set;
    set.start();
    while (server.get(QStringLiteral("CCD Simulator.SIMULATOR_SETTINGS.SIM_SATURATION")).toDouble() != 6 &&
           set.elapsed() < 10000)
        waitWallMilliseconds(250);
    ASSERT_EQ(server.get(QStringLiteral("CCD Simulator.SIMULATOR_SETTINGS.SIM_SATURATION")).toDouble(), 6);
    // Declination 30, away from 0h: where the simulator draws the field true (see IndiImaging).
    double& ra = survey.target.rightAscension;
    if (ra < 0.7 || ra > 23.3)
        ra = ra < 12 ? 0.7 : 23.3;
    survey.target.declination = 30;
    SurveySettings& settings = survey.core->settings;
    settings.exposureSLC = 1;
    settings.cameraBinningSLC = 2;
    settings.cameraSubframeSLC = 1;
    settings.cameraFilterSLC = QStringLiteral("Green");
    survey.core->SaveConfig();
    survey.view.checked[SurveyKind::SNe] = false;
    survey.view.checked[SurveyKind::SLC] = true;
    test::writeBytes(survey.programFolder + QStringLiteral("SNeTargets.txt"), {});
    test::writeBytes(
        survey.programFolder + QStringLiteral("SLCTargets.txt"),
        test::crlfLines(
            {QStringLiteral("VarTest\t%1\t%2").arg(ra, 0, 'f', 6).arg(survey.target.declination, 0, 'f', 6),
             QStringLiteral("**** imageCount=30")}));
    const double t0 = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000;
    test::writeBytes(events, QStringLiteral("vary %1 %2 %3 %4 %5 %6\n")
                                 .arg(ra * 15, 0, 'f', 6)
                                 .arg(survey.target.declination, 0, 'f', 6)
                                 .arg(kMeanMagnitude)
                                 .arg(kAmplitude)
                                 .arg(kPeriod)
                                 .arg(t0, 0, 'f', 3)
                                 .toUtf8());
    survey.syncBeside(server);
    QLoggingCategory::setFilterRules(QStringLiteral("kestrove.lightcurve.debug=true"));
    g_previous = qInstallMessageHandler(collectTimes);
    survey.run(1);
    const QString log = survey.acquisitionLog();
    ASSERT_EQ(survey.host->lastPlanOutcome(), QStringLiteral("completed")) << qPrintable(log);

    // Nothing waits on the photometry: the last points come after the plan.
    const QString logDir = survey.host->settings().logDir;
    const auto accepted = [&] { return static_cast<int>(log.count(QStringLiteral("\taccepted\t"))); };
    const auto points = [&] {
        database::ObservationDb db(database::observationsPath(logDir), database::ObservationDb::Access::Read);
        return db.lightcurvePoints(QDateTime::fromSecsSinceEpoch(0, Qt::UTC),
                                   QDateTime::currentDateTimeUtc().addDays(1));
    };
    QElapsedTimer waited;
    waited.start();
    while (static_cast<int>(points().size()) < accepted() && waited.elapsed() < 30000)
        waitWallMilliseconds(200);
    const auto found = points();
    ASSERT_GE(found.size(), 20u) << qPrintable(survey.acquisitionLog());
    EXPECT_EQ(static_cast<int>(found.size()), accepted()) << qPrintable(survey.acquisitionLog());

    std::vector<double> seconds, magnitudes, checks, checkErrors;
    for (const database::LightcurvePoint& p : found) {
        EXPECT_EQ(p.target, QStringLiteral("VarTest"));
        EXPECT_GT(p.frameId, 0);
        EXPECT_TRUE(p.airmass.has_value());
        // The barycentric date lies within the light's travel across the Earth's orbit (and TT's
        // lead on UTC) of the plain Julian date.
        const double jd = static_cast<double>(p.utc.toMSecsSinceEpoch()) / 86400000.0 + 2440587.5;
        EXPECT_LT(std::abs(p.bjdTdb - jd) * 86400, 600) << p.bjdTdb;
        EXPECT_GE(p.comparisons.count(u';'), 1) << qPrintable(p.comparisons);
        seconds.push_back(static_cast<double>(p.utc.toMSecsSinceEpoch()) / 1000 - t0);
        magnitudes.push_back(p.magnitude);
        if (p.checkMagnitude) {
            checks.push_back(*p.checkMagnitude);
            checkErrors.push_back(*p.checkError);
        }
    }
    const QByteArray csv = test::readBytes(lightcurvePath(logDir, QStringLiteral("VarTest")));
    EXPECT_EQ(csv.count('\n'), static_cast<qsizetype>(found.size()) + 1);

    const Sinusoid fit = fitSinusoid(seconds, magnitudes);
    double phase = fit.phase - std::round(fit.phase);
    EXPECT_NEAR(fit.amplitude, kAmplitude, 0.05);
    // The simulator draws a frame's stars as they are when its exposure starts; the point is timed
    // at mid-exposure, half a second later.
    EXPECT_NEAR(phase, -0.5 / kPeriod, 0.05);
    std::printf("%zu points over %.0f s: amplitude %.3f mag (drawn %.3f), phase %+.3f cycles\n", found.size(),
                seconds.back() - seconds.front(), fit.amplitude, kAmplitude, phase);

    qInstallMessageHandler(g_previous);
    if (!g_milliseconds.empty()) {
        std::sort(g_milliseconds.begin(), g_milliseconds.end());
        std::printf("photometry per frame: median %.1f ms, slowest %.1f ms (the first chooses the stars)\n",
                    g_milliseconds[g_milliseconds.size() / 2], g_milliseconds.back());
    }

    ASSERT_GE(checks.size(), 10u);
    double mean = 0, errors = 0;
    for (size_t i = 0; i < checks.size(); ++i) {
        mean += checks[i] / static_cast<double>(checks.size());
        errors += checkErrors[i] * checkErrors[i] / static_cast<double>(checks.size());
    }
    double variance = 0;
    for (double c : checks)
        variance += (c - mean) * (c - mean) / static_cast<double>(checks.size() - 1);
    std::printf("check star %s: scatter %.4f mag, its errors' rms %.4f mag\n",
                qPrintable(found.front().check), std::sqrt(variance), std::sqrt(errors));
}
