#include "app/HeadlessRun.h"

#include "app/ControlChannel.h"
#include "core/SurveyCore.h"
#include "host/HostFactory.h"
#include "host/ObservatoryControl.h"
#include "host/indi/IndiClient.h"
#include "sky/Clock.h"
#include "text/HostError.h"
#include "text/NumberText.h"
#include "text/ValueText.h"
#include "web/WebService.h"

#include <QCoreApplication>
#include <QDir>
#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>

namespace kestrove {

namespace {

// Counts SIGINT and SIGTERM; looked at whenever events are dispatched, which a run does at least
// once a second.
volatile std::sig_atomic_t g_stopSignals = 0;
volatile std::sig_atomic_t g_lastSignal = 0;

extern "C" void onStopSignal(int signal)
{
    g_lastSignal = signal;
    // The first acts as "Stop Survey", the second stops at once; after that the default action
    // ends a program that no longer answers.
    g_stopSignals = g_stopSignals + 1;
    if (g_stopSignals >= 2)
        std::signal(signal, SIG_DFL);
}

// Installs the stop handlers for the life of a run and restores the earlier ones afterwards.
class StopSignals
{
public:
    StopSignals()
    {
        g_stopSignals = 0;
        struct sigaction action = {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &m_oldInt);
        sigaction(SIGTERM, &action, &m_oldTerm);
    }
    ~StopSignals()
    {
        sigaction(SIGINT, &m_oldInt, nullptr);
        sigaction(SIGTERM, &m_oldTerm, nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    struct sigaction m_oldInt = {};
    struct sigaction m_oldTerm = {};
};

QString signalName(int signal)
{
    return signal == SIGINT    ? QStringLiteral("SIGINT")
           : signal == SIGTERM ? QStringLiteral("SIGTERM")
                               : QStringLiteral("a signal");
}

void printLine(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, bytes.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// The settings stand in for the window's controls.
class HeadlessView : public SurveyView
{
public:
    void attach(SurveyCore& core, ControlChannel& channel)
    {
        m_core = &core;
        m_channel = &channel;
    }

    // A status line only when its text changes, with the observatory's time: an unsafe night
    // would otherwise repeat its one status every second.
    void showStatus(const QString& text) override
    {
        if (text == m_lastStatus)
            return;
        m_lastStatus = text;
        printLine(stdout, m_core ? utcInstantText(m_core->host().clock().utcNow()) + u' ' + text : text);
    }
    void showMessage(const QString& text) override { printLine(stderr, QStringLiteral("Kestrove: ") + text); }
    bool isKindChecked(SurveyKind kind) override { return enabled(kind) != 0; }
    QString weightText(SurveyKind kind) override { return integerText(weight(kind)); }
    void processEvents() override
    {
        QCoreApplication::processEvents();
        // Each signal is one press of "Stop Survey".
        while (m_handledSignals < g_stopSignals && m_core && m_core->isRunning() && !m_core->stopRequested) {
            ++m_handledSignals;
            m_core->stopReason = QStringLiteral("stopped by %1").arg(signalName(g_lastSignal));
            m_core->stopSurvey();
        }
    }
    void showRunning(bool running) override
    {
        if (m_channel)
            m_channel->setListening(running);
    }

private:
    int16_t enabled(SurveyKind kind) const
    {
        const SurveySettings& s = m_core->settings;
        switch (kind) {
        case SurveyKind::SNe:
            return s.SNeEnabled;
        case SurveyKind::MPS:
            return s.MPSEnabled;
        case SurveyKind::MPF:
            return s.MPFEnabled;
        case SurveyKind::SLC:
            return s.SLCEnabled;
        }
        return 0;
    }
    int16_t weight(SurveyKind kind) const
    {
        const SurveySettings& s = m_core->settings;
        switch (kind) {
        case SurveyKind::SNe:
            return s.SNeWeight;
        case SurveyKind::MPS:
            return s.MPSWeight;
        case SurveyKind::MPF:
            return s.MPFWeight;
        case SurveyKind::SLC:
            return s.SLCWeight;
        }
        return 0;
    }

    SurveyCore* m_core = nullptr;
    ControlChannel* m_channel = nullptr;
    std::sig_atomic_t m_handledSignals = 0;
    QString m_lastStatus;
};

// Asks the survey running on the program folder to close the observatory. The exit status once it
// answered; nothing when no survey did, and the observatory is to be closed from here.
std::optional<int> closeThroughSurvey(const QString& programFolder)
{
    const CloseAnswer answer =
        askToClose(programFolder, [](const QString& state) { printLine(stdout, state); });
    const QString survey = QStringLiteral("the survey running on %1 (process %2)")
                               .arg(QDir::toNativeSeparators(programFolder))
                               .arg(answer.process);
    switch (answer.outcome) {
    case CloseAnswer::Outcome::NobodyListens:
        return std::nullopt;
    case CloseAnswer::Outcome::Closed:
        printLine(stdout,
                  QStringLiteral("The observatory is shut: %1 closed it and ended its run (\"closed from "
                                 "outside\").")
                      .arg(survey));
        return 0;
    case CloseAnswer::Outcome::Failed:
        printLine(stderr, QStringLiteral("Kestrove: The observatory did not close: ") + answer.text);
        return 1;
    case CloseAnswer::Outcome::TimedOut:
        printLine(stderr, QStringLiteral("Kestrove: %1 did not report the observatory shut within %2 s.")
                              .arg(survey, answer.text));
        return 1;
    case CloseAnswer::Outcome::Lost:
        printLine(stderr, QStringLiteral("Kestrove: %1 stopped answering before the observatory was shut; "
                                         "it is closed from here.")
                              .arg(survey));
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

QStringList startWarnings(const SurveySettings& settings, const Clock& clock, const RunLimits& limits)
{
    QStringList warnings;
    if (settings.SNeEnabled == 0 && settings.MPSEnabled == 0 && settings.SLCEnabled == 0)
        warnings << QStringLiteral(
                        "No survey kind is enabled: SNeEnabled, MPSEnabled and SLCEnabled are 0 in "
                        "config.ini%1, so every pass will find no target and sleep for 5 minutes.")
                        .arg(settings.MPFEnabled != 0 ? QStringLiteral(" (MPF has no targets of its own)")
                                                      : QString());
    const double speed = clock.speed();
    // A real observatory runs in real time; only a simulated one can be told to hurry.
    if (limits.untilUtc.isValid() && speed > 0 && !clock.isSystemTime()) {
        const double aheadSeconds = static_cast<double>(clock.utcNow().secsTo(limits.untilUtc));
        const double wallSeconds = aheadSeconds / speed;
        if (wallSeconds > 3600) {
            const QString pace = speed == 1 ? QStringLiteral("in real time")
                                            : QStringLiteral("at %1 times real time").arg(doubleText(speed));
            warnings << QStringLiteral("The observatory's clock runs %1 and --until %2 lies %3 hours ahead: "
                                       "the run will take %4 hours. For a preview in seconds, set speed=0 "
                                       "under [clock] in observatory.ini.")
                            .arg(pace, limits.untilUtc.toString(Qt::ISODate),
                                 QString::number(aheadSeconds / 3600, 'f', 1),
                                 QString::number(wallSeconds / 3600, 'f', 1));
        }
    }
    return warnings;
}

int runHeadless(const CommandLine& commandLine)
{
    try {
        QString programFolder = commandLine.folder.isEmpty() ? QCoreApplication::applicationDirPath()
                                                             : QDir::fromNativeSeparators(commandLine.folder);
        if (!programFolder.endsWith(QLatin1Char('/')))
            programFolder += QLatin1Char('/');
        const QString observatoryFolder = commandLine.observatory.isEmpty()
                                              ? programFolder + QStringLiteral("observatory")
                                              : commandLine.observatory;

        // A survey running on the folder closes its observatory itself, and ends its run.
        if (commandLine.close)
            if (const std::optional<int> status = closeThroughSurvey(programFolder))
                return *status;

        // --close answers in a line or two; the INDI library's own connection line is not one of them.
        indi::IndiClient::setLibraryQuiet(commandLine.close);
        QStringList notes;
        const std::unique_ptr<Host> host = createHost(observatoryFolder, &notes);
        HeadlessView view;
        for (const QString& note : notes)
            view.showMessage(note);
        // The web page sees what the view is shown.
        WebState shown(view);
        SurveyCore core(*host, shown, programFolder);
        ControlChannel channel(core);
        view.attach(core, channel);
        core.load();
        WebService web(core, shown, observatoryFolder, commandLine.webPort);
        core.runLimits = commandLine.limits;

        StopSignals stopSignals;
        if (commandLine.close) {
            if (!host->observatoryControl()) {
                view.showMessage(QStringLiteral("This observatory has nothing to close."));
                return 1;
            }
            core.closeObservatory();
            const QString fault = host->observatoryControl()->fault();
            if (!fault.isEmpty())
                view.showMessage(QStringLiteral("The observatory did not close: ") + fault);
            return fault.isEmpty() ? 0 : 1;
        }
        for (const QString& warning : startWarnings(core.settings, host->clock(), core.runLimits))
            view.showMessage(warning);
        QStringList told;
        try {
            told = web.start();
        } catch (const std::exception& error) {
            web.runFailed(QString::fromUtf8(error.what()));
            throw;
        }
        for (const QString& line : told)
            printLine(stdout, line);
        // A run that did not start saves nothing: the folder may be another run's.
        bool started = false;
        try {
            started = core.startSurvey();
        } catch (const std::exception& error) {
            channel.answerWaiting();
            web.runFailed(QString::fromUtf8(error.what()));
            throw;
        }
        channel.answerWaiting();
        if (!started)
            return 1;
        const QString ended = core.stopReason.isEmpty() ? QStringLiteral("Run ended")
                                                        : QStringLiteral("Run ended: ") + core.stopReason;
        shown.showStatus(ended);
        web.runEnded(ended);
        core.unload();
        return 0;
    } catch (const std::exception& error) {
        printLine(stderr, QStringLiteral("Kestrove: ") + QString::fromUtf8(error.what()));
        return 1;
    }
}

} // namespace kestrove
