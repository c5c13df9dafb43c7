#pragma once

#include "web/WebRoutes.h"

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QString>

class QTcpSocket;

namespace kestrove {

// Serves the routes on the survey's thread with Qt's HTTP server, and keeps a misbehaving client
// from costing the survey more than a bounded amount of memory and time. A connection is ended
// with its reply when the client asks for that or speaks HTTP/1.0, and soon after it falls idle
// otherwise; when every place is taken, a new client takes the place of the one idle longest.
class WebServer : public QAbstractHttpServer
{
public:
    static constexpr int maxConnections = 32;
    static constexpr qint64 maxRequestBytes = 16 * 1024; // headers and body of one request
    static constexpr int idleMilliseconds = 10000;       // for a request to arrive whole
    static constexpr int keepAliveMilliseconds = 5000;   // for the next request on a kept connection

    explicit WebServer(const WebRoutes& routes, QObject* parent = nullptr);

    // Listens on the address and port (0: any free one); false with `error` set when it cannot.
    bool start(const QHostAddress& address, quint16 port, QString& error);
    quint16 port() const { return m_port; }
    // Connections open now.
    int connections() const { return static_cast<int>(m_sockets.size()); }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    friend class CappedTcpServer;
    void watch(QTcpSocket* socket);
    // Ends the connection idle longest, between requests; false when every one is mid-request.
    bool evictIdlest();

    const WebRoutes& m_routes;
    quint16 m_port = 0;
    QList<QTcpSocket*> m_sockets;
    QElapsedTimer m_clock;
};

} // namespace kestrove
