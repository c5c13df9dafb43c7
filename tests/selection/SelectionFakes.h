#pragma once

// A scripted observatory for the selection tests: each target's elevation and azimuth are set by
// hand, keyed by its right ascension, so that limits can be hit exactly. The fakes record what
// they were asked and implement only what target selection calls.

#include "core/SurveyCore.h"
#include "host/LocalFileSystem.h"
#include "sky/Clock.h"
#include "text/HostError.h"
#include "text/NumberText.h"

#include <QDateTime>
#include <QTimeZone>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace kestrove::test {

struct Place
{
    double elevation = 45;
    double azimuth = 180;
};

struct FakeSky
{
    QDateTime localNow = QDateTime(QDate(2024, 3, 10), QTime(0, 0), QTimeZone::utc());

    // Where each target stands now, and at the end of an MPS set (transforms from NewCT), by its
    // 32-bit right ascension.
    std::map<float, Place> now;
    std::map<float, Place> later;
    Place unscripted;
    int hereAndNowTransforms = 0;
    std::vector<std::pair<double, double>> newCTAsked; // latitude, sidereal time

    double tiltUpLimit = 90;
    double minimumElevation = 0;
    double horizon = 0;
    double settleTime = 10;
    std::vector<double> horizonAsked;

    double mountRA = 0;
    double mountDec = 0;
    int alignmentMode = 1;
    double latitude = 40;
    double siderealTime = 0;
    int mountPositionReads = 0;
    std::function<bool(double)> west = [](double) { return false; };
    std::vector<double> westAsked;
};

inline Place lookUp(const std::map<float, Place>& places, double ra, const Place& otherwise)
{
    const auto it = places.find(static_cast<float>(ra));
    return it == places.end() ? otherwise : it->second;
}

class FakeTransform : public CoordTransform
{
public:
    FakeTransform(const std::map<float, Place>& places, const Place& unscripted, QString origin)
        : m_places(places), m_unscripted(unscripted), origin(std::move(origin))
    {
    }
    void setRightAscension(double hours) override { m_ra = hours; }
    void setDeclination(double degrees) override { m_dec = degrees; }
    double RightAscension() const override { return m_ra; }
    double Declination() const override { return m_dec; }
    double Elevation() override { return lookUp(m_places, m_ra, m_unscripted).elevation; }
    double Azimuth() override { return lookUp(m_places, m_ra, m_unscripted).azimuth; }

private:
    const std::map<float, Place>& m_places;
    Place m_unscripted;
    double m_ra = 0;
    double m_dec = 0;

public:
    QString origin; // "now" or "later"
};

class FakePrefs : public AcpPrefs
{
public:
    explicit FakePrefs(FakeSky& sky) : m_sky(sky) {}
    AcpLocalUser& LocalUser() override { throw HostError("LocalUser", {}, "not scripted"); }
    double TiltUpLimit() override { return m_sky.tiltUpLimit; }
    double MinimumElevation() override { return m_sky.minimumElevation; }
    double GetHorizon(double azimuth) override
    {
        m_sky.horizonAsked.push_back(azimuth);
        return m_sky.horizon;
    }
    double SlewsettleTime() override { return m_sky.settleTime; }

private:
    FakeSky& m_sky;
};

class FakeUtil : public AcpUtil
{
public:
    explicit FakeUtil(FakeSky& sky) : m_sky(sky), m_prefs(sky) {}

    bool ScriptActive() override { throw HostError("ScriptActive", {}, "not scripted"); }
    bool WeatherConnected() override { throw HostError("WeatherConnected", {}, "not scripted"); }
    AcpWeather& Weather() override { throw HostError("Weather", {}, "not scripted"); }
    AcpPrefs& Prefs() override { return m_prefs; }
    QString FormatVar(const QDateTime&, const QString&) override
    {
        throw HostError("FormatVar", {}, "not scripted");
    }
    double Date_Julian(const QDateTime& value) override { return julianDate(value); }
    std::unique_ptr<CoordTransform> NewCTHereAndNow() override
    {
        ++m_sky.hereAndNowTransforms;
        return std::make_unique<FakeTransform>(m_sky.now, m_sky.unscripted, QStringLiteral("now"));
    }
    std::unique_ptr<CoordTransform> NewCT(double latitude, double siderealTime) override
    {
        m_sky.newCTAsked.emplace_back(latitude, siderealTime);
        return std::make_unique<FakeTransform>(m_sky.later, m_sky.unscripted, QStringLiteral("later"));
    }
    bool IsGEMDestinationWest(double rightAscension) override
    {
        m_sky.westAsked.push_back(rightAscension);
        return m_sky.west(rightAscension);
    }
    double HMS_Hours(const QString& text) override { return number("HMS_Hours", text); }
    double DMS_Degrees(const QString& text) override { return number("DMS_Degrees", text); }
    QString Hours_HMS(double hours, const QString&, const QString&, const QString&) override
    {
        return doubleText(hours);
    }
    QString Degrees_DMS(double degrees, const QString&, const QString&, const QString&) override
    {
        return doubleText(degrees);
    }
    void LoadScript(const QString&) override { throw HostError("LoadScript", {}, "not scripted"); }
    void RunScript() override { throw HostError("RunScript", {}, "not scripted"); }
    void AbortScript() override { throw HostError("AbortScript", {}, "not scripted"); }

    // The date and time as they stand, as a Julian date.
    static double julianDate(const QDateTime& value)
    {
        const QDateTime asUtc(value.date(), value.time(), QTimeZone::utc());
        return 2440587.5 + static_cast<double>(asUtc.toMSecsSinceEpoch()) / 86400000.0;
    }

private:
    static double number(const char* call, const QString& text)
    {
        const auto value = parseNumber(text);
        if (!value)
            throw HostError(call, text, "not a number");
        return *value;
    }

    FakeSky& m_sky;
    FakePrefs m_prefs;
};

class FakeTelescope : public AcpTelescope
{
public:
    explicit FakeTelescope(FakeSky& sky) : m_sky(sky) {}
    double RightAscension() override
    {
        ++m_sky.mountPositionReads;
        return m_sky.mountRA;
    }
    double Declination() override
    {
        ++m_sky.mountPositionReads;
        return m_sky.mountDec;
    }
    int AlignmentMode() override { return m_sky.alignmentMode; }
    double SiteLatitude() override { return m_sky.latitude; }
    double SiderealTime() override { return m_sky.siderealTime; }

private:
    FakeSky& m_sky;
};

// Text files on disk, recording which files were opened and how many lines were read from each.
class RecordingFileSystem : public FileSystem
{
public:
    struct Use
    {
        QString path;
        int linesRead = 0;
        bool closed = false;
    };

    bool FileExists(const QString& path) override { return m_disk.FileExists(path); }
    std::unique_ptr<File> GetFile(const QString& path) override { return m_disk.GetFile(path); }
    std::unique_ptr<TextStream> OpenTextFile(const QString& path, IOMode mode, bool create = false) override
    {
        uses.push_back(std::make_shared<Use>(Use{path}));
        return std::make_unique<Stream>(m_disk.OpenTextFile(path, mode, create), uses.back());
    }
    std::unique_ptr<TextStream> CreateTextFile(const QString& path, bool overwrite) override
    {
        return m_disk.CreateTextFile(path, overwrite);
    }

    std::vector<std::shared_ptr<Use>> uses;

private:
    class Stream : public TextStream
    {
    public:
        Stream(std::unique_ptr<TextStream> inner, std::shared_ptr<Use> use)
            : m_inner(std::move(inner)), m_use(std::move(use))
        {
        }
        bool AtEndOfStream() override { return m_inner->AtEndOfStream(); }
        QString ReadLine() override
        {
            ++m_use->linesRead;
            return m_inner->ReadLine();
        }
        void Write(const QString& text) override { m_inner->Write(text); }
        void WriteLine(const QString& text) override { m_inner->WriteLine(text); }
        void Close() override
        {
            m_use->closed = true;
            m_inner->Close();
        }

    private:
        std::unique_ptr<TextStream> m_inner;
        std::shared_ptr<Use> m_use;
    };

    LocalFileSystem m_disk;
};

class FakeClock : public Clock
{
public:
    explicit FakeClock(FakeSky& sky) : m_sky(sky) {}
    QDateTime utcNow() const override { return m_sky.localNow; }
    QDateTime localNow() const override { return m_sky.localNow; }
    void sleepSeconds(int n) override { m_sky.localNow = m_sky.localNow.addSecs(n); }

private:
    FakeSky& m_sky;
};

class SkyFakeHost : public Host
{
public:
    SkyFakeHost() : m_clock(sky) {}
    std::unique_ptr<FileSystem> createFileSystem() override
    {
        return std::make_unique<RecordingFileSystem>();
    }
    std::unique_ptr<AcpUtil> createUtil() override { return std::make_unique<FakeUtil>(sky); }
    std::unique_ptr<AcpTelescope> createTelescope() override { return std::make_unique<FakeTelescope>(sky); }
    std::unique_ptr<AcpApplication> createApplication() override
    {
        throw HostError("createApplication", {}, "not scripted");
    }
    Clock& clock() override { return m_clock; }

    FakeSky sky;

private:
    FakeClock m_clock;
};

} // namespace kestrove::test
