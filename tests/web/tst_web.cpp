// The web page's routes, token rules and limits over real sockets, and the notify command.
#include "core/SurveyCore.h"
#include "database/ObservationDb.h"
#include "host/AcquisitionLog.h"
#include "host/sim/SimObservatory.h"
#include "report/Discoveries.h"
#include "support/TestSupport.h"
#include "web/Notifier.h"
#include "web/Thumbnail.h"
#include "web/WebRoutes.h"
#include "web/WebServer.h"
#include "web/WebService.h"
#include "web/WebState.h"

#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestrove;

namespace {

// The simulated observatory, with a dome once the test gives it one.
class DomedObservatory : public sim::SimObservatory
{
public:
    using sim::SimObservatory::SimObservatory;
    std::optional<DomeView> dome() override { return domeView; }
    std::optional<DomeView> domeView;
};

// The warnings of Kestrove's own categories while one lives.
class Warnings
{
public:
    Warnings()
    {
        s_lines.clear();
        m_previous = qInstallMessageHandler(&Warnings::keep);
    }
    ~Warnings() { qInstallMessageHandler(m_previous); }
    int count(const QString& part) const
    {
        return static_cast<int>(std::count_if(s_lines.cbegin(), s_lines.cend(),
                                              [&](const QString& line) { return line.contains(part); }));
    }
    const QStringList& lines() const { return s_lines; }

private:
    static void keep(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (type == QtWarningMsg && context.category && QByteArray(context.category).startsWith("kestrove."))
            s_lines << text;
    }
    static inline QStringList s_lines;
    QtMessageHandler m_previous = nullptr;
};

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

int modeOf(const QString& path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

} // namespace

class tst_web : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void statusOfAKnownPass();
    void skyWithoutAWeatherSource();
    void logAfter();
    void tokenRules_data();
    void tokenRules();
    void limits_data();
    void limits();
    void namesOfThisServer();
    void manyConnections();
    void keptAliveClientsLeaveRoom();
    void closedWhenDone_data();
    void closedWhenDone();
    void notifyOncePerEvent();
    void notifyWhateverTheClock();
    void notifyChildrenHaveTheirOwnOutput_data();
    void notifyChildrenHaveTheirOwnOutput();
    void framesOfTheNight();
    void discoveriesJudgedOnThePage_data();
    void discoveriesJudgedOnThePage();
    void lightcurvePlots_data();
    void lightcurvePlots();
    void thumbnailOfTheLastImage();
    void thumbnailShowsFaintStars();
    void thumbnailWarnedOncePerPlan();
    void tokenKeptFromOthers();
    void takenPortLeavesTheSurvey();

private:
    QByteArray exchange(const QByteArray& request);

    QTemporaryDir m_dir;
    test::RecordingView m_view;
    std::unique_ptr<DomedObservatory> m_host;
    std::unique_ptr<WebState> m_state;
    std::unique_ptr<SurveyCore> m_core;
    std::unique_ptr<WebRoutes> m_routes;
    std::unique_ptr<WebServer> m_server;
    int m_stops = 0;
};

void tst_web::initTestCase()
{
    const QString observatory = m_dir.path() + QStringLiteral("/observatory");
    ObservatorySettings settings = observatoryDefaults(observatory);
    settings.timeZone = QStringLiteral("UTC");
    settings.clockStart = QStringLiteral("2024-04-14T09:10:00Z");
    settings.clockSpeed = 0;
    m_host = std::make_unique<DomedObservatory>(observatory, settings);
    m_state = std::make_unique<WebState>(m_view);
    QDir().mkpath(m_dir.path() + QStringLiteral("/program"));
    m_core = std::make_unique<SurveyCore>(*m_host, *m_state, m_dir.path() + QStringLiteral("/program/"));
    m_core->load();
    m_state->attach(*m_core);
    m_routes = std::make_unique<WebRoutes>(*m_state, QStringLiteral("s3cret"),
                                           WebActions{[this] { ++m_stops; }, {}});
    m_server = std::make_unique<WebServer>(*m_routes);
    QString error;
    QVERIFY2(m_server->start(QHostAddress::LocalHost, 0, error), qPrintable(error));
}

void tst_web::statusOfAKnownPass()
{
    m_state->showRunning(true);
    m_state->showStatus(QStringLiteral("Running SNe plan"));
    m_state->passStarted(QDateTime(QDate(2024, 4, 14), QTime(9, 10), Qt::UTC));
    m_state->kindBest(SurveyKind::SNe, QStringLiteral("SN2024abc\t12:00:00\t+20:00:00"), 2, 4);
    m_state->kindBest(SurveyKind::SLC, QStringLiteral("V1234 Her\t17:00:00\t+30:00:00"), 1, 3);
    m_state->passChosen(true, SurveyKind::SNe, QStringLiteral("SN2024abc\t12:00:00\t+20:00:00"), 4);

    const auto get = [this](const char* path) {
        return QJsonDocument::fromJson(
                   m_routes->route({"GET", QString::fromLatin1(path), {}, {}, {}, true, {}, {}}).body)
            .object();
    };
    const QJsonObject status = get("/api/status");
    QCOMPARE(status[u"running"].toBool(), true);
    QCOMPARE(status[u"status"].toString(), QStringLiteral("Running SNe plan"));
    QCOMPARE(status[u"pass"].toInt(), 1);
    QCOMPARE(status[u"passStarted"].toString(), QStringLiteral("2024-04-14T09:10:00Z"));
    QCOMPARE(status[u"now"].toString(), QStringLiteral("2024-04-14T09:10:00Z"));
    QCOMPARE(status[u"current"].toObject()[u"target"].toString(), QStringLiteral("SN2024abc"));
    QCOMPARE(status[u"current"].toObject()[u"score"].toDouble(), 4.0);
    QCOMPARE(status[u"winners"].toArray().size(), 2);
    QCOMPARE(status[u"winners"].toArray()[1].toObject()[u"kind"].toString(), QStringLiteral("SLC"));
    QVERIFY(!status.contains(u"dome"));
    m_host->domeView = DomeView{123.4, true, 130, false};
    const QJsonObject dome = get("/api/status")[u"dome"].toObject();
    m_host->domeView.reset();
    QCOMPARE(dome[u"azimuth"].toDouble(), 123.4);
    QCOMPARE(dome[u"turningTo"].toDouble(), 130.0);
    QCOMPARE(dome[u"text"].toString(), QStringLiteral("az 123.4\u00b0, turning to 130.0\u00b0"));
    // What the window is shown is passed on untouched.
    QCOMPARE(m_view.statuses.last(), QStringLiteral("Running SNe plan"));

    const QJsonObject preview = get("/api/preview");
    QCOMPARE(preview[u"targets"].toArray()[0].toObject()[u"target"].toString(), QStringLiteral("SN2024abc"));
    QVERIFY(get("/api/history")[u"plans"].isArray());
}

void tst_web::skyWithoutAWeatherSource()
{
    // The simulated site has no weather source and the Sun is up: the weather is not known, which
    // is not the same as unsafe.
    const QJsonObject status =
        QJsonDocument::fromJson(
            m_routes->route({"GET", QStringLiteral("/api/status"), {}, {}, {}, true, {}, {}}).body)
            .object();
    QVERIFY(status.contains(u"weatherSafe"));
    QVERIFY2(status[u"weatherSafe"].isNull(), qPrintable(status[u"weatherSafe"].toVariant().toString()));
    QCOMPARE(status[u"dark"].toBool(true), false);
    // The site, the Sun and the next dark time, as the window's panel has them.
    const QJsonObject site = status[u"site"].toObject();
    QCOMPARE(site[u"zone"].toString(), QStringLiteral("UTC"));
    QVERIFY2(site[u"text"].toString().endsWith(u'W'), qPrintable(site[u"text"].toString()));
    QVERIFY(status[u"sunAltitude"].toDouble() > status[u"sunLimit"].toDouble(0));
    const QDateTime darkAt = QDateTime::fromString(status[u"darkAt"].toString(), Qt::ISODate);
    QVERIFY2(darkAt > QDateTime(QDate(2024, 4, 14), QTime(9, 10), Qt::UTC) &&
                 darkAt < QDateTime(QDate(2024, 4, 15), QTime(0, 0), Qt::UTC),
             qPrintable(status[u"darkAt"].toString()));
}

void tst_web::logAfter()
{
    QFile log(m_core->acpUtil->Prefs().LocalUser().DefaultLogDir() + QStringLiteral("/Kestrove.log"));
    QVERIFY(log.open(QIODevice::WriteOnly | QIODevice::Truncate));
    log.write("one\r\ntwo\r\nthree\r\n");
    log.close();
    m_state->followLog();
    const struct
    {
        const char* query;
        int status;
        QStringList lines;
    } cases[] = {
        {"", 200, {"one", "two", "three"}},
        {"after=1", 200, {"two", "three"}},
        {"after=3", 200, {}},
        {"after=99", 200, {}},
        {"after=-1", 400, {}},
        {"after=x", 400, {}},
        {"after=9223372036854775806", 200, {}},
        {"after=9223372036854775807", 200, {}},
        {"after=9223372036854775808", 400, {}},
    };
    for (const auto& c : cases) {
        const WebReply reply =
            m_routes->route({"GET", "/api/log", QString::fromLatin1(c.query), {}, {}, true, {}, {}});
        QCOMPARE(reply.status, c.status);
        if (reply.status != 200)
            continue;
        QStringList lines;
        for (const QJsonValue& line : QJsonDocument::fromJson(reply.body).object()[u"lines"].toArray())
            lines << line.toString();
        QCOMPARE(lines, c.lines);
    }
}

void tst_web::tokenRules_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("authorization");
    QTest::addColumn<bool>("loopback");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("stops");

    const QByteArray right = "Bearer s3cret", wrong = "Bearer s3cres";
    QTest::newRow("read here, no token")
        << QByteArray("GET") << "/api/status" << QByteArray() << true << 200 << 0;
    QTest::newRow("read elsewhere, no token")
        << QByteArray("GET") << "/api/status" << QByteArray() << false << 401 << 0;
    QTest::newRow("read elsewhere, wrong")
        << QByteArray("GET") << "/api/status" << wrong << false << 403 << 0;
    QTest::newRow("read elsewhere, right")
        << QByteArray("GET") << "/api/status" << right << false << 200 << 0;
    QTest::newRow("page elsewhere, no token")
        << QByteArray("GET") << "/" << QByteArray() << false << 200 << 0;
    QTest::newRow("stop here, no token")
        << QByteArray("POST") << "/api/stop" << QByteArray() << true << 401 << 0;
    QTest::newRow("stop here, wrong") << QByteArray("POST") << "/api/stop" << wrong << true << 403 << 0;
    QTest::newRow("stop elsewhere, right") << QByteArray("POST") << "/api/stop" << right << false << 200 << 1;
    QTest::newRow("stop by GET, right") << QByteArray("GET") << "/api/stop" << right << true << 405 << 0;
    QTest::newRow("close, none to close") << QByteArray("POST") << "/api/close" << right << true << 409 << 0;
    QTest::newRow("read by POST") << QByteArray("POST") << "/api/status" << right << true << 405 << 0;
    QTest::newRow("DELETE") << QByteArray("DELETE") << "/api/stop" << right << true << 405 << 0;
    QTest::newRow("token prefix") << QByteArray("POST") << "/api/stop" << QByteArray("Bearer s3c") << true
                                  << 403 << 0;
    QTest::newRow("token without scheme")
        << QByteArray("POST") << "/api/stop" << QByteArray("s3cret") << true << 403 << 0;
}

void tst_web::tokenRules()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, authorization);
    QFETCH(bool, loopback);
    QFETCH(int, status);
    QFETCH(int, stops);
    m_stops = 0;
    QCOMPARE(m_routes->route({method, path, {}, authorization, {}, loopback, {}, {}}).status, status);
    QCOMPARE(m_stops, stops);
}

QByteArray tst_web::exchange(const QByteArray& request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server->port());
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(request);
    QByteArray reply;
    QElapsedTimer timer;
    timer.start();
    while (socket.state() == QAbstractSocket::ConnectedState && !reply.contains("\r\n\r\n") &&
           timer.elapsed() < 5000) {
        QTest::qWait(10);
        reply += socket.readAll();
    }
    return reply + socket.readAll();
}

void tst_web::limits_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("statusLine");
    QTest::newRow("status") << QByteArray("GET /api/status HTTP/1.1\r\nHost: localhost\r\n\r\n")
                            << QByteArray("HTTP/1.1 200");
    QTest::newRow("page") << QByteArray("GET / HTTP/1.1\r\nHost: localhost\r\n\r\n")
                          << QByteArray("HTTP/1.1 200");
    QTest::newRow("unknown") << QByteArray("GET /api/nothing HTTP/1.1\r\nHost: localhost\r\n\r\n")
                             << QByteArray("HTTP/1.1 404");
    QTest::newRow("climbing") << QByteArray("GET /../../etc/passwd HTTP/1.1\r\nHost: localhost\r\n\r\n")
                              << QByteArray("HTTP/1.1 4");
    QTest::newRow("climbing encoded")
        << QByteArray("GET /%2e%2e/etc/passwd HTTP/1.1\r\nHost: localhost\r\n\r\n")
        << QByteArray("HTTP/1.1 4");
    // A page of another site, its name made to point here, reads nothing without the token.
    QTest::newRow("own host with a port")
        << QByteArray("GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n\r\n")
        << QByteArray("HTTP/1.1 200");
    QTest::newRow("IPv6 loopback") << QByteArray("GET /api/status HTTP/1.1\r\nHost: [::1]:8080\r\n\r\n")
                                   << QByteArray("HTTP/1.1 200");
    QTest::newRow("rebound host") << QByteArray(
                                         "GET /api/status HTTP/1.1\r\nHost: rebound.example:8080\r\n\r\n")
                                  << QByteArray("HTTP/1.1 421");
    QTest::newRow("rebound host, the log")
        << QByteArray("GET /api/log?after=9223372036854775807 HTTP/1.1\r\nHost: rebound.example\r\n\r\n")
        << QByteArray("HTTP/1.1 421");
    QTest::newRow("rebound host, the page")
        << QByteArray("GET / HTTP/1.1\r\nHost: rebound.example\r\n\r\n") << QByteArray("HTTP/1.1 421");
    QTest::newRow("localhost as a prefix")
        << QByteArray("GET /api/status HTTP/1.1\r\nHost: localhost.rebound.example\r\n\r\n")
        << QByteArray("HTTP/1.1 421");
    QTest::newRow("foreign origin")
        << QByteArray(
               "GET /api/status HTTP/1.1\r\nHost: localhost:8080\r\nOrigin: http://rebound.example\r\n\r\n")
        << QByteArray("HTTP/1.1 403");
    QTest::newRow("own origin")
        << QByteArray(
               "GET /api/status HTTP/1.1\r\nHost: localhost:8080\r\nOrigin: http://localhost:8080\r\n\r\n")
        << QByteArray("HTTP/1.1 200");
    QTest::newRow("rebound host with the token")
        << QByteArray(
               "GET /api/status HTTP/1.1\r\nHost: rebound.example\r\nAuthorization: Bearer s3cret\r\n\r\n")
        << QByteArray("HTTP/1.1 200");
    QTest::newRow("bad JSON")
        << QByteArray("POST /api/stop HTTP/1.1\r\nHost: localhost\r\nAuthorization: Bearer s3cret\r\n"
                      "Content-Length: 5\r\n\r\n{oops")
        << QByteArray("HTTP/1.1 400");
    QTest::newRow("oversize body")
        << QByteArray("POST /api/stop HTTP/1.1\r\nHost: localhost\r\nContent-Length: 100000\r\n\r\n") +
               QByteArray(100000, 'x')
        << QByteArray("HTTP/1.1 413");
    QTest::newRow("oversize header") << QByteArray("GET / HTTP/1.1\r\nHost: localhost\r\nX-Long: ") +
                                            QByteArray(40000, 'x') + "\r\n\r\n"
                                     << QByteArray("HTTP/1.1 413");
}

void tst_web::limits()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, statusLine);
    const QByteArray reply = exchange(request);
    QVERIFY2(reply.startsWith(statusLine), reply.left(200).constData());
}

// The names a server bound to every network answers to: those listed and its addresses, with or
// without a port.
void tst_web::namesOfThisServer()
{
    const WebRoutes routes(*m_state, QStringLiteral("s3cret"), {},
                           {QStringLiteral("Observatory.example.org"), QStringLiteral("fe80::1"),
                            QStringLiteral("192.168.1.7")});
    const struct
    {
        const char* host;
        int status;
    } cases[] = {
        {"observatory.example.org:8080", 200},
        {"OBSERVATORY.EXAMPLE.ORG.", 200},
        {"[fe80::1]:8080", 200},
        {"[FE80:0::1]", 200},
        {"192.168.1.7", 200},
        {"fe80", 421},
        {"example.org", 421},
    };
    for (const auto& c : cases)
        QVERIFY2(routes.route({"GET", "/api/status", {}, {}, {}, true, c.host, {}}).status == c.status,
                 c.host);
}

// Hundreds of clients at once are each served or refused, and the survey's thread stays on time.
void tst_web::manyConnections()
{
    constexpr int clients = 300;
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    qint64 worstLateMs = 0;
    QElapsedTimer beat;
    QTimer ticker;
    ticker.setInterval(100);
    connect(&ticker, &QTimer::timeout, [&] { worstLateMs = std::max(worstLateMs, beat.restart() - 100); });
    beat.start();
    ticker.start();
    for (int i = 0; i < clients; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, m_server->port());
        connect(socket.get(), &QTcpSocket::connected, socket.get(),
                [s = socket.get()] { s->write("GET /api/status HTTP/1.1\r\nHost: localhost\r\n\r\n"); });
        sockets.push_back(std::move(socket));
    }
    int served = 0, refused = 0, other = 0;
    const auto answered = [&] {
        served = refused = other = 0;
        for (const auto& socket : sockets) {
            const QByteArray head = socket->peek(12);
            if (head.startsWith("HTTP/1.1 200"))
                ++served;
            else if (head.startsWith("HTTP/1.1 503") || socket->state() == QAbstractSocket::UnconnectedState)
                ++refused;
            else
                ++other;
        }
        return other == 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(answered(), 20000);
    qInfo("300 connections: %d served, %d refused; the event loop was late by at most %lld ms", served,
          refused, worstLateMs);
    QVERIFY(served >= 1);
    QVERIFY(m_server->connections() <= WebServer::maxConnections);
    QVERIFY2(worstLateMs < 1000, "a one-second wait of the survey would have been late");
}

// Clients that keep their connections between polls do not keep a new one out: the one idle
// longest gives way.
void tst_web::keptAliveClientsLeaveRoom()
{
    QTRY_COMPARE(m_server->connections(), 0);
    const auto clients = [this](int n, const QByteArray& request) {
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        for (int i = 0; i < n; ++i) {
            auto socket = std::make_unique<QTcpSocket>();
            connect(socket.get(), &QTcpSocket::connected, socket.get(),
                    [s = socket.get(), request] { s->write(request); });
            socket->connectToHost(QHostAddress::LocalHost, m_server->port());
            sockets.push_back(std::move(socket));
        }
        return sockets;
    };
    const auto served = [](const std::vector<std::unique_ptr<QTcpSocket>>& sockets) {
        return static_cast<int>(std::count_if(sockets.cbegin(), sockets.cend(), [](const auto& socket) {
            return socket->peek(12).startsWith("HTTP/1.1 200");
        }));
    };
    const auto answered = [](const std::vector<std::unique_ptr<QTcpSocket>>& sockets) {
        return std::all_of(sockets.cbegin(), sockets.cend(), [](const auto& socket) {
            return socket->bytesAvailable() > 0 || socket->state() == QAbstractSocket::UnconnectedState;
        });
    };
    const auto polling = clients(WebServer::maxConnections, "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n");
    QTRY_COMPARE(served(polling), WebServer::maxConnections);
    const auto fresh = clients(25, "GET /api/status HTTP/1.1\r\nHost: localhost\r\n\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(answered(fresh), 5000);
    QCOMPARE(served(fresh), 25);
}

// A client that asks for the connection to end, or cannot keep it, has it ended with the reply; a
// kept one is ended soon after it falls idle.
void tst_web::closedWhenDone_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("withinMs");
    QTest::newRow("Connection: close")
        << QByteArray("GET /api/status HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n") << 2000;
    QTest::newRow("HTTP/1.0") << QByteArray("GET /api/status HTTP/1.0\r\n\r\n") << 2000;
    QTest::newRow("kept alive, then idle")
        << QByteArray("GET /api/status HTTP/1.1\r\nHost: localhost\r\n\r\n")
        << WebServer::keepAliveMilliseconds + 2000;
}

void tst_web::closedWhenDone()
{
    QFETCH(QByteArray, request);
    QFETCH(int, withinMs);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_server->port());
    QVERIFY(socket.waitForConnected(5000));
    socket.write(request);
    QTRY_VERIFY(socket.peek(16).contains(" 200 "));
    QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, withinMs);
}

// The command's output is its own, read by Kestrove and told in a few lines when it fails; one
// that runs too long is ended.
void tst_web::notifyChildrenHaveTheirOwnOutput_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("warning");
    QTest::newRow("chatty and failing")
        << QByteArray("head -c 100000 /dev/zero | tr '\\0' x; echo; echo the mail server said no >&2; "
                      "touch \"$0.ran\"; exit 3\n")
        << QStringLiteral("status 3");
    QTest::newRow("runs too long") << QByteArray("echo waiting; touch \"$0.ran\"; exec sleep 60\n")
                                   << QStringLiteral("killed");
}

void tst_web::notifyChildrenHaveTheirOwnOutput()
{
    QFETCH(QByteArray, script);
    QFETCH(QString, warning);
    const QString path =
        m_dir.path() + QStringLiteral("/") + QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-');
    test::writeBytes(path, script);
    Warnings warnings;
    Notifier notifier(QStringLiteral("sh ") + path, 500);
    // What a child would write to Kestrove's own output goes to a file instead.
    const QString captured = path + QStringLiteral(".out");
    std::fflush(stdout);
    std::fflush(stderr);
    const int savedOut = ::dup(1), savedErr = ::dup(2);
    const int file = ::open(QFile::encodeName(captured).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(file, 1);
    ::dup2(file, 2);
    notifier.notify(QStringLiteral("run-ended"), QStringLiteral("Run ended"),
                    QDateTime::currentDateTimeUtc());
    ::dup2(savedOut, 1);
    ::dup2(savedErr, 2);
    ::close(file);
    ::close(savedOut);
    ::close(savedErr);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path + QStringLiteral(".ran")), 10000);
    QTest::qWait(200);
    QCOMPARE(QFileInfo(captured).size(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(warnings.count(warning), 1, 10000);
    QVERIFY2(warnings.lines().first().size() < 1000, qPrintable(warnings.lines().first()));
}

void tst_web::notifyOncePerEvent()
{
    const QString file = m_dir.path() + QStringLiteral("/notified.txt");
    const QString script = m_dir.path() + QStringLiteral("/notify.sh");
    test::writeBytes(script, "echo \"$KESTROVE_EVENT|$1|$KESTROVE_TIME|$KESTROVE_MESSAGE|$2\" >> \"" +
                                 file.toUtf8() + "\"\n");
    Notifier notifier(QStringLiteral("sh ") + script);
    const QDateTime t(QDate(2024, 4, 14), QTime(3, 0), Qt::UTC);
    History history;
    notifier.historyRead(history, t); // what was there before is not news
    const auto plan = [&](const char* result) {
        HistoryEntry entry;
        entry.target = QStringLiteral("SN1");
        entry.endUtc = t;
        entry.result = QString::fromLatin1(result);
        history.entries << entry;
    };
    const auto event = [&](const char* text) {
        history.events << ObservatoryEvent{t, QString::fromLatin1(text)};
    };
    plan("failed: camera");
    plan("failed: camera");
    notifier.historyRead(history, t);
    plan("failed: camera");
    plan("failed: camera"); // a fourth is the same trouble, not news
    event("Closing: weather unsafe");
    event("Roof closed");
    notifier.historyRead(history, t);
    event("Opening: dark and the weather safe");
    event("Warning: no watchdog");
    notifier.historyRead(history, t);
    // Clouds in the frames: a pause, made longer by a starless test frame, then the end of it.
    event("Waiting for the sky: 3 frames without stars, next look at 03:10");
    event("Waiting for the sky: 4 frames without stars, next look at 03:20");
    notifier.historyRead(history, t);
    event("Sky clear: the test frame shows 85 stars");
    event("Sky clear: a frame shows 80 stars"); // no pause to end
    notifier.historyRead(history, t);
    notifier.notify(QStringLiteral("run-ended"), QStringLiteral("Run ended"), t);

    const QStringList expected = {
        QStringLiteral(
            "weather-close|weather-close|2024-04-14T03:00:00Z|Closing: weather unsafe|Closing: weather "
            "unsafe"),
        QStringLiteral(
            "plans-failing|plans-failing|2024-04-14T03:00:00Z|3 plans failed in a row, the last SN1: "
            "failed: camera|3 plans failed in a row, the last SN1: failed: camera"),
        QStringLiteral(
            "weather-open|weather-open|2024-04-14T03:00:00Z|Opening: dark and the weather safe|Opening: "
            "dark and the weather safe"),
        QStringLiteral("warning|warning|2024-04-14T03:00:00Z|Warning: no watchdog|Warning: no watchdog"),
        QStringLiteral(
            "sky-pause|sky-pause|2024-04-14T03:00:00Z|Waiting for the sky: 3 frames without stars, "
            "next look at 03:10|Waiting for the sky: 3 frames without stars, next look at 03:10"),
        QStringLiteral("sky-resume|sky-resume|2024-04-14T03:00:00Z|Sky clear: the test frame shows 85 "
                       "stars|Sky clear: the test frame shows 85 stars"),
        QStringLiteral("run-ended|run-ended|2024-04-14T03:00:00Z|Run ended|Run ended"),
    };
    const auto lines = [&] {
        QFile notified(file);
        if (!notified.open(QIODevice::ReadOnly))
            return QStringList();
        QStringList read = QString::fromLatin1(notified.readAll()).split(u'\n', Qt::SkipEmptyParts);
        read.sort();
        return read;
    };
    QStringList sorted = expected;
    sorted.sort();
    QTRY_COMPARE_WITH_TIMEOUT(lines(), sorted, 10000);
}

// /api/frames: the last frames of the last day with their grades, newest first, and the strip of
// them all; read from the database beside history.csv without creating it.
void tst_web::framesOfTheNight()
{
    const auto get = [this] {
        const WebReply reply = m_routes->route({"GET", "/api/frames", {}, {}, {}, true, {}, {}});
        return std::pair{reply.status, QJsonDocument::fromJson(reply.body).object()};
    };
    const QString path = database::observationsPath(QFileInfo(m_state->historyFile()).path());
    QVERIFY(!QFile::exists(path));
    auto [status, none] = get();
    QCOMPARE(status, 200);
    QCOMPARE(none[u"frames"].toArray().size(), 0);
    QVERIFY(!QFile::exists(path));

    // Every fifth frame is rejected; one of yesterday's is past the day the page shows.
    const QDateTime now(QDate(2024, 4, 14), QTime(9, 10), QTimeZone::utc());
    {
        database::ObservationDb db(path);
        const qint64 plan = db.startPlan(QStringLiteral("SNe"), QStringLiteral("M51"), now.addSecs(-3600));
        for (int i = 0; i <= 25; ++i) {
            database::FrameRecord f;
            f.planId = plan;
            f.target = QStringLiteral("M51");
            f.kind = QStringLiteral("SNe");
            f.utc = i == 0 ? now.addDays(-2) : now.addSecs(-3600 + 60 * i);
            f.filter = QStringLiteral("R");
            f.exposure = 60;
            f.measurement.stars = 100 + i;
            f.measurement.medianHfr = 2 + i / 100.0;
            f.measurement.background = 800;
            f.accepted = i % 5 != 0;
            f.reason = f.accepted ? QString() : QStringLiteral("3 stars where 80 expected");
            db.addFrame(f);
        }
    }
    auto [status2, frames] = get();
    QCOMPARE(status2, 200);
    const QJsonArray last = frames[u"frames"].toArray();
    QCOMPARE(last.size(), WebState::keptFrames);
    const QJsonObject newest = last[0].toObject();
    QCOMPARE(newest[u"utc"].toString(), QStringLiteral("2024-04-14T08:35:00Z"));
    QCOMPARE(newest[u"stars"].toInt(), 125);
    QCOMPARE(newest[u"grade"].toString(), QStringLiteral("rejected"));
    QCOMPARE(newest[u"reason"].toString(), QStringLiteral("3 stars where 80 expected"));
    QCOMPARE(newest[u"line"].toString(),
             QStringLiteral("M51 R 60 s at 08:35: 125 stars, HFR 2.25 px, "
                            "background 800, rejected: 3 stars where 80 expected"));
    QCOMPARE(last[1].toObject()[u"grade"].toString(), QStringLiteral("accepted"));
    const QJsonArray strip = frames[u"strip"].toArray();
    QCOMPARE(strip.size(), 25);
    QCOMPARE(strip[0].toObject()[u"stars"].toInt(), 101);
    QCOMPARE(strip[24].toObject()[u"hfr"].toDouble(), 2.25);
}

void tst_web::lightcurvePlots_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("the night") << "target=RR%20Lyr&span=night" << 200 << QByteArray("night of RR Lyr");
    QTest::newRow("the night by default") << "target=RR%20Lyr" << 200 << QByteArray("night of RR Lyr");
    QTest::newRow("every night") << "span=all&target=RR%20Lyr" << 200 << QByteArray("all of RR Lyr");
    QTest::newRow("another star") << "target=SS%20Cyg&span=all" << 200 << QByteArray("all of SS Cyg");
    QTest::newRow("not measured tonight") << "target=T%20CrB" << 404 << QByteArray();
    QTest::newRow("no star") << "span=night" << 400 << QByteArray();
    QTest::newRow("another span") << "target=RR%20Lyr&span=week" << 400 << QByteArray();
    QTest::newRow("an endless name") << "target=" + QString(300, u'x') << 400 << QByteArray();
}

void tst_web::lightcurvePlots()
{
    QFETCH(QString, query);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    m_state->setLightcurves({{QStringLiteral("RR Lyr"), "night of RR Lyr", "all of RR Lyr"},
                             {QStringLiteral("SS Cyg"), "night of SS Cyg", "all of SS Cyg"}});
    const WebReply reply = m_routes->route({"GET", "/lightcurve.png", query, {}, {}, true, {}, {}});
    QCOMPARE(reply.status, status);
    if (status == 200) {
        QCOMPARE(reply.body, body);
        QCOMPARE(reply.contentType, QByteArray("image/png"));
    }
    const QJsonObject listed =
        QJsonDocument::fromJson(m_routes->route({"GET", "/api/lightcurves", {}, {}, {}, true, {}, {}}).body)
            .object();
    QCOMPARE(listed[u"targets"].toArray(), (QJsonArray{QStringLiteral("RR Lyr"), QStringLiteral("SS Cyg")}));
    m_state->setLightcurves({});
}

// The night's candidates and movers, a candidate's cut-outs, and a person's verdict given with the
// token; every number and name a request carries is checked before the database is asked.
void tst_web::discoveriesJudgedOnThePage_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QByteArray>("authorization");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("verdict"); // the candidate's status after the request
    const QByteArray token = "Bearer s3cret";
    const auto row = [](const char* name) -> QTestData& { return QTest::newRow(name); };
    row("the list") << QByteArray("GET") << "/api/discoveries"
                    << "" << QByteArray() << QByteArray() << 200 << "new";
    row("a cut-out") << QByteArray("GET") << "/cutout.png"
                     << "candidate=ID&image=difference" << QByteArray() << QByteArray() << 200 << "new";
    row("no such image") << QByteArray("GET") << "/cutout.png"
                         << "candidate=ID&image=..%2Fsecret" << QByteArray() << QByteArray() << 400 << "new";
    row("candidate 0") << QByteArray("GET") << "/cutout.png"
                       << "candidate=0&image=new" << QByteArray() << QByteArray() << 400 << "new";
    row("no such candidate") << QByteArray("GET") << "/cutout.png"
                             << "candidate=9223372036854775807&image=new" << QByteArray() << QByteArray()
                             << 404 << "new";
    row("mark without the token") << QByteArray("POST") << "/api/mark"
                                  << "" << QByteArray()
                                  << QByteArray(R"({"candidate": ID, "status": "bogus"})") << 401 << "new";
    row("mark with a wrong token") << QByteArray("POST") << "/api/mark"
                                   << "" << QByteArray("Bearer guess")
                                   << QByteArray(R"({"candidate": ID, "status": "bogus"})") << 403 << "new";
    row("mark as what") << QByteArray("POST") << "/api/mark"
                        << "" << token << QByteArray(R"({"candidate": ID, "status": "maybe"})") << 400
                        << "new";
    row("mark a fraction") << QByteArray("POST") << "/api/mark"
                           << "" << token << QByteArray(R"({"candidate": 1.5, "status": "real"})") << 400
                           << "new";
    row("mark no candidate") << QByteArray("POST") << "/api/mark"
                             << "" << token << QByteArray(R"({"candidate": 1e300, "status": "real"})") << 400
                             << "new";
    row("mark one that is not") << QByteArray("POST") << "/api/mark"
                                << "" << token << QByteArray(R"({"candidate": 99999, "status": "real"})")
                                << 404 << "new";
    row("mark by GET") << QByteArray("GET") << "/api/mark"
                       << "" << token << QByteArray() << 405 << "new";
    row("bogus") << QByteArray("POST") << "/api/mark"
                 << "" << token << QByteArray(R"({"candidate": ID, "status": "bogus"})") << 200 << "bogus";
}

void tst_web::discoveriesJudgedOnThePage()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QString, query);
    QFETCH(QByteArray, authorization);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, verdict);
    const QString folder = QFileInfo(m_state->historyFile()).path();
    const QString file = database::observationsPath(folder);
    const QDateTime now(QDate(2024, 4, 14), QTime(9, 10), QTimeZone::utc());
    QTemporaryDir cutouts;
    qint64 id = 0;
    {
        database::ObservationDb db(file);
        database::CandidateRecord c;
        c.target = QStringLiteral("NGC 4414");
        c.utc = now.addSecs(-600);
        c.ra = 186.61;
        c.dec = 31.22;
        c.magnitude = 15.2;
        c.snr = 12;
        c.frameIds = {1, 2, 3};
        c.cutouts = cutouts.filePath(QStringLiteral("NGC4414-1"));
        for (const char* kind : cutoutKinds)
            test::writeBytes(c.cutouts + u'-' + QLatin1String(kind) + QStringLiteral(".png"), kind);
        id = db.addCandidate(c);
        database::MoverRecord m;
        m.target = QStringLiteral("2024 AB field");
        m.utc = now.addSecs(-300);
        m.rate = 5;
        m.designation = QStringLiteral("KV10501");
        m.positions = {{now.addSecs(-300), 60.1, 20.2, 17.4}};
        m.mpcReport = QStringLiteral("COD 500\n") + QString(80, u'x') + u'\n';
        db.addMover(m);
    }
    const QByteArray number = QByteArray::number(id);
    const WebReply reply = m_routes->route({method,
                                            path,
                                            QString(query).replace(QStringLiteral("ID"), number),
                                            authorization,
                                            QByteArray(body).replace("ID", number),
                                            true,
                                            {},
                                            {}});
    QCOMPARE(reply.status, status);
    if (path == QLatin1String("/cutout.png") && status == 200)
        QCOMPARE(reply.body, QByteArray("difference"));
    if (path == QLatin1String("/api/discoveries")) {
        const QJsonObject found = QJsonDocument::fromJson(reply.body).object();
        const QJsonObject newest = found[u"candidates"].toArray()[0].toObject();
        QCOMPARE(newest[u"id"].toInteger(), id);
        QCOMPARE(newest[u"cutouts"].toArray().size(), 3);
        QCOMPARE(found[u"movers"].toArray()[0].toObject()[u"designation"].toString(),
                 QStringLiteral("KV10501"));
    }
    QCOMPARE(database::statusText(
                 database::ObservationDb(file, database::ObservationDb::Access::Read).candidate(id)->status),
             verdict);
}

// A night in virtual time passes between two looks at history.csv, and a headless run ends right
// after it: what it recorded is still told.
void tst_web::notifyWhateverTheClock()
{
    const QString folder = m_dir.path() + QStringLiteral("/fast");
    QDir().mkpath(folder);
    const QString notified = folder + QStringLiteral("/notified.txt");
    test::writeBytes(folder + QStringLiteral("/notify.sh"),
                     "echo \"$KESTROVE_EVENT\" >> \"" + notified.toUtf8() + "\"\n");
    test::writeBytes(observatoryIniPath(folder), "[notify]\ncommand=sh " + folder.toUtf8() + "/notify.sh\n");
    const QDateTime t(QDate(2024, 4, 14), QTime(3, 0), Qt::UTC);
    {
        WebService web(*m_core, *m_state, folder);
        web.start();
        for (const char* event : {"Closing: weather unsafe", "Opening: dark and the weather safe"})
            appendObservatoryEvent(*m_core->fileSystem, m_state->historyFile(), t,
                                   QString::fromLatin1(event));
        web.runEnded(QStringLiteral("Run ended"));
    } // waits for the commands it started
    QFile file(notified);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QList<QByteArray> events = file.readAll().split('\n');
    std::sort(events.begin(), events.end());
    QCOMPARE(events, (QList<QByteArray>{"", "run-ended", "weather-close", "weather-open"}));
}

// The page shows the newest image the log names, stretched and small enough for a phone, the
// right way up.
void tst_web::thumbnailOfTheLastImage()
{
    const struct
    {
        const char* log;
        const char* image;
    } logs[] = {
        {"", ""},
        {"T\tstart\tSN1\tplan.txt\r\n", ""},
        {"T\timage\tSN1\tR\t2\t60\t/i/a.fits\r\nT\timage\tSN1\tR\t2\t60\t/i/b.fits\r\nT\tend\tSN1\r\n",
         "/i/b.fits"},
        {"T\timage\tSN1\tR\t2\t60\t/i/c.fits\n", "/i/c.fits"},
    };
    for (const auto& l : logs)
        QCOMPARE(lastImageOf(l.log), QString::fromLatin1(l.image));

    imaging::FitsImage image;
    image.width = 1000;
    image.height = 600;
    image.pixels.resize(static_cast<size_t>(image.width) * image.height);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            image.pixels[static_cast<size_t>(y) * image.width + x] = static_cast<float>(y);
    const QImage png = QImage::fromData(thumbnailPng(image), "PNG");
    QVERIFY(!png.isNull());
    QVERIFY(png.width() <= 320 && png.height() <= 320);
    QCOMPARE(png.width(), 1000 / 4);
    // The last row of the file is on top, the brightest after the stretch.
    QCOMPARE(qGray(png.pixel(0, 0)), 255);
    QCOMPARE(qGray(png.pixel(0, png.height() - 1)), 0);

    // The page's picture, and the larger one on demand.
    m_state->setLastImage(QStringLiteral("a.fits"), "small", "large");
    for (const auto& [query, body] : {std::pair{"", "small"}, {"size=large", "large"}})
        QCOMPARE(m_routes
                     ->route({"GET",
                              QStringLiteral("/thumbnail.png"),
                              QString::fromLatin1(query),
                              {},
                              {},
                              true,
                              {},
                              {}})
                     .body,
                 QByteArray(body));
}

// A night frame: a noisy sky with a few faint stars between the thumbnail's sampling points. The
// sky stays dark and every star stands out of it.
void tst_web::thumbnailShowsFaintStars()
{
    imaging::FitsImage image;
    image.width = 2100;
    image.height = 1400;
    image.pixels.resize(static_cast<size_t>(image.width) * image.height);
    quint32 seed = 12345;
    const auto uniform = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) / 16777216.0;
    };
    for (float& p : image.pixels) // about 1000 +- 20, a sum of uniforms
        p = static_cast<float>(1000 + 20 * (uniform() + uniform() + uniform() + uniform() - 2) * 1.73);
    const QList<QPoint> stars{{303, 203}, {1004, 705}, {1805, 1106}, {500, 1200}, {1600, 300}};
    for (const QPoint& star : stars)
        for (int dy = -6; dy <= 6; ++dy)
            for (int dx = -6; dx <= 6; ++dx)
                image.pixels[static_cast<size_t>(star.y() + dy) * image.width + star.x() + dx] +=
                    static_cast<float>(400 * std::exp(-(dx * dx + dy * dy) / (2 * 1.5 * 1.5)));

    for (const int side : {320, 1024}) {
        const QImage png = QImage::fromData(thumbnailPng(image, side), "PNG");
        QVERIFY(!png.isNull());
        const int step = (image.width + side - 1) / side;
        QList<int> sky;
        for (int y = 0; y < png.height(); y += 3)
            for (int x = 0; x < png.width(); x += 3)
                sky << qGray(png.pixel(x, y));
        std::sort(sky.begin(), sky.end());
        const int skyGrey = sky[sky.size() / 2];
        QVERIFY2(skyGrey < 70, qPrintable(QString::number(skyGrey)));
        for (const QPoint& star : stars) {
            // The brightest thumbnail pixel around the star, the first row at the bottom.
            const int cx = star.x() / step;
            const int cy = png.height() - 1 - star.y() / step;
            int brightest = 0;
            for (int y = std::max(0, cy - 1); y <= std::min(png.height() - 1, cy + 1); ++y)
                for (int x = std::max(0, cx - 1); x <= std::min(png.width() - 1, cx + 1); ++x)
                    brightest = std::max(brightest, qGray(png.pixel(x, y)));
            QVERIFY2(brightest > skyGrey + 100, qPrintable(QStringLiteral("star at %1,%2: %3 on a sky of %4")
                                                               .arg(star.x())
                                                               .arg(star.y())
                                                               .arg(brightest)
                                                               .arg(skyGrey)));
        }
    }
}

// An image that cannot be shown is told of once for its plan's folder, not once per frame.
void tst_web::thumbnailWarnedOncePerPlan()
{
    const QString folder = m_dir.path() + QStringLiteral("/thumbnails");
    QDir().mkpath(folder);
    Warnings warnings;
    WebService web(*m_core, *m_state, folder, freePort());
    web.start();
    const QString log = acquisitionLogPath(m_host->observatorySettings()->logDir);
    const auto saved = [&](const char* image) {
        QFile file(log);
        QVERIFY(file.open(QIODevice::Append));
        file.write("2024-04-14T09:10:00Z\timage\tSN1\tR\t1\t60\t" + QFile::encodeName(m_dir.path()) + image +
                   "\r\n");
    };
    saved("/plan1/SN1-001.fits");
    QTRY_COMPARE(warnings.count(QStringLiteral("no thumbnail")), 1);
    saved("/plan1/SN1-002.fits");
    QTest::qWait(1500);
    QCOMPARE(warnings.count(QStringLiteral("no thumbnail")), 1);
    saved("/plan2/SN1-001.fits");
    QTRY_COMPARE(warnings.count(QStringLiteral("no thumbnail")), 2);
}

// The token is kept where only its owner can read it and is never printed; a file the user made
// keeps its mode, with a warning when others can read it.
void tst_web::tokenKeptFromOthers()
{
    const QString made = m_dir.path() + QStringLiteral("/made");
    QDir().mkpath(made);
    {
        WebService web(*m_core, *m_state, made, freePort());
        const QString told = web.start().join(u'\n');
        QVERIFY(!web.token().isEmpty());
        QVERIFY2(!told.contains(web.token()), qPrintable(told));
        QVERIFY2(told.contains(observatoryIniPath(made)), qPrintable(told));
        QCOMPARE(modeOf(observatoryIniPath(made)), 0600);
    }
    const QString users = m_dir.path() + QStringLiteral("/users");
    QDir().mkpath(users);
    test::writeBytes(observatoryIniPath(users), "[web]\ntoken=mine\n");
    ::chmod(QFile::encodeName(observatoryIniPath(users)).constData(), 0644);
    Warnings warnings;
    WebService web(*m_core, *m_state, users, freePort());
    web.start();
    QCOMPARE(warnings.count(observatoryIniPath(users)), 1);
    QCOMPARE(modeOf(observatoryIniPath(users)), 0644);
}

// A port another program holds costs the page, not the night: the survey is told, and the page
// comes once the port is free.
void tst_web::takenPortLeavesTheSurvey()
{
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
    const QString folder = m_dir.path() + QStringLiteral("/taken");
    QDir().mkpath(folder);
    const QString notified = folder + QStringLiteral("/notified.txt");
    test::writeBytes(folder + QStringLiteral("/notify.sh"),
                     "echo \"$KESTROVE_EVENT\" >> \"" + notified.toUtf8() + "\"\n");
    test::writeBytes(observatoryIniPath(folder), "[web]\nport=" + QByteArray::number(taken.serverPort()) +
                                                     "\ntoken=s3cret\n[notify]\ncommand=sh " +
                                                     folder.toUtf8() + "/notify.sh\n");
    Warnings warnings;
    WebService web(*m_core, *m_state, folder);
    try {
        web.start();
    } catch (const std::exception& error) {
        QFAIL(
            qPrintable(QStringLiteral("a taken port stopped the start: ") + QString::fromUtf8(error.what())));
    }
    const auto events = [&] {
        QFile file(notified);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QTRY_COMPARE(events(), QByteArray("web-error\n"));
    QCOMPARE(warnings.count(QString::number(taken.serverPort())), 1);
    const quint16 port = taken.serverPort();
    taken.close();
    QVERIFY(web.listen());
    QCOMPARE(web.server()->port(), port);
}

QTEST_GUILESS_MAIN(tst_web)
#include "tst_web.moc"
