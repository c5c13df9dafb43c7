#include "core/History.h"
#include "core/PlanLength.h"
#include "core/ProgramLock.h"
#include "core/SurveyCore.h"
#include "host/ChainScript.h"
#include "host/LocalFileSystem.h"
#include "host/ObservatoryControl.h"
#include "host/PlanReader.h"
#include "sky/Clock.h"
#include "text/HostError.h"
#include "text/NumberText.h"
#include "text/ValueText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTimeZone>
#include <algorithm>
#include <exception>

namespace kestrove {

Q_LOGGING_CATEGORY(lcRunLoop, "kestrove.runloop")

namespace {

constexpr float kNoTarget = -10000.0f;
// How long the host may take to report the acquisition script running before the pass gives up on it.
constexpr int kScriptStartLimitSeconds = 60;
constexpr int kMarkerWaitSeconds = 10;
constexpr int kNoTargetSleepSeconds = 301;

// The chain script that the host runs at the end of a plan: it leaves the marker "completed.txt".
QByteArray chainScript(const QString& programFolder)
{
    // Inside a VBScript string a double quote is written twice.
    QString folder = programFolder;
    folder.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    QByteArray script;
    script += "sub main()\r\n";
    script += "  Set objFSO = CreateObject(\"Scripting.FileSystemObject\")\r\n";
    script += "  Set objFile = objFSO.OpenTextFile(\"" + folder.toLatin1() +
              "completed.txt\", 8, True) ' 8=append\r\n";
    script += "  objFile.Write(\"completed\")\r\n";
    script += "  objFile.Close\r\n";
    script += "end sub\r\n";
    return script;
}

// The morning report's records: a copy of the plan in the night's folder and a line of history.
// They are the user's record, not the survey's: a failure to keep them is reported and the night
// goes on.
QString archivePlan(SurveyCore& core, const QString& planPath, SurveyKind kind, const QString& name)
{
    try {
        const QString copy = archivedPlanPath(core.acpUtil->Prefs().LocalUser().DefaultPlanDir(), core.now(),
                                              core.host().clock().utcNow(), kind, name);
        copyTextFile(*core.fileSystem, planPath, copy);
        return copy;
    } catch (const std::exception& error) {
        qCWarning(lcRunLoop) << "cannot keep a copy of the plan:" << error.what();
        return planPath;
    }
}

void recordHistory(SurveyCore& core, const HistoryEntry& entry)
{
    try {
        appendHistory(*core.fileSystem, historyPath(core.acpUtil->Prefs().LocalUser().DefaultLogDir()),
                      entry);
    } catch (const std::exception& error) {
        qCWarning(lcRunLoop) << "cannot append to the plan history:" << error.what();
    }
}

// How long the plan just written is expected to run on the host, seconds (core/PlanLength.h), with
// the slew and settle the selection charges for its target. Nothing when it cannot be read back;
// the host will say why when it is handed over.
std::optional<double> planSecondsFor(SurveyCore& core, const QString& planPath, float ra, float dec)
{
    try {
        QStringList lines;
        const auto stream = core.fileSystem->OpenTextFile(planPath, IOMode::ForReading);
        while (!stream->AtEndOfStream())
            lines << stream->ReadLine();
        stream->Close();
        return expectedPlanSeconds(parsePlan(planPath, lines), core.slewSeconds(ra, dec, core.flipsFor(ra)),
                                   core.acpUtil->Prefs());
    } catch (const std::exception& error) {
        qCWarning(lcRunLoop) << "cannot estimate the plan's length:" << error.what();
        return std::nullopt;
    }
}

// Why a plan must not start now: the Sun would reach the host's limit before its images end, and
// the observatory would abort it. Empty when it may start.
QString sunUpBeforePlanEnds(SurveyCore& core, const QString& target, double planSeconds)
{
    const std::optional<double> limit = core.acpUtil->sunLimit();
    if (!limit)
        return {};
    const QDateTime now = core.host().clock().utcNow();
    const auto sunUp = core.acpUtil->sunAboveLimitBetween(now, now.addMSecs(qRound64(planSeconds * 1000)));
    if (!sunUp)
        return {};
    return QStringLiteral("Not starting %1: the Sun reaches %2 deg at %3, before the plan would end")
        .arg(target, doubleText(*limit),
             sunUp->toTimeZone(core.now().timeZone()).toString(QStringLiteral("HH:mm")));
}

// True when a single-byte file can hold the text: every character lies in Latin-1.
bool fitsSingleByte(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xff; });
}

// True when the chain-script interpreter reads the script as leaving the marker at `markerPath`:
// an observer's own script (a comment added, other line ends) does the work as well as ours.
bool leavesMarker(const QString& scriptPath, const QByteArray& script, const QString& markerPath)
{
    try {
        return QDir::cleanPath(parseChainScript(scriptPath, script).path) == QDir::cleanPath(markerPath);
    } catch (const HostError&) {
        return false;
    }
}

// Writes "completed.vbs" unless it already leaves this folder's marker. One that would not (copied
// with the folder from elsewhere, damaged) would report no plan of the night as completed, so it
// is kept as "completed.vbs.old" and replaced; the observer is warned unless it was only copied.
void ensureChainScript(SurveyCore& core)
{
    const QString path = core.programFile(QStringLiteral("completed.vbs"));
    const QByteArray wanted = chainScript(core.GetEXEPath());
    if (!SurveyCore::FileExists(path)) {
        writeWholeFile(path, wanted);
        return;
    }
    QFile existing(path);
    if (!existing.open(QIODevice::ReadOnly))
        throw HostError(QStringLiteral("read"), path, existing.errorString());
    const QByteArray bytes = existing.readAll();
    existing.close();
    if (bytes == wanted || leavesMarker(path, bytes, core.programFile(QStringLiteral("completed.txt"))))
        return;
    const QString oldPath = core.programFile(QStringLiteral("completed.vbs.old"));
    writeWholeFile(oldPath, bytes);
    writeWholeFile(path, wanted);
    // A program folder copied from elsewhere brings the script of its old place: expected, so a
    // plain note rather than a warning.
    QString copiedFrom;
    try {
        const QFileInfo marker(parseChainScript(path, bytes).path);
        if (marker.fileName() == QStringLiteral("completed.txt"))
            copiedFrom = marker.path();
    } catch (const HostError&) {
    }
    if (!copiedFrom.isEmpty()) {
        core.setStatus(QStringLiteral("completed.vbs named the folder this one was copied from (%1) and now "
                                      "names this one; the old one is kept as completed.vbs.old")
                           .arg(QDir::toNativeSeparators(copiedFrom)));
        return;
    }
    core.setStatus(QStringLiteral("completed.vbs written anew; the old one is kept as completed.vbs.old"));
    core.view().showMessage(
        QStringLiteral("\"%1\" was not the chain script this program folder needs: it would not report "
                       "completed plans to \"%2\". It was kept as \"%3\" and written anew.")
            .arg(path, core.programFile(QStringLiteral("completed.txt")), oldPath));
}

// A line of the survey log, also between passes, when the log is not open.
void appendLogLine(SurveyCore& core, const QString& line)
{
    if (core.surveyLog) {
        core.logLine(line);
        return;
    }
    auto log = core.fileSystem->OpenTextFile(core.acpUtil->Prefs().LocalUser().DefaultLogDir() +
                                                 QStringLiteral("/Kestrove.log"),
                                             IOMode::ForAppending, true);
    log->WriteLine(line);
    log->Close();
}

// What the observatory did and why, in the survey log and the plan history, as it happens.
void recordObservatoryEvent(SurveyCore& core, const QString& event) noexcept
{
    try {
        appendLogLine(core, QStringLiteral("Observatory: ") + event + QStringLiteral(" (") +
                                core.acpUtil->FormatVar(core.now(), QStringLiteral("General Date")) +
                                QStringLiteral(")"));
        appendObservatoryEvent(*core.fileSystem,
                               historyPath(core.acpUtil->Prefs().LocalUser().DefaultLogDir()),
                               core.host().clock().utcNow(), event);
    } catch (const std::exception& error) {
        qCWarning(lcRunLoop) << "cannot record what the observatory did:" << error.what();
    }
}

// What the host's frames told of the sky since the last look: each an observatory event.
void recordSkyEvents(SurveyCore& core)
{
    for (const QString& event : core.host().takeSkyEvents())
        recordObservatoryEvent(core, event);
}

// The observatory's events as they happen: a status line each (a headless run prints nothing else),
// then the records.
std::function<void(const QString&)> observatoryEvents(SurveyCore& core)
{
    return [&core](const QString& event) {
        core.setStatus(QStringLiteral("Observatory: ") + event);
        recordObservatoryEvent(core, event);
    };
}

} // namespace

bool SurveyCore::startSurvey()
{
    if (m_running || m_shuttingDown)
        return false; // the Start button is disabled during a run; runs never nest
    try {
        return runSurvey();
    } catch (...) {
        // An error ends the run; the observatory is still shut before it is reported.
        shutDownObservatory();
        throw;
    }
}

void SurveyCore::shutDownObservatory()
{
    ObservatoryControl* observatory = m_host.observatoryControl();
    if (!observatory)
        return;
    if (observatory->running())
        observatory->runEnded();
    waitForObservatory(*observatory);
}

void SurveyCore::waitForObservatory(ObservatoryControl& observatory)
{
    m_shuttingDown = true;
    struct Done
    {
        SurveyCore& core;
        ~Done() { core.m_shuttingDown = false; }
    } done{*this};
    // Every motion has its time limit, so this ends.
    while (observatory.busy()) {
        setStatus(observatory.stateText());
        m_view.processEvents();
        flushLogIfDue();
        m_host.clock().sleepSeconds(1);
        observatory.update();
    }
    observatory.onEvent = nullptr;
}

void SurveyCore::closeObservatory(const QString& why)
{
    ObservatoryControl* observatory = m_host.observatoryControl();
    if (!observatory)
        return;
    observatory->onEvent = observatoryEvents(*this);
    // The run ends at its next check; the shut-down waits for nothing.
    if (m_running)
        abortRun();
    observatory->closeNow(why);
    if (m_running)
        return;
    waitForObservatory(*observatory);
    setStatus(observatory->stateText());
}

void SurveyCore::reloadHost()
{
    QStringList notes;
    if (!m_host.reload(&notes))
        return;
    makeHostObjects();
    if (!notes.isEmpty())
        m_view.showMessage(notes.join(u'\n'));
}

bool SurveyCore::runSurvey()
{
    m_reported.clear();

    // The plan and the chain script name the folder in single-byte text: with a character beyond
    // Latin-1 they would name another folder, and no plan of the night could be recorded.
    if (!fitsSingleByte(GetEXEPath())) {
        m_view.showMessage(QStringLiteral("The program folder \"%1\" holds characters beyond Western "
                                          "(Latin-1) ones, which the single-byte plan and chain script "
                                          "cannot name: no completed plan could be recorded. Move the "
                                          "program folder to a path of Latin-1 characters.")
                               .arg(GetEXEPath()));
        return false;
    }

    // Every Start runs on the observatory's settings as saved, all of them; the folders locked
    // below are the saved ones.
    try {
        reloadHost();
    } catch (const std::exception& error) {
        m_view.showMessage(QString::fromUtf8(error.what()));
        return false;
    }

    // Program folders on one observatory share its log and plan folders: pending.txt, history.csv
    // and the plans. A second run on any of them would overwrite the first one's records.
    AcpLocalUser& user = acpUtil->Prefs().LocalUser();
    RunLocks locks = lockRunFolders(
        {{GetEXEPath(), QStringLiteral("program folder"), QString()},
         {user.DefaultLogDir(), QStringLiteral("log folder"), QStringLiteral("[folders] logDir")},
         {user.DefaultPlanDir(), QStringLiteral("plan folder"), QStringLiteral("[folders] planDir")}},
        GetEXEPath());
    if (!locks.refusal.isEmpty()) {
        m_view.showMessage(locks.refusal);
        return false;
    }
    m_locks = std::move(locks.held);
    m_running = true;
    m_view.showRunning(true);

    // Whatever way the run ends, the core is left idle: no open log, no transform, not running. An
    // error still reaches the caller, which shows it.
    struct RunGuard
    {
        SurveyCore& core;
        int uncaught = std::uncaught_exceptions();
        ~RunGuard()
        {
            core.m_locks.clear();
            core.surveyLog.reset();
            core.coordTransform.reset();
            core.m_runningPlan.reset();
            if (core.m_running && std::uncaught_exceptions() > uncaught)
                core.m_view.showRunning(false);
            core.m_running = false;
        }
    } guard{*this};

    const auto waitOneSecond = [this] {
        m_view.processEvents();
        flushLogIfDue();
        WaitSeconds(1);
    };
    const auto planDir = [this] { return acpUtil->Prefs().LocalUser().DefaultPlanDir(); };
    const auto endRun = [this] {
        shutDownObservatory();
        setStatus(QStringLiteral("Survey stopped"));
        m_view.showRunning(false);
        m_running = false;
    };
    // The stop path out of a pass: the log is closed on the way.
    const auto stopPath = [this, &endRun] {
        if (surveyLog)
            surveyLog->Close();
        surveyLog.reset();
        coordTransform.reset();
        endRun();
    };

    // Said where an unattended night leaves its trace; a message box would hold the start.
    for (const QString& note : locks.notes) {
        setStatus(note);
        appendLogLine(*this, note);
    }
    if (const ObservatorySettings* observatorySettings = m_host.observatorySettings()) {
        const QString warning = unguardedRoofWarning(*observatorySettings);
        if (!warning.isEmpty()) {
            setStatus(warning);
            recordObservatoryEvent(*this, warning);
        }
    }

    LoadConfig();
    loadPendingRecords();
    stopRequested = false;
    m_stopAfterPlan = false;
    stopReason.clear();
    // A wrong chain script is put right while the observer is still there to read why.
    ensureChainScript(*this);
    ObservatoryControl* observatory = m_host.observatoryControl();
    // The roof opens for a survey that has something to look for: with no kind that has targets of
    // its own checked, every pass only sleeps, so the observatory starts once a box is checked.
    bool observatoryStarted = false;
    const auto startObservatory = [&] {
        if (!observatory || observatoryStarted)
            return;
        if (!m_view.isKindChecked(SurveyKind::SNe) && !m_view.isKindChecked(SurveyKind::MPS) &&
            !m_view.isKindChecked(SurveyKind::SLC))
            return;
        observatory->onEvent = observatoryEvents(*this);
        observatory->runStarted();
        observatoryStarted = true;
    };
    startObservatory();

    while (!stopRequested && acpUtil->ScriptActive()) {
        setStatus(QStringLiteral("Waiting for ACP"));
        waitOneSecond();
    }
    firstPass = true;

    struct KindStep
    {
        SurveyKind kind;
        bool (SurveyCore::*select)(float&, QString&);
        void (SurveyCore::*plan)(const QString&);
    };
    static const KindStep kinds[] = {
        {SurveyKind::SNe, &SurveyCore::selectSNe, &SurveyCore::planSNe},
        {SurveyKind::MPS, &SurveyCore::selectMPS, &SurveyCore::planMPS},
        {SurveyKind::MPF, &SurveyCore::selectMPF, &SurveyCore::planMPF},
        {SurveyKind::SLC, &SurveyCore::selectSLC, &SurveyCore::planSLC},
    };

    int passesDone = 0;
    while (true) {
        // A pass may pass no wait at all, so the --until instant is looked at here as well.
        if (!stopPending() && runLimits.untilUtc.isValid() && m_host.clock().utcNow() >= runLimits.untilUtc)
            stopAtLimit(QStringLiteral("--until %1 reached").arg(utcInstantText(runLimits.untilUtc)));
        if (stopRequested)
            break;
        startObservatory();

        float overallBest = kNoTarget;
        const KindStep* chosenKind = nullptr;
        QString chosenTarget;

        if (acpUtil->WeatherConnected()) {
            while (!stopRequested && !acpUtil->Weather().Safe()) {
                // The words the survey has always shown, and why, where the observatory can tell.
                QString status = QStringLiteral("Waiting for weather to be safe");
                const QString why = observatory ? observatory->waitReason() : QString();
                if (!why.isEmpty())
                    status += QStringLiteral(": ") + why;
                setStatus(status);
                waitOneSecond();
            }
        }

        // Frames without stars: imaging waits until a test frame shows some, the observatory open
        // (clouds in the frames are not rain: closing is the weather's). Unsafe weather meanwhile,
        // or a stop, is looked at again from the top of the pass.
        recordSkyEvents(*this);
        bool waitedForSky = false;
        for (QString why; !stopRequested && !(why = m_host.skyPause()).isEmpty();) {
            waitedForSky = true;
            if (acpUtil->WeatherConnected() && !acpUtil->Weather().Safe())
                break;
            setStatus(QStringLiteral("Waiting for the sky: ") + why);
            waitOneSecond();
            recordSkyEvents(*this);
        }
        if (waitedForSky)
            continue;

        const QString runPlanOnce = planDir() + QStringLiteral("/runplanonce.txt");
        if (fileSystem->FileExists(runPlanOnce))
            fileSystem->GetFile(runPlanOnce)->Delete();

        // Folders removed during the night are made again.
        const QString logDir = acpUtil->Prefs().LocalUser().DefaultLogDir();
        QDir().mkpath(logDir);
        QDir().mkpath(planDir());
        surveyLog =
            fileSystem->OpenTextFile(logDir + QStringLiteral("/Kestrove.log"), IOMode::ForAppending, true);
        const QString stars(64, QLatin1Char('*'));
        logLine(stars);
        logLine(QStringLiteral("**** Searching for new target ") +
                acpUtil->FormatVar(now(), QStringLiteral("General Date")));
        logLine(stars);
        if (observer)
            observer->passStarted(m_host.clock().utcNow());

        float score = 0;
        QString target;
        // The balanced policy weighs the kinds' bests together once every kind has offered its own.
        const bool balancedPass = balanced();
        struct Offered
        {
            const KindStep* step;
            QString target;
        };
        QList<KindOffer> offers;
        QList<Offered> offered;
        unsigned offeredKinds = 0;
        notDueThisPass = 0;
        negativeThisPass = 0;
        for (const KindStep& step : kinds) {
            if (!m_view.isKindChecked(step.kind))
                continue;
            if (!(this->*step.select)(score, target))
                continue;
            // A weight that is not a number would silently change what the night observes; the
            // run ends with an error that says which box holds what.
            const QString weightText = m_view.weightText(step.kind);
            const std::optional<double> weight = parseNumber(weightText);
            if (!weight)
                throw HostError(QStringLiteral("weight"), kindText(step.kind),
                                QStringLiteral("the weight \"%1\" is not a number").arg(weightText));
            const float rawScore = score;
            if (balancedPass)
                score = static_cast<float>(normalisedScore(balance, step.kind, rawScore) * *weight);
            else
                score = static_cast<float>(static_cast<double>(score) * *weight);
            if (observer)
                observer->kindBest(step.kind, target, rawScore, score);
            if (balancedPass) {
                offers << KindOffer{step.kind, score};
                offered << Offered{&step, target};
                offeredKinds |= 1u << slotOf(step.kind);
                continue;
            }
            if (score > overallBest) {
                overallBest = score;
                chosenTarget = target;
                chosenKind = &step;
            }
        }

        const KindShares shares = kindShares(selection.shares);
        if (balancedPass) {
            QList<SurveyKind> held;
            const int chosen = chooseOffer(balance, shares, offers, held);
            if (chosen >= 0) {
                overallBest = offers[chosen].weighted;
                chosenTarget = offered[chosen].target;
                chosenKind = offered[chosen].step;
            }
            for (qsizetype i = 0; i < offers.size(); ++i) {
                if (!held.contains(offers[i].kind))
                    continue;
                logLine(kindText(offers[i].kind) +
                        QStringLiteral(" held back: it has had its share of the night"));
                if (observer)
                    observer->shareUsed(offers[i].kind, offered[i].target);
            }
        }

        if (observer)
            observer->passChosen(!stopRequested && overallBest > kNoTarget,
                                 chosenKind ? chosenKind->kind : SurveyKind::MPF, chosenTarget, overallBest);
        if (stopRequested) {
            stopPath();
            return true;
        }
        writePendingRecords();

        bool handOverPlan = overallBest > kNoTarget;
        HistoryEntry record;
        std::optional<double> planSeconds;
        if (handOverPlan) {
            const double focusBefore = settings.lastFocusJD;
            (this->*chosenKind->plan)(chosenTarget);
            // A stop pressed while the plan was written comes before anything is handed over.
            if (stopRequested) {
                stopPath();
                return true;
            }
            record.kind = chosenKind->kind;
            record.score = overallBest;
            QString name;
            extractName(chosenTarget, name);
            record.target = name;
            float ra = 0, dec = 0;
            if (parseTarget(chosenTarget, name, ra, dec)) {
                record.rightAscension = ra;
                record.declination = dec;
            }
            planSeconds = planSecondsFor(*this, planDir() + QStringLiteral("/surveyplan.txt"), ra, dec);
            // A plan cut short at dawn would image for nothing: the pass counts as finding nothing.
            const QString tooLate =
                planSeconds ? sunUpBeforePlanEnds(*this, record.target, *planSeconds) : QString();
            if (!tooLate.isEmpty()) {
                setStatus(tooLate);
                logLine(tooLate);
                if (observer)
                    observer->planRefused(record.kind, chosenTarget);
                // No autofocus ran.
                if (settings.lastFocusJD != focusBefore) {
                    settings.lastFocusJD = focusBefore;
                    SaveConfig();
                }
                handOverPlan = false;
            }
        }

        if (handOverPlan) {
            record.planFile =
                archivePlan(*this, planDir() + QStringLiteral("/surveyplan.txt"), record.kind, record.target);

            std::unique_ptr<TextStream> handOver = fileSystem->CreateTextFile(runPlanOnce, true);
            handOver->WriteLine(planDir() + QStringLiteral("/surveyplan.txt"));
            handOver->Close();
            firstPass = false;

            const QString marker = programFile(QStringLiteral("completed.txt"));
            if (FileExists(marker))
                fileSystem->GetFile(marker)->Delete();
            ensureChainScript(*this);

            setStatus(QStringLiteral("Running ACP plan for selected target: ") + record.target);
            logLine(QStringLiteral("Running ACP plan for selected target:") + record.target);

            acpUtil->LoadScript(acpApplication->Path() + QStringLiteral("/Scripts/AcquireImages.js"));
            record.startUtc = m_host.clock().utcNow();
            acpUtil->RunScript();
            if (observer)
                observer->planHandedOver(record.kind, chosenTarget, record.startUtc, planSeconds);
            m_runningPlan = RunningPlan{
                record.target, planSeconds ? record.startUtc.addSecs(qRound64(*planSeconds)) : QDateTime()};
            // While "Stop Survey" waits for the plan, the status says for what and how long.
            const auto waitForPlan = [&] {
                if (m_stopAfterPlan)
                    setStatus(stoppingStatus(m_runningPlan->target, m_runningPlan->expectedEnd,
                                             m_host.clock().utcNow()));
                waitOneSecond();
            };

            // A host that never reports the script running must not hold the night: after the limit
            // the pass goes on as if the script had ended, and the missing marker fails the plan.
            const QDateTime startLimit = m_host.clock().utcNow().addSecs(kScriptStartLimitSeconds);
            while (!stopRequested && !acpUtil->ScriptActive()) {
                if (m_host.clock().utcNow() >= startLimit) {
                    qCWarning(lcRunLoop) << "the acquisition script did not start within"
                                         << kScriptStartLimitSeconds << "seconds";
                    break;
                }
                waitForPlan();
            }
            while (!stopRequested && acpUtil->ScriptActive())
                waitForPlan();
            for (int count = kMarkerWaitSeconds; !stopRequested && count > 0 && !FileExists(marker); --count)
                waitForPlan();
            m_runningPlan.reset();

            // Asked before the marker is looked at: asking lets a running simulation catch up.
            const QString outcome = m_host.lastPlanOutcome();
            const bool completed = FileExists(marker);
            record.endUtc = m_host.clock().utcNow();
            record.result = planResult(completed, outcome, stopRequested);
            if (completed) {
                recordObservation(chosenKind->kind, chosenTarget, &record);
            } else if (record.result.startsWith(QLatin1String("rejected: "))) {
                const QString rejected = QStringLiteral("Plan for %1 %2").arg(record.target, record.result);
                setStatus(rejected);
                logLine(rejected + QStringLiteral(" - not updating targets file"));
            } else {
                logLine(
                    QStringLiteral("ACP did not successfully complete the plan - not updating targets file"));
            }
            recordHistory(*this, record);
            const double seconds = static_cast<double>(record.startUtc.msecsTo(record.endUtc)) / 1000;
            if (balancedPass)
                bookPlan(balance.times, shares, record.kind, offeredKinds, seconds);
            if (observer)
                observer->planEnded(record.kind, seconds);
            recordSkyEvents(*this);
            // Frames far softer than the target's recent ones: the next plan focuses first.
            const QString refocus = m_host.takeRefocusReason();
            if (!refocus.isEmpty()) {
                settings.lastFocusJD = 0;
                SaveConfig();
                logLine(QStringLiteral("Refocusing with the next plan: ") + refocus);
            }
            // "Stop Survey" waited for this plan; it is recorded, and the run ends here.
            if (m_stopAfterPlan)
                stopRequested = true;
        } else {
            QString status = QStringLiteral("No viable target - sleeping for 5 minutes");
            // The balanced policy says what it would not take.
            if (balancedPass && (notDueThisPass > 0 || negativeThisPass > 0)) {
                const QString why = QStringLiteral("%1 not due, %2 with a negative score")
                                        .arg(notDueThisPass)
                                        .arg(negativeThisPass);
                logLine(QStringLiteral("Nothing to take: ") + why);
                status += QStringLiteral(" (") + why + u')';
            }
            setStatus(status);
            logLine(QStringLiteral("No viable target - sleeping for 5 minutes"));
            for (int second = 0; second < kNoTargetSleepSeconds; ++second) {
                waitOneSecond();
                if (stopRequested) {
                    stopPath();
                    return true;
                }
            }
        }

        surveyLog->Close();
        surveyLog.reset();
        coordTransform.reset();

        ++passesDone;
        if (runLimits.passes > 0 && passesDone >= runLimits.passes && !stopPending())
            stopAtLimit(QStringLiteral("--passes %1 done").arg(runLimits.passes));
    }
    endRun();
    return true;
}

void SurveyCore::stopSurvey()
{
    if (m_runningPlan && !m_stopAfterPlan) {
        m_stopAfterPlan = true;
        setStatus(stoppingStatus(m_runningPlan->target, m_runningPlan->expectedEnd, m_host.clock().utcNow()));
        return;
    }
    stopRequested = true;
    setStatus(QStringLiteral("Survey stopping"));
}

void SurveyCore::stopAtLimit(const QString& reason)
{
    stopReason = reason;
    stopSurvey();
}

void SurveyCore::abortRun()
{
    stopRequested = true;
    setStatus(QStringLiteral("Survey and ACP stopping"));
    if (acpUtil && acpUtil->ScriptActive())
        acpUtil->AbortScript();
}

void SurveyCore::stopSurveyAndAcp()
{
    abortRun();
    // The observatory is told at once: an opening under way goes no further than it has.
    ObservatoryControl* observatory = m_host.observatoryControl();
    if (m_running && observatory && observatory->running())
        observatory->runEnded();
}

} // namespace kestrove
