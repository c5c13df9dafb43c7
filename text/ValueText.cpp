#include "text/ValueText.h"

#include "text/NumberText.h"

#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace kestrove {

namespace {

double wrap360(double azimuth)
{
    double a = std::fmod(azimuth, 360.0);
    if (a < 0)
        a += 360.0;
    return a;
}

} // namespace

std::optional<QDateTime> parseUtcInstant(const QString& text)
{
    QDateTime t = QDateTime::fromString(text.trimmed(), Qt::ISODateWithMs);
    if (!t.isValid())
        return std::nullopt;
    // An instant without a zone is taken as UTC.
    if (t.timeSpec() == Qt::LocalTime)
        t = QDateTime(t.date(), t.time(), QTimeZone::utc());
    return t.toUTC();
}

std::optional<QList<QPointF>> parseHorizon(const QString& text)
{
    QList<QPointF> points;
    static const QRegularExpression separators(QStringLiteral("[\\s,;]+"));
    const QStringList pairs = text.split(separators, Qt::SkipEmptyParts);
    for (const QString& pair : pairs) {
        const QStringList parts = pair.split(u':');
        if (parts.size() != 2)
            return std::nullopt;
        const auto az = parseNumber(parts[0]);
        const auto el = parseNumber(parts[1]);
        if (!az || !el || !std::isfinite(*az) || !std::isfinite(*el) || *el < -90 || *el > 90)
            return std::nullopt;
        points.append(QPointF(wrap360(*az), *el));
    }
    std::stable_sort(points.begin(), points.end(),
                     [](const QPointF& a, const QPointF& b) { return a.x() < b.x(); });
    return points;
}

QString horizonText(const QList<QPointF>& horizon)
{
    QStringList pairs;
    for (const QPointF& p : horizon)
        pairs << doubleText(p.x()) + u':' + doubleText(p.y());
    return pairs.join(u' ');
}

double horizonElevation(const QList<QPointF>& horizon, double azimuth)
{
    if (horizon.isEmpty())
        return 0;
    if (horizon.size() == 1)
        return horizon.front().y();
    const double az = wrap360(azimuth);
    const auto upper = std::upper_bound(horizon.begin(), horizon.end(), az,
                                        [](double a, const QPointF& p) { return a < p.x(); });
    QPointF lo;
    QPointF hi;
    if (upper == horizon.begin() || upper == horizon.end()) {
        // Between the last point and the first, across north.
        lo = horizon.back();
        hi = horizon.front();
        hi.setX(hi.x() + 360);
    } else {
        lo = *(upper - 1);
        hi = *upper;
    }
    double a = az;
    if (a < lo.x())
        a += 360;
    const double span = hi.x() - lo.x();
    if (span <= 0)
        return lo.y();
    return lo.y() + (hi.y() - lo.y()) * (a - lo.x()) / span;
}

QString utcInstantText(const QDateTime& instant)
{
    return instant.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

std::optional<QList<Interval>> parseIntervals(const QString& text)
{
    QList<Interval> intervals;
    static const QRegularExpression separators(QStringLiteral("[;,]"));
    const QStringList items = text.split(separators, Qt::SkipEmptyParts);
    for (const QString& item : items) {
        if (item.trimmed().isEmpty())
            continue;
        const QStringList ends = item.split(u'/');
        if (ends.size() != 2)
            return std::nullopt;
        const auto start = parseUtcInstant(ends[0]);
        const auto end = parseUtcInstant(ends[1]);
        if (!start || !end || *end < *start)
            return std::nullopt;
        intervals.append({*start, *end});
    }
    return intervals;
}

QString intervalsText(const QList<Interval>& intervals)
{
    QStringList items;
    for (const Interval& i : intervals)
        items << utcInstantText(i.first) + u'/' + utcInstantText(i.second);
    return items.join(QStringLiteral(", "));
}

bool inAnyInterval(const QList<Interval>& intervals, const QDateTime& utc)
{
    return std::any_of(intervals.begin(), intervals.end(),
                       [&](const Interval& i) { return i.first <= utc && utc < i.second; });
}

std::optional<QDateTime> firstInstantIn(const QList<Interval>& intervals, const QDateTime& from)
{
    std::optional<QDateTime> first;
    for (const Interval& i : intervals) {
        if (i.second <= from || i.first == i.second)
            continue;
        const QDateTime t = i.first < from ? from : i.first;
        if (!first || t < *first)
            first = t;
    }
    return first;
}

std::optional<QList<KindShare>> parseShares(const QString& text)
{
    static const QStringList kinds{QStringLiteral("SNe"), QStringLiteral("MPS"), QStringLiteral("MPF"),
                                   QStringLiteral("SLC")};
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    QList<KindShare> shares;
    for (const QString& item : text.split(separators, Qt::SkipEmptyParts)) {
        const qsizetype colon = item.indexOf(u':');
        if (colon < 0)
            return std::nullopt;
        const auto kind = std::find_if(kinds.begin(), kinds.end(), [&](const QString& k) {
            return k.compare(item.left(colon), Qt::CaseInsensitive) == 0;
        });
        const std::optional<double> percent = parseNumber(item.mid(colon + 1));
        if (kind == kinds.end() || !percent || !(*percent >= 0) || *percent > 100)
            return std::nullopt;
        if (std::any_of(shares.begin(), shares.end(), [&](const KindShare& s) { return s.first == *kind; }))
            return std::nullopt;
        shares << KindShare{*kind, *percent};
    }
    return shares;
}

QString sharesText(const QList<KindShare>& shares)
{
    QStringList items;
    for (const auto& [kind, percent] : shares)
        items << kind + u':' + doubleText(percent);
    return items.join(u',');
}

} // namespace kestrove
