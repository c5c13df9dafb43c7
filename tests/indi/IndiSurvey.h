#pragma once

#include "core/SurveyCore.h"
#include "host/indi/IndiObservatory.h"
#include "indi/IndiServer.h"
#include "sky/Astronomy.h"
#include "sky/SiteClock.h"
#include "support/TestSupport.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

namespace kestrove::test {

// A survey core on an INDI observatory of simulators: a site at latitude 60, no darkness gate (the
// tests run at any hour), one SNe target at declination 80, 10 degrees from where the simulated
// mount starts, so the slew is short. The target stands 0.3 h west of the meridian: near the
// meridian the mount may take either pier side, and a slew across it is a turn-over.
class IndiSurvey
{
public:
    IndiSurvey(IndiServer& server, const std::function<void(ObservatorySettings&)>& adjust = {})
    {
        programFolder = dir.path() + QStringLiteral("/program/");
        QDir().mkpath(programFolder);
        const QString folder = dir.path() + QStringLiteral("/observatory");
        ObservatorySettings s = observatoryDefaults(folder);
        s.kind = HostKind::Indi;
        s.latitude = 60;
        s.longitude = 10;
        s.elevation = 100;
        s.timeZone = QStringLiteral("Europe/Oslo");
        s.sunAltitude.reset();
        s.minimumElevation = 10;
        s.settleTime = 1;
        s.slewRate = 3;
        s.indi.server = server.address();
        s.indi.mount = QStringLiteral("Telescope Simulator");
        s.indi.camera = QStringLiteral("CCD Simulator");
        s.indi.filterWheel = QStringLiteral("Filter Simulator");
        s.indi.connectTimeout = 15;
        s.indi.downloadMargin = 20;
        // These check plans; the shut-down at the end has tests of its own.
        s.safety.closeAtEnd = false;
        // The simulator draws no stars without a "gsc" program: the tests of pointing and grading
        // turn them on. Off, grading still measures and records each frame, and rejects none.
        s.solve.enabled = false;
        s.grading.enabled = false;
        // Darks at the close cost minutes: the calibration's tests turn them on.
        s.calibration.enabled = false;
        if (adjust)
            adjust(s);
        host = std::make_unique<indi::IndiObservatory>(folder, s);
        core = std::make_unique<SurveyCore>(*host, view, programFolder);
        core->load();
        core->settings.exposureSNe = 1;
        core->settings.cameraBinningSNe = 2;
        core->settings.cameraSubframeSNe = 0.5;
        core->settings.cameraFilterSNe = QStringLiteral("Green");
        core->settings.baseDir = dir.path() + QStringLiteral("/images/");
        core->SaveConfig();
        view.checked[SurveyKind::SNe] = true;

        target = {std::fmod(core->acpTelescope->SiderealTime() + 23.7, 24.0), 80};
        writeBytes(programFolder + QStringLiteral("SNeTargets.txt"),
                   crlfLines({QStringLiteral("SNtest\t%1\t%2")
                                  .arg(target.rightAscension, 0, 'f', 6)
                                  .arg(target.declination, 0, 'f', 6),
                              QStringLiteral("**** imageCount=2")}));
        syncBeside(server);
    }

    // Slews cannot be sped up: the mount is synced a fifth of a degree from the target instead.
    void syncBeside(IndiServer& server)
    {
        const Equatorial jnow =
            j2000ToJnow({target.rightAscension, target.declination + 0.2}, QDateTime::currentDateTimeUtc());
        ASSERT_TRUE(server.set(QStringLiteral("Telescope Simulator.ON_COORD_SET.SYNC=On")));
        ASSERT_TRUE(server.set(QStringLiteral("Telescope Simulator.EQUATORIAL_EOD_COORD.RA;DEC=%1;%2")
                                   .arg(jnow.rightAscension, 0, 'f', 6)
                                   .arg(jnow.declination, 0, 'f', 6)));
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 10000 &&
               std::abs(core->acpTelescope->Declination() - target.declination - 0.2) > 0.01)
            waitWallMilliseconds(50);
        ASSERT_LT(std::abs(core->acpTelescope->Declination() - target.declination - 0.2), 0.01);
    }

    void run(int passes)
    {
        core->runLimits.passes = passes;
        core->startSurvey();
    }
    QString acquisitionLog() const
    {
        const QString path = host->acquisitionLogPath();
        return QFile::exists(path) ? QString::fromLatin1(readBytes(path)) : QString();
    }
    QString surveyLog() const
    {
        return QString::fromLatin1(readBytes(host->settings().logDir + QStringLiteral("/Kestrove.log")));
    }
    bool marker() const { return QFile::exists(programFolder + QStringLiteral("completed.txt")); }
    bool catalogueUpdated() const
    {
        return readBytes(programFolder + QStringLiteral("SNeTargets.txt")).contains("lastImageJD=");
    }
    QStringList images() const
    {
        QStringList found;
        QDirIterator it(dir.path() + QStringLiteral("/images"), {QStringLiteral("*.fits")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next();
        return found;
    }
    // Calls `action` once, as soon as the acquisition log holds `text`.
    void onceLogged(const QString& text, std::function<void()> action)
    {
        auto* timer = new QTimer(&context);
        QObject::connect(timer, &QTimer::timeout, &context, [this, timer, text, action] {
            if (acquisitionLog().contains(text)) {
                timer->stop();
                action();
            }
        });
        timer->start(100);
    }

    QTemporaryDir dir;
    QString programFolder;
    std::unique_ptr<indi::IndiObservatory> host;
    RecordingView view;
    std::unique_ptr<SurveyCore> core;
    Equatorial target;
    QObject context;
};

// The server's environment that puts tests/indi/gsc on the CCD simulator's PATH: it then draws the
// Tycho-2 stars of the sky where the mount points.
inline QList<QPair<QString, QString>> gscEnvironment(const QList<QPair<QString, QString>>& more = {})
{
    QList<QPair<QString, QString>> environment{
        {QStringLiteral("PATH"), QStringLiteral(KESTROVE_GSC_FOLDER ":") + qEnvironmentVariable("PATH")}};
    return environment + more;
}

// The simulated optics: by default a 200 mm focal length on the simulator's 5.2 um pixels, 5.4"/px,
// a field of 1.9 x 1.5 degrees; the best focus at `bestFocus` on a shallow curve.
inline void setOptics(IndiServer& server, int bestFocus, int focalLength = 200)
{
    ASSERT_TRUE(server.waitFor(QStringLiteral("CCD Simulator.CONNECTION.CONNECT"), QStringLiteral("On"), 20));
    ASSERT_TRUE(
        server.set(QStringLiteral("CCD Simulator.SCOPE_INFO.FOCAL_LENGTH;APERTURE=%1;50").arg(focalLength)));
    ASSERT_TRUE(server.set(
        QStringLiteral("CCD Simulator.SIM_FOCUSING.SIM_FOCUS_POSITION;SIM_FOCUS_MAX;SIM_SEEING=%1;20000;10")
            .arg(bestFocus)));
    ASSERT_TRUE(server.waitFor(QStringLiteral("CCD Simulator.SCOPE_INFO.FOCAL_LENGTH"),
                               QString::number(focalLength), 10));
    ASSERT_TRUE(server.waitFor(QStringLiteral("CCD Simulator.SIM_FOCUSING.SIM_FOCUS_POSITION"),
                               QString::number(bestFocus), 10));
}

// The value of a FITS header card, or empty.
inline QString fitsValue(const QByteArray& fits, const char* keyword)
{
    for (qsizetype at = 0; at + 80 <= fits.size() && at < 2880 * 10; at += 80) {
        const QByteArray card = fits.mid(at, 80);
        if (card.left(8).trimmed() == keyword && card.mid(8, 2) == "= ")
            return QString::fromLatin1(card.mid(10).split('/').first()).trimmed();
        if (card.left(8).trimmed() == "END")
            break;
    }
    return {};
}

inline void setRain(IndiServer& server, int precipitation)
{
    ASSERT_TRUE(server.set(
        QStringLiteral("Weather Simulator.WEATHER_CONTROL.Weather;Temperature;Wind;Gust;Precip=0;15;0;0;%1")
            .arg(precipitation)));
    // Each indi_setprop is a connection of its own: the refresh could overtake the new values.
    ASSERT_TRUE(server.waitFor(QStringLiteral("Weather Simulator.WEATHER_CONTROL.Precip"),
                               QString::number(precipitation), 10));
    ASSERT_TRUE(server.set(QStringLiteral("Weather Simulator.WEATHER_REFRESH.REFRESH=On")));
}

} // namespace kestrove::test
