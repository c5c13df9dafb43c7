#pragma once

#include "host/Astronomy.h"
#include "host/Clock.h"
#include "host/Observatory.h"
#include "host/ObservatorySettings.h"

#include <memory>

namespace kestrove {

// The sky over a site as the observatory's clock tells the time. Contexts are kept while the clock
// stands still, and the sidereal time is carried forward between them, so that asking for it once
// per target costs nothing.
class SiteSky
{
public:
    SiteSky(const Site& site, const Clock& clock) : m_site(site), m_clock(clock) {}

    const Site& site() const { return m_site; }
    void setSite(const Site& site);
    // The sky context for the clock's current instant.
    std::shared_ptr<const SkyInstant> now();
    // Local apparent sidereal time now, hours. On a running clock it is carried forward from a
    // context up to a minute old at the sidereal rate (error far below a millisecond of time).
    double siderealTimeNow();

private:
    Site m_site;
    const Clock& m_clock;
    std::shared_ptr<const SkyInstant> m_sky;
};

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
    double Elevation() override { return place().elevation; }
    double Azimuth() override { return place().azimuth; }

private:
    const Horizontal& place();

    std::shared_ptr<const SkyInstant> m_sky;
    bool m_fixed;
    double m_latitude = 0;
    double m_siderealTime = 0;
    double m_ra = 0;
    double m_dec = 0;
    bool m_dirty = true;
    Horizontal m_place;
};

// The members of the host's utility object that every host answers the same way: time and its
// text, coordinate transforms, the pier side of a destination and the sexagesimal conversions.
// A host adds its scripts and its weather.
class SkyUtil : public AcpUtil
{
public:
    explicit SkyUtil(SiteSky& sky) : m_sky(sky) {}

    QString FormatVar(const QDateTime& value, const QString& format) override;
    double Date_Julian(const QDateTime& value) override;
    std::unique_ptr<CoordTransform> NewCTHereAndNow() override;
    std::unique_ptr<CoordTransform> NewCT(double latitude, double siderealTime) override;
    bool IsGEMDestinationWest(double rightAscension) override;
    double HMS_Hours(const QString& text) override;
    double DMS_Degrees(const QString& text) override;
    QString Hours_HMS(double hours, const QString& h, const QString& m, const QString& s) override;
    QString Degrees_DMS(double degrees, const QString& d, const QString& m, const QString& s) override;

protected:
    SiteSky& m_sky;
};

// The host's preferences as "observatory.ini" sets them: folders, limits, horizon, settle time.
class SettingsPrefs : public AcpPrefs, private AcpLocalUser
{
public:
    explicit SettingsPrefs(const ObservatorySettings& settings) : m_settings(settings) {}

    AcpLocalUser& LocalUser() override { return *this; }
    double TiltUpLimit() override { return m_settings.tiltUpLimit; }
    double MinimumElevation() override { return m_settings.minimumElevation; }
    double GetHorizon(double azimuth) override;
    double SlewsettleTime() override { return m_settings.settleTime; }

private:
    QString DefaultPlanDir() override { return m_settings.planDir; }
    QString DefaultLogDir() override { return m_settings.logDir; }

    const ObservatorySettings& m_settings;
};

} // namespace kestrove
