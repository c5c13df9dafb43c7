#include "web/Notifier.h"

#include <QLoggingCategory>
#include <QProcess>

Q_LOGGING_CATEGORY(lcNotify, "kestrove.notify")

namespace kestrove {

void Notifier::notify(const QString& event, const QString& message, const QDateTime& utc)
{
    if (m_command.isEmpty())
        return;
    QStringList arguments = QProcess::splitCommand(m_command);
    if (arguments.isEmpty())
        return;
    QProcess process;
    process.setProgram(arguments.takeFirst());
    process.setArguments(arguments << event << message);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KESTROVE_EVENT"), event);
    environment.insert(QStringLiteral("KESTROVE_MESSAGE"), message);
    environment.insert(QStringLiteral("KESTROVE_TIME"), utc.toUTC().toString(Qt::ISODate));
    process.setProcessEnvironment(environment);
    // Detached: a slow mail or push command never holds the survey.
    if (!process.startDetached())
        qCWarning(lcNotify) << "cannot start the notify command" << m_command << process.errorString();
}

void Notifier::historyRead(const History& history, const QDateTime& utc)
{
    if (m_entriesSeen < 0 || m_entriesSeen > history.entries.size() || m_eventsSeen > history.events.size()) {
        m_entriesSeen = history.entries.size();
        m_eventsSeen = history.events.size();
        return;
    }
    for (qsizetype i = m_eventsSeen; i < history.events.size(); ++i) {
        const QString& text = history.events[i].text;
        if (text.startsWith(QLatin1String("Closing: weather"))) {
            m_closedForWeather = true;
            notify(QStringLiteral("weather-close"), text, history.events[i].utc);
        } else if (text.startsWith(QLatin1String("Opening:")) && m_closedForWeather) {
            m_closedForWeather = false;
            notify(QStringLiteral("weather-open"), text, history.events[i].utc);
        } else if (text.startsWith(QLatin1String("Warning:"))) {
            notify(QStringLiteral("warning"), text, history.events[i].utc);
        }
    }
    for (qsizetype i = m_entriesSeen; i < history.entries.size(); ++i) {
        const HistoryEntry& entry = history.entries[i];
        m_failures = entry.result.startsWith(QLatin1String("failed")) ? m_failures + 1 : 0;
        if (m_failures == failuresInARow)
            notify(QStringLiteral("plans-failing"),
                   QStringLiteral("%1 plans failed in a row, the last %2: %3")
                       .arg(failuresInARow)
                       .arg(entry.target, entry.result),
                   entry.endUtc.isValid() ? entry.endUtc : utc);
    }
    m_entriesSeen = history.entries.size();
    m_eventsSeen = history.events.size();
}

} // namespace kestrove
