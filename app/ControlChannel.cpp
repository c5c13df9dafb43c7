#include "app/ControlChannel.h"

#include "core/SurveyCore.h"
#include "host/ObservatoryControl.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTimer>

#include <exception>

namespace kestrove {

Q_LOGGING_CATEGORY(lcControl, "kestrove.control")

namespace {

const QString reason = QStringLiteral("closed from outside");

// The longest the survey may take to shut the observatory: every closing motion with all its
// retries, and a minute for the run to come to its next check.
int closeLimitSeconds()
{
    double seconds = 60;
    for (const Motion motion : {Motion::ParkMount, Motion::CloseRoof, Motion::WarmCamera}) {
        const ObservatoryControl::Limit limit = ObservatoryControl::limitOf(motion);
        seconds += limit.seconds * (limit.retries + 1);
    }
    return static_cast<int>(seconds);
}

} // namespace

QString controlChannelName(const QString& programFolder)
{
    QString path = QFileInfo(programFolder).canonicalFilePath();
    if (path.isEmpty())
        path = QDir::cleanPath(QDir(programFolder).absolutePath());
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    const QByteArray hash = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex();
    return folder + QStringLiteral("/kestrove-") + QString::fromLatin1(hash.left(32));
}

ControlChannel::ControlChannel(SurveyCore& core, QObject* parent)
    : QObject(parent), m_core(core), m_server(new QLocalServer(this)), m_follow(new QTimer(this))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &ControlChannel::accept);
    m_follow->setInterval(250);
    connect(m_follow, &QTimer::timeout, this, &ControlChannel::follow);
}

ControlChannel::~ControlChannel() = default;

void ControlChannel::setListening(bool listening)
{
    if (!listening) {
        m_server->close();
        return;
    }
    if (m_server->isListening() || !QCoreApplication::instance())
        return;
    // The run holds the program folder's lock: a socket of that name is left from a run that ended
    // without removing it.
    const QString name = controlChannelName(m_core.GetEXEPath());
    QLocalServer::removeServer(name);
    if (!m_server->listen(name))
        qCWarning(lcControl) << "cannot listen on" << name << ":" << m_server->errorString();
}

void ControlChannel::accept()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        read(socket);
    }
}

void ControlChannel::read(QLocalSocket* socket)
{
    while (socket->canReadLine()) {
        const QByteArray line = socket->readLine().trimmed();
        if (line != "close") {
            socket->write("failed unknown request\n");
            socket->disconnectFromServer();
            return;
        }
        socket->write("closing " + QByteArray::number(QCoreApplication::applicationPid()) + '\n');
        socket->flush();
        m_waiting << socket;
        if (!m_closing) {
            m_closing = true;
            // As the button would: after this request has been read, not inside it.
            QTimer::singleShot(0, this, &ControlChannel::close);
        }
    }
}

void ControlChannel::close()
{
    try {
        if (!m_core.host().observatoryControl()) {
            send("failed This observatory has nothing to close.");
            return;
        }
        m_core.stopReason = reason;
        m_core.closeObservatory(reason);
    } catch (const std::exception& error) {
        send("failed " + QByteArray(error.what()));
        return;
    }
    follow();
    if (m_closing)
        m_follow->start();
}

void ControlChannel::follow()
{
    ObservatoryControl* observatory = m_core.host().observatoryControl();
    if (!observatory)
        return;
    const QString state = observatory->stateText();
    if (state != m_lastState) {
        m_lastState = state;
        for (QLocalSocket* socket : std::as_const(m_waiting))
            if (socket)
                socket->write("state " + state.toUtf8() + '\n');
    }
    answerWaiting();
}

void ControlChannel::answerWaiting()
{
    if (!m_closing)
        return;
    ObservatoryControl* observatory = m_core.host().observatoryControl();
    if (observatory && observatory->busy())
        return;
    const QString fault = observatory ? observatory->fault() : QString();
    send(fault.isEmpty() ? QByteArray("closed") : "failed " + fault.toUtf8());
}

void ControlChannel::send(const QByteArray& line)
{
    for (QLocalSocket* socket : std::as_const(m_waiting)) {
        if (!socket)
            continue;
        socket->write(line + '\n');
        // The program may end next: the answer leaves first.
        socket->waitForBytesWritten(1000);
        socket->disconnectFromServer();
    }
    m_waiting.clear();
    m_closing = false;
    m_lastState.clear();
    m_follow->stop();
}

CloseAnswer askToClose(const QString& programFolder, const std::function<void(const QString&)>& progress)
{
    CloseAnswer answer;
    QLocalSocket socket;
    socket.connectToServer(controlChannelName(programFolder));
    if (!socket.waitForConnected(3000))
        return answer;
    socket.write("close\n");
    if (!socket.waitForBytesWritten(3000))
        return answer;
    const int limit = closeLimitSeconds();
    const QDeadlineTimer deadline(limit * 1000LL);
    bool taken = false;
    while (true) {
        while (socket.canReadLine()) {
            const QString line = QString::fromUtf8(socket.readLine()).trimmed();
            const QString rest = line.section(u' ', 1);
            if (line.startsWith(QStringLiteral("closing "))) {
                taken = true;
                answer.process = rest.toLongLong();
            } else if (line.startsWith(QStringLiteral("state "))) {
                if (progress)
                    progress(rest);
            } else if (line == QStringLiteral("closed")) {
                answer.outcome = CloseAnswer::Outcome::Closed;
                return answer;
            } else if (line.startsWith(QStringLiteral("failed "))) {
                answer.outcome = CloseAnswer::Outcome::Failed;
                answer.text = rest;
                return answer;
            }
        }
        if (deadline.hasExpired()) {
            answer.outcome = CloseAnswer::Outcome::TimedOut;
            answer.text = QString::number(limit);
            return answer;
        }
        if (socket.state() != QLocalSocket::ConnectedState && socket.bytesAvailable() == 0)
            break;
        socket.waitForReadyRead(1000);
    }
    if (taken)
        answer.outcome = CloseAnswer::Outcome::Lost;
    return answer;
}

} // namespace kestrove
