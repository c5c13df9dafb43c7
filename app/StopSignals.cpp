#include "app/StopSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrove {

namespace {

// The writing end of the pair of the notifier in place; the handler may touch nothing else.
volatile std::sig_atomic_t g_writeFd = -1;

extern "C" void onWindowStopSignal(int signal)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    if (g_writeFd >= 0 && ::write(g_writeFd, &byte, 1) < 0) {
        // A handler can do nothing about it; this signal is lost.
    }
    errno = savedErrno;
}

} // namespace

StopSignalNotifier::StopSignalNotifier(QObject* parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_fds) != 0)
        return; // no pair: the signals keep their earlier handlers
    g_writeFd = m_fds[1];
    m_notifier = new QSocketNotifier(m_fds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignalNotifier::readSignal);

    struct sigaction action = {};
    action.sa_handler = onWindowStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, &m_oldInt);
    sigaction(SIGTERM, &action, &m_oldTerm);
}

StopSignalNotifier::~StopSignalNotifier()
{
    if (m_fds[0] < 0)
        return;
    sigaction(SIGINT, &m_oldInt, nullptr);
    sigaction(SIGTERM, &m_oldTerm, nullptr);
    g_writeFd = -1;
    delete m_notifier;
    ::close(m_fds[0]);
    ::close(m_fds[1]);
}

void StopSignalNotifier::readSignal()
{
    unsigned char byte = 0;
    if (::read(m_fds[0], &byte, 1) == 1)
        emit received(byte);
}

} // namespace kestrove
