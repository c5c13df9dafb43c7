#pragma once

#include <QObject>

#include <csignal>

class QSocketNotifier;

namespace kestrove {

// Turns SIGINT and SIGTERM into a Qt signal on the thread that made it: the handler only writes a
// byte to a socket pair, and a socket notifier reads it in the event loop, where anything may be
// done. The earlier handlers are put back when it goes. The handler resets itself, so a second
// signal ends a program that no longer answers. One at a time.
class StopSignalNotifier : public QObject
{
    Q_OBJECT

public:
    explicit StopSignalNotifier(QObject* parent = nullptr);
    ~StopSignalNotifier() override;

signals:
    void received(int signal);

private:
    void readSignal();

    int m_fds[2] = {-1, -1};
    QSocketNotifier* m_notifier = nullptr;
    struct sigaction m_oldInt = {};
    struct sigaction m_oldTerm = {};
};

} // namespace kestrove
