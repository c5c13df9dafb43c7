#pragma once

#include "core/History.h"
#include "core/SurveyView.h"
#include "host/FileSystem.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace kestrove {

// An observation not yet written into its targets file. The selection reads it as if it were
// written, and it is written, after the older ones of its file, as soon as the file can be.
struct PendingRecord
{
    SurveyKind kind = SurveyKind::SNe;
    QString file;                  // the targets file, as the program folder names it
    QString targetLine;            // the observed entry's target line
    double observedJD = 0;         // when the plan was seen completed; exactly what its config line will hold
    HistoryEntry plan;             // the plan's line of history; no start instant when no plan was run
    bool announced = false;        // the log and the history already said it is pending
    bool missedByLastRead = false; // the latest complete read of its file did not hold the entry
};

// What this run last read of a targets file, whole: what a rewrite is checked against.
struct FileRead
{
    std::optional<FileStatus> status; // when the read ended
    qint64 lines = 0;
    bool steady = false; // complete: the file did not change while it was read, and no one was writing it
};

// The last complete read of a targets file and its bytes: what a pass scores from while another
// program writes the file.
struct CompleteRead
{
    FileRead read;
    QByteArray bytes; // as the file held them
};

} // namespace kestrove
