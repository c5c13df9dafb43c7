#pragma once

#include "database/ObservationDb.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

namespace kestrove {

// One observation of a variable star, as the AAVSO extended file format reports it. A text left
// empty and a number not known are written "na".
struct AavsoObservation
{
    QString starId;        // the AAVSO designation, name or unique identifier
    double julianDate = 0; // mid-exposure, UTC
    double magnitude = 0;
    bool fainterThan = false; // the magnitude is a limit
    std::optional<double> error;
    QString filter;            // the format's code: aavsoFilter
    bool transformed = false;  // to a standard system
    bool differential = false; // a difference from the comparison star, not a standard magnitude
    QString comparison;        // its label or AUID, or "ENSEMBLE"
    std::optional<double> comparisonMagnitude; // instrumental; none for an ensemble
    QString check;
    std::optional<double> checkMagnitude; // instrumental
    std::optional<double> airmass;
    QString group; // observations in several filters of one instant share it
    QString chart; // the comparison sequence's identifier
    QString notes;
};

struct AavsoFileOptions
{
    QString observerCode;
    QString software;
    int dateDecimals = 5; // a tenth of a day's millionth: under a second
};

// A night's observations as an AAVSO extended file, ready to submit: the six parameter lines
// (dates as JD, the format's first choice; the barycentric dates stay in Kestrove's own files),
// the column names as a comment, then a line per observation. The delimiter is the first of
// , ; ! | that no field holds, as the format asks; line breaks in notes become blanks and notes are
// cut to the format's 100 characters.
QByteArray aavsoExtendedFile(const QList<AavsoObservation>& observations, const AavsoFileOptions& options);

// The format's code for a filter as a camera's wheel names it ("V", "Rc", "Red", "Luminance",
// "r'"...): the Johnson-Cousins and Sloan letters, the tricolour ones, "CV" for clear or none, "O"
// (other) for what the format has no code for.
QString aavsoFilter(const QString& filter);

// A night's lightcurve points as observations: the time of mid-exposure as JD (the barycentric date
// goes into the notes), the magnitude against the ensemble, differential unless the comparisons
// had catalogue magnitudes, the check star by its place.
QList<AavsoObservation> aavsoObservations(const std::vector<database::LightcurvePoint>& points);

// "aavso.txt" of a night's report: its points made out to the observer code, by Kestrove.
QByteArray nightAavsoFile(const std::vector<database::LightcurvePoint>& points, const QString& observerCode);

} // namespace kestrove
