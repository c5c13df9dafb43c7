#pragma once

#include <QDateTime>
#include <QString>

namespace kestrove {

// The host's text conversions, as pure functions. Each throws HostError naming the call and text.

// Sexagesimal ("12:30:15.5", "12 30", "12h30m15s", "-5d30m") or plain decimal text to a number.
// `first` is the unit letter of the leading field: 'h' for hours, 'd' for degrees.
double parseSexagesimal(const QString& call, const QString& text, QChar first);
// A value as whole units, minutes and seconds with two decimals, each followed by its separator.
// Degrees always carry a sign; hours only when negative.
QString formatSexagesimal(double value, const QString& unit, const QString& minutes, const QString& seconds,
                          bool signedDegrees);

// Julian date of the date and time fields as they stand, whatever the zone.
double julianDate(const QDateTime& value);
// "General Date" (M/d/yyyy h:mm:ss AM) and "yyyymmdd".
QString formatDate(const QDateTime& value, const QString& format);

} // namespace kestrove
