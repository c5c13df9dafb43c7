#pragma once

#include "settings/ObservatorySettings.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

namespace kestrove {

// How a value of "observatory.ini" is typed and checked.
enum class FieldKind
{
    Number,         // a decimal number within [low, high]
    Integer,        // a whole number within [low, high]
    OptionalNumber, // empty, or a number within [low, high]
    Text,
    Device,   // an INDI device name; empty: none
    Boolean,  // true or false
    HostKind, // sim or indi
    Slaving,  // kestrove or driver
    TimeZone, // an IANA name
    Instant,  // "now" or an ISO 8601 UTC instant
    Horizon,  // azimuth:elevation pairs
    Intervals // start/end UTC intervals
};

// One value of "observatory.ini" as the observatory dialog offers it.
struct ObservatoryField
{
    QString key; // section/key
    QString label;
    QString unit; // empty: none
    FieldKind kind = FieldKind::Text;
    double low = 0;
    double high = 0;
};

// Every value the dialog edits, in the order of the file's sections.
const QList<ObservatoryField>& observatoryFields();

// Why `text` cannot be the field's value, naming the box; empty when it can.
QString fieldProblem(const ObservatoryField& field, const QString& text);

// A word when the time zone's standard offset lies more than 3.5 hours from the longitude's solar
// time (a zone or a sign picked wrongly); empty when they fit or either is unreadable.
QString zoneLongitudeMismatch(const QString& zoneId, const QString& longitudeText);

// Why values that are each fine cannot stand together (a roof and a dome; a mount that would stand
// outside its dome), naming the boxes; empty when they can. `values` by section/key, as the boxes
// hold them.
QString combinedProblem(const QMap<QString, QString>& values);

// The settings as the texts the file holds, by section/key.
QMap<QString, QString> observatoryValues(const ObservatorySettings& settings, const QString& folder);

// The INDI device boxes (section/key) a device with the INDI interface bits `interfaces` belongs
// in; `driver` is its DRIVER_EXEC, which tells a watchdog from other auxiliary devices.
QStringList deviceKeysFor(unsigned interfaces, const QString& driver);

// The file's text with each section/key set to its new value: only the value of a key that is
// there changes, byte for byte the rest stays; a key that is not there is added at the end of its
// section, a section that is not there at the end of the file.
QByteArray editedIni(const QByteArray& text, const QList<QPair<QString, QString>>& changes);

// True when the text of an observatory.ini holds a [web] token. A file that does is written for its
// owner alone: the token guards Stop and Close.
bool holdsWebToken(const QByteArray& iniText);

// Sets the values in "observatory.ini" in the folder, replacing the file in one step. Throws
// HostError when the file cannot be read or replaced.
void saveObservatoryChanges(const QString& folder, const QList<QPair<QString, QString>>& changes);

} // namespace kestrove
