#pragma once

#include "host/DomeView.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace kestrove {

class Clock;
class FileSystem;
class ObservatoryControl;
struct ObservatorySettings;

// The observatory host's automation objects. Member names follow the host's own. Every call is
// synchronous; a failure throws HostError.

// A J2000 position with its unit vector (x towards the equinox, z towards the pole), worked out
// once for a target that is placed pass after pass.
struct CataloguePlace
{
    double rightAscension = 0; // hours
    double declination = 0;    // degrees
    double unit[3] = {0, 0, 0};

    static CataloguePlace of(double rightAscension, double declination);
};

// Set RightAscension (J2000 hours) and Declination (degrees), then read Elevation and Azimuth
// (degrees, azimuth from north through east) for the transform's site and time.
class CoordTransform
{
public:
    virtual ~CoordTransform() = default;
    virtual void setRightAscension(double hours) = 0;
    virtual void setDeclination(double degrees) = 0;
    virtual double RightAscension() const = 0;
    virtual double Declination() const = 0;
    virtual double Elevation() = 0;
    virtual double Azimuth() = 0;

    // As setting both coordinates; a transform that can use the unit vector is spared its trigonometry.
    virtual void setPlace(const CataloguePlace& place)
    {
        setRightAscension(place.rightAscension);
        setDeclination(place.declination);
    }
    // True when the target stands at or below `elevation` (degrees) beyond doubt, found without
    // placing it exactly; false when only the exact place can tell.
    virtual bool surelyAtOrBelow(double elevation)
    {
        (void)elevation;
        return false;
    }
    // True when every target given a finite elevation also has a finite azimuth, so that the azimuth
    // need not be asked where no rule reads it.
    virtual bool azimuthWithEveryElevation() { return false; }
};

class AcpLocalUser
{
public:
    virtual ~AcpLocalUser() = default;
    // Folders without a trailing separator.
    virtual QString DefaultPlanDir() = 0;
    virtual QString DefaultLogDir() = 0;
};

class AcpPrefs
{
public:
    virtual ~AcpPrefs() = default;
    virtual AcpLocalUser& LocalUser() = 0;
    virtual double TiltUpLimit() = 0;
    virtual double MinimumElevation() = 0;
    // Elevation of the local horizon at an azimuth, degrees.
    virtual double GetHorizon(double azimuth) = 0;
    // The highest the local horizon stands at any azimuth, degrees; 90 when the host cannot tell.
    virtual double highestHorizon() { return 90; }
    virtual double SlewsettleTime() = 0;
    // Seconds the host expects an image's download to take; 0 when it cannot tell.
    virtual double downloadSeconds() { return 0; }
    // Seconds the host expects a plan's autofocus to take; 0 when it cannot tell or cannot focus.
    virtual double autofocusSeconds() { return 0; }
    // Seconds the host spends at each pointing after the slew's settle, before the images: plate
    // solves and their corrections; 0 for none.
    virtual double pointingSeconds() { return 0; }
    // How far from the Moon (degrees) a target must stand while the Moon is up; none: no limit.
    virtual std::optional<double> moonSeparation() { return std::nullopt; }
};

class AcpWeather
{
public:
    virtual ~AcpWeather() = default;
    virtual bool Safe() = 0;
};

class AcpUtil
{
public:
    virtual ~AcpUtil() = default;

    virtual bool ScriptActive() = 0;
    virtual bool WeatherConnected() = 0;
    virtual AcpWeather& Weather() = 0;
    virtual AcpPrefs& Prefs() = 0;

    // Supports "General Date" and "yyyymmdd".
    virtual QString FormatVar(const QDateTime& value, const QString& format) = 0;
    // Julian date of the date and time as they stand (no zone conversion).
    virtual double Date_Julian(const QDateTime& value) = 0;

    virtual std::unique_ptr<CoordTransform> NewCTHereAndNow() = 0;
    // For a latitude (degrees) and local apparent sidereal time (hours; beyond 24 wraps).
    virtual std::unique_ptr<CoordTransform> NewCT(double latitude, double siderealTime) = 0;
    virtual bool IsGEMDestinationWest(double rightAscension) = 0;

    // Sexagesimal or plain decimal text to hours or degrees.
    virtual double HMS_Hours(const QString& text) = 0;
    virtual double DMS_Degrees(const QString& text) = 0;
    virtual QString Hours_HMS(double hours, const QString& h, const QString& m, const QString& s) = 0;
    virtual QString Degrees_DMS(double degrees, const QString& d, const QString& m, const QString& s) = 0;

    // The Sun altitude (degrees) above which the host counts the weather unsafe, and the first
    // instant in [fromUtc, toUtc] at which the Sun stands above it; nothing without a limit, or
    // when the Sun stays below it.
    virtual std::optional<double> sunLimit() { return std::nullopt; }
    virtual std::optional<QDateTime> sunAboveLimitBetween(const QDateTime& fromUtc, const QDateTime& toUtc)
    {
        return std::nullopt;
    }
    // The Moon's apparent elevation and azimuth now, degrees, as CoordTransform places a target;
    // false when the host cannot place it.
    virtual bool moonPlace(double& elevation, double& azimuth) { return false; }

    virtual void LoadScript(const QString& path) = 0;
    // Starts the loaded script and returns at once.
    virtual void RunScript() = 0;
    virtual void AbortScript() = 0;
};

class AcpTelescope
{
public:
    virtual ~AcpTelescope() = default;
    // Where the mount points, J2000 hours and degrees.
    virtual double RightAscension() = 0;
    virtual double Declination() = 0;
    // 0 alt-azimuth, 2 German equatorial, anything else another equatorial mount.
    virtual int AlignmentMode() = 0;
    virtual double SiteLatitude() = 0;
    // Local apparent sidereal time, hours.
    virtual double SiderealTime() = 0;
};

class AcpApplication
{
public:
    virtual ~AcpApplication() = default;
    // The host's installation folder; its acquisition script is Scripts/AcquireImages.js below it.
    virtual QString Path() = 0;
};

// What stands behind the automation objects: the simulated observatory, or a real one. It creates
// the objects when the program loads and owns the clock that every reading of "now" goes to.
class Host
{
public:
    virtual ~Host() = default;
    virtual std::unique_ptr<FileSystem> createFileSystem() = 0;
    virtual std::unique_ptr<AcpUtil> createUtil() = 0;
    virtual std::unique_ptr<AcpTelescope> createTelescope() = 0;
    virtual std::unique_ptr<AcpApplication> createApplication() = 0;
    virtual Clock& clock() = 0;
    // How the last plan handed to the acquisition script ended, in a few words ("completed",
    // "failed (simulated fault)", "aborted, weather unsafe", "rejected: 3 stars where 80 expected"
    // ...); empty when the host cannot tell. A rejected plan took frames none of which is worth
    // counting, and left no marker.
    virtual QString lastPlanOutcome() { return {}; }
    // Why the next plan should focus (frames of the last one far softer than their target's
    // recent ones), once after each plan; empty when it need not. A host without frames never asks.
    virtual QString takeRefocusReason() { return {}; }
    // Why imaging waits for the sky to clear ("3 frames without stars, next look at 23:41"); empty
    // while it need not. Asked about once a second while the survey waits: a host that grades its
    // frames takes the test frame that ends the pause from here. The observatory stays open.
    virtual QString skyPause() { return {}; }
    // What the frames told of the sky since last asked, oldest first, as the observatory's events
    // ("Waiting for the sky: ...", "Sky clear: ...").
    virtual QStringList takeSkyEvents() { return {}; }
    // What opens, closes and parks the observatory; nullptr for a host that has none.
    virtual ObservatoryControl* observatoryControl() { return nullptr; }
    // Where the dome stands and whether its slit is in front of the telescope; nothing for a host
    // without a dome.
    virtual std::optional<DomeView> dome() { return std::nullopt; }
    // Which observatory this is, for the window ("Simulated observatory", "INDI server host:7624").
    virtual QString describe() { return {}; }
    // What the host was made from (site, time zone, Sun limit); nullptr for a host without them.
    virtual const ObservatorySettings* observatorySettings() const { return nullptr; }
    // The weather source's verdict now, without the darkness gate; nothing when there is no source.
    virtual std::optional<bool> weatherSafe() { return std::nullopt; }
    // Reads the settings the host was made from again; when they changed, becomes the observatory
    // they now describe and returns true, with what the file holds that was not used in `notes`.
    // Everything made of the host before (file system, automation objects) must then be made again.
    // A file that cannot be read throws HostError and leaves the host as it was.
    virtual bool reload(QStringList* notes)
    {
        Q_UNUSED(notes);
        return false;
    }
};

} // namespace kestrove
