#pragma once

#include "report/Preview.h"
#include "web/Notifier.h"
#include "web/WebRoutes.h"
#include "web/WebServer.h"
#include "web/WebState.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <optional>

#include <QStringList>
#include <QTimer>
#include <memory>

namespace kestrove {

class SurveyCore;

// The web page and the notify command of a survey, as "observatory.ini" in the observatory's folder
// configures them ([web], [notify]); a port given on the command line turns the page on.
class WebService
{
public:
    WebService(SurveyCore& core, WebState& state, const QString& observatoryFolder, int port = 0);
    ~WebService();
    WebService(const WebService&) = delete;
    WebService& operator=(const WebService&) = delete;

    // Starts serving when a port is set; returns what to tell the user once (the address to open,
    // where a token made for them is kept). Throws HostError when [web] bind is no address. A port
    // that cannot be listened on now costs only the page: that is told (status, log, standard
    // error, the "web-error" notification) and listening is tried again every minute.
    QStringList start();
    // Listens, when not listening yet; true when it does.
    bool listen();
    // The run ended (why, as the status says it), or an error stopped it; told once per run.
    void runEnded(const QString& why);
    void runFailed(const QString& why);

    const WebServer* server() const { return m_server.get(); }
    const QString& token() const { return m_token; }

private:
    void everySecond();
    // Tells the notifier what history.csv gained since the last look.
    void readNewHistory();
    // The address the page is opened at.
    QString address() const;
    // Warns once when observatory.ini holds the token and other accounts can read it.
    void warnIfOthersCanRead() const;
    // Draws tonight's chart from history.csv when the program can draw (a QApplication).
    void drawNightChart();
    // Makes the thumbnail of the image the acquisition log names last, when it is a new one.
    void followImages();
    // Tells the notifier of each supernova candidate and moving object the acquisition log gained.
    void followDiscoveries();

    SurveyCore& m_core;
    WebState& m_state;
    QString m_folder;
    int m_port = 0;
    bool m_active = false;
    QString m_bind;
    QHostAddress m_address;
    QStringList m_hosts;
    QString m_token;
    Notifier m_notifier;
    std::unique_ptr<WebRoutes> m_routes;
    std::unique_ptr<WebServer> m_server;
    QTimer m_timer;
    QTimer m_retry;
    QString m_listenError;    // told once, until listening succeeds
    QStringList m_logPending; // for the survey log once a pass has it open
    // The end of the last run was told: once per run, whoever notices first.
    bool m_endTold = false;
    qint64 m_historySize = -1;
    std::optional<ResolvedObservatory> m_observatory;
    QElapsedTimer m_sinceChart;
    bool m_chartDue = true;
    qint64 m_acquisitionLogSize = -1;
    qint64 m_discoveryLogRead = -1; // bytes of the acquisition log looked at for discoveries
    QString m_lastImage;
    QString m_unshownFolder; // the folder of images last found unreadable, told of once
};

// A token of 32 hexadecimal digits from the system's random source.
QString newWebToken();
// The names a server listening on `bound` is opened by, besides the loopback ones: the address, the
// names listed, and when it listens on every network the computer's name and addresses.
QStringList ownHostNames(const QHostAddress& bound, const QStringList& listed);

} // namespace kestrove
