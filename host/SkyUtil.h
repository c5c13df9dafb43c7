#pragma once

#include "host/Observatory.h"
#include "host/PlanTimings.h"
#include "settings/ObservatorySettings.h"
#include "sky/Astronomy.h"
#include "sky/Clock.h"
#include "sky/SiteSky.h"

#include <memory>
#include <optional>

namespace kestrove {

// A coordinate transform for one instant: here and now, or for a given latitude and sidereal time.
class SkyTransform : public CoordTransform
{
public:
    explicit SkyTransform(std::shared_ptr<const SkyInstant> sky);
    SkyTransform(std::shared_ptr<const SkyInstant> sky, double latitude, double siderealTime);

    void setRightAscension(double hours) override;
    void setDeclination(double degrees) override;
    double RightAscension() const override { return m_ra; }
    double Declination() const override { return m_dec; }
    double Elevation() override;
    double Azimuth() override { return place().azimuth; }
    void setPlace(const CataloguePlace& place) override;
    bool surelyAtOrBelow(double elevation) override;
    bool azimuthWithEveryElevation() override { return true; }

private:
    const double* unit();
    const Horizontal& place();

    std::shared_ptr<const SkyInstant> m_sky;
    bool m_fixed;
    double m_latitude = 0;
    double m_siderealTime = 0;
    double m_ra = 0;
    double m_dec = 0;
    // The unit vector of (m_ra, m_dec), when a place gave it.
    bool m_haveUnit = false;
    double m_unit[3] = {0, 0, 0};
    bool m_dirty = true;
    // The elevation alone, when only it was asked: the azimuth's arctangent is spared.
    bool m_haveElevation = false;
    Horizontal m_place;
};

// The members of the host's utility object that every host answers the same way: time and its
// text, coordinate transforms, the pier side of a destination, the sexagesimal conversions, and
// the darkness gate on the weather. A host adds its scripts and its weather device.
class SkyUtil : public AcpUtil
{
public:
    // While the Sun stands above `sunLimit` the weather is reported connected and unsafe, whatever
    // the host's own weather device says; so it is while `control` holds the survey because the
    // observatory is not open.
    SkyUtil(SiteSky& sky, std::optional<double> sunLimit, ObservatoryControl* control = nullptr);

    bool WeatherConnected() final;
    AcpWeather& Weather() final { return m_weather; }

    QString FormatVar(const QDateTime& value, const QString& format) override;
    double Date_Julian(const QDateTime& value) override;
    std::unique_ptr<CoordTransform> NewCTHereAndNow() override;
    std::unique_ptr<CoordTransform> NewCT(double latitude, double siderealTime) override;
    bool IsGEMDestinationWest(double rightAscension) override;
    double HMS_Hours(const QString& text) override;
    double DMS_Degrees(const QString& text) override;
    QString Hours_HMS(double hours, const QString& h, const QString& m, const QString& s) override;
    QString Degrees_DMS(double degrees, const QString& d, const QString& m, const QString& s) override;
    std::optional<double> sunLimit() override { return m_sunLimit; }
    bool moonPlace(double& elevation, double& azimuth) override;
    std::optional<QDateTime> sunAboveLimitBetween(const QDateTime& fromUtc, const QDateTime& toUtc) override
    {
        return m_sky.firstSunAboveLimit(m_sunLimit, fromUtc, toUtc);
    }

protected:
    // The host's own weather source: whether one is connected and whether it reports safe.
    virtual bool deviceWeatherConnected() = 0;
    virtual bool deviceWeatherSafe() = 0;

    SiteSky& m_sky;

private:
    class GatedWeather : public AcpWeather
    {
    public:
        explicit GatedWeather(SkyUtil& util) : m_util(util) {}
        bool Safe() override;

    private:
        SkyUtil& m_util;
    };

    // Asks the controller, once it has looked at the weather and the devices, whether it holds the
    // survey.
    bool observatoryHolds();

    std::optional<double> m_sunLimit;
    ObservatoryControl* m_control;
    GatedWeather m_weather;
};

// The host's preferences as "observatory.ini" sets them: folders, limits, horizon, settle time, and
// what a plan costs beyond its images (host/PlanTimings.h).
class SettingsPrefs : public AcpPrefs, private AcpLocalUser
{
public:
    explicit SettingsPrefs(const ObservatorySettings& settings) : m_settings(settings) {}

    AcpLocalUser& LocalUser() override { return *this; }
    double TiltUpLimit() override { return m_settings.tiltUpLimit; }
    double MinimumElevation() override { return m_settings.minimumElevation; }
    double GetHorizon(double azimuth) override;
    double highestHorizon() override;
    double SlewsettleTime() override { return m_settings.settleTime; }
    std::optional<double> moonSeparation() override { return m_settings.moonSeparation; }
    double downloadSeconds() override { return m_settings.downloadSeconds; }
    double autofocusSeconds() override { return timings().autofocusSeconds; }
    double pointingSeconds() override { return timings().pointingSeconds; }

private:
    QString DefaultPlanDir() override { return m_settings.planDir; }
    QString DefaultLogDir() override { return m_settings.logDir; }
    // An INDI observatory's are worked out once: whether solve-field is installed is looked up on
    // the disk.
    PlanTimings timings();

    const ObservatorySettings& m_settings;
    std::optional<PlanTimings> m_timings;
};

} // namespace kestrove
