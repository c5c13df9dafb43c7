#pragma once

#include "host/Clock.h"
#include "host/Observatory.h"

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QPointF>
#include <QString>
#include <QTimeZone>
#include <functional>
#include <memory>

namespace kestrove::sim {

// Everything "observatory.ini" configures. Defaults are written into a new file.
struct SimSettings
{
    // [site]
    double latitude = 0;  // degrees, north positive
    double longitude = 0; // degrees, east positive
    double elevation = 0; // metres
    QString timeZone;     // IANA name
    // [clock]
    QString clockStart;    // "now" or an ISO 8601 UTC instant
    double clockSpeed = 1; // 1 real time, N times faster, 0 virtual time
    // [mount]
    int alignmentMode = 2;
    double mountRightAscension = 0; // J2000 hours where it points at start
    double mountDeclination = 0;    // J2000 degrees
    double slewRate = 2.5;          // degrees per second
    double settleTime = 10;         // seconds
    double tiltUpLimit = 90;
    // [limits]
    double minimumElevation = 0;
    QList<QPointF> horizon; // (azimuth, elevation) pairs; empty: flat 0
    // [weather]
    bool weatherConnected = false;
    QList<QPair<QDateTime, QDateTime>> unsafe; // UTC intervals in which the weather is unsafe
    // [folders]
    QString planDir; // absolute, no trailing separator
    QString logDir;
    QString hostPath;
    // [acquisition]
    double autofocusSeconds = 120;
    double downloadSeconds = 5;
    double failureRate = 0; // probability that a plan fails before its end
    unsigned failureSeed = 1;
    double chainScriptDelay = 0; // seconds between the end of a plan and its chain script's effect
};

// The simulated observatory's clock. Real time runs from its start instant at `speed` times the
// wall clock; virtual time (speed 0) stands still until a wait advances it.
class SimClock : public Clock
{
public:
    // An invalid start instant means "now" by the system clock.
    SimClock(const QDateTime& startUtc, double speed, const QTimeZone& zone);

    QDateTime utcNow() const override;
    QDateTime localNow() const override;
    void sleepSeconds(int n) override;

    double speed() const { return m_speed; }
    // Sets the clock to an instant; it runs on from there at its speed.
    void setUtc(const QDateTime& utc);
    // Moves the clock forward by hand (tests, virtual time).
    void advanceSeconds(double seconds);
    // Called after every wait and every move of the clock, so that the simulator catches up.
    void setOnAdvance(std::function<void()> callback) { m_onAdvance = std::move(callback); }

private:
    QDateTime m_startUtc;
    qint64 m_startWallMs = 0;
    double m_virtualOffsetMs = 0;
    double m_speed;
    QTimeZone m_zone;
    std::function<void()> m_onAdvance;
    mutable QDateTime m_lastUtc;
    mutable QDateTime m_lastLocal;
};

class SimState;

// The built-in simulated observatory: real astronomy (ERFA) for its site and clock, a mount that
// slews, limits and a horizon, weather, and a runner for the acquisition script.
class SimObservatory : public Host
{
public:
    // Reads "observatory.ini" in the folder, creating the folder and the file with defaults first
    // when they are missing.
    explicit SimObservatory(const QString& folder);
    // Uses the given settings as they stand; nothing is read or written but the folders.
    SimObservatory(const QString& folder, const SimSettings& settings);
    ~SimObservatory() override;

    // The defaults for an observatory kept in `folder`.
    static SimSettings defaults(const QString& folder);

    std::unique_ptr<FileSystem> createFileSystem() override;
    std::unique_ptr<AcpUtil> createUtil() override;
    std::unique_ptr<AcpTelescope> createTelescope() override;
    std::unique_ptr<AcpApplication> createApplication() override;
    Clock& clock() override;

    SimClock& simClock();
    const SimSettings& settings() const;
    QString folder() const;
    // Points the mount at a J2000 position at once.
    void pointMount(double rightAscension, double declination);
    // The plain-text log of every image the acquisition script took.
    QString acquisitionLogPath() const;
    // The configuration file of this observatory ("observatory.ini" in its folder).
    QString iniPath() const;

    // Reads the settings of an observatory folder, creating the folder and "observatory.ini" with
    // defaults when they are missing. A value that cannot be read throws HostError.
    static SimSettings readSettings(const QString& folder);
    // Writes the settings to "observatory.ini" in the folder.
    static void writeSettings(const QString& folder, const SimSettings& settings);

private:
    // Shared with the automation objects, which may outlive this object.
    std::shared_ptr<SimState> m_state;
};

} // namespace kestrove::sim
