#pragma once

#include "core/SurveyView.h"
#include "host/FileSystem.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

namespace kestrove {

// One plan as the survey ran it: a line of "history.csv" beside the survey log.
struct HistoryEntry
{
    QDateTime startUtc; // when the acquisition script was started
    QDateTime endUtc;   // when the survey saw it end
    SurveyKind kind = SurveyKind::SNe;
    QString target;
    double rightAscension = 0; // J2000 hours
    double declination = 0;    // J2000 degrees
    float score = 0;           // weighted
    QString planFile;          // the copy of the plan kept in the night's folder
    QString result;            // "completed", "rejected: <why>", or "failed" with what the host said
};

// "history.csv" in the log folder.
QString historyPath(const QString& logDir);
// Appends the entry, writing the header line first into a new file (and its folder).
void appendHistory(FileSystem& fileSystem, const QString& path, const HistoryEntry& entry);

// Appends what the observatory did ("Roof closed", "Closing: weather unsafe") as a line of its own:
// kind "Observatory", the event as its target, no position, score or plan.
void appendObservatoryEvent(FileSystem& fileSystem, const QString& path, const QDateTime& utc,
                            const QString& event);

// One such line, as read back.
struct ObservatoryEvent
{
    QDateTime utc;
    QString text;
};

struct History
{
    QList<HistoryEntry> entries;
    QList<ObservatoryEvent> events;
    int unreadable = 0; // lines that were not history lines
};
// Every entry of the file, in its order; a missing file is an empty history. A completed plan whose
// record could not be written has the result "completed; record pending: <why>"; the line that
// later says "record written <instant>" or "record dropped: <why>" is added to its result.
History readHistory(const QString& path);

// The date of the night a local time belongs to: the night runs from noon to the next noon.
QDate nightDateOf(const QDateTime& local);
// Entries whose plan started during the night of `night` in the site's zone.
QList<HistoryEntry> entriesOfNight(const QList<HistoryEntry>& entries, const QDate& night,
                                   const QTimeZone& zone);

// Where a plan is kept: the plan folder, the night's date (YYYY-MM-DD), then the UTC instant, the
// kind and the target, e.g. Plans/2024-04-13/20240414T091000Z-SNe-SN2024abc.txt.
QString archivedPlanPath(const QString& planDir, const QDateTime& localNow, const QDateTime& utcNow,
                         SurveyKind kind, const QString& target);
// Copies a text file line by line, creating the destination's folder.
void copyTextFile(FileSystem& fileSystem, const QString& from, const QString& to);

// "completed"; "rejected: <why>" for a plan whose frames the host found none worth counting; or
// "failed" followed by what the host said of the plan.
QString planResult(bool completed, const QString& hostOutcome, bool stopped);

} // namespace kestrove
