#pragma once

#include "host/indi/steps/PlanStep.h"
#include "imaging/FrameGrade.h"
#include "imaging/MasterFrame.h"

#include <QByteArray>
#include <QDateTime>
#include <QFutureWatcher>

#include <deque>
#include <functional>
#include <optional>

namespace kestrove::indi {

// A saved frame waiting for its grade: what its record holds, and the frame as the camera sent it.
struct FrameToGrade
{
    qint64 plan = 0;       // the executor's number of the plan that took it
    qint64 planRecord = 0; // the plan's row in observations.sqlite; 0: none
    bool test = false;     // the test frame of a pause for clouds: only the floor grades it
    QString target;
    QString kind; // the survey kind, or "test"
    QString filter;
    QString path; // empty: the frame is not kept
    QDateTime utc;
    double exposure = 0;
    int binning = 1;
    std::optional<imaging::Wcs> wcs;           // the plan's last solve, carried to this frame
    std::vector<imaging::FieldStar> catalogue; // the index's stars the solve found in the field
    int planFrames = 1;                        // the frames the plan takes
    int setImage = 0; // a minor planet field's image of its set, which plans of one frame each take
    int setSize = 0;  // 0: not one of a set
    Equatorial aimed;
    QByteArray fits;
    // The plan's named comparison and check stars; none: chosen from the frame.
    std::vector<NamedStar> comparisons;
    std::optional<NamedStar> check;
    // The masters that calibrate the frame into "-cal.fits" beside it, which is then what is
    // measured; none: the raw frame is measured.
    std::optional<imaging::FrameCalibration> calibration;
};

// A frame graded, as told to the database, the acquisition log and the host.
struct GradedFrame
{
    FrameToGrade frame; // without its pixels, but those of a frame measured further (keepsPixels)
    imaging::FrameMeasurement measurement;
    imaging::FrameGrade grade;
    QString error;      // why it could not be measured: it is then not recorded, and counts as accepted
    qint64 record = 0;  // its row in observations.sqlite; 0: none
    QString calibrated; // the calibrated frame's path; empty: none
    QString calibrationError;
};

// What the frames of the plan under way have come to so far.
struct PlanGrades
{
    int frames = 0;
    int accepted = 0;
    QString rejection; // the last rejection's reason
    QString soft;      // the last reason of a frame rejected for its HFR: the next plan refocuses
};

// Grades each saved frame. Its stars, median HFR, sky level and noise are measured in a worker
// thread on the frame's own bytes, so that the survey's thread never waits on them; back on the
// survey's thread the measurement is graded against the target's latest accepted frames in the
// same filter, recorded in observations.sqlite (a transaction per frame) and told to the
// acquisition log. Frames are measured one at a time, in the order they came. At a plan's end the
// executor waits on the grader until the plan's frames are graded; a plan's frames still measured
// after it ended early are recorded all the same.
class FrameGrader : public PlanStep
{
public:
    // Stars measured per frame. detectStars keeps the brightest; a field richer than the limit
    // reads as the limit, and a cloud is then seen only once it takes the count below the star
    // fraction of it: 1000 still tells one that leaves 400 stars from one that leaves none, and
    // costs a few milliseconds of HFR beyond 200.
    static constexpr int maxStars = 1000;

    explicit FrameGrader(StepContext& context);

    // Whether a frame's pixels go on past its grade: a solved lightcurve, supernova or minor planet
    // survey frame is measured further.
    static bool keepsPixels(const FrameToGrade& frame);

    // The plan numbered `plan` begins: its grades start from none.
    void beginPlan(qint64 plan);
    void add(FrameToGrade frame);
    // The plan's frames are all taken: the plan goes on at once when they are graded, else the
    // executor waits on the grader, for at most `limitSeconds`.
    void finishPlan(double limitSeconds);
    const PlanGrades& grades() const { return m_grades; }
    // Frames of the plan under way not yet graded.
    int pending() const;
    // Each graded frame, the test frame's too.
    std::function<void(const GradedFrame&)> onGraded;

    void poll() override;

private:
    struct Measured
    {
        imaging::FrameMeasurement measurement;
        QString error;
        QString calibrated;
        QString calibrationError;
    };
    static Measured measure(const QByteArray& fits, const std::optional<imaging::Wcs>& wcs, Equatorial aimed,
                            const QString& path, const std::optional<imaging::FrameCalibration>& calibration);
    void next();
    void measured(const Measured& result);
    void record(GradedFrame& graded);
    void logCalibration(const GradedFrame& graded);

    StepContext& m_context;
    qint64 m_plan = 0;
    PlanGrades m_grades;
    std::deque<FrameToGrade> m_queue; // the first is being measured while the watcher runs
    QFutureWatcher<Measured> m_watcher;
};

} // namespace kestrove::indi
