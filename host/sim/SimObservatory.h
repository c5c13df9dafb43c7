#pragma once

#include "host/Observatory.h"
#include "settings/ObservatorySettings.h"
#include "sky/SiteClock.h"

#include <QString>
#include <memory>

class QTimer;

namespace kestrove::sim {

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
    SimObservatory(const QString& folder, const ObservatorySettings& settings);
    ~SimObservatory() override;

    std::unique_ptr<FileSystem> createFileSystem() override;
    std::unique_ptr<AcpUtil> createUtil() override;
    std::unique_ptr<AcpTelescope> createTelescope() override;
    std::unique_ptr<AcpApplication> createApplication() override;
    Clock& clock() override;
    QString lastPlanOutcome() override;
    ObservatoryControl* observatoryControl() override;
    QString describe() override;
    const ObservatorySettings* observatorySettings() const override;
    std::optional<bool> weatherSafe() override;

    SiteClock& simClock();
    const ObservatorySettings& settings() const;
    QString folder() const;
    // Points the mount at a J2000 position at once.
    void pointMount(double rightAscension, double declination);
    // The plain-text log of every image the acquisition script took.
    QString acquisitionLogPath() const;
    // The configuration file of this observatory ("observatory.ini" in its folder).
    QString iniPath() const;

private:
    // Shared with the automation objects, which may outlive this object.
    std::shared_ptr<SimState> m_state;
    // Moves the devices and the acquisition script on while the clock runs, whatever holds the
    // survey's thread meanwhile (a question the window asks opens an event loop of its own).
    std::unique_ptr<QTimer> m_tick;
};

} // namespace kestrove::sim
