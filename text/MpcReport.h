#pragma once

#include <QChar>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace kestrove {

// One position of a minor planet as the Minor Planet Center's 80-column observation record holds it.
struct MpcObservation
{
    QString designation;       // the observer's temporary one for an unknown object: columns 6-12
    bool discovery = false;    // column 13: the one asterisked observation of a new object
    QChar note1 = u' ';        // column 14
    QChar note2 = u'C';        // column 15: how it was observed, C for a CCD
    QDateTime utc;             // mid-exposure
    double rightAscension = 0; // J2000 degrees
    double declination = 0;
    std::optional<double> magnitude;
    QChar band = u'V';
    QString observatory; // the MPC's code of the site, [report] mpcCode: columns 78-80
};

// The 80 columns of one observation: the date to 0.00001 day, the right ascension to 0.01 s, the
// declination to 0.1", the magnitude to 0.1 with its band (blank without one).
QString mpcObservationLine(const MpcObservation& observation);

// A temporary designation for a new object: "KV", the day of the year of `night` and the object's
// number that night in base 36 (six characters for the first 36, seven after).
QString temporaryDesignation(const QDate& night, int index);

// The header lines that tell the MPC who observed and how; empty ones are left out.
struct MpcHeader
{
    QString observatory; // COD
    QString observers;   // OBS
    QString measurers;   // MEA
    QString telescope;   // TEL
    QString catalogue;   // NET: the catalogue the positions were reduced with
};

// A block of observations ready to be checked and sent: the header, then a line each, LF-ended.
QString mpcReport(const MpcHeader& header, const QList<MpcObservation>& observations);

} // namespace kestrove
