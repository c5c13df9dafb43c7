#pragma once

#include <QString>

#include <optional>

namespace kestrove {

// A star the user names by its place, as a target's comp= and check= items give it:
// RA,DEC[,MAG[,LABEL]], right ascension in hours and declination in degrees, each sexagesimal or
// decimal as in a target line.
struct NamedStar
{
    double rightAscension = 0; // J2000 hours
    double declination = 0;    // J2000 degrees
    std::optional<double> magnitude;
    QString label;
};

// None when the text is not such a place.
std::optional<NamedStar> parseNamedStar(const QString& text);

} // namespace kestrove
