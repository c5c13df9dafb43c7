#include "config/NumberText.h"

#include <QVarLengthArray>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace kestrove {

namespace {

// Rounds to `digits` significant digits through the correctly rounded scientific form, then spells the
// result out without an exponent.
QString plainDecimal(double value, int digits)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-Infinity") : QStringLiteral("Infinity");
    if (value == 0)
        return QStringLiteral("0");

    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, digits - 1);
    // buffer: [-]d.ddddde[+-]xx
    std::string text(buffer, result.ptr);
    const bool negative = text[0] == '-';
    if (negative)
        text.erase(0, 1);
    const auto ePos = text.find('e');
    const int exponent = std::atoi(text.c_str() + ePos + 1);
    std::string mantissa;
    for (size_t i = 0; i < ePos; ++i)
        if (text[i] != '.')
            mantissa += text[i];
    while (mantissa.size() > 1 && mantissa.back() == '0')
        mantissa.pop_back();

    std::string out;
    const int pointAfter = exponent + 1; // digits before the decimal point
    if (pointAfter <= 0) {
        out = "0." + std::string(static_cast<size_t>(-pointAfter), '0') + mantissa;
    } else if (static_cast<size_t>(pointAfter) >= mantissa.size()) {
        out = mantissa + std::string(static_cast<size_t>(pointAfter) - mantissa.size(), '0');
    } else {
        out = mantissa.substr(0, static_cast<size_t>(pointAfter)) + "." +
              mantissa.substr(static_cast<size_t>(pointAfter));
    }
    if (negative)
        out.insert(0, 1, '-');
    return QString::fromLatin1(out.data(), static_cast<qsizetype>(out.size()));
}

} // namespace

QString singleText(float value)
{
    return plainDecimal(static_cast<double>(value), 7);
}

QString doubleText(double value)
{
    return plainDecimal(value, 15);
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
