#include "config/NumberText.h"

#include <gtest/gtest.h>

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
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value < 0 ? "-Infinity" : "Infinity";
    if (value == 0)
        return "0";
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                   std::chars_format::scientific, digits - 1).ptr;
    const std::string text(buffer, end);
    const auto e = text.find('e');
    const int point = std::stoi(text.substr(e + 1)) + 1;
    std::string mantissa = text.substr(0, 1) + (e > 1 ? text.substr(2, e - 2) : "");
    mantissa.erase(std::max<size_t>(mantissa.find_last_not_of('0') + 1, 1));
    std::string out;
    if (point <= 0)
        out = "0." + std::string(size_t(-point), '0') + mantissa;
    else if (size_t(point) >= mantissa.size())
        out = mantissa + std::string(size_t(point) - mantissa.size(), '0');
    else
        out = mantissa.substr(0, size_t(point)) + "." + mantissa.substr(size_t(point));
    return value < 0 ? "-" + out : out;
}

struct ExactCase
{
    double value;
    const char* text;
};

TEST(NumberText, RoundsHalvesToEvenAndSpellsEdgesExactly)
{
    const ExactCase singles[] = {
        {1234567.5f, "1234568"},
        {1234568.5f, "1234568"},
        {0.5f, "0.5"},
        {2.5f, "2.5"},
        {9999999.5f, "10000000"},
        {0.1f, "0.1"},
        {1e-7f, "0.0000001"},
        {123456789.0f, "123456800"},
        {-123456789.0f, "-123456800"},
        {1e20f, "100000000000000000000"},
        {std::numeric_limits<float>::denorm_min(), "0.000000000000000000000000000000000000000000001401298"},
        {-0.0f, "0"},
        {std::numeric_limits<float>::quiet_NaN(), "NaN"},
        {-std::numeric_limits<float>::quiet_NaN(), "NaN"},
        {std::numeric_limits<float>::infinity(), "Infinity"},
        {-std::numeric_limits<float>::infinity(), "-Infinity"},
    };
    for (const auto& c : singles) {
        const auto value = static_cast<float>(c.value);
        EXPECT_EQ(singleText(value), QLatin1StringView(c.text)) << c.text;
        EXPECT_EQ(singleChars(value).view(), QLatin1StringView(c.text)) << c.text;
    }
    const ExactCase doubles[] = {
        {123456789012345.5, "123456789012346"},
        {123456789012344.5, "123456789012344"},
        {12345678901234.25, "12345678901234.2"},
        {999999999999999.5, "1000000000000000"},
        {999999999999999.0, "999999999999999"},
        {1e15, "1000000000000000"},
        {1e15 + 2, "1000000000000000"},
        {1e20, "100000000000000000000"},
        {1e-8, "0.00000001"},
        {1e-9, "0.000000001"},
        {9.9999999999999995e-9, "0.00000001"},
        {1.23456789012345678e-9, "0.00000000123456789012346"},
        {std::nextafter(1e-8, 0.0), "0.00000001"},
        {-std::numeric_limits<double>::infinity(), "-Infinity"},
    };
    for (const auto& c : doubles) {
        EXPECT_EQ(doubleText(c.value), QLatin1StringView(c.text)) << c.text;
        EXPECT_EQ(doubleChars(c.value).view(), QLatin1StringView(c.text)) << c.text;
    }
    const auto longest = doubleChars(-std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(longest.view().size(), 3 + 323 + 15);
    EXPECT_EQ(longest.view(), QLatin1StringView(reference(-std::numeric_limits<double>::denorm_min(), 15)));
}

// Random bit patterns cover every magnitude; log-uniform values around one keep the fast path busy;
// short binary mantissas make exact halves, where rounding to even shows.
TEST(NumberText, AgreesWithTheCorrectlyRoundedScientificForm)
{
    std::mt19937_64 random(20261208);
    std::uniform_int_distribution<int> exponent(-80, 80);
    std::uniform_int_distribution<uint64_t> shortMantissa(1, (1u << 24) - 1);
    const auto check = [](double d, float f) {
        const std::string single = reference(f, 7);
        ASSERT_EQ(singleChars(f).view(), QLatin1StringView(single)) << single;
        ASSERT_EQ(singleText(f), QLatin1StringView(single)) << single;
        const std::string dbl = reference(d, 15);
        ASSERT_EQ(doubleChars(d).view(), QLatin1StringView(dbl)) << dbl;
        ASSERT_EQ(doubleText(d), QLatin1StringView(dbl)) << dbl;
    };
    for (int i = 0; i < 100000; ++i) {
        const uint64_t bits = random();
        check(std::bit_cast<double>(bits), std::bit_cast<float>(static_cast<uint32_t>(bits >> 32)));
        const double wide = std::ldexp(std::bit_cast<double>((bits >> 12) | 0x3ff0000000000000), exponent(random));
        const double signedWide = (bits & 1) ? -wide : wide;
        check(signedWide, static_cast<float>(signedWide));
        const double half = std::ldexp(static_cast<double>(shortMantissa(random)), exponent(random) / 2);
        check((bits & 2) ? -half : half, static_cast<float>((bits & 2) ? -half : half));
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
