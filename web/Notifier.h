#pragma once

#include "core/History.h"

#include <QDateTime>
#include <QString>

namespace kestrove {

// Runs the [notify] command of "observatory.ini" once per event, detached, with the event in its
// environment (KESTROVE_EVENT, KESTROVE_MESSAGE, KESTROVE_TIME) and as its last two arguments.
class Notifier
{
public:
    explicit Notifier(QString command) : m_command(std::move(command)) {}

    // The events: "weather-close", "weather-open", "plans-failing", "warning", "run-ended", "run-error".
    void notify(const QString& event, const QString& message, const QDateTime& utc);
    // Looks at what "history.csv" gained since the last look: the observatory closing or opening for
    // the weather, a warning at the start of a run, and a third failed plan in a row.
    void historyRead(const History& history, const QDateTime& utc);

    static constexpr int failuresInARow = 3;

private:
    QString m_command;
    qsizetype m_entriesSeen = -1; // -1: nothing looked at yet, so what was there before is not news
    qsizetype m_eventsSeen = -1;
    int m_failures = 0;
    bool m_closedForWeather = false;
};

} // namespace kestrove
