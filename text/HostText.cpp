#include "text/HostText.h"

#include "text/HostError.h"
#include "text/NumberText.h"

#include <erfa.h>

#include <cmath>

namespace kestrove {

namespace {

bool isUnitLetter(QChar c, int field, QChar first)
{
    const QChar lower = c.toLower();
    switch (field) {
    case 0:
        return lower == first || (first == u'd' && c == QChar(0x00B0));
    case 1:
        return lower == u'm' || c == u'\'';
    default:
        return lower == u's' || c == u'"';
    }
}

} // namespace

double parseSexagesimal(const QString& call, const QString& text, QChar first)
{
    const auto bad = [&](const QString& why) { return HostError(call, text, why); };
    if (const auto plain = parseNumber(text))
        return *plain;

    const QString t = text.trimmed();
    if (t.isEmpty())
        throw bad(QStringLiteral("no number"));
    qsizetype i = 0;
    double sign = 1;
    if (t[0] == u'+' || t[0] == u'-') {
        sign = t[0] == u'-' ? -1 : 1;
        ++i;
        while (i < t.size() && t[i].isSpace())
            ++i;
    }

    double fields[3] = {0, 0, 0};
    int count = 0;
    bool lastHadFraction = false;
    while (i < t.size()) {
        if (count == 3)
            throw bad(QStringLiteral("more than three fields"));
        if (lastHadFraction)
            throw bad(QStringLiteral("only the last field may have a fraction"));
        const qsizetype start = i;
        while (i < t.size() && t[i].isDigit())
            ++i;
        if (i < t.size() && t[i] == u'.') {
            lastHadFraction = true;
            ++i;
            while (i < t.size() && t[i].isDigit())
                ++i;
        }
        const QString number = t.mid(start, i - start);
        if (number.isEmpty() || number == QStringLiteral("."))
            throw bad(QStringLiteral("not a sexagesimal number"));
        // The field is digits with at most one point, so the checked reader refuses only an
        // overflow: hundreds of digits, which no caller can point a mount at.
        const auto value = parseNumber(number);
        if (!value)
            throw bad(QStringLiteral("number out of range"));
        fields[count] = *value;
        const int field = count++;

        // One separator: ':', the field's unit letter, or blanks (blanks may also follow a letter).
        if (i == t.size())
            break;
        if (t[i] == u':') {
            ++i;
            if (i == t.size())
                throw bad(QStringLiteral("nothing after ':'"));
            continue;
        }
        if (isUnitLetter(t[i], field, first))
            ++i;
        else if (!t[i].isSpace())
            throw bad(QStringLiteral("unexpected character '%1'").arg(t[i]));
        while (i < t.size() && t[i].isSpace())
            ++i;
    }
    if (count == 0)
        throw bad(QStringLiteral("no number"));
    if (fields[1] >= 60 || fields[2] >= 60)
        throw bad(QStringLiteral("minutes and seconds must be below 60"));
    return sign * (fields[0] + fields[1] / 60.0 + fields[2] / 3600.0);
}

QString formatSexagesimal(double value, const QString& unit, const QString& minutes, const QString& seconds,
                          bool signedDegrees)
{
    // Whole hundredths of a second first, so that 59.995 s carries into the next minute.
    const long long total = std::llround(std::fabs(value) * 360000.0);
    const bool negative = value < 0 && total != 0;
    const long long whole = total / 360000;
    const long long mins = (total / 6000) % 60;
    const long long hundredths = total % 6000;
    QString text;
    if (negative)
        text += u'-';
    else if (signedDegrees)
        text += u'+';
    text += QStringLiteral("%1%2%3%4%5.%6%7")
                .arg(whole, 2, 10, QLatin1Char('0'))
                .arg(unit)
                .arg(mins, 2, 10, QLatin1Char('0'))
                .arg(minutes)
                .arg(hundredths / 100, 2, 10, QLatin1Char('0'))
                .arg(hundredths % 100, 2, 10, QLatin1Char('0'))
                .arg(seconds);
    return text;
}

double julianDate(const QDateTime& value)
{
    if (!value.isValid())
        throw HostError(QStringLiteral("Date_Julian"), QString(), QStringLiteral("invalid date"));
    const QDate date = value.date();
    const QTime time = value.time();
    double djm0 = 0;
    double djm = 0;
    if (eraCal2jd(date.year(), date.month(), date.day(), &djm0, &djm) != 0)
        throw HostError(QStringLiteral("Date_Julian"), value.toString(Qt::ISODate),
                        QStringLiteral("date out of range"));
    return djm0 + djm + time.msecsSinceStartOfDay() / 86400000.0;
}

QString formatDate(const QDateTime& value, const QString& format)
{
    const QDate date = value.date();
    const QTime time = value.time();
    if (format == QStringLiteral("yyyymmdd"))
        return QStringLiteral("%1%2%3")
            .arg(date.year(), 4, 10, QLatin1Char('0'))
            .arg(date.month(), 2, 10, QLatin1Char('0'))
            .arg(date.day(), 2, 10, QLatin1Char('0'));
    if (format == QStringLiteral("General Date")) {
        const int hour12 = time.hour() % 12 == 0 ? 12 : time.hour() % 12;
        return QStringLiteral("%1/%2/%3 %4:%5:%6 %7")
            .arg(date.month())
            .arg(date.day())
            .arg(date.year())
            .arg(hour12)
            .arg(time.minute(), 2, 10, QLatin1Char('0'))
            .arg(time.second(), 2, 10, QLatin1Char('0'))
            .arg(time.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM"));
    }
    throw HostError(QStringLiteral("FormatVar"), format, QStringLiteral("unsupported format"));
}

} // namespace kestrove
