#include "text/MpcReport.h"

#include <cmath>

namespace kestrove {

namespace {

QString twoDigits(long long v)
{
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

// "YYYY MM DD.ddddd": the day's fraction rounded to 0.00001, carried into the next day.
QString dateText(const QDateTime& time)
{
    const QDateTime utc = time.toUTC();
    QDate day = utc.date();
    long long fraction = std::llround(utc.time().msecsSinceStartOfDay() / 864.0);
    if (fraction >= 100000) {
        fraction -= 100000;
        day = day.addDays(1);
    }
    return QStringLiteral("%1 %2 %3.%4")
        .arg(day.year(), 4, 10, QLatin1Char('0'))
        .arg(twoDigits(day.month()), twoDigits(day.day()))
        .arg(fraction, 5, 10, QLatin1Char('0'));
}

// "HH MM SS.ss"
QString rightAscensionText(double degrees)
{
    constexpr long long day = 24LL * 3600 * 100;
    long long cs = std::llround(degrees / 15.0 * 3600.0 * 100.0) % day;
    if (cs < 0)
        cs += day;
    return QStringLiteral("%1 %2 %3.%4")
        .arg(twoDigits(cs / 360000), twoDigits(cs / 6000 % 60), twoDigits(cs / 100 % 60),
             twoDigits(cs % 100));
}

// "sDD MM SS.s"
QString declinationText(double degrees)
{
    const long long ds = std::llround(std::abs(degrees) * 36000.0);
    return QStringLiteral("%1%2 %3 %4.%5")
        // A QChar: a bare char16_t would be taken as its number.
        .arg(QChar(degrees < 0 && ds > 0 ? u'-' : u'+'))
        .arg(twoDigits(ds / 36000), twoDigits(ds / 600 % 60), twoDigits(ds / 10 % 60))
        .arg(ds % 10);
}

} // namespace

QString mpcObservationLine(const MpcObservation& o)
{
    QString line(80, u' ');
    auto put = [&](int column, const QString& text) { line.replace(column - 1, text.size(), text); };
    put(6, o.designation.left(7));
    if (o.discovery)
        put(13, QStringLiteral("*"));
    put(14, QString(o.note1));
    put(15, QString(o.note2));
    put(16, dateText(o.utc));
    put(33, rightAscensionText(o.rightAscension));
    put(45, declinationText(o.declination));
    if (o.magnitude) {
        put(66, QStringLiteral("%1").arg(*o.magnitude, 4, 'f', 1));
        put(71, QString(o.band));
    }
    put(78, o.observatory.left(3));
    return line;
}

QString temporaryDesignation(const QDate& night, int index)
{
    return QStringLiteral("KV%1%2")
        .arg(night.dayOfYear(), 3, 10, QLatin1Char('0'))
        .arg(QString::number(index, 36).toUpper());
}

QString mpcReport(const MpcHeader& header, const QList<MpcObservation>& observations)
{
    QString text = QStringLiteral("COD %1\n").arg(header.observatory);
    const std::pair<const char*, QString> lines[] = {{"OBS", header.observers},
                                                     {"MEA", header.measurers},
                                                     {"TEL", header.telescope},
                                                     {"NET", header.catalogue}};
    for (const auto& [keyword, value] : lines)
        if (!value.trimmed().isEmpty())
            text += QLatin1String(keyword) + u' ' + value.trimmed() + u'\n';
    for (const MpcObservation& o : observations)
        text += mpcObservationLine(o) + u'\n';
    return text;
}

} // namespace kestrove
