#pragma once

#include "settings/ObservatorySettings.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <functional>
#include <optional>

namespace kestrove {

class Clock;
class SiteSky;

// One motion of the observatory's devices.
enum class Motion
{
    ParkMount,
    CloseRoof,
    WarmCamera,
    OpenRoof,
    UnparkMount,
    CoolCamera,
    Calibrate, // darks and bias with the roof shut and the camera still cold
    SkyFlats   // flats of the twilight sky, the roof open and the mount tracking a blank field
};

// How a commanded motion stands, as read back from the device.
struct MotionProgress
{
    enum class State
    {
        Moving,
        Done,
        Failed
    };
    State state = State::Moving;
    QString why; // with Failed: what the device said

    static MotionProgress moving() { return {}; }
    static MotionProgress done() { return {State::Done, {}}; }
    static MotionProgress failed(const QString& why) { return {State::Failed, why}; }
};

// The device steps of one host: the controller decides, the devices move. `command` starts a
// motion and must leave alone a motion that the device is already carrying out (a second park
// command aborts a park in INDI); a device already where the motion would take it is done.
class ObservatoryDevices
{
public:
    virtual ~ObservatoryDevices() = default;
    // Whether the host has a device for the motion (no roof, an uncooled camera ...).
    virtual bool has(Motion motion) const = 0;
    // The device that carries the motion out, for messages ("mount \"EQ6\"").
    virtual QString deviceText(Motion motion) const = 0;
    virtual void command(Motion motion) = 0;
    virtual MotionProgress progress(Motion motion) = 0;
    // Ends a running plan at once, without its chain script: the observatory is about to close.
    virtual void stopImaging(const QString& why) = 0;
    // The weather source's verdict; true when there is none. A source that cannot be read is unsafe.
    virtual bool weatherSafe() = 0;
    // One step of what the observatory did, for the host's acquisition log.
    virtual void log(const QStringList& fields) = 0;
    // What, if anything, the devices read as shut although nothing here shut them ("roof \"R\"
    // parked"): another program, the watchdog or the observer by hand. Empty while they read open or
    // cannot be read.
    virtual QString shutFromOutside() { return {}; }
    // What a motion under way has done since last asked ("Master dark 60 s bin 2 ..."), for the
    // survey log.
    virtual QStringList takeEvents() { return {}; }
    // Whether a sky flat is due (a filter and binning the survey uses without a recent master);
    // asked once per twilight, before the roof opens or stays open for it.
    virtual bool skyFlatsWanted() { return false; }
};

// The Sun's altitudes (degrees) between which the twilight sky makes flats.
struct SkyFlatWindow
{
    double sunMin = -10;
    double sunMax = -2;
};

// The observatory's state as the controller keeps it.
enum class ObservatoryState
{
    Closed,
    Opening,
    Open,
    Closing
};

// Opens, closes and parks the observatory: one policy for every host. While a survey runs it opens
// when it is dark and the weather has been safe long enough, and closes (mount parked first, then
// the roof) when the weather stays unsafe, at dawn and when the run ends; the night's close takes
// the calibration frames before the camera warms. Each motion is commanded
// once and watched with a time limit and bounded retries. The host calls update() about once a
// second of its clock, and reports unsafe weather to the survey while the observatory is not open.
class ObservatoryControl
{
public:
    ObservatoryControl(ObservatoryDevices& devices, SiteSky& sky, const Clock& clock, QTimeZone zone,
                       std::optional<double> sunLimit, const SafetySettings& safety);

    // A host that takes sky flats: in evening twilight, with the Sun within the window, the
    // observatory opens for them before the dark and stays open into the night; at dawn it stays
    // open past the Sun limit until the Sun enters the window, and takes them before it closes.
    void setSkyFlats(std::optional<SkyFlatWindow> window) { m_skyFlats = window; }

    // A survey starts: the observatory opens as soon as it may.
    void runStarted();
    // The survey ended: the observatory shuts down when [safety] closeAtEnd says so.
    void runEnded();
    // The observer's close: a shut-down at once, whatever the run and the weather; the observatory
    // stays closed until the next run starts.
    void closeNow(const QString& why);
    // Looks at the weather, the Sun and the devices, and carries the current motion on.
    void update();

    ObservatoryState state() const { return m_state; }
    // Open with every opening motion done: plans may run.
    bool ready() const { return m_state == ObservatoryState::Open && m_sequence.isEmpty(); }
    // A motion is under way.
    bool busy() const { return !m_sequence.isEmpty(); }
    // The survey must wait: a run or a shut-down is in hand and the observatory is not open.
    bool holdsSurvey() const { return (m_running || busy()) && !ready(); }
    bool running() const { return m_running; }
    // The last motion that failed for good, naming the device; empty after a motion succeeds.
    QString fault() const { return m_fault; }
    // Why the survey waits, e.g. "roof closed for weather, reopens at 23:41 if it stays safe";
    // empty when the observatory is ready.
    QString waitReason();
    // The observatory's state in a few words, for the window ("Roof open", "Closing: dawn").
    QString stateText() const;

    // What the observatory did and why ("Closing: weather unsafe", "Roof closed"), as it happens.
    std::function<void(const QString& event)> onEvent;

    // Time limits and retries of each motion.
    struct Limit
    {
        double seconds;
        int retries;
        bool mustSucceed; // a failure ends the sequence; otherwise it is logged and passed over
    };
    static Limit limitOf(Motion motion);

private:
    void startOpening(bool skyFlats = false);
    void startClosing(const QString& why, bool warm);
    // The Sun within the sky flats' window now, rising or setting.
    bool inFlatWindow(bool* setting = nullptr) const;
    // Asks the devices once per twilight whether flats are due; `last` holds when they were asked.
    bool flatsDue(QDateTime& last, bool& answer);
    // Open for the evening's flats; the close for the Sun waits until it is dark.
    bool duskFlatsNow();
    // At dawn, open: the Sun above the limit but below the window, flats due after it.
    bool holdForDawnFlats();
    void advance();
    void finishSequence();
    void failSequence(Motion motion, const QString& why);
    // Why the observatory must be closed now; empty when it may stay open.
    QString closeReason() const;
    bool mayOpen() const;
    QString localTime(const QDateTime& utc) const;
    // "reopens 15 min after it turns safe"
    QString reopensAfterText() const;
    QDateTime reopenAt() const;
    void tell(const QString& event);

    ObservatoryDevices& m_devices;
    SiteSky& m_sky;
    const Clock& m_clock;
    QTimeZone m_zone;
    std::optional<double> m_sunLimit;
    SafetySettings m_safety;
    std::optional<SkyFlatWindow> m_skyFlats;
    // When the devices were last asked about flats at dusk and at dawn, and what they said.
    QDateTime m_duskAsked;
    bool m_duskWanted = false;
    QDateTime m_dawnAsked;
    bool m_dawnWanted = false;
    bool m_openForFlats = false; // opened in twilight for flats: the Sun's close waits for dark

    ObservatoryState m_state = ObservatoryState::Closed;
    bool m_running = false;
    bool m_verified = false; // the devices were brought to the state the controller believes in
    bool m_closedByObserver = false;
    bool m_updating = false;
    QString m_closeWhy;      // why the observatory closed, for the wait reason
    QString m_closedOutside; // what was found shut by someone else; it stays shut until a new run
    QString m_fault;
    bool m_weatherSafe = true;
    std::optional<QDateTime> m_unsafeSince; // start of the current stretch of unsafe weather
    std::optional<QDateTime> m_lastUnsafe;  // last unsafe reading, or a failed opening, this run
    QDateTime m_holdUntil;                  // no new attempt before this, after a failed closing

    // The motions still to do, the first under way.
    QList<Motion> m_sequence;
    bool m_commanded = false;
    int m_tries = 0;
    QDateTime m_motionStart;
};

// The window of [calibration] skyFlats; none when sky flats are off.
std::optional<SkyFlatWindow> skyFlatWindowOf(const ObservatorySettings& settings);

// "mount parked", "roof open" ...: what a finished motion did.
QString motionDoneText(Motion motion);

} // namespace kestrove
