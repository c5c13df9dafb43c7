#include "host/indi/IndiObservatory.h"

#include "database/DatabaseError.h"
#include "database/ObservationDb.h"
#include "host/LocalFileSystem.h"
#include "host/ObservatoryControl.h"
#include "host/SkyUtil.h"
#include "host/indi/CloudWatch.h"
#include "host/indi/IndiClient.h"
#include "host/indi/IndiDevices.h"
#include "host/indi/IndiLink.h"
#include "host/indi/PlanExecutor.h"
#include "sky/SiteClock.h"
#include "text/HostError.h"
#include "text/NumberText.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

namespace kestrove::indi {

namespace {

// How often a lost server is tried again while the survey waits for safe weather, seconds.
constexpr double kWeatherReconnectSeconds = 30;
// How often the observatory controller looks at the weather and the devices, milliseconds.
constexpr int kControlTickMs = 1000;

ServerAddress addressOf(const QString& folder, const ObservatorySettings& settings)
{
    const auto address = parseServerAddress(settings.indi.server);
    if (!address)
        throw HostError(QStringLiteral("observatory.ini"), observatoryIniPath(folder),
                        QStringLiteral("[indi] server \"%1\" is not host:port").arg(settings.indi.server));
    return *address;
}

std::unique_ptr<database::ObservationDb> openObservations(const ObservatorySettings& settings)
{
    try {
        return std::make_unique<database::ObservationDb>(database::observationsPath(settings.logDir));
    } catch (const database::DatabaseError& e) {
        throw HostError(QStringLiteral("observations.sqlite"), QString(), e.message());
    }
}

} // namespace

class IndiState
{
public:
    IndiState(const QString& folder, const ObservatorySettings& given)
        : settings(given), clock(SiteClock::systemTime(siteTimeZone(given))),
          sky(Site{given.latitude, given.longitude, given.elevation}, clock),
          link(client, settings, addressOf(folder, given)), executor(link, sky, clock),
          devices(link, executor, clock),
          control(devices, sky, clock, siteTimeZone(given), given.sunAltitude, given.safety),
          observations(openObservations(given)),
          clouds(given.grading.cloudFrames, given.grading.cloudPause * 60)
    {
        executor.setGate([this] { return control.holdsSurvey() ? control.waitReason() : QString(); });
        if (devices.has(Motion::SkyFlats))
            control.setSkyFlats(skyFlatWindowOf(settings));
        executor.setObservations(observations.get());
        devices.setObservations(observations.get());
        executor.onGraded = [this](const GradedFrame& graded) { skyGraded(graded); };
        executor.onLookFailed = [this](const QString&) { clouds.postpone(clock.utcNow()); };
        if (!settings.indi.watchdog.isEmpty())
            watchdog = std::make_unique<IndiWatchdog>(link);
        tick.setInterval(kControlTickMs);
        QObject::connect(&tick, &QTimer::timeout, &tick, [this] {
            try {
                control.update();
                if (watchdog)
                    watchdog->prepare();
            } catch (const std::exception& e) {
                executor.log({QStringLiteral("error"), QString::fromUtf8(e.what())});
            }
        });
        tick.start();
    }

    ObservatorySettings settings;
    SiteClock clock;
    SiteSky sky;
    IndiClient client;
    IndiLink link;
    PlanExecutor executor;
    IndiDevices devices;
    ObservatoryControl control;
    std::unique_ptr<IndiWatchdog> watchdog;
    QTimer tick;
    std::unique_ptr<database::ObservationDb> observations;
    CloudWatch clouds;
    QStringList skyEvents; // not yet taken by the survey

    // "3 frames without stars, next look at 23:41"; while a test frame is being taken the status
    // says so, the event of a pause (told from that frame's grade) never.
    QString pauseText(bool forStatus = true) const
    {
        const int n = clouds.starless();
        QString text = QStringLiteral("%1 %2 without stars")
                           .arg(n)
                           .arg(n == 1 ? QStringLiteral("frame") : QStringLiteral("frames"));
        if (forStatus && executor.looking())
            return text + QStringLiteral(", a test frame now");
        return text + QStringLiteral(", next look at ") +
               clouds.nextLook().toTimeZone(siteTimeZone(settings)).toString(QStringLiteral("HH:mm"));
    }

    void skyGraded(const GradedFrame& graded)
    {
        const QDateTime now = clock.utcNow();
        CloudWatch::Change change = CloudWatch::Change::None;
        if (!graded.error.isEmpty()) {
            if (graded.frame.test)
                clouds.postpone(now);
            return;
        }
        if (graded.frame.test)
            change = clouds.looked(graded.grade.accepted(), now);
        else
            change = clouds.graded(graded.frame.plan, graded.grade.reason, now);
        QString event;
        if (change == CloudWatch::Change::Paused)
            event = QStringLiteral("Waiting for the sky: ") + pauseText(false);
        else if (change == CloudWatch::Change::Resumed)
            event = QStringLiteral("Sky clear: %1 shows %2 stars")
                        .arg(graded.frame.test ? QStringLiteral("the test frame") : QStringLiteral("a frame"))
                        .arg(graded.measurement.stars);
        if (event.isEmpty())
            return;
        executor.log({QStringLiteral("sky"), event});
        skyEvents << event;
    }
};

namespace {

class IndiUtil : public SkyUtil
{
public:
    explicit IndiUtil(std::shared_ptr<IndiState> state)
        : SkyUtil(state->sky, state->settings.sunAltitude, &state->control), m_state(std::move(state)),
          m_prefs(m_state->settings)
    {
    }

    bool ScriptActive() override { return m_state->executor.active(); }
    AcpPrefs& Prefs() override { return m_prefs; }
    void LoadScript(const QString& path) override { m_state->executor.load(path); }
    void RunScript() override { m_state->executor.run(); }
    void AbortScript() override { m_state->executor.abort(); }

protected:
    // A configured weather device counts as connected even while it is lost: a lost device reports
    // unsafe, so that the survey waits instead of observing blind.
    bool deviceWeatherConnected() override { return m_state->link.weatherConfigured(); }
    bool deviceWeatherSafe() override
    {
        if (!m_state->executor.active()) {
            m_state->link.reconnectEvery(kWeatherReconnectSeconds);
            m_state->link.requestDevices();
        }
        return m_state->link.weatherSafe();
    }

private:
    std::shared_ptr<IndiState> m_state;
    SettingsPrefs m_prefs;
};

class IndiTelescope : public AcpTelescope
{
public:
    explicit IndiTelescope(std::shared_ptr<IndiState> state) : m_state(std::move(state)) {}
    double RightAscension() override { return position().rightAscension; }
    double Declination() override { return position().declination; }
    int AlignmentMode() override { return m_state->settings.alignmentMode; }
    double SiteLatitude() override { return m_state->link.siteLatitude(); }
    double SiderealTime() override { return m_state->sky.siderealTimeNow(); }

private:
    Equatorial position()
    {
        Equatorial at;
        if (!m_state->link.mountJ2000(m_state->clock.utcNow(), at))
            throw HostError(QStringLiteral("RightAscension"), m_state->settings.indi.mount,
                            QStringLiteral("the mount has reported no position"));
        return at;
    }

    std::shared_ptr<IndiState> m_state;
};

class IndiApplication : public AcpApplication
{
public:
    explicit IndiApplication(std::shared_ptr<IndiState> state) : m_state(std::move(state)) {}
    QString Path() override { return m_state->settings.hostPath; }

private:
    std::shared_ptr<IndiState> m_state;
};

} // namespace

IndiObservatory::IndiObservatory(const QString& folder, const ObservatorySettings& given)
{
    const QString abs = QDir::cleanPath(QDir(folder).absolutePath());
    const ObservatorySettings settings = resolvedIn(abs, given);
    const auto missingKey = [&](const char* key) {
        return HostError(QStringLiteral("observatory.ini"), observatoryIniPath(abs),
                         QStringLiteral("[indi] %1 names no device; an INDI observatory needs one")
                             .arg(QString::fromLatin1(key)));
    };
    if (settings.indi.mount.isEmpty())
        throw missingKey("mount");
    if (settings.indi.camera.isEmpty())
        throw missingKey("camera");
    makeObservatoryFolders(settings);
    m_state = std::make_shared<IndiState>(abs, settings);

    IndiLink& link = m_state->link;
    QString error;
    if (!link.connectServer(error))
        throw HostError(QStringLiteral("INDI"), link.serverText(),
                        error + QStringLiteral(" (is indiserver running?)"));
    QList<Need> needs;
    for (const QString& device : link.devices())
        needs << Need{device, QString()};
    needs << Need{settings.indi.mount, QStringLiteral("EQUATORIAL_EOD_COORD")};
    QElapsedTimer waited;
    waited.start();
    QString missing;
    for (;;) {
        link.requestDevices();
        missing = link.missing(needs);
        if (missing.isEmpty() || waited.elapsed() > settings.indi.connectTimeout * 1000)
            break;
        waitWallMilliseconds(50);
    }
    if (!missing.isEmpty())
        throw HostError(QStringLiteral("INDI"), link.serverText(), missing);
    // A mount that has just connected may define its position before it has read it; its first
    // update follows within a poll.
    const IndiClient& client = m_state->client;
    waited.restart();
    for (;;) {
        // Looked up anew each time: a server lost meanwhile takes its properties with it.
        const IndiProperty* position =
            client.property(settings.indi.mount, QStringLiteral("EQUATORIAL_EOD_COORD"));
        if (!position)
            throw HostError(QStringLiteral("INDI"), link.serverText(),
                            QStringLiteral("the connection was lost while the mount's position was awaited"));
        if (position->updates >= 2 || waited.elapsed() >= 2000)
            break;
        waitWallMilliseconds(50);
    }
    if (IndiWatchdog* watchdog = m_state->watchdog.get()) {
        waited.restart();
        while (!watchdog->prepare()) {
            if (waited.elapsed() > settings.indi.connectTimeout * 1000)
                throw HostError(
                    QStringLiteral("INDI"), link.serverText(),
                    QStringLiteral("the watchdog \"%1\" did not connect and take its settings within %2 s")
                        .arg(settings.indi.watchdog, doubleText(settings.indi.connectTimeout)));
            waitWallMilliseconds(50);
        }
    }
}

IndiObservatory::~IndiObservatory() = default;

std::unique_ptr<FileSystem> IndiObservatory::createFileSystem()
{
    return std::make_unique<LocalFileSystem>();
}

std::unique_ptr<AcpUtil> IndiObservatory::createUtil()
{
    return std::make_unique<IndiUtil>(m_state);
}

std::unique_ptr<AcpTelescope> IndiObservatory::createTelescope()
{
    return std::make_unique<IndiTelescope>(m_state);
}

std::unique_ptr<AcpApplication> IndiObservatory::createApplication()
{
    return std::make_unique<IndiApplication>(m_state);
}

Clock& IndiObservatory::clock()
{
    return m_state->clock;
}

QString IndiObservatory::lastPlanOutcome()
{
    return m_state->executor.active() && !m_state->executor.looking() ? QStringLiteral("running")
                                                                      : m_state->executor.lastOutcome();
}

QString IndiObservatory::takeRefocusReason()
{
    return m_state->executor.takeRefocusReason();
}

QString IndiObservatory::skyPause()
{
    IndiState& s = *m_state;
    if (!s.clouds.paused())
        return {};
    if (!s.executor.active() && s.clock.utcNow() >= s.clouds.nextLook())
        s.executor.lookAtSky(s.settings.grading.testExposure);
    return s.pauseText();
}

QStringList IndiObservatory::takeSkyEvents()
{
    return std::exchange(m_state->skyEvents, QStringList());
}

ObservatoryControl* IndiObservatory::observatoryControl()
{
    return &m_state->control;
}

QString IndiObservatory::describe()
{
    return QStringLiteral("INDI server ") + m_state->link.serverText();
}

const ObservatorySettings* IndiObservatory::observatorySettings() const
{
    return &m_state->settings;
}

std::optional<bool> IndiObservatory::weatherSafe()
{
    // What the link last heard; the survey's own weather reads are what reconnect a lost server.
    if (!m_state->link.weatherConfigured())
        return std::nullopt;
    return m_state->link.weatherSafe();
}

std::optional<DomeView> IndiObservatory::dome()
{
    return m_state->executor.dome();
}

QString IndiObservatory::acquisitionLogPath() const
{
    return m_state->executor.logPath();
}

const ObservatorySettings& IndiObservatory::settings() const
{
    return m_state->settings;
}

} // namespace kestrove::indi
