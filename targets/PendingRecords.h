#pragma once

#include "core/PendingRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace kestrove {

class SurveyCore;

// The config line of an entry with its pending records (oldest first) written into it, built from its
// old one (null when the line after the target line is no config line); nothing when it stays as it
// is. The old line may hold some of them already: the run that wrote them may have ended before it
// took them off the journal. Every record up to the last one whose observation the line holds counts
// as written then, and is not counted again; `found`, when given, says which were. Lines for the
// survey log go to `log`.
std::optional<QString> configLineWithRecords(SurveyCore& core, const QList<const PendingRecord*>& records,
                                             const QString& oldLine, QStringList& log,
                                             QList<bool>* found = nullptr);

// "SNeTargets.txt is being written by another program (pid 4242, sort)"
QString beingWritten(const QString& fileName, const FileWriter& writer);

// "pending.txt" in the log folder: the pending records, so that a restart knows them.
QString pendingJournalPath(const QString& logDir);
// The records of the journal for this program folder, oldest first. The lines of other program
// folders go to `others`, to be written back unchanged; unreadable lines are dropped.
QList<PendingRecord> readPendingJournal(const QString& path, const QString& programFolder,
                                        QStringList& others);
// Replaces the journal atomically with these records and the other folders' lines; removes it
// when nothing is left. Throws HostError when it cannot.
void writePendingJournal(const QString& path, const QList<PendingRecord>& records, const QStringList& others);

// A pass's read of a targets file: it shows each entry with its pending records written and notes
// what was read, for the rewrites that follow. A file that another program is writing is not read:
// the pass reads the last complete read instead, and the survey log says why.
class TargetsRead
{
public:
    TargetsRead(SurveyCore& core, const QString& path);
    TargetsRead(const TargetsRead&) = delete;
    TargetsRead& operator=(const TargetsRead&) = delete;

    // The lines to read: the file's, or those of its last complete read; null when there is none
    // of those while the file is being written.
    std::unique_ptr<TextStream> open();
    // The config line as the entry will hold it once its pending records are written.
    QString configLine(const QString& targetLine, const QString& configLine);
    // The read is over: `whole` when it reached the end of the lines.
    void finish(qint64 lines, bool whole);

private:
    SurveyCore& m_core;
    QString m_path;
    std::optional<FileStatus> m_before;
    QList<qsizetype> m_records; // indices of the file's pending records
    QList<bool> m_seen;
    bool m_replaying = false; // the lines are those of the last complete read
    bool m_keptHolds = false; // the file is unchanged since its last complete read
    bool m_keeping = false;   // it is not: the bytes of this read are kept
    QByteArray m_bytes;
};

} // namespace kestrove
