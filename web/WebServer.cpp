#include "web/WebServer.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace kestrove {

namespace {

const char* const bytesProperty = "kestroveRequestBytes";  // of the request under way; 0 between requests
const char* const idleSinceProperty = "kestroveIdleSince"; // ms on the server's clock
const char* const http10Property = "kestroveHttp10";

// A refusal written before Qt's server has seen the connection, or instead of letting it read on.
void refuse(QTcpSocket* socket, const QByteArray& statusLine)
{
    socket->write("HTTP/1.1 " + statusLine + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    socket->flush();
    socket->disconnectFromHost();
}

} // namespace

// Refuses connections beyond the cap at once, and hands the rest to Qt's server with a watch on
// their size and pace.
class CappedTcpServer : public QTcpServer
{
public:
    explicit CappedTcpServer(WebServer& web) : QTcpServer(&web), m_web(web) {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        if (m_web.m_sockets.size() >= WebServer::maxConnections && !m_web.evictIdlest()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            refuse(socket, "503 Service Unavailable");
            return;
        }
        m_web.watch(socket);
        addPendingConnection(socket);
    }

private:
    WebServer& m_web;
};

WebServer::WebServer(const WebRoutes& routes, QObject* parent) : QAbstractHttpServer(parent), m_routes(routes)
{
    m_clock.start();
}

bool WebServer::start(const QHostAddress& address, quint16 port, QString& error)
{
    auto* server = new CappedTcpServer(*this);
    if (!server->listen(address, port)) {
        error = QStringLiteral("cannot listen on %1 port %2: %3")
                    .arg(address.toString())
                    .arg(port)
                    .arg(server->errorString());
        delete server;
        return false;
    }
    m_port = server->serverPort();
    bind(server);
    return true;
}

void WebServer::watch(QTcpSocket* socket)
{
    m_sockets << socket;
    const auto forget = [this, socket] { m_sockets.removeOne(socket); };
    connect(socket, &QAbstractSocket::disconnected, this, forget);
    connect(socket, &QObject::destroyed, this, forget);
    socket->setProperty(bytesProperty, qint64(0));
    socket->setProperty(idleSinceProperty, m_clock.elapsed());
    // A client that does not send a whole request in time loses its place.
    auto* idle = new QTimer(socket);
    idle->setObjectName(QStringLiteral("idle"));
    idle->setSingleShot(true);
    idle->setInterval(idleMilliseconds);
    connect(idle, &QTimer::timeout, socket, [socket] { socket->abort(); });
    idle->start();
    // Connected before Qt's server connects its own reader, so this sees the bytes first.
    connect(socket, &QTcpSocket::readyRead, socket, [socket, idle] {
        const qint64 before = socket->property(bytesProperty).toLongLong();
        if (before == 0) {
            // A request begins: it has its time to arrive whole, and its first line says whether the
            // client can keep the connection.
            idle->start(idleMilliseconds);
            const QByteArray head = socket->peek(1024);
            const qsizetype end = head.indexOf('\n');
            socket->setProperty(http10Property, end > 0 && head.left(end).trimmed().endsWith("HTTP/1.0"));
        }
        const qint64 bytes = before + socket->bytesAvailable();
        socket->setProperty(bytesProperty, bytes);
        if (bytes > maxRequestBytes) {
            socket->readAll();
            refuse(socket, "413 Payload Too Large");
        }
    });
}

bool WebServer::evictIdlest()
{
    QTcpSocket* idlest = nullptr;
    for (QTcpSocket* socket : std::as_const(m_sockets)) {
        if (socket->property(bytesProperty).toLongLong() > 0 || socket->bytesToWrite() > 0)
            continue;
        if (!idlest || socket->property(idleSinceProperty).toLongLong() <
                           idlest->property(idleSinceProperty).toLongLong())
            idlest = socket;
    }
    if (!idlest)
        return false;
    m_sockets.removeOne(idlest);
    idlest->abort();
    return true;
}

bool WebServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    socket->setProperty(bytesProperty, qint64(0));
    socket->setProperty(idleSinceProperty, m_clock.elapsed());

    WebRequest routed;
    switch (request.method()) {
    case QHttpServerRequest::Method::Get:
        routed.method = "GET";
        break;
    case QHttpServerRequest::Method::Head:
        routed.method = "HEAD";
        break;
    case QHttpServerRequest::Method::Post:
        routed.method = "POST";
        break;
    default:
        routed.method = "OTHER";
        break;
    }
    routed.path = request.url().path();
    routed.query = request.url().query(QUrl::FullyEncoded);
    routed.authorization = request.value("authorization");
    routed.body = request.body();
    routed.loopback = request.remoteAddress().isLoopback();
    routed.host = request.value("host");
    routed.origin = request.value("origin");

    WebReply reply;
    try {
        reply = m_routes.route(routed);
    } catch (const std::exception& error) {
        reply = {500, "text/plain", QByteArray("the survey's state cannot be read now: ") + error.what()};
    }
    const bool close =
        request.value("connection").toLower().contains("close") || socket->property(http10Property).toBool();
    {
        QHttpServerResponder responder = makeResponder(request, socket);
        const auto status = static_cast<QHttpServerResponder::StatusCode>(reply.status);
        if (close)
            responder.write(
                reply.body,
                {{"Content-Type", reply.contentType}, {"Cache-Control", "no-store"}, {"Connection", "close"}},
                status);
        else
            responder.write(reply.body, {{"Content-Type", reply.contentType}, {"Cache-Control", "no-store"}},
                            status);
    }
    if (close)
        // The reply is written out first.
        socket->disconnectFromHost();
    else if (auto* idle = socket->findChild<QTimer*>(QStringLiteral("idle")))
        idle->start(keepAliveMilliseconds);
    return true;
}

void WebServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
}

} // namespace kestrove
