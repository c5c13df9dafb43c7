#pragma once

#include "host/ObservatoryControl.h"
#include "host/indi/IndiLink.h"
#include "host/indi/steps/CalibrationStep.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <functional>

namespace kestrove {
class Clock;
namespace database {
class ObservationDb;
}
} // namespace kestrove

namespace kestrove::indi {

class PlanExecutor;

// The roof (a roll-off roof's or a dome's DOME_PARK, and DOME_SHUTTER where there is one), the
// mount's TELESCOPE_PARK and the camera's CCD_TEMPERATURE, for the observatory controller. Every
// state is read back from the device, never assumed: a motion is done when the property shows the
// wanted element on and is neither Busy nor Alert.
class IndiDevices : public ObservatoryDevices
{
public:
    IndiDevices(IndiLink& link, PlanExecutor& executor, const Clock& clock);

    bool has(Motion motion) const override;
    QString deviceText(Motion motion) const override;
    void command(Motion motion) override;
    MotionProgress progress(Motion motion) override;
    void stopImaging(const QString& why) override;
    bool weatherSafe() override;
    void log(const QStringList& fields) override;
    QString shutFromOutside() override;
    QStringList takeEvents() override;
    bool skyFlatsWanted() override;
    // Where the night's frames are read from for its calibration; none: nothing is calibrated.
    void setObservations(database::ObservationDb* observations) { m_observations = observations; }

private:
    // One switch element to bring on, as commanded.
    struct Target
    {
        QString device;
        QString property;
        QString element;
    };
    // The steps of a motion in their order: a dome's shutter closes before it parks, and opens
    // after it unparks.
    QList<Target> stepsOf(Motion motion) const;
    bool reached(const Target& target) const;
    // Sends the switch unless the device already stands there or is carrying out this very command.
    void send(const Target& target);
    MotionProgress temperature(Motion motion);
    void startCalibration();
    void startSkyFlats();
    // Frames of the close or the twilight: `start` is given the sets `gather` finds, and none left
    // to take is logged as `nothing`.
    void startCloseFrames(const std::function<QList<CalibrationSet>()>& gather, const QString& nothing,
                          const std::function<bool(const QList<CalibrationSet>&)>& start);
    MotionProgress calibration() const;

    IndiLink& m_link;
    IndiClient& m_client;
    const ObservatorySettings& m_settings;
    PlanExecutor& m_executor;
    const Clock& m_clock;
    // Per property: the element last commanded and the property's update count when it was sent.
    struct Sent
    {
        QString element;
        quint64 updates = 0;
    };
    QHash<QString, Sent> m_sent;
    database::ObservationDb* m_observations = nullptr;
    // The calibration of the close: not started, under way (or done), nothing to take, or refused.
    enum class Calibration
    {
        None,
        Started,
        NothingToDo,
        Refused
    };
    Calibration m_calibration = Calibration::None;
    QString m_calibrationRefusal;
};

// The indi_watchdog device: configured at start to park the mount and the roof when Kestrove's
// heartbeat stops, then fed from the Qt thread, so that a hung run loop stops the heartbeat too.
class IndiWatchdog : public QObject
{
    Q_OBJECT

public:
    explicit IndiWatchdog(IndiLink& link);
    // Turns the heartbeat off: the program ends cleanly.
    ~IndiWatchdog() override;

    // Configures the device once it is there (again after a lost server), connects it and starts
    // the heartbeat. True once the device reads back that it will park the mount and the roof.
    bool prepare();

private:
    void beat();

    IndiLink& m_link;
    IndiClient& m_client;
    const ObservatorySettings& m_settings;
    QTimer m_timer;
    QElapsedTimer m_lastSend;
    bool m_configured = false;
};

} // namespace kestrove::indi
