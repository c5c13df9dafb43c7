#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace kestrove {

// The characters of a number's plain decimal text, held without allocating: lines that carry several
// numbers put view() into a QStringBuilder chain and so cost one allocation in all.
struct NumberChars
{
    // The longest text, a double's smallest subnormal, is "-0.", 323 zeros and 15 digits; the rest
    // lets the digits be copied in fixed blocks.
    static constexpr int capacity = 360;

    char text[capacity];
    int size = 0;

    QLatin1StringView view() const { return QLatin1StringView(text, size); }
};

// Plain decimal text of a 32-bit value: at most 7 significant digits, no exponent, no trailing
// zeros and no trailing point (90 -> "90", 2.5 -> "2.5").
QString singleText(float value);
// The same for 64-bit values, with at most 15 significant digits.
QString doubleText(double value);
// The same texts as singleText and doubleText, without allocating.
NumberChars singleChars(float value);
NumberChars doubleChars(double value);
// Decimal text of an integer.
QString integerText(int value);

// Reads a decimal number written with a point: optional sign, digits, optional fraction, optional
// exponent; surrounding blanks are allowed. Returns nothing for anything else.
std::optional<double> parseNumber(const QString& text);

// Rounds to the nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4); nothing when
// the result lies outside the 16-bit range or the value is not finite.
std::optional<int16_t> roundToInt16(double value);

// Both steps at once: what the host's integer conversion of typed text does.
std::optional<int16_t> parseInt16(const QString& text);

} // namespace kestrove
