#include "core/History.h"

#include "core/Csv.h"
#include "text/HostError.h"
#include "text/NumberText.h"
#include "text/ValueText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <algorithm>

namespace kestrove {

namespace {

const QStringList historyHeader{
    QStringLiteral("startUtc"), QStringLiteral("endUtc"),   QStringLiteral("kind"),
    QStringLiteral("target"),   QStringLiteral("ra"),       QStringLiteral("dec"),
    QStringLiteral("score"),    QStringLiteral("planFile"), QStringLiteral("result")};

const QString observatoryKind = QStringLiteral("Observatory");

std::optional<SurveyKind> kindFromText(const QString& text)
{
    for (SurveyKind kind : {SurveyKind::SNe, SurveyKind::MPS, SurveyKind::MPF, SurveyKind::SLC})
        if (kindText(kind) == text)
            return kind;
    return std::nullopt;
}

// A name that any file system takes: letters, digits, '.', '+' and '-' stay, the rest become '_'.
QString fileNamePart(const QString& text)
{
    QString part;
    for (const QChar c : text)
        part += (c.isLetterOrNumber() && c.unicode() < 128) || c == u'.' || c == u'+' || c == u'-' ? c : u'_';
    return part.isEmpty() ? QStringLiteral("_") : part;
}

} // namespace

QString historyPath(const QString& logDir)
{
    return logDir + QStringLiteral("/history.csv");
}

namespace {

// Kestrove's own file, read with Linux tools: UTF-8 with LF line ends. An older file's CR LF or
// Latin-1 lines are still read. The log folder may have been removed during the night.
void appendHistoryLine(FileSystem& fileSystem, const QString& path, const QStringList& fields)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const bool isNew = !fileSystem.FileExists(path);
    QByteArray bytes;
    if (isNew)
        bytes += csvLine(historyHeader).toUtf8() + '\n';
    bytes += csvLine(fields).toUtf8() + '\n';
    // The stream writes one byte a character: the UTF-8 bytes go through it as they are.
    auto stream = fileSystem.OpenTextFile(path, IOMode::ForAppending, true);
    stream->Write(QString::fromLatin1(bytes));
    stream->Close();
}

} // namespace

void appendHistory(FileSystem& fileSystem, const QString& path, const HistoryEntry& entry)
{
    appendHistoryLine(fileSystem, path,
                      {utcInstantText(entry.startUtc), utcInstantText(entry.endUtc), kindText(entry.kind),
                       entry.target, doubleText(entry.rightAscension), doubleText(entry.declination),
                       singleText(entry.score), entry.planFile, entry.result});
}

void appendObservatoryEvent(FileSystem& fileSystem, const QString& path, const QDateTime& utc,
                            const QString& event)
{
    appendHistoryLine(fileSystem, path,
                      {utcInstantText(utc), utcInstantText(utc), observatoryKind, event, QString(), QString(),
                       QString(), QString(), QString()});
}

History readHistory(const QString& path)
{
    History history;
    for (const QString& line : readCsvFileLines(path, QStringLiteral("history"))) {
        const QStringList fields = splitCsvLine(line);
        if (fields == historyHeader)
            continue;
        HistoryEntry entry;
        const auto start = fields.size() == historyHeader.size() ? parseUtcInstant(fields[0]) : std::nullopt;
        if (start && fields[2] == observatoryKind) {
            history.events << ObservatoryEvent{*start, fields[3]};
            continue;
        }
        const auto end = start ? parseUtcInstant(fields[1]) : std::nullopt;
        const auto kind = end ? kindFromText(fields[2]) : std::nullopt;
        const auto ra = kind ? parseNumber(fields[4]) : std::nullopt;
        const auto dec = ra ? parseNumber(fields[5]) : std::nullopt;
        const auto score = dec ? parseNumber(fields[6]) : std::nullopt;
        if (!score) {
            ++history.unreadable;
            continue;
        }
        entry.startUtc = *start;
        entry.endUtc = *end;
        entry.kind = *kind;
        entry.target = fields[3];
        entry.rightAscension = *ra;
        entry.declination = *dec;
        entry.score = static_cast<float>(*score);
        entry.planFile = fields[7];
        entry.result = fields[8];
        // What became of a pending record is told later, and belongs to its plan's line.
        if (entry.result.startsWith(QLatin1String("record "))) {
            const auto plan =
                std::find_if(history.entries.rbegin(), history.entries.rend(), [&](const HistoryEntry& e) {
                    return e.startUtc == entry.startUtc && e.kind == entry.kind && e.target == entry.target;
                });
            if (plan != history.entries.rend()) {
                plan->result += QStringLiteral("; ") + entry.result;
                continue;
            }
        }
        history.entries << entry;
    }
    return history;
}

QDate nightDateOf(const QDateTime& local)
{
    // As wall time, whatever the zone's daylight-saving rules do that day.
    return QDateTime(local.date(), local.time(), QTimeZone::utc()).addSecs(-12 * 3600).date();
}

QList<HistoryEntry> entriesOfNight(const QList<HistoryEntry>& entries, const QDate& night,
                                   const QTimeZone& zone)
{
    QList<HistoryEntry> ofNight;
    for (const HistoryEntry& entry : entries)
        if (nightDateOf(entry.startUtc.toTimeZone(zone)) == night)
            ofNight << entry;
    return ofNight;
}

QString archivedPlanPath(const QString& planDir, const QDateTime& localNow, const QDateTime& utcNow,
                         SurveyKind kind, const QString& target)
{
    return planDir + u'/' + nightDateOf(localNow).toString(Qt::ISODate) + u'/' +
           utcNow.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")) + u'-' + kindText(kind) + u'-' +
           fileNamePart(target) + QStringLiteral(".txt");
}

void copyTextFile(FileSystem& fileSystem, const QString& from, const QString& to)
{
    const QString folder = QFileInfo(to).absolutePath();
    if (!QDir().mkpath(folder))
        throw HostError(QStringLiteral("copy"), folder, QStringLiteral("cannot create the folder"));
    auto in = fileSystem.OpenTextFile(from, IOMode::ForReading);
    auto out = fileSystem.CreateTextFile(to, true);
    while (!in->AtEndOfStream())
        out->WriteLine(in->ReadLine());
    in->Close();
    out->Close();
}

QString planResult(bool completed, const QString& hostOutcome, bool stopped)
{
    if (completed)
        return QStringLiteral("completed");
    // The frames' own reason, with its numbers: "rejected: 3 stars where 80 expected".
    if (hostOutcome.startsWith(QLatin1String("rejected")))
        return stopped ? hostOutcome + QStringLiteral(" (survey stopped)") : hostOutcome;
    QString result = QStringLiteral("failed");
    if (stopped && hostOutcome == QLatin1String("running"))
        return QStringLiteral("failed: the survey stopped while the plan ran");
    if (hostOutcome == QLatin1String("completed"))
        result += QStringLiteral(": the plan ended but left no completion marker");
    else if (!hostOutcome.isEmpty())
        result += QStringLiteral(": ") + hostOutcome;
    if (stopped)
        result += QStringLiteral(" (survey stopped)");
    return result;
}

} // namespace kestrove
