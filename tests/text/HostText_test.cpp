#include "text/HostError.h"
#include "text/HostText.h"

#include <QTimeZone>

#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace kestrove;

namespace {

double hours(const char* text)
{
    return parseSexagesimal(QStringLiteral("HMS_Hours"), QString::fromLatin1(text), u'h');
}
double degrees(const char* text)
{
    return parseSexagesimal(QStringLiteral("DMS_Degrees"), QString::fromLatin1(text), u'd');
}

} // namespace

TEST(HostText, ReadsSexagesimalAndDecimalText)
{
    const struct
    {
        const char* text;
        double value;
    } hourCases[] = {
        {"10:38:45.9", 10 + 38 / 60.0 + 45.9 / 3600},
        {"10 38 45.9", 10 + 38 / 60.0 + 45.9 / 3600},
        {"10h38m45.9s", 10 + 38 / 60.0 + 45.9 / 3600},
        {"10h 38m 45.9s", 10 + 38 / 60.0 + 45.9 / 3600},
        {"  05:34:31.94 ", 5 + 34 / 60.0 + 31.94 / 3600},
        {"12:30", 12.5},
        {"12h30m", 12.5},
        {"12:30.5", 12 + 30.5 / 60},
        {"7", 7},
        {"7.25", 7.25},
        {"-0:30", -0.5},
        {"+1:00:00", 1},
        {"1e1", 10},
    };
    for (const auto& c : hourCases)
        EXPECT_NEAR(hours(c.text), c.value, 1e-12) << c.text;

    const struct
    {
        const char* text;
        double value;
    } degreeCases[] = {
        {"+53:30:12", 53 + 30 / 60.0 + 12 / 3600.0},
        {"-05:30:00", -5.5},
        {"-00:30:00", -0.5},
        {"- 0 30 00", -0.5},
        {"+22d00m52.10s", 22 + 52.1 / 3600},
        {"-16d42m58s", -(16 + 42 / 60.0 + 58 / 3600.0)},
        {"89", 89},
        {"-12.75", -12.75},
    };
    for (const auto& c : degreeCases)
        EXPECT_NEAR(degrees(c.text), c.value, 1e-12) << c.text;
}

TEST(HostText, RejectsMalformedTextNamingIt)
{
    const std::string overflowing(400, '9'); // parses to infinity
    const std::vector<std::string> texts = {
        "",         "  ",          "abc",       "12:",
        "12::30",   "12:30:40:50", "12.5:30",   "12:60",
        "12:30:60", "12x30",       "1O:30",     "12h30d",
        "--5",      "12:3a",       overflowing, "-" + overflowing + ":30"};
    for (const std::string& text : texts) {
        try {
            hours(text.c_str());
            ADD_FAILURE() << "accepted " << text;
        } catch (const HostError& e) {
            EXPECT_EQ(e.subject(), QString::fromStdString(text));
            EXPECT_EQ(e.call(), QStringLiteral("HMS_Hours"));
        }
    }
    EXPECT_THROW(degrees("12h30m"), HostError);
}

TEST(HostText, FormatsWithCarry)
{
    const QString h = QStringLiteral("h"), m = QStringLiteral("m"), s = QStringLiteral("s");
    const QString d = QStringLiteral("d");
    EXPECT_EQ(formatSexagesimal(5 + 34 / 60.0 + 31.94 / 3600, h, m, s, false),
              QStringLiteral("05h34m31.94s"));
    EXPECT_EQ(formatSexagesimal(22 + 52.1 / 3600, d, m, s, true), QStringLiteral("+22d00m52.10s"));
    EXPECT_EQ(formatSexagesimal(-5.5, d, m, s, true), QStringLiteral("-05d30m00.00s"));
    EXPECT_EQ(formatSexagesimal(0, d, m, s, true), QStringLiteral("+00d00m00.00s"));
    EXPECT_EQ(formatSexagesimal(-1e-9, d, m, s, true), QStringLiteral("+00d00m00.00s"));
    // 59.996 s rounds to the next minute, and 59 m 59.996 s to the next hour.
    EXPECT_EQ(formatSexagesimal(1 + 59.996 / 3600, h, m, s, false), QStringLiteral("01h01m00.00s"));
    EXPECT_EQ(formatSexagesimal(1 + 59 / 60.0 + 59.996 / 3600, h, m, s, false),
              QStringLiteral("02h00m00.00s"));
    EXPECT_EQ(formatSexagesimal(123.5, d, m, s, true), QStringLiteral("+123d30m00.00s"));
    EXPECT_EQ(formatSexagesimal(10.5, QStringLiteral(":"), QStringLiteral(":"), QString(), false),
              QStringLiteral("10:30:00.00"));
}

TEST(HostText, FormattedTextReadsBackToTheHundredthOfASecond)
{
    const QString h = QStringLiteral("h"), m = QStringLiteral("m"), s = QStringLiteral("s");
    for (double v = -89.99; v < 90; v += 0.3712345) {
        const QString text = formatSexagesimal(v, QStringLiteral("d"), m, s, true);
        EXPECT_NEAR(degrees(text.toLatin1().constData()), v, 0.005 / 3600 + 1e-12) << text.toStdString();
        EXPECT_FALSE(text.contains(u'\t'));
    }
    for (double v = 0; v < 24; v += 0.0123457) {
        const QString text = formatSexagesimal(v, h, m, s, false);
        EXPECT_NEAR(hours(text.toLatin1().constData()), v, 0.005 / 3600 + 1e-12) << text.toStdString();
    }
}

TEST(HostText, JulianDateOfTheFieldsAsTheyStand)
{
    const QTimeZone canary("Atlantic/Canary");
    EXPECT_DOUBLE_EQ(julianDate(QDateTime(QDate(2000, 1, 1), QTime(12, 0), QTimeZone::utc())), 2451545.0);
    EXPECT_DOUBLE_EQ(julianDate(QDateTime(QDate(2026, 12, 7), QTime(0, 0), QTimeZone::utc())), 2461381.5);
    // Local fields, not the UTC instant: 21:05 local in a UTC+1 summer zone is still JD .5 + 21:05.
    const QDateTime summer(QDate(2026, 7, 1), QTime(21, 5, 3), canary);
    EXPECT_NEAR(julianDate(summer), 2461222.5 + (21 * 3600 + 5 * 60 + 3) / 86400.0, 1e-9);
    EXPECT_THROW(julianDate(QDateTime()), HostError);
}

TEST(HostText, FormatsDates)
{
    const QTimeZone canary("Atlantic/Canary");
    const QString general = QStringLiteral("General Date");
    EXPECT_EQ(formatDate(QDateTime(QDate(2026, 12, 7), QTime(21, 5, 3), canary), general),
              QStringLiteral("12/7/2026 9:05:03 PM"));
    EXPECT_EQ(formatDate(QDateTime(QDate(2026, 1, 17), QTime(0, 0, 0), canary), general),
              QStringLiteral("1/17/2026 12:00:00 AM"));
    EXPECT_EQ(formatDate(QDateTime(QDate(2026, 1, 17), QTime(12, 59, 59), canary), general),
              QStringLiteral("1/17/2026 12:59:59 PM"));
    EXPECT_EQ(formatDate(QDateTime(QDate(2026, 1, 17), QTime(11, 0, 9), canary), general),
              QStringLiteral("1/17/2026 11:00:09 AM"));
    EXPECT_EQ(formatDate(QDateTime(QDate(2026, 4, 3), QTime(3, 10), canary), QStringLiteral("yyyymmdd")),
              QStringLiteral("20260403"));
    EXPECT_THROW(formatDate(QDateTime(QDate(2026, 4, 3), QTime(3, 10), canary), QStringLiteral("dd/mm/yyyy")),
                 HostError);
}
