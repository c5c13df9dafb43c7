#include "text/NumberText.h"

#include <QVarLengthArray>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

namespace kestrove {

namespace {

constexpr int maxExactPower = 22; // 10^22 is the largest power of ten a double holds exactly

constexpr double powersOfTen[maxExactPower + 1] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

constexpr char twoDigits[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the `count` digits of n, leading zeros included, ending at `end`.
void writeDigits(char* end, uint32_t n, int count)
{
    for (; count >= 2; count -= 2) {
        end -= 2;
        std::memcpy(end, twoDigits + 2 * (n % 100), 2);
        n /= 100;
    }
    if (count == 1)
        end[-1] = static_cast<char>('0' + n);
}

// Copies at most 16 characters as one fixed block, which needs no call: both sides leave room.
char* copyDigits(char* to, const char* from, int count)
{
    std::memcpy(to, from, 16);
    return to + count;
}

// Writes a sign, significant digits without trailing zeros and the count of digits before the
// decimal point as plain text: no exponent, no trailing point.
void spell(NumberChars& out, bool negative, const char* digits, int count, int pointAfter)
{
    char* p = out.text;
    if (negative)
        *p++ = '-';
    if (pointAfter <= 0) {
        *p++ = '0';
        *p++ = '.';
        p = std::fill_n(p, -pointAfter, '0');
        p = copyDigits(p, digits, count);
    } else if (pointAfter >= count) {
        p = copyDigits(p, digits, count);
        p = std::fill_n(p, pointAfter - count, '0');
    } else {
        p = copyDigits(p, digits, pointAfter);
        *p++ = '.';
        p = copyDigits(p, digits + pointAfter, count - pointAfter);
    }
    out.size = static_cast<int>(p - out.text);
}

void spellLiteral(NumberChars& out, std::string_view text)
{
    std::copy(text.begin(), text.end(), out.text);
    out.size = static_cast<int>(text.size());
}

// Rounds a positive magnitude to `digits` significant digits, exactly as the correctly rounded
// scientific form does (halves to even on the binary value), into the integer n of `digits` digits
// and the decimal exponent of its first digit. The product with an exact power of ten is held
// exactly as hi + lo, which decides the rounding. False outside those powers' reach.
bool roundShort(double magnitude, int digits, uint64_t& n, int& exponent)
{
    const int binary = static_cast<int>((std::bit_cast<uint64_t>(magnitude) >> 52) & 0x7ff) - 1023;
    // floor(binary * log10(2)): the decimal exponent or one below it. A subnormal lands far out of reach.
    int k = std::max((binary * 78913) >> 18, digits - 1 - maxExactPower);
    const double lowest = powersOfTen[digits - 1];
    const double beyond = powersOfTen[digits];
    for (int attempt = 0; attempt < 2; ++attempt, ++k) {
        const int p = digits - 1 - k;
        if (p < 0)
            return false;
        const double scale = powersOfTen[p];
        const double hi = magnitude * scale;
        if (hi >= beyond)
            continue;
        if (hi < lowest)
            return false;
        const double lo = std::fma(magnitude, scale, -hi);
        // 0 < hi < 2^53: truncation is the floor, and the fraction less one half is exact.
        n = static_cast<uint64_t>(static_cast<int64_t>(hi));
        const double aboveHalf = (hi - static_cast<double>(static_cast<int64_t>(n))) - 0.5;
        if (aboveHalf > -lo || (aboveHalf == -lo && (n & 1) != 0))
            ++n;
        if (n == static_cast<uint64_t>(static_cast<int64_t>(beyond))) {
            n /= 10;
            ++k;
        }
        exponent = k;
        return true;
    }
    return false;
}

// The plain text of a value rounded to `digits` significant digits.
NumberChars plainDecimal(double value, int digits)
{
    NumberChars out;
    if (std::isnan(value)) {
        spellLiteral(out, "NaN");
        return out;
    }
    if (std::isinf(value)) {
        spellLiteral(out, value < 0 ? "-Infinity" : "Infinity");
        return out;
    }
    if (value == 0) {
        spellLiteral(out, "0");
        return out;
    }
    const bool negative = value < 0;
    const double magnitude = std::fabs(value);

    char significant[2 * 16] = {}; // digits, and room for copyDigits to read a block past any of them
    int count = 0;
    int exponent = 0;
    uint64_t n = 0;
    if (roundShort(magnitude, digits, n, exponent)) {
        count = digits;
        // In 32-bit halves: dividing those by constants is cheaper.
        if (digits > 8) {
            writeDigits(significant + digits, static_cast<uint32_t>(n % 100000000), 8);
            writeDigits(significant + digits - 8, static_cast<uint32_t>(n / 100000000), digits - 8);
        } else {
            writeDigits(significant + digits, static_cast<uint32_t>(n), digits);
        }
    } else {
        // Very large or very small magnitudes: the scientific form, d.ddde[+-]xx, read back.
        char buffer[48];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude,
                                          std::chars_format::scientific, digits - 1);
        const char* c = buffer;
        for (; *c != 'e'; ++c)
            if (*c != '.')
                significant[count++] = *c;
        ++c;
        const bool negativeExponent = *c == '-';
        for (++c; c != result.ptr; ++c)
            exponent = exponent * 10 + (*c - '0');
        if (negativeExponent)
            exponent = -exponent;
    }
    while (count > 1 && significant[count - 1] == '0')
        --count;
    spell(out, negative, significant, count, exponent + 1);
    return out;
}

QString toText(const NumberChars& chars)
{
    return QString::fromLatin1(chars.text, chars.size);
}

} // namespace

NumberChars singleChars(float value)
{
    return plainDecimal(static_cast<double>(value), 7);
}

NumberChars doubleChars(double value)
{
    return plainDecimal(value, 15);
}

QString singleText(float value)
{
    return toText(singleChars(value));
}

QString doubleText(double value)
{
    return toText(doubleChars(value));
}

QString integerText(int value)
{
    return QString::number(value);
}

std::optional<double> parseNumber(const QString& text)
{
    // Targets files hold hundreds of thousands of numbers: read them without allocating.
    QVarLengthArray<char, 64> buffer;
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).isSpace())
        ++first;
    while (last > first && text.at(last - 1).isSpace())
        --last;
    if (first == last)
        return std::nullopt;
    for (qsizetype i = first; i < last; ++i) {
        const char16_t c = text.at(i).unicode();
        // from_chars alone would also take "inf" and "nan"; only decimal text is a number here.
        const bool allowed =
            (c >= u'0' && c <= u'9') || c == u'.' || c == u'-' || c == u'+' || c == u'e' || c == u'E';
        if (!allowed)
            return std::nullopt;
        buffer.append(static_cast<char>(c));
    }
    const char* begin = buffer.constData();
    const char* end = begin + buffer.size();
    bool negative = false;
    if (begin != end && (*begin == '+' || *begin == '-')) {
        negative = *begin == '-';
        ++begin;
    }
    if (begin == end || *begin == '+' || *begin == '-')
        return std::nullopt;
    double value = 0;
    const auto result = std::from_chars(begin, end, value, std::chars_format::general);
    if (result.ec != std::errc() || result.ptr != end || !std::isfinite(value))
        return std::nullopt;
    return negative ? -value : value;
}

std::optional<int16_t> roundToInt16(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = std::nearbyint(value); // the default rounding mode sends halves to even
    if (rounded < -32768.0 || rounded > 32767.0)
        return std::nullopt;
    return static_cast<int16_t>(rounded);
}

std::optional<int16_t> parseInt16(const QString& text)
{
    const auto value = parseNumber(text);
    if (!value)
        return std::nullopt;
    return roundToInt16(*value);
}

} // namespace kestrove
