#include "web/WebServer.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace kestrove {

namespace {

const char* const bytesProperty = "kestroveRequestBytes";

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
        if (m_web.m_connections >= WebServer::maxConnections) {
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
    ++m_connections;
    connect(socket, &QObject::destroyed, this, [this] { --m_connections; });
    socket->setProperty(bytesProperty, qint64(0));
    // A client that does not send a whole request in time loses its place.
    auto* idle = new QTimer(socket);
    idle->setObjectName(QStringLiteral("idle"));
    idle->setSingleShot(true);
    idle->setInterval(idleMilliseconds);
    connect(idle, &QTimer::timeout, socket, [socket] { socket->abort(); });
    idle->start();
    // Connected before Qt's server connects its own reader, so this sees the bytes first.
    connect(socket, &QTcpSocket::readyRead, socket, [socket] {
        const qint64 bytes = socket->property(bytesProperty).toLongLong() + socket->bytesAvailable();
        socket->setProperty(bytesProperty, bytes);
        if (bytes > maxRequestBytes) {
            socket->readAll();
            refuse(socket, "413 Payload Too Large");
        }
    });
}

bool WebServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    socket->setProperty(bytesProperty, qint64(0));
    if (auto* idle = socket->findChild<QTimer*>(QStringLiteral("idle")))
        idle->start();

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

    WebReply reply;
    try {
        reply = m_routes.route(routed);
    } catch (const std::exception& error) {
        reply = {500, "text/plain", QByteArray("the survey's state cannot be read now: ") + error.what()};
    }
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.write(reply.body, {{"Content-Type", reply.contentType}, {"Cache-Control", "no-store"}},
                    static_cast<QHttpServerResponder::StatusCode>(reply.status));
    return true;
}

void WebServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    makeResponder(request, socket).write(QHttpServerResponder::StatusCode::NotFound);
}

} // namespace kestrove
