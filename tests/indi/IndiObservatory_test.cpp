#include "core/SurveyCore.h"
#include "host/indi/IndiObservatory.h"
#include "indi/IndiSurvey.h"
#include "sky/Astronomy.h"
#include "sky/SiteClock.h"
#include "support/TestSupport.h"
#include "text/HostError.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace kestrove;
using test::fitsValue;
using test::IndiSurvey;
using test::setRain;

TEST(IndiObservatory, OnePassImagesTheTargetAndRecordsIt)
{
    test::IndiServer server;
    IndiSurvey survey(server);
    QElapsedTimer timed;
    timed.start();
    survey.run(1);
    const double seconds = timed.elapsed() / 1000.0;
    std::printf("one pass with a two-exposure plan: %.1f s\n", seconds);

    const QString log = survey.acquisitionLog();
    EXPECT_TRUE(survey.marker()) << qPrintable(log);
    EXPECT_TRUE(survey.catalogueUpdated());
    EXPECT_EQ(survey.host->lastPlanOutcome(), QStringLiteral("completed"))
        << qPrintable(survey.host->lastPlanOutcome());
    EXPECT_TRUE(log.contains(QStringLiteral("\tautofocus\tSNtest\tskipped: no [indi] autofocusCommand")));
    EXPECT_TRUE(log.contains(QStringLiteral("\tcalibrate\tSNtest\tskipped")));
    EXPECT_TRUE(log.contains(QStringLiteral("\tfilter\tSNtest\tGreen\tslot 2")));
    EXPECT_TRUE(log.contains(QStringLiteral("\tend\tSNtest\t2 images")));

    const double off =
        separation(survey.core->acpTelescope->RightAscension(), survey.core->acpTelescope->Declination(),
                   survey.target.rightAscension, survey.target.declination);
    EXPECT_LT(off * 60, 1.0);

    const QStringList images = survey.images();
    ASSERT_EQ(images.size(), 2) << qPrintable(log);
    for (const QString& path : images) {
        EXPECT_TRUE(path.contains(QStringLiteral("/images/SNe/SNtest/"))) << qPrintable(path);
        const QByteArray fits = test::readBytes(path);
        EXPECT_TRUE(fits.startsWith("SIMPLE  =")) << qPrintable(path);
        EXPECT_EQ(fitsValue(fits, "NAXIS1"), QStringLiteral("320")); // half of 1280, binned 2
        EXPECT_EQ(fitsValue(fits, "NAXIS2"), QStringLiteral("256"));
        EXPECT_EQ(fitsValue(fits, "XBINNING"), QStringLiteral("2"));
        EXPECT_TRUE(log.contains(path));
    }
}

TEST(IndiObservatory, AnAbortDuringTheExposureEndsThePlanWithoutItsMarker)
{
    const struct
    {
        const char* cause;
        const char* logged;
        const char* outcome;
    } cases[] = {
        {"Stop Survey and ACP", "\taborted\tSNtest\tAbortScript", "aborted, Stop Survey and ACP"},
        {"rain", "\taborted, weather unsafe\tSNtest", "aborted, weather unsafe"},
    };
    for (const auto& c : cases) {
        test::IndiServer server;
        IndiSurvey survey(
            server, [](ObservatorySettings& s) { s.indi.weather = QStringLiteral("Weather Simulator"); });
        // Long enough that a loaded machine still sees the weather turn before the plan ends; the
        // abort cuts the exposure short, so it costs nothing when all goes well.
        survey.core->settings.exposureSNe = 30;
        survey.core->SaveConfig();
        const bool rain = QByteArray(c.cause) == "rain";
        survey.onceLogged(QStringLiteral("\tcamera\t"), [&] {
            if (rain)
                setRain(server, 10);
            else
                survey.core->stopSurveyAndAcp();
        });
        survey.run(1);

        const QString log = survey.acquisitionLog();
        EXPECT_TRUE(log.contains(QString::fromLatin1(c.logged))) << c.cause << qPrintable(log);
        EXPECT_FALSE(log.contains(QStringLiteral("\tchainscript\t"))) << c.cause;
        EXPECT_EQ(survey.host->lastPlanOutcome(), QString::fromLatin1(c.outcome)) << c.cause;
        EXPECT_FALSE(survey.marker()) << c.cause;
        EXPECT_FALSE(survey.catalogueUpdated()) << c.cause;
        EXPECT_TRUE(survey.images().isEmpty()) << c.cause;
        EXPECT_TRUE(survey.surveyLog().contains(
            QStringLiteral("ACP did not successfully complete the plan - not updating targets file")))
            << c.cause;
    }
}

TEST(IndiObservatory, UnsafeWeatherHoldsThePass)
{
    test::IndiServer server;
    IndiSurvey survey(server, [](ObservatorySettings& s) {
        s.indi.weather = QStringLiteral("Weather Simulator");
        s.safety.reopenDelay = 2;
    });
    const auto rain = [&](int precipitation) { setRain(server, precipitation); };
    rain(10);
    QElapsedTimer waited;
    waited.start();
    while (survey.core->acpUtil->Weather().Safe() && waited.elapsed() < 20000)
        waitWallMilliseconds(100);
    ASSERT_FALSE(survey.core->acpUtil->Weather().Safe());
    EXPECT_TRUE(survey.core->acpUtil->WeatherConnected());
    // What the window shows: the server, and the weather source's own verdict.
    EXPECT_EQ(survey.host->describe(), QStringLiteral("INDI server ") + server.address());
    EXPECT_EQ(survey.host->weatherSafe(), std::optional<bool>(false));

    QDateTime madeSafe;
    QTimer later;
    later.setSingleShot(true);
    QObject::connect(&later, &QTimer::timeout, [&] {
        EXPECT_TRUE(survey.view.showed(QStringLiteral("Waiting for weather to be safe")));
        EXPECT_FALSE(survey.acquisitionLog().contains(QStringLiteral("\tstart\t")));
        madeSafe = QDateTime::currentDateTimeUtc();
        rain(0);
    });
    later.start(3000);
    survey.run(1);

    EXPECT_TRUE(madeSafe.isValid());
    EXPECT_TRUE(survey.marker()) << qPrintable(survey.acquisitionLog());
    EXPECT_TRUE(survey.catalogueUpdated());
}

TEST(IndiObservatory, ServerKilledMidPlanFailsItAndTheNextPassReconnects)
{
    test::IndiServer server;
    IndiSurvey survey(server);
    survey.core->settings.exposureSNe = 3;
    survey.core->SaveConfig();
    survey.onceLogged(QStringLiteral("\tcamera\t"), [&] {
        server.kill();
        server.start();
    });
    survey.run(2);

    const QString log = survey.acquisitionLog();
    EXPECT_TRUE(log.contains(QStringLiteral("\tfailed\tSNtest\t"))) << qPrintable(log);
    EXPECT_EQ(log.count(QStringLiteral("\tstart\t")), 2) << qPrintable(log);
    EXPECT_TRUE(log.contains(QStringLiteral("\tend\tSNtest\t2 images"))) << qPrintable(log);
    EXPECT_EQ(survey.surveyLog().count(QStringLiteral("ACP did not successfully complete the plan")), 1);
    EXPECT_TRUE(survey.marker());
    EXPECT_TRUE(survey.catalogueUpdated());
}

// The image folder is built from the catalogue's target name: a name cannot send images elsewhere.
TEST(IndiObservatory, ATargetNameCannotSendImagesOutOfTheImageTree)
{
    test::IndiServer server;
    IndiSurvey survey(server);
    test::writeBytes(survey.programFolder + QStringLiteral("SNeTargets.txt"),
                     test::crlfLines({QStringLiteral("../../escape\t%1\t%2")
                                          .arg(survey.target.rightAscension, 0, 'f', 6)
                                          .arg(survey.target.declination, 0, 'f', 6),
                                      QStringLiteral("**** imageCount=2")}));
    survey.run(1);
    const QString log = survey.acquisitionLog();
    EXPECT_TRUE(log.contains(QStringLiteral("holds \"..\"; it is not written"))) << qPrintable(log);
    EXPECT_FALSE(log.contains(QStringLiteral("\tslew"))) << qPrintable(log);
    EXPECT_FALSE(survey.marker());
    EXPECT_FALSE(survey.catalogueUpdated());
    EXPECT_FALSE(QFileInfo::exists(survey.dir.path() + QStringLiteral("/escape")));
}

TEST(IndiObservatory, UnreachableServerIsNamedAtStart)
{
    const int port = test::IndiServer::freePort();
    QTemporaryDir dir;
    ObservatorySettings s = observatoryDefaults(dir.path());
    s.kind = HostKind::Indi;
    s.indi.server = QStringLiteral("127.0.0.1:%1").arg(port);
    s.indi.mount = QStringLiteral("Telescope Simulator");
    s.indi.camera = QStringLiteral("CCD Simulator");
    s.indi.connectTimeout = 2;
    try {
        indi::IndiObservatory observatory(dir.path(), s);
        ADD_FAILURE() << "connected to nothing";
    } catch (const HostError& e) {
        EXPECT_TRUE(
            e.message().contains(QStringLiteral("cannot reach the INDI server at 127.0.0.1:%1").arg(port)))
            << e.what();
    }
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
