#include "host/indi/CloudWatch.h"

#include <cmath>

namespace kestrove::indi {

CloudWatch::Change CloudWatch::graded(qint64 plan, imaging::GradeReason reason, const QDateTime& utc)
{
    if (reason != imaging::GradeReason::TooFewStars)
        return clear();
    if (plan == m_lastPlan)
        return Change::None;
    m_lastPlan = plan;
    ++m_starless;
    if (paused() || m_starless < m_cloudFrames)
        return Change::None;
    return pauseFrom(utc);
}

CloudWatch::Change CloudWatch::looked(bool starsSeen, const QDateTime& utc)
{
    if (starsSeen)
        return clear();
    ++m_starless;
    m_lastPlan = 0;
    return pauseFrom(utc);
}

CloudWatch::Change CloudWatch::pauseFrom(const QDateTime& utc)
{
    m_nextLook = utc.addMSecs(std::llround(m_pauseSeconds * 1000));
    return Change::Paused;
}

CloudWatch::Change CloudWatch::clear()
{
    const bool wasPaused = paused();
    m_starless = 0;
    m_lastPlan = 0;
    m_nextLook = {};
    return wasPaused ? Change::Resumed : Change::None;
}

} // namespace kestrove::indi
