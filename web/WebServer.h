#pragma once

#include "web/WebRoutes.h"

#include <QAbstractHttpServer>
#include <QHostAddress>
#include <QString>

namespace kestrove {

// Serves the routes on the survey's thread with Qt's HTTP server, and keeps a misbehaving client
// from costing the survey more than a bounded amount of memory and time.
class WebServer : public QAbstractHttpServer
{
public:
    static constexpr int maxConnections = 32;
    static constexpr qint64 maxRequestBytes = 16 * 1024; // headers and body of one request
    static constexpr int idleMilliseconds = 10000;       // for a request to arrive whole

    explicit WebServer(const WebRoutes& routes, QObject* parent = nullptr);

    // Listens on the address and port (0: any free one); false with `error` set when it cannot.
    bool start(const QHostAddress& address, quint16 port, QString& error);
    quint16 port() const { return m_port; }
    // Connections open now.
    int connections() const { return m_connections; }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    friend class CappedTcpServer;
    void watch(QTcpSocket* socket);

    const WebRoutes& m_routes;
    quint16 m_port = 0;
    int m_connections = 0;
};

} // namespace kestrove
