#include "targets/PendingRecords.h"

#include "core/Csv.h"
#include "core/SurveyCore.h"
#include "host/LocalFileSystem.h"
#include "text/HostError.h"
#include "text/NumberText.h"
#include "text/ValueText.h"

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
    // Kestrove's own file: UTF-8 with LF line ends.
    QByteArray bytes = csvLine(journalHeader).toUtf8() + '\n';
    for (const PendingRecord& r : records) {
        const HistoryEntry& p = r.plan;
        bytes += csvLine({doubleText(r.observedJD), r.file, r.targetLine, instantText(p.startUtc),
                          instantText(p.endUtc), kindText(r.kind), p.target, doubleText(p.rightAscension),
                          doubleText(p.declination), singleText(p.score), p.planFile})
                     .toUtf8() +
                 '\n';
    }
    for (const QString& line : others)
        bytes += line.toUtf8() + '\n';
    // Most calls find it as it is: nothing is pending, or nothing changed.
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes)
        return;
    existing.close();
    QDir().mkpath(QFileInfo(path).absolutePath());
    writeWholeFile(path, bytes);
}

QString beingWritten(const QString& fileName, const FileWriter& writer)
{
    QString text = fileName + QStringLiteral(" is being written by another program");
    if (writer.pid > 0 && !writer.program.isEmpty())
        text += QStringLiteral(" (pid %1, %2)").arg(writer.pid).arg(writer.program);
    else if (writer.pid > 0)
        text += QStringLiteral(" (pid %1)").arg(writer.pid);
    return text;
}

namespace {

// The lines of a file's bytes held in memory, read as the file's own stream reads them.
class KeptLines : public TextStream
{
public:
    explicit KeptLines(QByteArray bytes) : m_bytes(std::move(bytes)) {}
    bool AtEndOfStream() override { return m_at >= m_bytes.size(); }
    QString ReadLine() override
    {
        QString line;
        readLineInto(line);
        return line;
    }
    void readLineInto(QString& line) override
    {
        if (AtEndOfStream())
            throw HostError(QStringLiteral("ReadLine"), QString(), QStringLiteral("input past end of file"));
        qsizetype end = m_bytes.indexOf('\n', m_at);
        if (end < 0)
            end = m_bytes.size();
        const qsizetype next = end + 1;
        if (end > m_at && m_bytes[end - 1] == '\r')
            --end;
        line = QString::fromLatin1(m_bytes.constData() + m_at, end - m_at);
        m_at = next;
    }
    void Write(const QString&) override { refuse(); }
    void WriteLine(const QString&) override { refuse(); }
    void Close() override {}

private:
    [[noreturn]] static void refuse()
    {
        throw HostError(QStringLiteral("WriteLine"), QString(), QStringLiteral("a kept read is not written"));
    }

    QByteArray m_bytes;
    qsizetype m_at = 0;
};

} // namespace

TargetsRead::TargetsRead(SurveyCore& core, const QString& path)
    : m_core(core), m_path(path), m_before(core.fileSystem->Status(path))
{
    for (qsizetype i = 0; i < core.pendingRecords.size(); ++i)
        if (core.pendingRecords[i].file == path)
            m_records << i;
    m_seen.fill(false, m_records.size());
}

std::unique_ptr<TextStream> TargetsRead::open()
{
    const auto kept = m_core.completeReads.constFind(m_path);
    const bool haveKept = kept != m_core.completeReads.cend();
    // What another program has written so far would pass for the catalogue: the entries it has not
    // written yet would not be scored, and their records would be taken for deleted.
    if (const auto writer = m_core.fileSystem->writerOf(m_path)) {
        const QString why = beingWritten(QFileInfo(m_path).fileName(), *writer) +
                            (haveKept ? QStringLiteral(": using the last complete read")
                                      : QStringLiteral(": not read this pass"));
        m_core.setStatus(why);
        m_core.logLine(why);
        if (!haveKept)
            return nullptr;
        m_replaying = true;
        // The rewrites of this pass compare the file with what was read last.
        if (!m_core.targetsReads.contains(m_path))
            m_core.targetsReads.insert(m_path, kept->read);
        return std::make_unique<KeptLines>(kept->bytes);
    }
    auto stream = m_core.fileSystem->OpenTextFile(m_path, IOMode::ForReading);
    // A file unchanged since its last complete read has its bytes kept already.
    m_keptHolds = haveKept && m_before && kept->read.status && m_before->sameAs(*kept->read.status);
    if (m_before && !m_keptHolds) {
        m_bytes.reserve(m_before->size);
        m_keeping = stream->keepBytes(&m_bytes);
    }
    return stream;
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
    // Read again, the last complete read stays what it was.
    if (m_replaying || !whole)
        return;
    const std::optional<FileStatus> after = m_core.fileSystem->Status(m_path);
    // A writer that began during the read has changed the file, or holds it now.
    const bool complete =
        m_before && after && m_before->sameAs(*after) && !m_core.fileSystem->writerOf(m_path);
    // A read that may be partial does not take the place of a complete one.
    const auto previous = m_core.targetsReads.constFind(m_path);
    if (complete || previous == m_core.targetsReads.cend() || !previous->steady)
        m_core.targetsReads[m_path] = FileRead{after, lines, complete};
    if (!complete)
        return;
    for (qsizetype k = 0; k < m_records.size(); ++k)
        m_core.pendingRecords[m_records[k]].missedByLastRead = !m_seen[k];
    // Without its bytes (a stream that cannot keep them) a read is no use to a later pass.
    if (m_keeping)
        m_core.completeReads[m_path] = CompleteRead{m_core.targetsReads[m_path], std::move(m_bytes)};
    else if (m_keptHolds)
        m_core.completeReads[m_path].read = m_core.targetsReads[m_path];
    else
        m_core.completeReads.remove(m_path);
}

} // namespace kestrove
