#pragma once

#include "sky/Clock.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTimeZone>
#include <cmath>
#include <functional>

namespace kestrove {

// The observatory's clock at a site. Real time runs from its start instant at `speed` times the
// wall clock; virtual time (speed 0) stands still until a wait advances it. A real observatory
// runs it at speed 1 from now.
class SiteClock : public Clock
{
public:
    // An invalid start instant means "now" by the system clock.
    SiteClock(const QDateTime& startUtc, double speed, const QTimeZone& zone);
    // A real observatory's clock: the system's own time, read anew at every call, so that it follows
    // the time service's corrections (a computer may start before its clock is set).
    static SiteClock systemTime(const QTimeZone& zone);

    QDateTime utcNow() const override;
    qint64 utcMsecs() const override;
    QDateTime localNow() const override;
    void sleepSeconds(int n) override;

    double speed() const override { return m_speed; }
    bool isSystemTime() const override { return m_systemTime; }
    const QTimeZone& zone() const { return m_zone; }
    // Sets the clock to an instant; it runs on from there at its speed.
    void setUtc(const QDateTime& utc);
    // Moves the clock forward by hand (tests, virtual time).
    void advanceSeconds(double seconds);
    // Called after every wait and every move of the clock, so that a simulation catches up.
    void setOnAdvance(std::function<void()> callback) { m_onAdvance = std::move(callback); }
    // In virtual time, dispatch events at a wait only when `ms` of wall time have passed since the
    // last dispatch (0, the default: at every wait). A preview runs a night of waits in a second.
    void setDispatchInterval(int ms) { m_dispatchIntervalMs = ms; }

private:
    // Milliseconds of this clock since the start.
    qint64 offsetMs() const;

    QDateTime m_startUtc;
    qint64 m_startMs = 0;
    qint64 m_startWallMs = 0;
    double m_virtualOffsetMs = 0;
    double m_speed;
    QTimeZone m_zone;
    bool m_systemTime = false;
    std::function<void()> m_onAdvance;
    int m_dispatchIntervalMs = 0;
    QElapsedTimer m_sinceDispatch;
    mutable double m_roundedOf = std::nan("");
    mutable qint64 m_rounded = 0;
    mutable QDateTime m_lastNow;
    mutable qint64 m_lastNowOffsetMs = 0;
    mutable QDateTime m_lastUtc;
    mutable QDateTime m_lastLocal;
};

// Sleeps `ms` milliseconds of wall time; on the thread of a Qt application it dispatches events
// meanwhile in a local event loop.
void waitWallMilliseconds(int ms);

} // namespace kestrove
