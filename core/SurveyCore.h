#pragma once

#include "core/KindBalance.h"
#include "core/ParsedTargets.h"
#include "core/PendingRecord.h"
#include "core/SelectionObserver.h"
#include "core/SurveyView.h"
#include "core/TargetConfig.h"
#include "host/FileSystem.h"
#include "host/Observatory.h"
#include "settings/ObservatorySettings.h"
#include "settings/SurveySettings.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace kestrove {

class FolderLock;

// Ends a run as "Stop Survey" would: after a number of passes, or when the host's clock reaches an
// instant. Zero passes and an invalid instant mean no limit.
struct RunLimits
{
    int passes = 0;
    QDateTime untilUtc;
};

// Where the entry being read stands in its file, so that a message about one of its lines can name
// the file and the line. An empty file name: no file is being read, and messages give the text alone.
struct EntryPlace
{
    QString file;          // the file's name, without its folder
    qint64 targetLine = 0; // 1-based; 0 when unknown
    qint64 configLine = 0;
};

// The survey core: owns the shared state of a survey (settings, host objects, survey log, flags)
// and performs every operation on it. It knows nothing of widgets; the main window, a headless run
// and the tests each drive it through a SurveyView. Failures of the host or the files propagate as
// HostError to whoever pressed the button.
class SurveyCore
{
public:
    SurveyCore(Host& host, SurveyView& view, const QString& programFolder);
    ~SurveyCore();
    SurveyCore(const SurveyCore&) = delete;
    SurveyCore& operator=(const SurveyCore&) = delete;

    // Window load: creates the file system and the three host objects in that order, then reads
    // the configuration.
    void load();
    // Window unload, after the caller copied its controls into the settings: saves them and asks a
    // running survey to end.
    void unload();

    // The program folder, with its trailing separator.
    QString GetEXEPath() const;
    // True for an existing file; false for a folder, an empty or impossible path. Never throws.
    static bool FileExists(const QString& fileName);

    void LoadConfig();
    void SaveConfig();

    // Lets n seconds of the host's clock pass while window events are dispatched.
    void WaitSeconds(int n);

    // The "Start Survey" button: runs passes until a stop is requested, then returns. False when the
    // run did not start: one is running already, or the program folder cannot be named in a plan.
    bool startSurvey();
    // "Stop Survey": a plan the observatory is running is let end and recorded, and the run ends
    // after it; pressed again, or with no plan running, the run ends at its next check.
    void stopSurvey();
    // "Stop Survey and ACP": the run ends at its next check and the running plan is aborted.
    void stopSurveyAndAcp();
    // "Close Observatory": aborts a running plan, ends the run and parks, closes and warms the
    // observatory at once; returns when it is shut (or, during a run, leaves that to the run's end).
    // `why` is what the observatory's events say.
    void closeObservatory(const QString& why = QStringLiteral("closed by the observer"));
    bool isRunning() const { return m_running; }
    // True once a stop of either kind has been asked for.
    bool stopPending() const { return stopRequested || m_stopAfterPlan; }
    // Stops as "Stop Survey" would once --passes or --until is reached, saying which.
    void stopAtLimit(const QString& reason);

    // Reading target lines and config lines. parseTarget and extractName return whether they
    // assigned their outputs; parseTargetConfig whether it reported nothing.
    bool parseTarget(const QString& target, QString& targetName, float& targetRA, float& targetDec);
    bool extractName(const QString& target, QString& targetName);
    bool parseTargetConfig(const QString& targetConfig, TargetConfig& config);
    // The same, with the target's own limits read into `limits` (preset by the caller as well); the
    // items are read either way.
    bool parseTargetConfig(const QString& targetConfig, TargetConfig& config, TargetLimits& limits);
    // Shows a message about a line of the file being read (entryPlace), with the line's text.
    void reportLine(qint64 line, const QString& message, const QString& text);
    // Shows a message about `subject` once in a run: a fault met on every pass (a read-only
    // catalogue) must not hold an unattended night with a message box each time.
    void reportOnce(const QString& subject, const QString& message);

    // Recording an observation made now in its targets file, as recordObservation without a plan.
    void updateSNe(const QString& bestTarget);
    void updateMPS(const QString& bestTarget);
    void updateSLC(const QString& bestTarget);
    void updateMPF(const QString& bestTarget);
    // Records the observation of a completed plan in its targets file, after the file's pending
    // records. One that cannot be written now is kept pending and the log says why; so does the
    // plan's result. Without a plan a file that cannot be read is an error, as for the updates, and
    // the record is not kept.
    void recordObservation(SurveyKind kind, const QString& bestTarget, HistoryEntry* plan);
    // Writes the pending records of every targets file this run has read whole, where it can.
    void writePendingRecords();

    // Lays out the survey areas of "MPSTargets.txt" as field files; returns the number of areas.
    int16_t createMPSFiles();

    // Slew model.
    static double Arccos(double x);
    static double SlewDistance(double targetRA, double targetDec, double scopeRA, double scopeDec);
    // The unit vector of a place as SlewDistance takes it (degrees); the distance between two is
    // SlewDistance's, better conditioned near zero.
    static SlewDirection slewDirection(double ra, double dec);
    static double slewDistance(const SlewDirection& target, const SlewDirection& scope);
    // A target's slew direction: its right ascension turned to degrees in single precision.
    static SlewDirection targetSlewDirection(float targetRA, float targetDec);
    // Working values of one selection call, kept from target to target.
    struct SlewState
    {
        float slewTime = 0;
        bool flip = false;
        // The mount's place when last read (hours, degrees), and its direction: the mount keeps still
        // through a pass.
        double scopeRA = std::nan("");
        double scopeDec = std::nan("");
        SlewDirection scope = {};
    };
    // The pier-side bonus and the slew penalty for a target (hours, degrees); returns the new score.
    float adjustForPointing(float targetRA, float targetDec, float score, SlewState& state);
    // The same for a target whose slew direction is worked out.
    float adjustForPointing(float targetRA, const SlewDirection& target, float score, SlewState& state);
    // The slew and settle the selection charges for a target (hours, degrees), seconds: the distance
    // over the slew rate, the host's settle time and, with `flip`, the flip time. 0 when a mount
    // cannot be charged.
    float slewSeconds(float targetRA, float targetDec, bool flip);
    float slewSeconds(const SlewDirection& target, bool flip, SlewState& state);
    // Seconds a dome ([indi] dome) takes to turn its slit from where the mount points (hours,
    // degrees) to the target; 0 without one.
    double domeSeconds(const SlewDirection& target, double scopeRA, double scopeDec);
    // True when a German equatorial mount changes pier side for the target.
    bool flipsFor(float targetRA);

    // Target selection, one per survey kind.
    bool selectSNe(float& bestScore, QString& bestTarget);
    bool selectMPS(float& bestScore, QString& bestTarget);
    bool selectSLC(float& bestScore, QString& bestTarget);
    bool selectMPF(float& bestScore, QString& bestTarget);

    // Observing plans, one per survey kind.
    void planSNe(const QString& bestTarget);
    void planMPS(const QString& bestTarget);
    void planSLC(const QString& bestTarget);
    void planMPF(const QString& bestTarget);

    // Appends a whole line to the survey log while a pass has it open.
    void logLine(const QString& line);
    // Whether logLine writes anything: a line that costs work to build is built only then.
    bool logging() const { return surveyLog && !discardLog; }
    void setStatus(const QString& text) { m_view.showStatus(text); }
    // Dispatches window events when eventPumpIntervalMs of scanning have passed since the last time.
    // Every scan calls it for every line.
    void pumpEvents();
    // Writes what the survey log holds to the disk when a second of wall time has passed since it
    // last did, so that someone following the file sees the pass as it goes.
    void flushLogIfDue();
    // The site's civil date and time from the host's clock.
    QDateTime now() const;
    // The host's Date_Julian of now(), asked again only when the clock has moved.
    double julianNow();
    // A file of the program folder.
    QString programFile(const QString& fileName) const { return m_programFolder + fileName; }

    Host& host() { return m_host; }
    SurveyView& view() { return m_view; }

    // Shared state, read and written directly by the operations.
    SurveySettings settings;
    // How a pass chooses between the kinds: [selection] of the host's settings at load, then as the
    // Preferences set it.
    SelectionSettings selection;
    bool balanced() const { return selection.policy == SelectionPolicy::Balanced; }
    // The balanced policy's memory of the kinds' scores and shares, kept from run to run.
    KindBalance balance;
    // Balanced policy: targets the pass turned down as not due, or for a negative score, so that a
    // pass that finds nothing can say why.
    int notDueThisPass = 0;
    int negativeThisPass = 0;
    std::unique_ptr<FileSystem> fileSystem;
    std::unique_ptr<AcpUtil> acpUtil;
    std::unique_ptr<AcpTelescope> acpTelescope;
    std::unique_ptr<AcpApplication> acpApplication;
    std::unique_ptr<TextStream> surveyLog;
    // A preview's survey log goes nowhere: its lines are not even built.
    bool discardLog = false;
    std::unique_ptr<CoordTransform> coordTransform;
    bool stopRequested = false;
    bool firstPass = false;
    RunLimits runLimits;
    // Why the last run ended when a limit or whoever drives the core ended it ("--passes 3 done");
    // empty after a button.
    QString stopReason;
    // Told of every rejection and choice of the selection; none by default.
    SelectionObserver* observer = nullptr;
    // Set while a targets file is read; see EntryPlace.
    EntryPlace entryPlace;
    // 0 dispatches before every line of a scan; tests use it to act at an exact line.
    int eventPumpIntervalMs = 5;
    // Observations not yet in their targets files, oldest first, and what this run last read of
    // each targets file (core/PendingRecord.h).
    QList<PendingRecord> pendingRecords;
    QHash<QString, FileRead> targetsReads;
    // The last complete read of each targets file, kept from run to run as the parsed entries are.
    QHash<QString, CompleteRead> completeReads;
    // Each targets file's entries as the last pass parsed them, and the one a pass is at.
    QHash<QString, ParsedTargets> parsedTargets;
    ParsedEntry* parsedEntry = nullptr;
    // The own limits of the entry last read without a parsed entry to keep them.
    TargetLimits entryLimits;

private:
    bool runSurvey();
    // Ends the run at its next check and aborts the running plan.
    void abortRun();
    // Makes the host and the automation objects again when the observatory's settings changed.
    void reloadHost();
    // The file system and the three host objects, in that order.
    void makeHostObjects();
    // The run has ended: the observatory shuts down when its settings say so, and this returns
    // once it is shut (each motion has its time limit).
    void shutDownObservatory();
    // Lets the observatory's motions run to their end, the window alive meanwhile.
    void waitForObservatory(ObservatoryControl& observatory);
    // The journal of pending records: read at the start of a run, written when they change.
    void loadPendingRecords();
    void savePendingRecords();

    Host& m_host;
    SurveyView& m_view;
    QString m_programFolder;
    QElapsedTimer m_sincePump;
    unsigned m_pumpCalls = 0;
    std::optional<qint64> m_julianNowMs;
    double m_julianNow = 0;
    QElapsedTimer m_sinceFlush;
    unsigned m_linesSinceFlushCheck = 0;
    bool m_running = false;
    bool m_shuttingDown = false;
    // "Stop Survey" was pressed while a plan ran: the run ends once the plan has been recorded.
    bool m_stopAfterPlan = false;
    // The plan the observatory is running, while the run waits for it.
    struct RunningPlan
    {
        QString target;
        QDateTime expectedEnd; // invalid when unknown
    };
    std::optional<RunningPlan> m_runningPlan;
    QSet<QString> m_reported;
    // "config.ini" holds a fault and could not be copied to "config.ini.bad": nothing saves over it.
    bool m_configMustBeKept = false;
    // Held on the program folder and the observatory's log and plan folders while a run lasts.
    std::vector<std::unique_ptr<FolderLock>> m_locks;
    // Lines of the pending journal that belong to other program folders.
    QStringList m_otherPending;
};

// Names the file being read in the core's entryPlace for the life of the scope, then restores what
// was there.
class ReadingFile
{
public:
    ReadingFile(SurveyCore& core, const QString& path);
    ~ReadingFile() { m_core.entryPlace = std::move(m_saved); }
    ReadingFile(const ReadingFile&) = delete;
    ReadingFile& operator=(const ReadingFile&) = delete;

private:
    SurveyCore& m_core;
    EntryPlace m_saved;
};

} // namespace kestrove
