#include "report/Preview.h"

#include "core/SurveyCore.h"
#include "database/DatabaseError.h"
#include "host/PlanTimings.h"
#include "host/sim/SimObservatory.h"
#include "report/CalibrationTime.h"
#include "report/FrameLines.h"
#include "report/NightLightcurve.h"
#include "text/HostError.h"
#include "text/NumberText.h"
#include "text/ValueText.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>
#include <QTime>

#include <algorithm>

namespace kestrove {

namespace {

// Stands in for the window during a preview: the controls come from the request or the settings,
// messages are gathered instead of shown, and event dispatch reports progress.
class PreviewView : public SurveyView
{
public:
    PreviewView(const PreviewRequest& request, const std::function<bool(double)>& progress)
        : m_request(request), m_progress(progress)
    {
        m_sinceProgress.start();
    }
    void attach(SurveyCore& core) { m_core = &core; }

    void showStatus(const QString&) override {}
    void showMessage(const QString& text) override
    {
        if (!messages.contains(text))
            messages << text;
    }
    bool isKindChecked(SurveyKind kind) override
    {
        if (m_request.controls) {
            const auto it = m_request.controls->find(kind);
            return it != m_request.controls->end() && it->second.checked;
        }
        const SurveySettings& s = m_core->settings;
        const int16_t flags[] = {s.SNeEnabled, s.MPSEnabled, s.MPFEnabled, s.SLCEnabled};
        return flags[static_cast<int>(kind) - 1] != 0;
    }
    QString weightText(SurveyKind kind) override
    {
        if (m_request.controls) {
            const auto it = m_request.controls->find(kind);
            return it == m_request.controls->end() ? QStringLiteral("100") : it->second.weight;
        }
        const SurveySettings& s = m_core->settings;
        const int16_t weights[] = {s.SNeWeight, s.MPSWeight, s.MPFWeight, s.SLCWeight};
        return integerText(weights[static_cast<int>(kind) - 1]);
    }
    void processEvents() override
    {
        // In virtual time every second of waiting dispatches; the caller hears of it a few times a
        // second of wall time.
        if (!m_progress || m_sinceProgress.elapsed() < 40)
            return;
        m_sinceProgress.restart();
        const TimeSpan& span = m_request.span;
        const double total = static_cast<double>(span.startUtc.msecsTo(span.endUtc));
        const double done = static_cast<double>(span.startUtc.msecsTo(m_core->host().clock().utcNow()));
        if (!m_progress(total > 0 ? std::clamp(done / total, 0.0, 1.0) : 1.0) && !m_core->stopRequested)
            m_core->stopSurvey();
    }
    void showRunning(bool) override {}

    QStringList messages;

private:
    const PreviewRequest& m_request;
    const std::function<bool(double)>& m_progress;
    QElapsedTimer m_sinceProgress;
    SurveyCore* m_core = nullptr;
};

// What the survey reads from the program folder; everything else stays behind.
void copyProgramFiles(const QString& from, const QString& to)
{
    QStringList names{QStringLiteral("config.ini"), QStringLiteral("SNeTargets.txt"),
                      QStringLiteral("SLCTargets.txt"), QStringLiteral("MPSTargets.txt")};
    names << QDir(from).entryList({QStringLiteral("MPSfov*.txt")}, QDir::Files);
    for (const QString& name : names) {
        const QString source = QDir(from).filePath(name);
        if (QFileInfo(source).isFile() && !QFile::copy(source, QDir(to).filePath(name)))
            throw HostError(QStringLiteral("preview"), source,
                            QStringLiteral("cannot copy it to a scratch folder"));
    }
}

// A night writes and syncs hundreds of small files: in memory, where there is room for them, that
// costs nothing.
QString scratchParent()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    return shm.isDir() && shm.isWritable() ? shm.absoluteFilePath() : QDir::tempPath();
}

} // namespace

ObservatorySettings userObservatory(const QString& observatoryFolder)
{
    if (QFileInfo::exists(observatoryIniPath(observatoryFolder)))
        return readObservatorySettings(observatoryFolder);
    return resolvedIn(observatoryFolder, observatoryDefaults(observatoryFolder));
}

ResolvedObservatory resolveObservatory(const ObservatorySettings& settings)
{
    const QTimeZone zone = siteTimeZone(settings);
    return ResolvedObservatory{settings,
                               siteOf(settings),
                               zone,
                               SiteClock(clockStartInstant(settings), settings.clockSpeed, zone),
                               settings.horizon,
                               settings.minimumElevation};
}

ResolvedObservatory resolvedUserObservatory(const QString& observatoryFolder)
{
    return resolveObservatory(userObservatory(observatoryFolder));
}

Site siteOf(const ObservatorySettings& settings)
{
    return Site{settings.latitude, settings.longitude, settings.elevation};
}

QDate currentNight(const ResolvedObservatory& observatory)
{
    return nightDateOf(observatory.clock.localNow());
}

TimeSpan darkSpan(const ResolvedObservatory& observatory, const QDate& night)
{
    const auto dark = darkWindow(observatory.site, observatory.zone, night);
    if (!dark)
        throw HostError(QStringLiteral("preview"), night.toString(Qt::ISODate),
                        QStringLiteral("the Sun does not sink to %1 degrees that night at latitude %2; give "
                                       "--from and --to")
                            .arg(doubleText(darkSunAltitude), doubleText(observatory.site.latitude)));
    return *dark;
}

TimeSpan darkSpan(const ObservatorySettings& settings, const QDate& night)
{
    return darkSpan(resolveObservatory(settings), night);
}

PreviewScratch::PreviewScratch(const QString& programFolder)
    : m_dir(scratchParent() + QStringLiteral("/kestrove-preview-XXXXXX"))
{
    if (!m_dir.isValid())
        throw HostError(QStringLiteral("preview"), m_dir.path(),
                        QStringLiteral("cannot create a scratch folder"));
    QDir().mkpath(this->programFolder());
    copyProgramFiles(programFolder, this->programFolder());
}

QString PreviewScratch::programFolder() const
{
    return m_dir.filePath(QStringLiteral("program"));
}

QString PreviewScratch::observatoryFolder() const
{
    return m_dir.filePath(QStringLiteral("observatory"));
}

NightReport runPreview(const PreviewRequest& request, const std::function<bool(double)>& progress)
{
    if (!(request.span.startUtc < request.span.endUtc))
        throw HostError(QStringLiteral("preview"), QString(),
                        QStringLiteral("the span ends before it begins"));
    PreviewScratch scratch(request.programFolder);
    return runPreview(scratch, request, progress);
}

NightReport runPreview(PreviewScratch& scratch, const PreviewRequest& request,
                       const std::function<bool(double)>& progress)
{
    if (!(request.span.startUtc < request.span.endUtc))
        throw HostError(QStringLiteral("preview"), QString(),
                        QStringLiteral("the span ends before it begins"));
    // The clock's settings, the logs and history.csv name instants in four-digit years.
    const QDateTime lastInstant(QDate(9999, 12, 31), QTime(23, 59, 59), QTimeZone::utc());
    if (request.span.endUtc > lastInstant)
        throw HostError(QStringLiteral("preview"), request.night.toString(Qt::ISODate),
                        QStringLiteral("the night runs to %1, past %2, the last instant the observatory's "
                                       "clock can name; preview an earlier night")
                            .arg(utcInstantText(request.span.endUtc), utcInstantText(lastInstant)));
    const QString programFolder = scratch.programFolder();
    const QString observatoryFolder = scratch.observatoryFolder();
    // The history and the plans of an earlier night stay with it; only the program folder carries on.
    QDir(observatoryFolder).removeRecursively();

    // The user's observatory in every respect that shapes the night, on a clock of its own; clear
    // skies, and no simulated faults.
    const ResolvedObservatory resolved =
        request.observatory ? *request.observatory : resolvedUserObservatory(request.observatoryFolder);
    const ObservatorySettings& user = resolved.settings;
    ObservatorySettings settings = user;
    settings.kind = HostKind::Sim;
    settings.clockStart = utcInstantText(request.span.startUtc);
    settings.clockSpeed = 0;
    settings.weatherConnected =
        user.kind == HostKind::Sim ? user.weatherConnected : !user.indi.weather.isEmpty();
    settings.unsafe.clear();
    settings.failureRate = 0;
    // A plan takes as long as on the user's observatory: its autofocus and its plate solves. The run
    // loop charges what the host says, so the preview starts and refuses what the night would.
    const PlanTimings timings = planTimings(user);
    settings.autofocusSeconds = timings.autofocusSeconds;
    settings.pointingSeconds = timings.pointingSeconds;
    settings.planDir = observatoryFolder + QStringLiteral("/Plans");
    settings.logDir = observatoryFolder + QStringLiteral("/Logs");
    settings.hostPath = observatoryFolder;
    if (request.policy)
        settings.selection.policy = *request.policy;
    sim::SimObservatory host(observatoryFolder, settings);
    // Its window hears of progress every 40 ms (see PreviewView); events need not be looked at more
    // often than that.
    host.simClock().setDispatchInterval(10);
    // The preview's survey log would grow by the catalogue's size every pass and nobody reads it:
    // the core does not build its lines, and any written go where they cost no memory. The reasons
    // tell its story.
    if (QFileInfo::exists(QStringLiteral("/dev/null")))
        QFile::link(QStringLiteral("/dev/null"), settings.logDir + QStringLiteral("/Kestrove.log"));

    PreviewView view(request, progress);
    NightReasons reasons;
    SurveyCore core(host, view, programFolder);
    view.attach(core);
    core.load();
    core.observer = &reasons;
    const KindShares shares = core.balanced() ? kindShares(core.selection.shares) : KindShares{};
    reasons.setShares(shares);
    if (request.balance)
        core.balance = *request.balance;
    core.discardLog = true;
    core.runLimits.untilUtc = request.span.endUtc;
    if (!view.isKindChecked(SurveyKind::SNe) && !view.isKindChecked(SurveyKind::MPS) &&
        !view.isKindChecked(SurveyKind::SLC))
        view.showMessage(QStringLiteral("No survey kind is enabled: SNe, MPS and SLC are all off, so every "
                                        "pass finds no target and the night has no plan."));
    core.startSurvey();
    if (request.balance)
        *request.balance = core.balance;

    NightReport report;
    report.preview = true;
    report.night = request.night;
    report.site = resolved.site;
    report.zone = resolved.zone;
    report.span = request.span;
    report.dark = darkWindow(report.site, report.zone, request.night);
    report.horizon = resolved.horizon;
    report.minimumElevation = resolved.minimumElevation;
    report.minAzimuth = core.settings.minAzimuth;
    report.maxAzimuth = core.settings.maxAzimuth;
    report.maxElevation = core.settings.maxElevation;
    const History history = readHistory(historyPath(settings.logDir));
    SkyContexts skies(report.site);
    QHash<qint64, double> expected; // by the plan's start, seconds since the epoch
    for (const PassChoice& choice : reasons.choices())
        if (choice.expectedSeconds)
            expected.insert(choice.startUtc.toSecsSinceEpoch(), *choice.expectedSeconds);
    for (const HistoryEntry& entry : history.entries) {
        report.plans << observedPlan(entry, skies);
        if (const auto it = expected.constFind(entry.startUtc.toSecsSinceEpoch()); it != expected.constEnd())
            report.plans.last().expectedSeconds = *it;
    }
    QList<UsedSetting> used;
    for (const HistoryEntry& entry : history.entries) {
        const SurveySettings& k = core.settings;
        const UsedSetting u = entry.kind == SurveyKind::SNe
                                  ? UsedSetting{k.exposureSNe, k.cameraBinningSNe, k.cameraFilterSNe}
                              : entry.kind == SurveyKind::SLC
                                  ? UsedSetting{k.exposureSLC, k.cameraBinningSLC, k.cameraFilterSLC}
                                  : UsedSetting{k.exposureMPS, k.cameraBinningMPS, k.cameraFilterMPS};
        if (!used.contains(u))
            used << u;
    }
    report.calibration =
        calibrationLines(user.calibration, user.kind == HostKind::Indi && !user.indi.lightPanel.isEmpty(),
                         report.site, report.zone, request.night, used, settings.downloadSeconds);
    report.reasons = reasons.targets();
    report.passes = reasons.passes();
    report.idlePasses = reasons.idlePasses();
    report.kindScores = reasons.kindScores();
    report.policy = core.selection.policy;
    report.shares = shares;
    report.kindTimes = reasons.kindTimes();
    report.messages = view.messages;
    return report;
}

NightReport observedNight(const ResolvedObservatory& observatory, const QDate& night)
{
    NightReport report;
    report.preview = false;
    report.night = night;
    report.site = observatory.site;
    report.zone = observatory.zone;
    report.dark = darkWindow(report.site, report.zone, night);
    report.span = report.dark ? *report.dark
                              : TimeSpan{QDateTime(night, QTime(12, 0), report.zone).toUTC(),
                                         QDateTime(night.addDays(1), QTime(12, 0), report.zone).toUTC()};
    report.horizon = observatory.horizon;
    report.minimumElevation = observatory.minimumElevation;
    const QString path = historyPath(observatory.settings.logDir);
    const History history = readHistory(path);
    SkyContexts skies(report.site);
    for (const HistoryEntry& entry : entriesOfNight(history.entries, night, report.zone))
        report.plans << observedPlan(entry, skies);
    // The frames of the night as history.csv counts its plans: from noon to noon.
    report.aavsoCode = observatory.settings.aavsoCode;
    try {
        const QDateTime noon = QDateTime(night, QTime(12, 0), report.zone).toUTC();
        const QDateTime nextNoon = QDateTime(night.addDays(1), QTime(12, 0), report.zone).toUTC();
        report.frames = recordedFrames(observatory.settings.logDir, noon, nextNoon);
        report.lightcurve = solvedLightcurve(recordedLightcurve(observatory.settings.logDir, noon, nextNoon),
                                             &report.messages);
        if (!report.lightcurve.empty()) {
            QSet<QString> targets;
            for (const database::LightcurvePoint& p : report.lightcurve)
                targets.insert(p.target);
            for (database::LightcurvePoint& p :
                 recordedLightcurve(observatory.settings.logDir,
                                    QDateTime(QDate(1970, 1, 1), QTime(0, 0), QTimeZone::utc()), noon))
                if (targets.contains(p.target))
                    report.lightcurveAll.push_back(std::move(p));
            report.lightcurveAll.insert(report.lightcurveAll.end(), report.lightcurve.begin(),
                                        report.lightcurve.end());
        }
        report.masters = recordedMasters(observatory.settings.logDir, noon, nextNoon);
        report.mastersUsed = mastersUsed(report.frames);
        report.discoveries = recordedDiscoveries(observatory.settings.logDir, noon, nextNoon);
    } catch (const database::DatabaseError& error) {
        report.messages << error.message();
    }
    if (history.unreadable > 0)
        report.messages
            << QStringLiteral("%1 lines of %2 could not be read").arg(history.unreadable).arg(path);
    if (report.plans.isEmpty())
        report.messages << QStringLiteral("No plan ran that night (%1)").arg(path);
    return report;
}

} // namespace kestrove
