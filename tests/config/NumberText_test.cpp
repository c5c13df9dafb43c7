#include "config/NumberText.h"

#include <gtest/gtest.h>

namespace kestrove {
namespace {

struct TextCase
{
    double value;
    const char* single;
    const char* dbl;
};

TEST(NumberText, WritesPlainDecimalWithoutTrailingZeros)
{
    const TextCase cases[] = {
        {0, "0", "0"},
        {90, "90", "90"},
        {2.5, "2.5", "2.5"},
        {-1.25, "-1.25", "-1.25"},
        {0.1, "0.1", "0.1"},
        {1e-5, "0.00001", "0.00001"},
        {12345678, "12345680", "12345678"},
        {2461016.123456789, "2461016", "2461016.12345679"},
        {1.0 / 3.0, "0.3333333", "0.333333333333333"},
        {-0.0, "0", "0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(singleText(static_cast<float>(c.value)), QString::fromLatin1(c.single)) << c.value;
        EXPECT_EQ(doubleText(c.value), QString::fromLatin1(c.dbl)) << c.value;
    }
}

TEST(NumberText, SingleTextReadsBackToTheSameFloat)
{
    for (float v : {0.2833333f, 1.234567f, 47.0f, -3.5e-3f, 123456.7f}) {
        const auto back = parseNumber(singleText(v));
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(static_cast<float>(*back), v);
    }
}

TEST(NumberText, ParsesOnlyDecimalNumbers)
{
    EXPECT_EQ(parseNumber(QStringLiteral("2.5")), 2.5);
    EXPECT_EQ(parseNumber(QStringLiteral(" -3 ")), -3.0);
    EXPECT_EQ(parseNumber(QStringLiteral("1e3")), 1000.0);
    EXPECT_FALSE(parseNumber(QStringLiteral("")).has_value());
    EXPECT_FALSE(parseNumber(QStringLiteral("abc")).has_value());
    EXPECT_FALSE(parseNumber(QStringLiteral("0x10")).has_value());
    EXPECT_FALSE(parseNumber(QStringLiteral("inf")).has_value());
    EXPECT_FALSE(parseNumber(QStringLiteral("1,5")).has_value());
    EXPECT_FALSE(parseNumber(QStringLiteral("2.5x")).has_value());
    EXPECT_EQ(parseNumber(QStringLiteral("+5")), 5.0);
    EXPECT_EQ(parseNumber(QStringLiteral(".5")), 0.5);
    EXPECT_EQ(parseNumber(QStringLiteral("5.")), 5.0);
    EXPECT_EQ(parseNumber(QStringLiteral("-0.25e-2")), -0.0025);
    EXPECT_FALSE(parseNumber(QStringLiteral("-")).has_value());
    EXPECT_FALSE(parseNumber(QStringLiteral("+-5")).has_value());
    EXPECT_FALSE(parseNumber(QStringLiteral("--5")).has_value());
    EXPECT_FALSE(parseNumber(QStringLiteral("1e")).has_value());
    EXPECT_FALSE(parseNumber(QStringLiteral("1e999")).has_value());
    EXPECT_FALSE(parseNumber(QStringLiteral("5 5")).has_value());
    EXPECT_EQ(parseNumber(QStringLiteral("0.") + QString(80, QLatin1Char('5'))), 0.5555555555555556);
}

TEST(NumberText, RoundsIntegersHalvesToEvenWithin16Bits)
{
    EXPECT_EQ(roundToInt16(2.5), 2);
    EXPECT_EQ(roundToInt16(3.5), 4);
    EXPECT_EQ(roundToInt16(-2.5), -2);
    EXPECT_EQ(roundToInt16(2.6), 3);
    EXPECT_EQ(roundToInt16(32767.4), 32767);
    EXPECT_FALSE(roundToInt16(32767.5).has_value());
    EXPECT_EQ(roundToInt16(-32768.0), -32768);
    EXPECT_FALSE(roundToInt16(-32769.0).has_value());
    EXPECT_EQ(parseInt16(QStringLiteral("250")), 250);
    EXPECT_FALSE(parseInt16(QStringLiteral("40000")).has_value());
    EXPECT_FALSE(parseInt16(QStringLiteral("x")).has_value());
}

} // namespace
} // namespace kestrove
