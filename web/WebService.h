#pragma once

#include "report/Preview.h"
#include "web/Notifier.h"
#include "web/WebRoutes.h"
#include "web/WebServer.h"
#include "web/WebState.h"

#include <QElapsedTimer>
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
    // a token made for them). Throws HostError when the address cannot be listened on.
    QStringList start();
    // The run ended (why, as the status says it), or an error stopped it; told once per run.
    void runEnded(const QString& why);
    void runFailed(const QString& why);

    const WebServer* server() const { return m_server.get(); }
    const QString& token() const { return m_token; }

private:
    void everySecond();
    // Draws tonight's chart from history.csv when the program can draw (a QApplication).
    void drawNightChart();
    // Makes the thumbnail of the image the acquisition log names last, when it is a new one.
    void followImages();

    SurveyCore& m_core;
    WebState& m_state;
    QString m_folder;
    int m_port = 0;
    bool m_active = false;
    QString m_bind;
    QString m_token;
    Notifier m_notifier;
    std::unique_ptr<WebRoutes> m_routes;
    std::unique_ptr<WebServer> m_server;
    QTimer m_timer;
    // The end of the last run was told: once per run, whoever notices first.
    bool m_endTold = false;
    qint64 m_historySize = -1;
    std::optional<ResolvedObservatory> m_observatory;
    QElapsedTimer m_sinceChart;
    bool m_chartDue = true;
    qint64 m_acquisitionLogSize = -1;
    QString m_lastImage;
};

// A token of 32 hexadecimal digits from the system's random source.
QString newWebToken();

} // namespace kestrove
