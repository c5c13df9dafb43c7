#include "web/WebService.h"

#include "core/SurveyCore.h"
#include "host/AcquisitionLog.h"
#include "host/ObservatoryControl.h"
#include "report/charts/LightcurveChart.h"
#include "report/charts/NightCharts.h"
#include "settings/ObservatorySettings.h"
#include "sky/Clock.h"
#include "text/HostError.h"
#include "web/Thumbnail.h"
#include "web/WebSettings.h"

#include <QAbstractAxis>
#include <QCategoryAxis>
#include <QChart>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QLegend>
#include <QLegendMarker>
#include <QLoggingCategory>
#include <QNetworkInterface>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <utility>

Q_LOGGING_CATEGORY(lcWeb, "kestrove.web")

namespace kestrove {

QString newWebToken()
{
    QByteArray bytes(16, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    return QString::fromLatin1(bytes.toHex());
}

WebService::WebService(SurveyCore& core, WebState& state, const QString& observatoryFolder, int port)
    : m_core(core), m_state(state), m_folder(observatoryFolder)
{
    const WebSettings settings = readWebSettings(observatoryFolder);
    m_port = port > 0 ? port : settings.port;
    m_bind = settings.bind;
    m_hosts = settings.hosts;
    m_token = settings.token;
    m_notifier.setCommand(settings.notifyCommand);
    m_state.attach(core);
    // With neither a page nor a command there is nothing to watch for, and no timer to run.
    m_active = m_port > 0 || !settings.notifyCommand.isEmpty();
    if (!m_active)
        return;
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
    m_retry.setInterval(60000);
    QObject::connect(&m_retry, &QTimer::timeout, [this] { listen(); });
}

WebService::~WebService()
{
    m_state.onRunning = nullptr;
}

QStringList WebService::start()
{
    QStringList told;
    if (!m_active)
        return told;
    everySecond();
    m_timer.start();
    if (m_port <= 0)
        return told;
    m_address = QHostAddress(m_bind);
    if (m_address.isNull())
        throw HostError(QStringLiteral("observatory.ini"), observatoryIniPath(m_folder),
                        QStringLiteral("[web] bind \"%1\" is not an IP address").arg(m_bind));
    if (m_token.isEmpty()) {
        // Actions always need one, and reading from elsewhere too; made once and kept, never shown.
        m_token = newWebToken();
        storeWebToken(m_folder, m_token);
        told << QStringLiteral("A token for the web page was made and kept in [web] token of ") +
                    observatoryIniPath(m_folder);
    } else {
        warnIfOthersCanRead();
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
        actions.close = [this] {
            QTimer::singleShot(0, &m_timer, [this] {
                if (m_core.isRunning())
                    m_core.stopReason = QStringLiteral("closed from the web page");
                m_core.closeObservatory();
            });
        };
    m_routes = std::make_unique<WebRoutes>(m_state, m_token, actions, ownHostNames(m_address, m_hosts));
    if (listen())
        told << QStringLiteral("The survey's web page: ") + address();
    return told;
}

bool WebService::listen()
{
    if (m_server)
        return true;
    if (!m_routes)
        return false;
    auto server = std::make_unique<WebServer>(*m_routes);
    QString error;
    if (!server->start(m_address, static_cast<quint16>(m_port), error)) {
        m_retry.start();
        if (!m_listenError.isEmpty())
            return false;
        m_listenError =
            QStringLiteral("The web page is not served: %1. The survey goes on; the page is tried "
                           "again every minute.")
                .arg(error);
        qCWarning(lcWeb).noquote() << m_listenError;
        m_logPending << m_listenError;
        m_core.setStatus(m_listenError);
        m_notifier.notify(QStringLiteral("web-error"), m_listenError, m_core.host().clock().utcNow());
        return false;
    }
    m_server = std::move(server);
    m_retry.stop();
    if (!m_listenError.isEmpty()) {
        m_listenError.clear();
        m_logPending << QStringLiteral("The web page is served now: ") + address();
        qCInfo(lcWeb).noquote() << m_logPending.last();
    }
    return true;
}

QString WebService::address() const
{
    const QString host = m_address.isLoopback() ? QStringLiteral("localhost")
                         : m_address == QHostAddress::AnyIPv4 || m_address == QHostAddress::Any ||
                                 m_address == QHostAddress::AnyIPv6
                             ? QStringLiteral("<this computer>")
                         : m_address.protocol() == QAbstractSocket::IPv6Protocol ? u'[' + m_bind + u']'
                                                                                 : m_bind;
    return QStringLiteral("http://%1:%2/").arg(host, QString::number(m_server ? m_server->port() : m_port));
}

void WebService::warnIfOthersCanRead() const
{
    const QString path = observatoryIniPath(m_folder);
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::ReadOther;
    if (QFile::exists(path) && (QFile::permissions(path) & others))
        qCWarning(lcWeb).noquote() << QStringLiteral(
                                          "%1 holds the web page's token and other accounts can read "
                                          "it; chmod 600 %1 keeps it yours.")
                                          .arg(path);
}

QStringList ownHostNames(const QHostAddress& bound, const QStringList& listed)
{
    QStringList names = listed;
    names << bound.toString();
    if (bound == QHostAddress::AnyIPv4 || bound == QHostAddress::Any || bound == QHostAddress::AnyIPv6) {
        const QString name = QHostInfo::localHostName();
        names << name << name + QStringLiteral(".local");
        if (!QHostInfo::localDomainName().isEmpty())
            names << name + u'.' + QHostInfo::localDomainName();
        for (QHostAddress address : QNetworkInterface::allAddresses()) {
            address.setScopeId(QString());
            names << address.toString();
        }
    }
    return names;
}

void WebService::runEnded(const QString& why)
{
    if (std::exchange(m_endTold, true))
        return;
    // A night in virtual time passes between two looks: what it recorded is told before its end.
    readNewHistory();
    m_notifier.notify(QStringLiteral("run-ended"), why, m_core.host().clock().utcNow());
}

void WebService::runFailed(const QString& why)
{
    if (std::exchange(m_endTold, true))
        return;
    readNewHistory();
    m_notifier.notify(QStringLiteral("run-error"), why, m_core.host().clock().utcNow());
}

void WebService::everySecond()
{
    if (!m_logPending.isEmpty() && m_core.logging())
        for (const QString& line : std::exchange(m_logPending, QStringList()))
            m_core.logLine(line);
    m_state.followLog();
    if (m_server)
        followImages();
    followDiscoveries();
    if (m_state.historyFile().isEmpty())
        return;
    readNewHistory();
    // Drawing takes a moment of the survey's thread: only when a plan ended, and not more often than every 10
    // s.
    if (m_server && m_chartDue && (!m_sinceChart.isValid() || m_sinceChart.elapsed() >= 10000)) {
        m_chartDue = false;
        m_sinceChart.start();
        drawNightChart();
    }
}

void WebService::readNewHistory()
{
    const QString path = m_active ? m_state.historyFile() : QString();
    if (path.isEmpty())
        return;
    // history.csv only grows: a size that did not change is nothing new.
    const qint64 size = QFileInfo(path).size();
    if (size == m_historySize)
        return;
    m_historySize = size;
    m_chartDue = true;
    m_notifier.historyRead(readHistory(path), m_core.host().clock().utcNow());
}

void WebService::followImages()
{
    const ObservatorySettings* settings = m_core.host().observatorySettings();
    if (!settings)
        return;
    QFile log(acquisitionLogPath(settings->logDir));
    // The log only grows, and only its end names the newest image.
    if (log.size() == m_acquisitionLogSize || !log.open(QIODevice::ReadOnly))
        return;
    m_acquisitionLogSize = log.size();
    log.seek(std::max<qint64>(0, log.size() - 65536));
    const QString image = lastImageOf(log.readAll());
    if (image.isEmpty() || image == m_lastImage)
        return;
    m_lastImage = image;
    const QFileInfo info(image);
    try {
        const imaging::FitsImage pixels = imaging::readFitsImage(image);
        m_state.setLastImage(info.fileName(), thumbnailPng(pixels), thumbnailPng(pixels, largeImageSide));
        m_unshownFolder.clear();
    } catch (const std::exception& error) {
        // A plan's frames share a folder: one that cannot be shown is told of once, not every frame.
        const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
        if (std::exchange(m_unshownFolder, folder) != folder)
            qCWarning(lcWeb) << "no thumbnail of" << image << ":" << error.what();
    }
}

void WebService::followDiscoveries()
{
    const ObservatorySettings* settings = m_active ? m_core.host().observatorySettings() : nullptr;
    if (!settings)
        return;
    QFile log(acquisitionLogPath(settings->logDir));
    const qint64 size = log.size();
    // What the log held before this program looked is not news; a log begun afresh is read whole.
    if (m_discoveryLogRead < 0 || size < m_discoveryLogRead) {
        m_discoveryLogRead = m_discoveryLogRead < 0 ? size : 0;
        if (m_discoveryLogRead == size)
            return;
    }
    if (size == m_discoveryLogRead || !log.open(QIODevice::ReadOnly) || !log.seek(m_discoveryLogRead))
        return;
    const QByteArray bytes = log.readAll();
    const qsizetype end = bytes.lastIndexOf('\n');
    if (end < 0)
        return;
    m_discoveryLogRead += end + 1;
    for (const QString& line : QString::fromUtf8(bytes.left(end)).split(u'\n')) {
        // UTC, "discovery", the target, the frame, what was found.
        const QStringList fields = line.trimmed().split(u'\t');
        if (fields.size() >= 5 && fields[1] == QLatin1String("discovery") &&
            (fields[4].startsWith(QLatin1String("candidate")) ||
             fields[4].startsWith(QLatin1String("mover"))))
            m_notifier.notify(QStringLiteral("discovery"), fields[2] + QStringLiteral(": ") + fields[4],
                              m_core.host().clock().utcNow());
    }
}

namespace {

// Keeps every so many of the hours' labels, at most `most`, so that each has room for its text on a
// narrow chart.
void thinLabels(QCategoryAxis& axis, int most)
{
    const QStringList labels = axis.categoriesLabels();
    const qsizetype step = (labels.size() + most - 1) / most;
    if (step <= 1)
        return;
    QList<std::pair<QString, qreal>> kept;
    for (qsizetype i = 0; i < labels.size(); i += step)
        kept.append({labels[i], axis.endValue(labels[i])});
    for (const QString& label : labels)
        axis.remove(label);
    for (const auto& [label, at] : kept)
        axis.append(label, at);
}

// The page is dark, and read at night: light text on the page's own background, in larger type.
void darkForThePage(QChart& chart)
{
    const QColor text(0xe4, 0xe8, 0xee);
    chart.setBackgroundBrush(QColor(0x17, 0x1d, 0x25));
    chart.setTitleBrush(text);
    QFont font = chart.titleFont();
    font.setPointSizeF(13);
    chart.setTitleFont(font);
    font.setPointSizeF(11);
    for (QAbstractAxis* axis : chart.axes()) {
        axis->setLabelsBrush(text);
        axis->setLabelsFont(font);
        axis->setTitleBrush(text);
        axis->setTitleFont(font);
        axis->setGridLineColor(QColor(0x3a, 0x44, 0x52));
        axis->setLinePenColor(QColor(0x56, 0x66, 0x77));
        if (auto* hours = qobject_cast<QCategoryAxis*>(axis))
            thinLabels(*hours, 6);
    }
    if (QLegend* legend = chart.legend()) {
        legend->setLabelColor(text);
        legend->setFont(font);
        // A phone's width has room for the plans' colours only; the sky's shades speak for themselves.
        QStringList plans{charts::failedPlansSeriesName()};
        for (SurveyKind kind : {SurveyKind::SNe, SurveyKind::MPS, SurveyKind::MPF, SurveyKind::SLC})
            plans << charts::plansSeriesName(kind);
        for (QLegendMarker* marker : legend->markers())
            if (!plans.contains(marker->series()->name()))
                marker->setVisible(false);
    }
}

} // namespace

void WebService::drawNightChart()
{
    // The charts are widgets: a headless run draws them only when it made a QApplication.
    if (!QCoreApplication::instance() || !QCoreApplication::instance()->inherits("QApplication"))
        return;
    try {
        if (!m_observatory)
            m_observatory = resolvedUserObservatory(m_folder);
        const NightReport report = observedNight(*m_observatory, nightDateOf(m_core.now()));
        QTemporaryDir scratch;
        const QString svg = scratch.filePath(QStringLiteral("night.svg"));
        const QString png = scratch.filePath(QStringLiteral("night.png"));
        QChart* chart = charts::nightChart(report);
        darkForThePage(*chart);
        // Smaller than the report's, so that its text stays readable on a phone.
        charts::saveChart(chart, QSize(560, 420), png, svg);
        QFile drawing(svg);
        QFile picture(png);
        if (drawing.open(QIODevice::ReadOnly) && picture.open(QIODevice::ReadOnly))
            m_state.setNightChart(drawing.readAll(), picture.readAll());
        QList<WebState::LightcurvePictures> lightcurves;
        for (const QString& target : charts::lightcurveTargets(report.lightcurve))
            lightcurves.append({target,
                                charts::lightcurvePicture(target, report.lightcurve,
                                                          charts::LightcurveSpan::Night, QSize(560, 360)),
                                charts::lightcurvePicture(target, report.lightcurveAll,
                                                          charts::LightcurveSpan::All, QSize(560, 360))});
        m_state.setLightcurves(std::move(lightcurves));
    } catch (const std::exception& error) {
        qCWarning(lcWeb) << "the night chart cannot be drawn:" << error.what();
    }
}

} // namespace kestrove
