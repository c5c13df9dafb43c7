#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QLocalServer;
class QLocalSocket;
class QTimer;

namespace kestrove {

class SurveyCore;

// Where a survey running on the program folder listens: a local socket in the user's runtime
// folder, named after the folder's canonical path.
QString controlChannelName(const QString& programFolder);

// The local channel a survey listens on while its run lasts, so that "kestrove --close" from a
// shell closes the observatory through the survey, which then ends its run, rather than beside it.
// Only this user may connect. A request is a line "close"; the answer is "closing <process>", the
// observatory's state as it changes ("state <text>"), and at last "closed" or "failed <why>" once
// the observatory is shut.
class ControlChannel : public QObject
{
    Q_OBJECT

public:
    explicit ControlChannel(SurveyCore& core, QObject* parent = nullptr);
    ~ControlChannel() override;

    // Follows the run: listens from its start, the program folder locked, to its end.
    void setListening(bool listening);
    // Answers whoever waits, if the observatory is shut by now; the end of a run calls it before
    // the program may end.
    void answerWaiting();

private:
    void accept();
    void read(QLocalSocket* socket);
    void close();
    void follow();
    void send(const QByteArray& line);

    SurveyCore& m_core;
    QLocalServer* m_server = nullptr;
    QTimer* m_follow = nullptr;
    QList<QPointer<QLocalSocket>> m_waiting;
    bool m_closing = false;
    QString m_lastState;
};

// How "kestrove --close" fared with the survey on the program folder.
struct CloseAnswer
{
    enum class Outcome
    {
        NobodyListens, // no survey runs there
        Closed,
        Failed,   // the observatory did not close: `text` says why
        TimedOut, // no word within the longest a shut-down may take
        Lost      // the survey took the request, then stopped answering
    };
    Outcome outcome = Outcome::NobodyListens;
    qint64 process = 0; // the survey's process, once it answered
    QString text;
};

// Asks the survey running on the program folder to close the observatory and waits until it is
// shut, within the longest a shut-down's motions may take with their retries. `progress` is told
// the observatory's state as it changes. Blocks; needs no event loop.
CloseAnswer askToClose(const QString& programFolder, const std::function<void(const QString&)>& progress);

} // namespace kestrove
