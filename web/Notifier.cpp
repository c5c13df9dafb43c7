#include "web/Notifier.h"

#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <memory>
#include <sys/types.h>
#include <unistd.h>
#include <utility>

Q_LOGGING_CATEGORY(lcNotify, "kestrove.notify")

namespace kestrove {

namespace {

// What is left to say of a command's output: its last bytes, on one line.
QString excerpt(const QByteArray& tail, qint64 total)
{
    const QString text = QString::fromLocal8Bit(tail).simplified();
    if (text.isEmpty())
        return QStringLiteral("no output");
    return total > tail.size() ? QStringLiteral("...") + text : text;
}

// Ends a command and what it started.
void endWithItsGroup(QProcess* process)
{
    if (process->state() == QProcess::NotRunning || process->processId() <= 0)
        return;
    ::kill(-static_cast<pid_t>(process->processId()), SIGKILL);
    process->kill();
}

} // namespace

Notifier::Notifier(QString command, int timeLimitMs)
    : m_command(std::move(command)), m_timeLimitMs(timeLimitMs)
{
}

Notifier::~Notifier()
{
    QDeadlineTimer deadline(5000);
    for (QProcess* process : m_running.findChildren<QProcess*>()) {
        if (!process->waitForFinished(static_cast<int>(std::max<qint64>(0, deadline.remainingTime()))))
            endWithItsGroup(process);
        process->disconnect();
    }
}

void Notifier::notify(const QString& event, const QString& message, const QDateTime& utc)
{
    if (m_command.isEmpty())
        return;
    QStringList arguments = QProcess::splitCommand(m_command);
    if (arguments.isEmpty())
        return;
    auto* process = new QProcess(&m_running);
    process->setProgram(arguments.takeFirst());
    process->setArguments(arguments << event << message);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KESTROVE_EVENT"), event);
    environment.insert(QStringLiteral("KESTROVE_MESSAGE"), message);
    environment.insert(QStringLiteral("KESTROVE_TIME"), utc.toUTC().toString(Qt::ISODate));
    process->setProcessEnvironment(environment);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::MergedChannels);
    // A group of its own, so that one that runs too long is ended with whatever it started.
    process->setChildProcessModifier([] { ::setpgid(0, 0); });

    struct Output
    {
        QByteArray tail;
        qint64 total = 0;
        bool killed = false;
    };
    auto output = std::make_shared<Output>();
    const QString what = QStringLiteral("the notify command \"%1\" for %2").arg(m_command, event);
    QObject::connect(process, &QProcess::readyReadStandardOutput, process, [process, output] {
        const QByteArray bytes = process->readAllStandardOutput();
        output->total += bytes.size();
        output->tail = (output->tail + bytes).right(excerptBytes);
    });
    auto* limit = new QTimer(process);
    limit->setSingleShot(true);
    QObject::connect(limit, &QTimer::timeout, process, [process, output] {
        output->killed = true;
        endWithItsGroup(process);
    });
    QObject::connect(process, &QProcess::finished, process,
                     [limitMs = m_timeLimitMs, process, output, what](int code, QProcess::ExitStatus status) {
                         const QByteArray rest = process->readAllStandardOutput();
                         output->total += rest.size();
                         output->tail = (output->tail + rest).right(excerptBytes);
                         if (output->killed)
                             qCWarning(lcNotify).noquote()
                                 << QStringLiteral("%1 ran longer than %2 s and was killed: %3")
                                        .arg(what, QString::number(limitMs / 1000.0),
                                             excerpt(output->tail, output->total));
                         else if (status != QProcess::NormalExit || code != 0)
                             qCWarning(lcNotify).noquote()
                                 << QStringLiteral("%1 ended with status %2: %3")
                                        .arg(what,
                                             status == QProcess::NormalExit ? QString::number(code)
                                                                            : QStringLiteral("crashed"),
                                             excerpt(output->tail, output->total));
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, what](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         qCWarning(lcNotify).noquote()
                             << QStringLiteral("cannot start %1: %2").arg(what, process->errorString());
                         process->deleteLater();
                     });
    process->start();
    limit->start(m_timeLimitMs);
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
        } else if (text.startsWith(QLatin1String("Waiting for the sky:"))) {
            // Told once a pause begins; a test frame without stars only makes it longer.
            if (!std::exchange(m_skyPaused, true))
                notify(QStringLiteral("sky-pause"), text, history.events[i].utc);
        } else if (text.startsWith(QLatin1String("Sky clear:")) && m_skyPaused) {
            m_skyPaused = false;
            notify(QStringLiteral("sky-resume"), text, history.events[i].utc);
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
