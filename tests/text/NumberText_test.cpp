#include "text/NumberText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <string>

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

// The text as the correctly rounded scientific form gives it, spelled out the slow way.
std::string reference(double value, int digits)
{
    if (std::isnan(value) || std::isinf(value) || value == 0)
        return std::isnan(value) ? "NaN" : std::isinf(value) ? (value < 0 ? "-Infinity" : "Infinity") : "0";
    char buffer[64];
    const char* begin = buffer;
    const char* end =
        std::to_chars(buffer, buffer + 64, std::fabs(value), std::chars_format::scientific, digits - 1).ptr;
    const char* e = std::find(begin, end, 'e');
    const int point = std::stoi(std::string(e + 1, end)) + 1;
    std::string mantissa = std::string(begin, 1) + std::string(std::min(begin + 2, e), e);
    mantissa.erase(std::max<size_t>(mantissa.find_last_not_of('0') + 1, 1));
    const size_t at = size_t(std::max(point, 0));
    mantissa.resize(std::max(mantissa.size(), at), '0');
    const std::string out =
        point <= 0 ? "0." + std::string(size_t(-point), '0') + mantissa
                   : mantissa.substr(0, at) + (at < mantissa.size() ? "." : "") + mantissa.substr(at);
    return value < 0 ? "-" + out : out;
}

TEST(NumberText, RoundsHalvesToEvenAndSpellsEdgesExactly)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const TextCase cases[] = {
        {1234567.5, "1234568", "1234567.5"},
        {1234568.5, "1234568", "1234568.5"},
        {9999999.5, "10000000", "9999999.5"},
        {0.01, "0.01", "0.01"}, // the float lies just below and carries into the next digit
        {1e-7, "0.0000001", "0.0000001"},
        {123456789, "123456800", "123456789"},
        {1e20, "100000000000000000000", "100000000000000000000"},
        {123456789012345.5, "123456800000000", "123456789012346"},
        {123456789012344.5, "123456800000000", "123456789012344"},
        {12345678901234.25, "12345680000000", "12345678901234.2"},
        {999999999999999.5, "1000000000000000", "1000000000000000"},
        {1.23456789012345678e-9, "0.000000001234568", "0.00000000123456789012346"},
        {nan, "NaN", "NaN"},
        {-nan, "NaN", "NaN"},
        {inf, "Infinity", "Infinity"},
        {-inf, "-Infinity", "-Infinity"},
    };
    for (const auto& c : cases) {
        const auto single = static_cast<float>(c.value);
        EXPECT_EQ(singleText(single), QLatin1StringView(c.single)) << c.single;
        EXPECT_EQ(singleChars(single).view(), QLatin1StringView(c.single)) << c.single;
        EXPECT_EQ(doubleText(c.value), QLatin1StringView(c.dbl)) << c.dbl;
        EXPECT_EQ(doubleChars(c.value).view(), QLatin1StringView(c.dbl)) << c.dbl;
    }
    EXPECT_EQ(doubleChars(-std::numeric_limits<double>::denorm_min()).size, 3 + 323 + 15);
}

// Random bit patterns cover every magnitude; log-uniform values keep the fast path busy; short binary
// mantissas make exact halves, where rounding to even shows.
TEST(NumberText, AgreesWithTheCorrectlyRoundedScientificForm)
{
    std::mt19937_64 random(20261208);
    std::uniform_int_distribution<int> exponent(-80, 80);
    const auto check = [](double d) {
        const auto f = static_cast<float>(d);
        ASSERT_EQ(singleChars(f).view(), QLatin1StringView(reference(f, 7))) << d;
        ASSERT_EQ(singleText(f), QLatin1StringView(reference(f, 7))) << d;
        ASSERT_EQ(doubleChars(d).view(), QLatin1StringView(reference(d, 15))) << d;
        ASSERT_EQ(doubleText(d), QLatin1StringView(reference(d, 15))) << d;
    };
    for (int i = 0; i < 100000; ++i) {
        const uint64_t bits = random();
        const double sign = (bits & 1) ? -1 : 1;
        check(std::bit_cast<double>(bits));
        check(std::bit_cast<float>(static_cast<uint32_t>(bits >> 32)));
        check(sign * std::ldexp(std::bit_cast<double>((bits >> 12) | 0x3ff0000000000000), exponent(random)));
        check(sign * std::ldexp(static_cast<double>(bits >> 40), exponent(random) / 2));
        if (HasFailure())
            break;
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
