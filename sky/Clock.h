#pragma once

#include <QDateTime>

namespace kestrove {

// The one source of "now". Nothing else reads the system clock.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime utcNow() const = 0;
    // utcNow() in milliseconds since 1970: a selection pass asks it for every target.
    virtual qint64 utcMsecs() const { return utcNow().toMSecsSinceEpoch(); }
    // The site's civil date and time; the host's Date_Julian and FormatVar take it as it stands.
    virtual QDateTime localNow() const = 0;
    // Lets n seconds of this clock pass, dispatching pending Qt events meanwhile (when an event loop
    // exists) and using no processor time while it sleeps. In virtual time it returns at once.
    virtual void sleepSeconds(int n) = 0;
    // Seconds of this clock per second of wall time: 1 real time (a real observatory), N faster,
    // 0 virtual time.
    virtual double speed() const { return 1; }
    // True for a real observatory's clock, which is the computer's own time.
    virtual bool isSystemTime() const { return false; }
};

} // namespace kestrove
