#pragma once

#include "host/FileSystem.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace kestrove {

using TargetItems = QList<QPair<QString, QString>>;

// The config items an entry may carry, in the order the target editor shows them.
const QStringList& targetItemKeys();

// Why a config item cannot be read as the survey reads it; empty when it can.
QString targetItemProblem(const QString& key, const QString& value);

// One entry of a targets file: its target line's fields and its config line.
struct TargetEntry
{
    QString name;
    QString ra;  // as written: hours, sexagesimal or decimal
    QString dec; // degrees
    TargetItems items;
    QString configLine; // as read; "**** " for a new entry
    QStringList before; // the user's lines above the entry that are no entry themselves

    QString targetLine() const { return name + u'\t' + ra + u'\t' + dec; }
    QString item(const QString& key) const;
    void setItem(const QString& key, const QString& value); // an empty value removes the item
    // The config line to write: the one read when the items are still its own.
    QString writtenConfigLine() const;
    bool operator==(const TargetEntry& other) const = default;
};

// The items of a config line, as the survey splits them.
TargetItems configItems(const QString& configLine);

// Why a converted position is no place in the sky ("\"25:00:00\" is outside 0 to 24 hours"); empty
// when it is one. `first` is 'h' for a right ascension in hours, 'd' for a declination in degrees.
QString positionRangeProblem(QChar first, double value, const QString& text);

// Why the entry cannot be read as the survey reads it (name, position, items), every fault of it
// joined by "; "; empty when it can.
QString entryProblem(const TargetEntry& entry);

// A targets file: its entries, each with the other lines above it, and the lines after the last.
struct TargetsFile
{
    QList<TargetEntry> entries;
    QStringList trailing;
};

TargetsFile parseTargetsLines(const QStringList& lines);
QStringList targetsFileLines(const TargetsFile& file);
// Reads the file through the file system; a missing file is an empty one.
TargetsFile readTargetsFile(FileSystem& fs, const QString& path);

// The file as it is now with the user's edits applied: entries the user changed take the fields
// and items the user changed and keep the rest as they are now (a survey's update of the same
// entry survives); deleted ones go, added ones come at the end, and the file's other entries
// stay as they are now.
TargetsFile mergedTargets(const TargetsFile& now, const TargetsFile& opened, const TargetsFile& edited);

// Saves the user's edits to the targets file with the survey's edit-safe replace: the copy is
// merged with the file as it is at the moment, and made again when the file changes meanwhile.
// Returns why it was not saved (a read-only file is never replaced); empty when it was.
QString saveTargetsFile(FileSystem& fs, const QString& path, const QString& newPath,
                        const TargetsFile& opened, const TargetsFile& edited);

// A CSV line that is not imported.
struct RejectedLine
{
    int line = 0;
    QString reason;
    QString text;
};

// What an import of a CSV file would do.
struct TargetsImport
{
    QList<TargetEntry> added;
    QList<TargetEntry> duplicates; // names already in the table (or earlier in the file)
    QList<RejectedLine> rejected;
};

// Reads CSV text (comma or semicolon; name, RA, Dec, then config items; a first row naming the
// columns is a header). RA in decimal is degrees; sexagesimal RA is hours.
TargetsImport importTargetsCsv(const QString& text, const QList<TargetEntry>& existing);
// The entries as CSV with a header row; CR LF line ends.
QString exportTargetsCsv(const QList<TargetEntry>& entries);

// The number of fields a minor planet survey area line ("raStart decStart raEnd decEnd") makes with
// the given steps (hours, degrees); 0 with the reason when the survey would refuse it.
qint64 mpsAreaFields(const QString& areaLine, double raStep, double decStep, QString& problem);

// Survey area lines from CSV (start RA, start Dec, end RA, end Dec; a header row, comma or semicolon;
// decimal RA is degrees), each checked as the survey checks it.
struct AreasImport
{
    QStringList added;
    QList<RejectedLine> rejected;
};
AreasImport importAreasCsv(const QString& text, double raStep, double decStep);
QString exportAreasCsv(const QStringList& areaLines);

} // namespace kestrove
