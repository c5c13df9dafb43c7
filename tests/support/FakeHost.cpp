#include "FakeHost.h"

#include "host/LocalFileSystem.h"

#include <QTimeZone>

namespace kestrove::test {

namespace {

class IdleLocalUser : public AcpLocalUser
{
public:
    QString DefaultPlanDir() override { return QString(); }
    QString DefaultLogDir() override { return QString(); }
};

class IdlePrefs : public AcpPrefs
{
public:
    AcpLocalUser& LocalUser() override { return m_user; }
    double TiltUpLimit() override { return 90; }
    double MinimumElevation() override { return 0; }
    double GetHorizon(double) override { return 0; }
    double SlewsettleTime() override { return 0; }

private:
    IdleLocalUser m_user;
};

class SafeWeather : public AcpWeather
{
public:
    bool Safe() override { return true; }
};

class FixedTransform : public CoordTransform
{
public:
    void setRightAscension(double hours) override { m_ra = hours; }
    void setDeclination(double degrees) override { m_dec = degrees; }
    double RightAscension() const override { return m_ra; }
    double Declination() const override { return m_dec; }
    double Elevation() override { return 0; }
    double Azimuth() override { return 0; }

private:
    double m_ra = 0;
    double m_dec = 0;
};

class IdleUtil : public AcpUtil
{
public:
    bool ScriptActive() override { return false; }
    bool WeatherConnected() override { return false; }
    AcpWeather& Weather() override { return m_weather; }
    AcpPrefs& Prefs() override { return m_prefs; }
    QString FormatVar(const QDateTime& value, const QString&) override { return value.toString(Qt::ISODate); }
    double Date_Julian(const QDateTime& value) override
    {
        return 2440587.5 + value.toMSecsSinceEpoch() / 86400000.0;
    }
    std::unique_ptr<CoordTransform> NewCTHereAndNow() override { return std::make_unique<FixedTransform>(); }
    std::unique_ptr<CoordTransform> NewCT(double, double) override
    {
        return std::make_unique<FixedTransform>();
    }
    bool IsGEMDestinationWest(double) override { return false; }
    double HMS_Hours(const QString& text) override { return text.toDouble(); }
    double DMS_Degrees(const QString& text) override { return text.toDouble(); }
    QString Hours_HMS(double hours, const QString&, const QString&, const QString&) override
    {
        return QString::number(hours);
    }
    QString Degrees_DMS(double degrees, const QString&, const QString&, const QString&) override
    {
        return QString::number(degrees);
    }
    void LoadScript(const QString&) override {}
    void RunScript() override {}
    void AbortScript() override {}

private:
    SafeWeather m_weather;
    IdlePrefs m_prefs;
};

class ParkedTelescope : public AcpTelescope
{
public:
    double RightAscension() override { return 0; }
    double Declination() override { return 0; }
    int AlignmentMode() override { return 2; }
    double SiteLatitude() override { return 0; }
    double SiderealTime() override { return 0; }
};

class FixedApplication : public AcpApplication
{
public:
    QString Path() override { return QString(); }
};

} // namespace

QDateTime FixedClock::localNow() const
{
    // The site keeps UTC; the local date and time are taken as they stand.
    QDateTime local = m_utc;
    local.setTimeZone(QTimeZone::utc());
    return local;
}

FakeHost::FakeHost() : m_clock(QDateTime(QDate(2024, 3, 1), QTime(22, 0), QTimeZone::utc())) {}

std::unique_ptr<FileSystem> FakeHost::createFileSystem()
{
    created << QStringLiteral("FileSystem");
    return std::make_unique<LocalFileSystem>();
}

std::unique_ptr<AcpUtil> FakeHost::createUtil()
{
    created << QStringLiteral("Util");
    return std::make_unique<IdleUtil>();
}

std::unique_ptr<AcpTelescope> FakeHost::createTelescope()
{
    created << QStringLiteral("Telescope");
    return std::make_unique<ParkedTelescope>();
}

std::unique_ptr<AcpApplication> FakeHost::createApplication()
{
    created << QStringLiteral("Application");
    return std::make_unique<FixedApplication>();
}

} // namespace kestrove::test
