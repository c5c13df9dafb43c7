#include "targets/PendingRecords.h"

#include "config/NumberText.h"
#include "core/Csv.h"
#include "core/SurveyCore.h"
#include "host/ConfigValues.h"
#include "host/HostError.h"
#include "host/LocalFileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

namespace kestrove {

Q_LOGGING_CATEGORY(lcPending, "kestrove.pending")

namespace {

const QStringList journalHeader{
    QStringLiteral("observedJD"), QStringLiteral("file"),    QStringLiteral("targetLine"),
    QStringLiteral("startUtc"),   QStringLiteral("endUtc"),  QStringLiteral("kind"),
    QStringLiteral("target"),     QStringLiteral("ra"),      QStringLiteral("dec"),
    QStringLiteral("score"),      QStringLiteral("planFile")};

std::optional<SurveyKind> kindFromText(const QString& text)
{
    for (SurveyKind kind : {SurveyKind::SNe, SurveyKind::MPS, SurveyKind::SLC})
        if (kindText(kind) == text)
            return kind;
    return std::nullopt;
}

QString instantText(const QDateTime& instant)
{
    return instant.isValid() ? utcInstantText(instant) : QString();
}

QDateTime instantOf(const QString& text)
{
    return parseUtcInstant(text).value_or(QDateTime());
}

} // namespace

QString pendingJournalPath(const QString& logDir)
{
    return logDir + QStringLiteral("/pending.txt");
}

QList<PendingRecord> readPendingJournal(const QString& path, const QString& programFolder,
                                        QStringList& others)
{
    QList<PendingRecord> records;
    others.clear();
    for (const QString& line : readCsvFileLines(path, QStringLiteral("read"))) {
        const QStringList f = splitCsvLine(line);
        if (f == journalHeader)
            continue;
        const auto jd = f.size() == journalHeader.size() ? parseNumber(f[0]) : std::nullopt;
        const auto kind = jd ? kindFromText(f[5]) : std::nullopt;
        const auto ra = kind ? parseNumber(f[7]) : std::nullopt;
        const auto dec = ra ? parseNumber(f[8]) : std::nullopt;
        const auto score = dec ? parseNumber(f[9]) : std::nullopt;
        if (!score) {
            qCWarning(lcPending) << path << "holds a line that is no pending record:" << line;
            continue;
        }
        if (!f[1].startsWith(programFolder)) {
            others << line;
            continue;
        }
        PendingRecord record;
        record.observedJD = *jd;
        record.file = f[1];
        record.targetLine = f[2];
        record.kind = *kind;
        record.plan.startUtc = instantOf(f[3]);
        record.plan.endUtc = instantOf(f[4]);
        record.plan.kind = *kind;
        record.plan.target = f[6];
        record.plan.rightAscension = *ra;
        record.plan.declination = *dec;
        record.plan.score = static_cast<float>(*score);
        record.plan.planFile = f[10];
        record.announced = true;
        records << record;
    }
    return records;
}

void writePendingJournal(const QString& path, const QList<PendingRecord>& records, const QStringList& others)
{
    QFile existing(path);
    if (records.isEmpty() && others.isEmpty()) {
        if (existing.exists() && !existing.remove())
            throw HostError(QStringLiteral("remove"), path, existing.errorString());
        return;
    }
    QByteArray bytes = csvLine(journalHeader).toLatin1() + "\r\n";
    for (const PendingRecord& r : records) {
        const HistoryEntry& p = r.plan;
        bytes += csvLine({doubleText(r.observedJD), r.file, r.targetLine, instantText(p.startUtc),
                          instantText(p.endUtc), kindText(r.kind), p.target, doubleText(p.rightAscension),
                          doubleText(p.declination), singleText(p.score), p.planFile})
                     .toLatin1() +
                 "\r\n";
    }
    for (const QString& line : others)
        bytes += line.toLatin1() + "\r\n";
    // Most calls find it as it is: nothing is pending, or nothing changed.
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes)
        return;
    existing.close();
    QDir().mkpath(QFileInfo(path).absolutePath());
    writeWholeFile(path, bytes);
}

TargetsRead::TargetsRead(SurveyCore& core, const QString& path)
    : m_core(core), m_path(path), m_before(core.fileSystem->Status(path))
{
    for (qsizetype i = 0; i < core.pendingRecords.size(); ++i)
        if (core.pendingRecords[i].file == path)
            m_records << i;
    m_seen.fill(false, m_records.size());
}

QString TargetsRead::configLine(const QString& targetLine, const QString& configLine)
{
    if (m_records.isEmpty())
        return configLine;
    QList<const PendingRecord*> records;
    for (qsizetype k = 0; k < m_records.size(); ++k) {
        const PendingRecord& record = m_core.pendingRecords[m_records[k]];
        if (record.targetLine != targetLine)
            continue;
        m_seen[k] = true;
        records << &record;
    }
    // The selection writes its own lines; these belong to the rewrite.
    QStringList log;
    return configLineWithRecords(m_core, records, configLine, log).value_or(configLine);
}

void TargetsRead::finish(qint64 lines, bool whole)
{
    if (!whole)
        return;
    const std::optional<FileStatus> after = m_core.fileSystem->Status(m_path);
    m_core.targetsReads[m_path] = FileRead{after, lines, m_before && after && m_before->sameAs(*after)};
    for (qsizetype k = 0; k < m_records.size(); ++k)
        m_core.pendingRecords[m_records[k]].missedByLastRead = !m_seen[k];
}

} // namespace kestrove
