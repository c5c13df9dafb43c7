#include "sky/SiteClock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <thread>

namespace kestrove {

namespace {

// A monotonic wall clock: real time must not jump when the computer's clock is set.
qint64 wallMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool haveEventLoop()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace

SiteClock::SiteClock(const QDateTime& startUtc, double speed, const QTimeZone& zone)
    : m_startUtc(startUtc.isValid() ? startUtc.toUTC() : QDateTime::currentDateTimeUtc()),
      m_startMs(m_startUtc.toMSecsSinceEpoch()), m_startWallMs(wallMs()), m_speed(speed > 0 ? speed : 0),
      m_zone(zone)
{
}

SiteClock SiteClock::systemTime(const QTimeZone& zone)
{
    SiteClock clock(QDateTime(), 1, zone);
    clock.m_systemTime = true;
    return clock;
}

QDateTime SiteClock::utcNow() const
{
    if (m_systemTime)
        return QDateTime::currentDateTimeUtc();
    // A pass asks the time several times per target; within a millisecond the answer is the same.
    const qint64 offset = offsetMs();
    if (!m_lastNow.isValid() || offset != m_lastNowOffsetMs) {
        m_lastNow = m_startUtc.addMSecs(offset);
        m_lastNowOffsetMs = offset;
    }
    return m_lastNow;
}

qint64 SiteClock::utcMsecs() const
{
    if (m_systemTime)
        return QDateTime::currentMSecsSinceEpoch();
    return m_startMs + offsetMs();
}

qint64 SiteClock::offsetMs() const
{
    double ms = m_virtualOffsetMs;
    if (m_speed > 0)
        ms += static_cast<double>(wallMs() - m_startWallMs) * m_speed;
    // In virtual time a pass asks the same several times per target.
    if (ms != m_roundedOf) {
        m_rounded = std::llround(ms);
        m_roundedOf = ms;
    }
    return m_rounded;
}

QDateTime SiteClock::localNow() const
{
    // A scan reads the clock once per target while virtual time stands still; the zone conversion
    // is what costs.
    const QDateTime utc = utcNow();
    if (utc != m_lastUtc) {
        m_lastUtc = utc;
        m_lastLocal = utc.toTimeZone(m_zone);
    }
    return m_lastLocal;
}

void SiteClock::sleepSeconds(int n)
{
    if (m_speed <= 0) {
        // Virtual time: handle what is pending, then the time has passed.
        if (haveEventLoop() && (m_dispatchIntervalMs <= 0 || !m_sinceDispatch.isValid() ||
                                m_sinceDispatch.elapsed() >= m_dispatchIntervalMs)) {
            QCoreApplication::processEvents();
            m_sinceDispatch.start();
        }
        advanceSeconds(n > 0 ? n : 0);
        return;
    }
    waitWallMilliseconds(static_cast<int>(std::llround(std::max(0, n) * 1000.0 / m_speed)));
    if (m_onAdvance)
        m_onAdvance();
}

void SiteClock::setUtc(const QDateTime& utc)
{
    m_systemTime = false;
    m_startUtc = utc.toUTC();
    m_startMs = m_startUtc.toMSecsSinceEpoch();
    m_startWallMs = wallMs();
    m_virtualOffsetMs = 0;
    m_lastNow = QDateTime();
    if (m_onAdvance)
        m_onAdvance();
}

void SiteClock::advanceSeconds(double seconds)
{
    if (seconds > 0)
        m_virtualOffsetMs += seconds * 1000.0;
    if (m_onAdvance)
        m_onAdvance();
}

} // namespace kestrove

namespace kestrove {

void waitWallMilliseconds(int ms)
{
    if (haveEventLoop()) {
        // A local loop quit by a timer: events are dispatched and the thread sleeps in between.
        QEventLoop loop;
        QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

} // namespace kestrove
