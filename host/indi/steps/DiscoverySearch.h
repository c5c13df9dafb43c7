#pragma once

#include "host/indi/steps/FrameGrader.h"
#include "imaging/Candidates.h"
#include "imaging/FieldMagnitudes.h"
#include "imaging/Movers.h"

#include <QFutureWatcher>

#include <deque>
#include <functional>
#include <map>

namespace kestrove::database {
struct CandidateRecord;
struct MoverRecord;
} // namespace kestrove::database

namespace kestrove::indi {

// Looks for what changed in each accepted, solved supernova (SNe) and minor planet (MPS) frame. A
// frame's sources are found with SEP and placed on the sky through the plan's WCS in a worker
// thread, a frame at a time, on the calibrated file when there is one, else on the frame's own
// bytes; back on the survey's thread they are recorded in observations.sqlite. When a plan's
// frames are all in, the worker looks at them together: a supernova plan's against its target's
// reference (the user's "references/NAME.fits" in the observatory's folder, else the target's
// first accepted frame) for new sources seen in every frame, with cut-outs of each; a minor planet
// set's for sources that move. Each one found is recorded, logged and named by a "discovery"
// notification. Nothing waits on it.
class DiscoverySearch
{
public:
    explicit DiscoverySearch(StepContext& context);

    static bool wanted(const GradedFrame& graded);
    // Every graded frame of an SNe or MPS plan, so that a plan whose last frame was rejected is
    // still looked at once its frames are in.
    void add(const GradedFrame& graded, qint64 frameRecord);
    int pending() const { return static_cast<int>(m_queue.size()); }
    // Each frame's analysis, its worker's milliseconds.
    std::function<void(const QString& path, double milliseconds)> onAnalysed;

    // A frame as the search keeps it between the frames of its plan.
    struct Seen
    {
        QString path; // the file its sources were found on
        QDateTime utc;
        double exposure = 0;
        qint64 record = 0;
        imaging::SourceList sources;
        std::optional<imaging::ZeroPoint> zeroPoint;
    };
    // The worker's part of a frame, and of its plan when the frame closes it.
    struct Work
    {
        std::optional<FrameToGrade> frame; // none: the plan is closed by a frame not analysed
        std::vector<Seen> earlier;         // the plan's frames analysed before
        QString kind;
        QString target;
        imaging::SkyPoint place;
        QString referencePath; // the reference's file; empty: the plan's first frame becomes it
        std::vector<imaging::SkyPoint> bogus;
        imaging::DiscoverySettings settings;
        QString cutoutBase; // cut-outs' path less the candidate's number and suffix
        bool closesPlan = false;
    };
    struct Found
    {
        std::optional<Seen> frame;
        QString error;
        double milliseconds = 0;
        std::vector<imaging::Candidate> candidates;
        std::vector<QString> cutouts;
        std::vector<imaging::Mover> movers;
        std::vector<Seen> set;        // the frames the candidates' and movers' indexes refer to
        bool becameReference = false; // the frame is its target's first: the reference from now
    };
    // In a worker thread: touches nothing but its arguments.
    static Found work(const Work& work);

private:
    struct Job
    {
        FrameToGrade frame; // the plan's, and when `analyse` the frame to analyse
        bool analyse = false;
        qint64 record = 0;
        bool closesPlan = false; // for a minor planet set: closes the set
        QString set;             // the minor planet field whose set the frame is one of
        bool startsSet = false;
    };
    void next();
    void done(const Found& found);
    void recordCandidates(const Found& found, const FrameToGrade& plan);
    void recordMovers(const Found& found, const FrameToGrade& plan);
    QString referencePath(const QString& target) const;

    StepContext& m_context;
    std::deque<Job> m_queue; // the first is being worked on while the watcher runs
    QFutureWatcher<Found> m_watcher;
    // The plan whose frames are gathered: its number, how many of its frames were graded.
    qint64 m_plan = 0;
    int m_graded = 0;
    std::vector<Seen> m_set;
    // Each minor planet field's set so far.
    std::map<QString, std::vector<Seen>> m_sets;
    // Each supernova target's reference, once it has one this run.
    std::map<QString, QString> m_references;
    int m_moversTonight = 0;
    FrameToGrade m_lastFrame; // without its pixels: the plan a closing job belongs to
};

} // namespace kestrove::indi
