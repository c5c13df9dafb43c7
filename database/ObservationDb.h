#pragma once

#include "database/Discoveries.h"
#include "imaging/FrameGrade.h"
#include "imaging/MasterFrame.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace kestrove::database {

// "observations.sqlite" in the log folder.
QString observationsPath(const QString& logDir);

// One plan as the observatory ran it; its counts grow with each frame recorded.
struct PlanRecord
{
    qint64 id = 0;
    QString kind; // the survey kind, "SNe", "MPS", "MPF", "SLC"
    QString target;
    QDateTime startUtc;
    QDateTime endUtc; // invalid until the plan is finished
    QString result;   // what history.csv says of it; empty until finished
    int frames = 0;
    int accepted = 0;
};

// One frame taken, with its measurement and grade.
struct FrameRecord
{
    qint64 id = 0;     // given when recorded
    qint64 planId = 0; // 0: taken outside a plan (a test frame)
    QString target;
    QString kind; // the plan's survey kind, or what else took it ("test")
    QDateTime utc;
    QString filter;
    double exposure = 0; // seconds
    int binning = 1;
    QString path;
    imaging::FrameMeasurement measurement;
    bool accepted = false;
    QString reason; // why it was rejected; empty when accepted
};

// A star of a lightcurve point as measured in its frame: its instrumental magnitude, -2.5 log10 of
// its flux, so that the night can be solved again as a whole.
struct InstrumentalMagnitude
{
    enum class Role
    {
        Target,
        Check,
        Comparison
    };
    Role role = Role::Comparison;
    QString star;                    // the target's name, or the star's
    std::optional<double> magnitude; // none: not usable in the frame
    std::optional<double> error;
    std::optional<double> reference; // a comparison's reference magnitude as the frame used it

    bool operator==(const InstrumentalMagnitude&) const = default;
};

// A master calibration frame in the calibration library.
struct MasterRecord
{
    qint64 id = 0; // given when recorded
    imaging::MasterSetting setting;
    QDateTime utc;  // when it was made
    int frames = 0; // how many were combined
    QString path;
};

// One frame's point of a target's lightcurve: the target's and check star's magnitudes against the
// comparison ensemble.
struct LightcurvePoint
{
    qint64 id = 0;      // given when recorded
    qint64 frameId = 0; // its frame's row
    QString target;
    QString filter;
    QDateTime utc;     // mid-exposure
    double bjdTdb = 0; // the same instant as the barycentric Julian date in TDB
    double magnitude = 0;
    double error = 0;
    std::optional<double> airmass;
    bool standard = false; // on the comparisons' catalogue scale; else a difference from the ensemble
    QString comparisons;   // the ensemble's stars, named by their places, ';' between them
    QString check;         // the check star's name; empty: none
    std::optional<double> checkMagnitude;
    std::optional<double> checkError;
    // Every star as measured in the frame; recorded with the point, read by instrumentalMagnitudes.
    std::vector<InstrumentalMagnitude> instrumental;
};

// The record of every frame and plan, in SQLite through Qt SQL. Each frame is written in a
// transaction of its own together with its plan's counts, in WAL mode with full syncs, so a kill
// loses at most the frame being written. Each instance has a connection of its own, used on the
// thread that made it. Every failure throws DatabaseError naming the file.
class ObservationDb
{
public:
    // The schema's version, kept in PRAGMA user_version; older files are brought up to it.
    static constexpr int schemaVersion = 5;

    enum class Access
    {
        Write, // the observatory's: creates the file and brings its schema up to date
        Read   // a reader's (the report, the web page, the window): never creates, and writes only to
               // bring an older file's schema up to date
    };

    // Opens the file; to write, creating it and its folder if needed.
    explicit ObservationDb(const QString& path, Access access = Access::Write);
    ~ObservationDb();
    ObservationDb(const ObservationDb&) = delete;
    ObservationDb& operator=(const ObservationDb&) = delete;

    const QString& path() const { return m_path; }

    // Starts a plan's record; returns its id.
    qint64 startPlan(const QString& kind, const QString& target, const QDateTime& startUtc);
    // Records a frame and counts it in its plan; returns its id.
    qint64 addFrame(const FrameRecord& frame);
    // Sets a plan's end and result; returns the plan with its counts.
    PlanRecord finishPlan(qint64 planId, const QDateTime& endUtc, const QString& result);

    // Records a frame's lightcurve point with its stars' instrumental magnitudes; returns its id.
    qint64 addLightcurvePoint(const LightcurvePoint& point);

    std::optional<PlanRecord> plan(qint64 planId) const;
    // The measurements of the latest `count` accepted frames of a target in a filter, newest first:
    // the reference its next frame is graded against. Test frames, of another exposure and binning,
    // are none of them.
    std::vector<imaging::FrameMeasurement> acceptedFrames(const QString& target, const QString& filter,
                                                          int count) const;
    // Frames taken, and plans started, from `fromUtc` up to but not including `toUtc`, oldest first.
    std::vector<FrameRecord> frames(const QDateTime& fromUtc, const QDateTime& toUtc) const;
    std::vector<PlanRecord> plans(const QDateTime& fromUtc, const QDateTime& toUtc) const;
    // Lightcurve points of frames taken from `fromUtc` up to but not including `toUtc`, of one
    // target or, when `target` is null, of every target; oldest first.
    std::vector<LightcurvePoint> lightcurvePoints(const QDateTime& fromUtc, const QDateTime& toUtc,
                                                  const QString& target = QString()) const;

    // Reads each point's stars' instrumental magnitudes into it.
    void instrumentalMagnitudes(std::vector<LightcurvePoint>& points) const;
    qint64 addMaster(const MasterRecord& master);
    // The newest master made from `notBeforeUtc` to `notAfterUtc` for frames of the setting: a dark
    // of the exposure, a bias, a flat of the filter; each of the binning and, within a degree, the
    // set temperature.
    std::optional<MasterRecord> newestMaster(const imaging::MasterSetting& wanted,
                                             const QDateTime& notBeforeUtc,
                                             const QDateTime& notAfterUtc) const;
    // Masters made from `fromUtc` up to but not including `toUtc`, oldest first.
    std::vector<MasterRecord> masters(const QDateTime& fromUtc, const QDateTime& toUtc) const;

    // The search for new and moving sources (DiscoveryTable.cpp). Each write is one transaction.
    // Records the sources of a frame.
    void addDetections(qint64 frameId, const std::vector<DetectionRecord>& detections);
    std::vector<DetectionRecord> detections(qint64 frameId) const;
    // Records a candidate or a mover; returns its id.
    qint64 addCandidate(const CandidateRecord& candidate);
    qint64 addMover(const MoverRecord& mover);
    // Candidates and movers first seen from `fromUtc` up to but not including `toUtc`, oldest first.
    std::vector<CandidateRecord> candidates(const QDateTime& fromUtc, const QDateTime& toUtc) const;
    std::vector<MoverRecord> movers(const QDateTime& fromUtc, const QDateTime& toUtc) const;
    // Every candidate ever raised in a target's field, oldest first: the bogus ones are not raised
    // again, the others are known.
    std::vector<CandidateRecord> candidatesOf(const QString& target) const;
    // The file of a target's first accepted frame of a kind; empty when there is none.
    QString firstFramePath(const QString& target, const QString& kind) const;
    std::optional<CandidateRecord> candidate(qint64 candidateId) const;
    // What a person made of a candidate; false when there is no such candidate.
    bool markCandidate(qint64 candidateId, CandidateStatus status);

private:
    void addInstrumentalMagnitudes(qint64 pointId, const std::vector<InstrumentalMagnitude>& stars);
    void migrate();
    // The file's schema version; throws on one newer than this program's.
    int checkVersion();

    QString m_path;
    QString m_connection;
};

} // namespace kestrove::database
