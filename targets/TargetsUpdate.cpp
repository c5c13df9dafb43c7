#include "core/History.h"
#include "core/ImageCount.h"
#include "core/SurveyCore.h"
#include "sky/Clock.h"
#include "sky/SiteClock.h"
#include "targets/FileReplacement.h"
#include "targets/PendingRecords.h"
#include "targets/TargetTable.h"
#include "text/HostError.h"
#include "text/NumberText.h"
#include "text/ValueText.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

namespace kestrove {

Q_LOGGING_CATEGORY(lcTargets, "kestrove.targets")

namespace {

// How often the update starts again on a targets file that changed while it was copied.
constexpr int kUpdateAttempts = 5;
// A targets file that changed since the pass read it holds still once its status has stayed the
// same this long; a rewrite waits at most kSteadyLimitMs for that, looking every kSteadyPollMs.
// Wall time: the simulated clock may run at sixty times, where a writer's pause of a few seconds
// would pass for stillness.
constexpr qint64 kSteadyMs = 1000;
constexpr qint64 kSteadyLimitMs = 10000;
constexpr int kSteadyPollMs = 100;

QString fileName(const QString& path)
{
    return QFileInfo(path).fileName();
}

QString nameOf(const QString& targetLine)
{
    return targetLine.section(QLatin1Char('\t'), 0, 0);
}

// The targets file that holds an entry: a minor planet field lives in its survey area's file.
QString targetsFileOf(SurveyCore& core, SurveyKind kind, const QString& targetLine)
{
    switch (kind) {
    case SurveyKind::MPS: {
        const auto area = parseInt16(targetLine.section(QLatin1Char('!'), 0, 0));
        if (!area)
            throw HostError(QStringLiteral("updateMPS"), targetLine,
                            QStringLiteral("the name does not begin with an area number"));
        return core.programFile(QStringLiteral("MPSfov") + integerText(*area) + QStringLiteral(".txt"));
    }
    case SurveyKind::SLC:
        return core.programFile(QStringLiteral("SLCTargets.txt"));
    default:
        return core.programFile(QStringLiteral("SNeTargets.txt"));
    }
}

// Waits until no program writes the file and it holds still (a file that stays missing holds still
// too, and its reading says so), the window alive meanwhile. Returns why it is not, or nothing once
// it is.
std::optional<QString> waitUntilSteady(SurveyCore& core, const QString& path)
{
    FileSystem& fs = *core.fileSystem;
    QElapsedTimer waited;
    QElapsedTimer still;
    waited.start();
    still.start();
    std::optional<FileStatus> last = fs.Status(path);
    for (;;) {
        if (const auto writer = fs.writerOf(path))
            return beingWritten(fileName(path), *writer);
        if (still.hasExpired(kSteadyMs))
            return std::nullopt;
        if (waited.hasExpired(kSteadyLimitMs))
            return fileName(path) + QStringLiteral(" was still being written");
        core.view().processEvents();
        waitWallMilliseconds(kSteadyPollMs);
        const std::optional<FileStatus> now = fs.Status(path);
        if (!(now ? last && now->sameAs(*last) : !last)) {
            last = now;
            still.restart();
        }
    }
}

// Whether the plan history already says that the record was written.
bool historySaysWritten(SurveyCore& core, const PendingRecord& record)
{
    if (!record.plan.startUtc.isValid())
        return false;
    const QString start = utcInstantText(record.plan.startUtc);
    try {
        const History history = readHistory(historyPath(core.acpUtil->Prefs().LocalUser().DefaultLogDir()));
        return std::any_of(history.entries.begin(), history.entries.end(), [&](const HistoryEntry& entry) {
            return entry.kind == record.plan.kind && entry.target == record.plan.target &&
                   utcInstantText(entry.startUtc) == start &&
                   entry.result.contains(QLatin1String("record written "));
        });
    } catch (const HostError& error) {
        qCWarning(lcTargets) << "cannot read the plan history:" << error.what();
        return false;
    }
}

void appendRecordHistory(SurveyCore& core, const PendingRecord& record, const QString& result)
{
    if (!record.plan.startUtc.isValid())
        return;
    HistoryEntry entry = record.plan;
    entry.result = result;
    try {
        appendHistory(*core.fileSystem, historyPath(core.acpUtil->Prefs().LocalUser().DefaultLogDir()),
                      entry);
    } catch (const HostError& error) {
        qCWarning(lcTargets) << "cannot append to the plan history:" << error.what();
    }
}

// Copies the targets file through "newtargets.txt" with the config line after every line equal to
// the target line of one of its pending records rebuilt from its old one, the records in their
// order, then renames the copy over the targets file in one atomic step: at every moment the
// targets file is complete, either old or new. Returns why the records stay pending, or nothing
// when they were written.
//
// Another program may be rewriting the file in place: a copy built from what it has written so far
// would lose the rest. So the copy is made from a file that holds still, and it is not put in place
// when it lacks an entry being recorded or has fewer lines than the pass read (without a read of the
// pass, as for a direct update, only the entries are checked). A record whose entry neither the
// pass's read nor the copy holds was deleted by the user, and is dropped. A file that another
// program is writing is neither copied nor replaced.
//
// The file stays the user's: a file made read-only is left alone, a copy takes the permissions of the
// file it replaces, and a symbolic link stays in place while the file it names is replaced. An edit
// saved while the file was copied is not overwritten: the copy is made again from the new content.
std::optional<QString> writeRecordsOf(SurveyCore& core, const QString& path)
{
    FileSystem& fs = *core.fileSystem;
    const QString name = fileName(path);
    const bool passRead = core.targetsReads.contains(path);
    const FileRead read = core.targetsReads.value(path);

    for (int attempt = 1;; ++attempt) {
        if (const auto writer = fs.writerOf(path))
            return beingWritten(name, *writer);
        if (passRead) {
            const std::optional<FileStatus> status = fs.Status(path);
            const bool sinceRead = read.steady && status && read.status && status->sameAs(*read.status);
            if (!sinceRead)
                if (const auto unsteady = waitUntilSteady(core, path))
                    return unsteady;
        }
        FileReplacement replacement(fs, path, core.programFile(QStringLiteral("newtargets.txt")));
        QList<qsizetype> records;
        for (qsizetype i = 0; i < core.pendingRecords.size(); ++i)
            if (core.pendingRecords[i].file == path)
                records << i;
        if (replacement.readOnly()) {
            core.reportOnce(
                replacement.filePath(),
                QStringLiteral("The targets file \"%1\" (or its folder) is read-only, so it was not "
                               "updated: the observation of %2 is kept pending, as is any other "
                               "of this file, and written once the file can be written.")
                    .arg(path, nameOf(core.pendingRecords[records.last()].targetLine)));
            return name + QStringLiteral(" is read-only");
        }
        // Written once the new file is in place, so that a copy made again does not repeat them.
        QStringList log;
        QList<bool> recorded(records.size(), false);
        // Found in the file already, written by a run that ended before it rewrote the journal.
        QList<bool> writtenBefore(records.size(), false);
        qint64 linesRead = 0, linesWritten = 0;
        {
            auto in = fs.OpenTextFile(replacement.filePath(), IOMode::ForReading);
            auto out = fs.CreateTextFile(replacement.newPath(), true);
            if (attempt == 1)
                core.logLine(QStringLiteral("Updating targets file"));

            // Messages about an entry's config line name the file and the line.
            const ReadingFile reading(core, path);
            QList<qsizetype> after; // the records of the entry whose target line came last
            while (!in->AtEndOfStream()) {
                core.pumpEvents();
                const QString line = in->ReadLine();
                ++linesRead;
                if (!after.isEmpty()) {
                    core.entryPlace.targetLine = linesRead - 1;
                    core.entryPlace.configLine = linesRead;
                    const bool isConfig = line.startsWith(QLatin1String("****"));
                    QString config = isConfig ? line : QString();
                    QList<const PendingRecord*> entryRecords;
                    for (const qsizetype k : after) {
                        recorded[k] = true;
                        entryRecords << &core.pendingRecords[records[k]];
                    }
                    QList<bool> found;
                    if (const auto next = configLineWithRecords(core, entryRecords, config, log, &found))
                        config = *next;
                    for (qsizetype i = 0; i < after.size(); ++i)
                        writtenBefore[after[i]] = writtenBefore[after[i]] || found[i];
                    after.clear();
                    // A line that is not a config line is the user's; keep it after the new one.
                    if (!config.isNull()) {
                        out->WriteLine(config);
                        ++linesWritten;
                    }
                    if (isConfig)
                        continue;
                }
                out->WriteLine(line);
                ++linesWritten;
                for (qsizetype k = 0; k < records.size(); ++k)
                    if (core.pendingRecords[records[k]].targetLine == line)
                        after << k;
            }
            in->Close();
            // Close flushes the copy to the disk before it may take the targets file's place.
            out->Close();
        }

        if (!replacement.unchanged()) {
            if (attempt < kUpdateAttempts)
                continue;
            fs.GetFile(replacement.newPath())->Delete();
            core.view().showMessage(
                QStringLiteral("The targets file \"%1\" changed each of the %2 times it was copied for the "
                               "update, so it was left as it is: the observation of %3 is kept pending.")
                    .arg(path)
                    .arg(kUpdateAttempts)
                    .arg(nameOf(core.pendingRecords[records.last()].targetLine)));
            return name + QStringLiteral(" changed each time it was copied");
        }

        QString refusal;
        if (passRead && linesRead < read.lines)
            refusal = QStringLiteral("%1 holds %2 lines, fewer than the %3 the pass read")
                          .arg(name)
                          .arg(linesRead)
                          .arg(read.lines);
        for (qsizetype k = 0; k < records.size() && refusal.isEmpty(); ++k) {
            const PendingRecord& record = core.pendingRecords[records[k]];
            if (!recorded[k] && !(passRead && record.missedByLastRead))
                refusal = QStringLiteral("%1 lacks the entry of %2").arg(name, nameOf(record.targetLine));
        }
        if (!refusal.isEmpty()) {
            fs.GetFile(replacement.newPath())->Delete();
            return refusal;
        }

        // Only dropped records: nothing to write, and a copy of a file someone may still be writing
        // is best not put in its place.
        if (std::find(recorded.begin(), recorded.end(), true) == recorded.end())
            fs.GetFile(replacement.newPath())->Delete();
        else
            replacement.commit();
        for (const QString& line : log)
            core.logLine(line);
        const QString nowText = utcInstantText(core.host().clock().utcNow());
        for (qsizetype k = records.size() - 1; k >= 0; --k) {
            const PendingRecord record = core.pendingRecords.takeAt(records[k]);
            const QString what = QStringLiteral("Pending observation of ") + nameOf(record.targetLine);
            if (!recorded[k]) {
                core.logLine(what + QStringLiteral(" dropped - ") + name +
                             QStringLiteral(" no longer holds its entry"));
                appendRecordHistory(core, record, QStringLiteral("record dropped: the entry was deleted"));
            } else if (record.announced && !(writtenBefore[k] && historySaysWritten(core, record))) {
                core.logLine(what + QStringLiteral(" written to ") + name);
                appendRecordHistory(core, record, QStringLiteral("record written ") + nowText);
            }
        }
        // The copy is what the next check of this pass compares with.
        if (passRead)
            core.targetsReads[path] = FileRead{fs.Status(path), linesWritten, true};
        return std::nullopt;
    }
}

// The target's own limits and the stars named for its lightcurve stay on its line as the observer
// wrote them.
QString ownLimitItems(const QString& oldLine)
{
    QString items;
    if (oldLine.isNull())
        return items;
    for (const auto& [key, value] : configItems(oldLine))
        if (key == QLatin1String("minAltitude") || key == QLatin1String("maxAirmass") ||
            key == QLatin1String("window") || key == QLatin1String("comp") || key == QLatin1String("check"))
            items += u' ' + key + u'=' + value;
    return items;
}

// What an entry's config line leaves unset.
TargetConfig configPresets(SurveyCore& core, SurveyKind kind)
{
    TargetConfig config;
    config.lastImageJD = 0;
    config.imageCount = 0;
    if (kind == SurveyKind::SLC) {
        const SurveySettings& settings = core.settings;
        config.priority = 100;
        config.interval = 60;
        config.exposure = settings.exposureSLC;
        config.binning = settings.cameraBinningSLC;
        config.filter = settings.cameraFilterSLC;
    }
    return config;
}

// The config line of an entry with the record written into it, from the config its line gives and
// the limits of the line as it stood.
QString configLineAfter(const PendingRecord& record, const TargetConfig& config, const QString& oldLine,
                        QStringList& log)
{
    const QString head = QStringLiteral("**** lastImageJD=") + doubleText(record.observedJD);
    switch (record.kind) {
    case SurveyKind::MPS: {
        const int16_t count = imageCountAfter(config, record.observedJD);
        if (record.observedJD - config.lastImageJD > 0.5)
            log << QStringLiteral("Resetting image count on this target");
        return head + QStringLiteral(" imageCount=") + integerText(count) + ownLimitItems(oldLine);
    }
    case SurveyKind::SLC:
        return head + QStringLiteral(" priority=") + singleText(config.priority) +
               QStringLiteral(" interval=") + integerText(config.interval) + QStringLiteral(" exposure=") +
               singleText(config.exposure) + QStringLiteral(" binning=") + integerText(config.binning) +
               QStringLiteral(" filter=") + config.filter + ownLimitItems(oldLine);
    default:
        return head + ownLimitItems(oldLine);
    }
}

} // namespace

std::optional<QString> configLineWithRecords(SurveyCore& core, const QList<const PendingRecord*>& records,
                                             const QString& oldLine, QStringList& log, QList<bool>* found)
{
    if (found)
        found->fill(false, records.size());
    if (records.isEmpty())
        return std::nullopt;
    TargetConfig config = configPresets(core, records.first()->kind);
    if (!oldLine.isNull())
        core.parseTargetConfig(oldLine, config);
    // Records are written oldest first, all those of a file at once: the line holding one holds
    // every earlier one too.
    qsizetype held = -1;
    for (qsizetype i = 0; i < records.size(); ++i)
        if (records[i]->observedJD == config.lastImageJD)
            held = i;
    std::optional<QString> line;
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (i <= held) {
            if (found)
                (*found)[i] = true;
            continue;
        }
        const PendingRecord& record = *records[i];
        line = configLineAfter(record, config, oldLine, log);
        log << QStringLiteral("Last obs time for best ") + kindText(record.kind) +
                   QStringLiteral(" target = ") + doubleText(record.observedJD);
        config = configPresets(core, record.kind);
        core.parseTargetConfig(*line, config);
    }
    return line;
}

void SurveyCore::recordObservation(SurveyKind kind, const QString& bestTarget, HistoryEntry* plan)
{
    // Minor planet follow-up has no targets file.
    if (kind == SurveyKind::MPF)
        return;
    PendingRecord record;
    record.kind = kind;
    record.file = targetsFileOf(*this, kind, bestTarget);
    record.targetLine = bestTarget;
    // As its config line will give it back, so that a record already written is known again.
    const double jd = acpUtil->Date_Julian(now());
    record.observedJD = parseNumber(doubleText(jd)).value_or(jd);
    if (plan)
        record.plan = *plan;
    setStatus(QStringLiteral("Updating ") + kindText(kind) + QStringLiteral(" targets file"));
    pendingRecords << record;

    const auto fresh = [&] {
        return std::find_if(pendingRecords.begin(), pendingRecords.end(), [&](const PendingRecord& r) {
            return r.file == record.file && r.targetLine == record.targetLine &&
                   r.observedJD == record.observedJD;
        });
    };
    const auto keepPending = [&](const QString& why) {
        const auto kept = fresh();
        if (kept == pendingRecords.end())
            return;
        kept->announced = true;
        logLine(QStringLiteral("Observation of ") + nameOf(bestTarget) + QStringLiteral(" kept pending - ") +
                why);
        if (plan)
            plan->result += QStringLiteral("; record pending: ") + why;
        savePendingRecords();
    };
    std::optional<QString> pending;
    try {
        pending = writeRecordsOf(*this, record.file);
    } catch (const HostError& error) {
        // Without a plan the caller hears of it, as of any failed update, and nothing is kept.
        if (!plan) {
            if (const auto kept = fresh(); kept != pendingRecords.end())
                pendingRecords.erase(kept);
            throw;
        }
        // With one the night goes on: the record is written once the file can be read again.
        keepPending(error.message());
        return;
    }
    if (pending)
        keepPending(*pending);
    else
        savePendingRecords();
}

void SurveyCore::writePendingRecords()
{
    QStringList files;
    for (const PendingRecord& record : pendingRecords)
        if (!files.contains(record.file) && targetsReads.contains(record.file))
            files << record.file;
    if (files.isEmpty())
        return;
    for (const QString& file : files) {
        setStatus(QStringLiteral("Writing pending observations to ") + fileName(file));
        try {
            // Records that stay pending were said to be when they were made.
            if (const auto pending = writeRecordsOf(*this, file))
                qCDebug(lcTargets) << "still pending:" << *pending;
        } catch (const HostError& error) {
            qCWarning(lcTargets) << "pending records stay pending:" << error.what();
        }
    }
    savePendingRecords();
}

void SurveyCore::loadPendingRecords()
{
    targetsReads.clear();
    const QString path = pendingJournalPath(acpUtil->Prefs().LocalUser().DefaultLogDir());
    QList<PendingRecord> journal;
    try {
        journal = readPendingJournal(path, GetEXEPath(), m_otherPending);
    } catch (const HostError& error) {
        reportOnce(path, QStringLiteral("The pending observations could not be read from \"%1\" (%2); they "
                                        "are not written into their targets files.")
                             .arg(path, error.reason()));
    }
    // Records of an earlier run of this process that the journal lacks are kept as well.
    for (const PendingRecord& record : journal) {
        const bool known =
            std::any_of(pendingRecords.begin(), pendingRecords.end(), [&](const PendingRecord& r) {
                return r.file == record.file && r.targetLine == record.targetLine &&
                       r.observedJD == record.observedJD;
            });
        if (!known)
            pendingRecords << record;
    }
    std::stable_sort(
        pendingRecords.begin(), pendingRecords.end(),
        [](const PendingRecord& a, const PendingRecord& b) { return a.observedJD < b.observedJD; });
}

void SurveyCore::savePendingRecords()
{
    const QString logDir = acpUtil->Prefs().LocalUser().DefaultLogDir();
    const QString path = pendingJournalPath(logDir);
    try {
        writePendingJournal(path, pendingRecords, m_otherPending);
    } catch (const HostError& error) {
        reportOnce(path, QStringLiteral("The pending observations could not be kept in \"%1\" (%2): they are "
                                        "written while this run lasts, but a restart will not know them.")
                             .arg(path, error.reason()));
    }
}

void SurveyCore::updateSNe(const QString& bestTarget)
{
    recordObservation(SurveyKind::SNe, bestTarget, nullptr);
}

void SurveyCore::updateMPS(const QString& bestTarget)
{
    recordObservation(SurveyKind::MPS, bestTarget, nullptr);
}

void SurveyCore::updateSLC(const QString& bestTarget)
{
    recordObservation(SurveyKind::SLC, bestTarget, nullptr);
}

void SurveyCore::updateMPF(const QString& bestTarget)
{
    recordObservation(SurveyKind::MPF, bestTarget, nullptr);
}

} // namespace kestrove
