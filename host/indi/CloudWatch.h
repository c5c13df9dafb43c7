#pragma once

#include "imaging/FrameGrade.h"

#include <QDateTime>

namespace kestrove::indi {

// Tells clouds from the frames' grades. Frames without stars in `cloudFrames` plans in a row pause
// imaging; when the pause is over a test frame looks again: stars end the pause, none begin
// another. A plan counts once, whatever the number of its starless frames: its frames are one look
// at one place, seconds apart, and the selection may well choose the same target again at once.
// Any frame with stars, accepted or not, breaks the run.
class CloudWatch
{
public:
    enum class Change
    {
        None,
        Paused,
        Resumed
    };

    CloudWatch(int cloudFrames, double pauseSeconds)
        : m_cloudFrames(cloudFrames), m_pauseSeconds(pauseSeconds)
    {
    }

    // A frame of the plan numbered `plan` was graded at `utc`.
    Change graded(qint64 plan, imaging::GradeReason reason, const QDateTime& utc);
    // The test frame's verdict, at `utc`.
    Change looked(bool starsSeen, const QDateTime& utc);
    // No test frame could be taken at `utc`: the next look is a pause later.
    void postpone(const QDateTime& utc)
    {
        if (paused())
            pauseFrom(utc);
    }

    bool paused() const { return m_nextLook.isValid(); }
    // When the pause is over and the test frame is due; invalid while imaging goes on.
    QDateTime nextLook() const { return m_nextLook; }
    // Starless frames in a row, one per plan and per test frame.
    int starless() const { return m_starless; }

private:
    Change pauseFrom(const QDateTime& utc);
    Change clear();

    int m_cloudFrames;
    double m_pauseSeconds;
    int m_starless = 0;
    qint64 m_lastPlan = 0; // the plan counted last; 0: none
    QDateTime m_nextLook;
};

} // namespace kestrove::indi
