#include "web/WebService.h"

#include "core/SurveyCore.h"
#include "host/Clock.h"
#include "host/HostError.h"
#include "host/ObservatoryControl.h"
#include "host/ObservatorySettings.h"
#include "web/WebSettings.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QTimer>
#include <utility>

namespace kestrove {

QString newWebToken()
{
    QByteArray bytes(16, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    return QString::fromLatin1(bytes.toHex());
}

WebService::WebService(SurveyCore& core, WebState& state, const QString& observatoryFolder, int port)
    : m_core(core), m_state(state), m_folder(observatoryFolder), m_notifier(QString())
{
    const WebSettings settings = readWebSettings(observatoryFolder);
    m_port = port > 0 ? port : settings.port;
    m_bind = settings.bind;
    m_token = settings.token;
    m_notifier = Notifier(settings.notifyCommand);
    m_state.attach(core);
    m_state.onRunning = [this](bool running) {
        if (running)
            m_endTold = false;
        else
            // A window has nobody else to tell it; a headless run tells first, with its reason.
            QTimer::singleShot(0, &m_timer, [this] {
                runEnded(m_core.stopReason.isEmpty() ? QStringLiteral("Run ended")
                                                     : QStringLiteral("Run ended: ") + m_core.stopReason);
            });
    };
    m_timer.setInterval(1000);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { everySecond(); });
}

WebService::~WebService()
{
    m_state.onRunning = nullptr;
}

QStringList WebService::start()
{
    QStringList told;
    everySecond();
    m_timer.start();
    if (m_port <= 0)
        return told;
    const QHostAddress address(m_bind);
    if (address.isNull())
        throw HostError(QStringLiteral("observatory.ini"), observatoryIniPath(m_folder),
                        QStringLiteral("[web] bind \"%1\" is not an IP address").arg(m_bind));
    if (m_token.isEmpty()) {
        // Actions always need one, and reading from elsewhere too; made once and kept.
        m_token = newWebToken();
        storeWebToken(m_folder, m_token);
        told << QStringLiteral("A token for the web page was made and kept in [web] token of observatory.ini: ") +
                    m_token;
    }
    WebActions actions;
    actions.stop = [this] {
        if (m_core.isRunning()) {
            m_core.stopReason = QStringLiteral("stopped from the web page");
            m_core.stopSurvey();
        }
    };
    if (m_core.host().observatoryControl())
        // Closing waits for the roof: it runs after the reply has gone, not inside the request.
        actions.close = [this] { QTimer::singleShot(0, &m_timer, [this] { m_core.closeObservatory(); }); };
    m_routes = std::make_unique<WebRoutes>(m_state, m_token, actions);
    m_server = std::make_unique<WebServer>(*m_routes);
    QString error;
    if (!m_server->start(address, static_cast<quint16>(m_port), error))
        throw HostError(QStringLiteral("listen"), m_bind, error);
    const QString host = address.isLoopback() ? QStringLiteral("localhost")
                         : address == QHostAddress::AnyIPv4 || address == QHostAddress::Any
                             ? QStringLiteral("<this computer>")
                             : m_bind;
    told << QStringLiteral("The survey's web page: http://%1:%2/").arg(host).arg(m_server->port());
    return told;
}

void WebService::runEnded(const QString& why)
{
    if (std::exchange(m_endTold, true))
        return;
    m_notifier.notify(QStringLiteral("run-ended"), why, m_core.host().clock().utcNow());
}

void WebService::runFailed(const QString& why)
{
    if (std::exchange(m_endTold, true))
        return;
    m_notifier.notify(QStringLiteral("run-error"), why, m_core.host().clock().utcNow());
}

void WebService::everySecond()
{
    m_state.followLog();
    const QString path = m_state.historyFile();
    if (path.isEmpty())
        return;
    // history.csv only grows: a size that did not change is nothing new.
    const qint64 size = QFileInfo(path).size();
    if (size == m_historySize)
        return;
    m_historySize = size;
    m_notifier.historyRead(readHistory(path), m_core.host().clock().utcNow());
}

} // namespace kestrove
