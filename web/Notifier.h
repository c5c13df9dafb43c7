#pragma once

#include "core/History.h"

#include <QDateTime>
#include <QObject>
#include <QString>

namespace kestrove {

// Runs the [notify] command of "observatory.ini" once per event, with the event in its environment
// (KESTROVE_EVENT, KESTROVE_MESSAGE, KESTROVE_TIME) and as its last two arguments. The survey never
// waits for it: its output is read into a small buffer, not Kestrove's own output, a few words of it
// are warned of when it fails, and it is ended with what it started when it runs too long.
class Notifier
{
public:
    static constexpr int defaultTimeLimitMs = 60000;
    static constexpr qsizetype excerptBytes = 300; // of its output's end, told when it fails

    explicit Notifier(QString command = {}, int timeLimitMs = defaultTimeLimitMs);
    // Gives the commands still running a few seconds to finish: the last event is told at the end.
    ~Notifier();
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    void setCommand(QString command) { m_command = std::move(command); }
    // The events: "weather-close", "weather-open", "plans-failing", "warning", "run-ended", "run-error",
    // "web-error", "discovery".
    void notify(const QString& event, const QString& message, const QDateTime& utc);
    // Looks at what "history.csv" gained since the last look: the observatory closing or opening for
    // the weather, a warning at the start of a run, and a third failed plan in a row.
    void historyRead(const History& history, const QDateTime& utc);

    static constexpr int failuresInARow = 3;

private:
    QString m_command;
    int m_timeLimitMs;
    QObject m_running;            // the commands not yet finished
    qsizetype m_entriesSeen = -1; // -1: nothing looked at yet, so what was there before is not news
    qsizetype m_eventsSeen = -1;
    int m_failures = 0;
    bool m_closedForWeather = false;
    bool m_skyPaused = false; // a pause for clouds was told and has not ended
};

} // namespace kestrove
