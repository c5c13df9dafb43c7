#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

namespace kestrove::database {

// One source SEP found in an accepted frame, placed on the sky.
struct DetectionRecord
{
    qint64 frameId = 0;
    double ra = 0; // J2000 degrees
    double dec = 0;
    double x = 0; // 0-based pixel centre
    double y = 0;
    double flux = 0;
    double fluxError = 0;
    double snr = 0;
    std::optional<double> magnitude;
    double fwhm = 0; // pixels
    bool saturated = false;
    bool atEdge = false;
    bool blended = false;
};

// What a person made of a candidate. A bogus one is not raised again at its place.
enum class CandidateStatus
{
    New,
    Real,
    Bogus
};

QString statusText(CandidateStatus status);
// "new", "real" or "bogus", any case; nullopt for anything else.
std::optional<CandidateStatus> statusOf(const QString& text);

// A new source in a galaxy's field, seen in every frame of a plan and not in the reference.
struct CandidateRecord
{
    qint64 id = 0; // given when recorded
    qint64 planId = 0;
    QString target;
    QDateTime utc; // its first frame's
    double ra = 0; // J2000 degrees
    double dec = 0;
    std::optional<double> magnitude; // on the field stars' scale
    double snr = 0;                  // the lowest of its frames'
    QList<qint64> frameIds;          // the frames that show it
    CandidateStatus status = CandidateStatus::New;
    QString cutouts; // the cut-outs' path less "-reference.png", "-new.png", "-difference.png"
};

// One place of a mover, as a frame shows it.
struct MoverPosition
{
    QDateTime utc; // mid-exposure
    double ra = 0; // J2000 degrees
    double dec = 0;
    std::optional<double> magnitude;
};

// A source moving straight and uniformly across a set of frames of one field.
struct MoverRecord
{
    qint64 id = 0; // given when recorded
    qint64 planId = 0;
    QString target;
    QDateTime utc;        // its first position's
    double rate = 0;      // arcseconds a minute
    double direction = 0; // position angle, degrees east of north
    double residual = 0;  // arcseconds, the largest off its path
    std::optional<double> magnitude;
    std::vector<MoverPosition> positions; // in time order
    QString designation;                  // the temporary one its observation block uses
    QString mpcReport;                    // the 80-column block, header and lines
};

} // namespace kestrove::database
