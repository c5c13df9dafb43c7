#pragma once

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QPointF>
#include <QString>
#include <optional>

namespace kestrove {

using Interval = QPair<QDateTime, QDateTime>;

// "az:el az:el ..." to (azimuth, elevation) points sorted by azimuth 0..360; nothing when malformed.
std::optional<QList<QPointF>> parseHorizon(const QString& text);
QString horizonText(const QList<QPointF>& horizon);
// Piecewise linear between the points, wrapping from the last point round through 360 to the first.
double horizonElevation(const QList<QPointF>& horizon, double azimuth);

// An ISO 8601 instant; one without a zone is UTC.
std::optional<QDateTime> parseUtcInstant(const QString& text);

// An instant as "2026-12-07T22:00:00Z".
QString utcInstantText(const QDateTime& instant);

// "start/end" UTC instants (ISO 8601), separated by ";" or ","; nothing when malformed.
std::optional<QList<Interval>> parseIntervals(const QString& text);
QString intervalsText(const QList<Interval>& intervals);
// True when `utc` lies in an interval (start included, end excluded).
bool inAnyInterval(const QList<Interval>& intervals, const QDateTime& utc);
// The first instant at or after `from` that lies in an interval, if any.
std::optional<QDateTime> firstInstantIn(const QList<Interval>& intervals, const QDateTime& from);

// A share of the night per survey kind: the kind's name (SNe, MPS, MPF, SLC) and its percent.
using KindShare = QPair<QString, double>;
// "SNe:50,SLC:30,MPS:20" (commas, semicolons or blanks between the items; names in any letter case,
// given as above); nothing when malformed, a kind is named twice or a share is negative.
std::optional<QList<KindShare>> parseShares(const QString& text);
QString sharesText(const QList<KindShare>& shares);

} // namespace kestrove
