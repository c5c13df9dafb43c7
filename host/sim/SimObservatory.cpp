#include "host/sim/SimObservatory.h"

#include "host/LocalFileSystem.h"
#include "host/sim/SimState.h"
#include "text/HostError.h"
#include "text/ValueText.h"

#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QThread>
#include <QTimer>

#include <algorithm>

Q_LOGGING_CATEGORY(lcSim, "kestrove.sim")

namespace kestrove::sim {

namespace {

// The automation objects. Each member first lets the acquisition script catch up with the clock.

class SimUtil : public SkyUtil
{
public:
    explicit SimUtil(std::shared_ptr<SimState> state)
        : SkyUtil(state->sky, state->settings.sunAltitude, &state->control), m_state(std::move(state)),
          m_prefs(m_state->settings)
    {
    }

    bool ScriptActive() override
    {
        m_state->catchUp();
        return m_state->runner.active();
    }
    AcpPrefs& Prefs() override { return m_prefs; }

    void LoadScript(const QString& path) override
    {
        m_state->catchUp();
        m_state->runner.load(path);
    }
    void RunScript() override
    {
        m_state->catchUp();
        m_state->runner.run();
    }
    void AbortScript() override
    {
        m_state->catchUp();
        m_state->runner.abort();
    }

protected:
    bool deviceWeatherConnected() override { return m_state->settings.weatherConnected; }
    bool deviceWeatherSafe() override
    {
        m_state->catchUp();
        return !inAnyInterval(m_state->settings.unsafe, m_state->clock.utcNow());
    }

private:
    std::shared_ptr<SimState> m_state;
    SettingsPrefs m_prefs;
};

class SimTelescope : public AcpTelescope
{
public:
    explicit SimTelescope(std::shared_ptr<SimState> state) : m_state(std::move(state)) {}
    double RightAscension() override
    {
        m_state->catchUpToRead();
        return m_state->mountRightAscension;
    }
    double Declination() override
    {
        m_state->catchUpToRead();
        return m_state->mountDeclination;
    }
    int AlignmentMode() override { return m_state->settings.alignmentMode; }
    double SiteLatitude() override { return m_state->settings.latitude; }
    double SiderealTime() override { return m_state->sky.siderealTimeNow(); }

private:
    std::shared_ptr<SimState> m_state;
};

class SimApplication : public AcpApplication
{
public:
    explicit SimApplication(std::shared_ptr<SimState> state) : m_state(std::move(state)) {}
    QString Path() override { return m_state->settings.hostPath; }

private:
    std::shared_ptr<SimState> m_state;
};

} // namespace

SimState::SimState(const QString& folder, const ObservatorySettings& settings)
    : folder(folder), settings(settings),
      clock(clockStartInstant(settings), settings.clockSpeed, siteTimeZone(settings)),
      sky(Site{settings.latitude, settings.longitude, settings.elevation}, clock),
      mountRightAscension(settings.mountRightAscension), mountDeclination(settings.mountDeclination),
      runner(*this), devices(*this),
      control(devices, sky, clock, siteTimeZone(settings), settings.sunAltitude, settings.safety)
{
    if (devices.has(Motion::SkyFlats))
        control.setSkyFlats(skyFlatWindowOf(settings));
}

void SimState::catchUp() noexcept
{
    try {
        runner.catchUp(clock.utcNow());
        control.update();
    } catch (const std::exception& e) {
        qCWarning(lcSim) << "acquisition script:" << e.what();
    }
    // What called this may change the state next; a read made during it (by the script) is stale.
    m_readAtMs.reset();
}

void SimState::catchUpToRead() noexcept
{
    const qint64 now = clock.utcMsecs();
    if (m_readAtMs == now)
        return;
    catchUp();
    m_readAtMs = now;
}

SimObservatory::SimObservatory(const QString& folder)
    : SimObservatory(folder, readObservatorySettings(folder))
{
}

SimObservatory::SimObservatory(const QString& folder, const ObservatorySettings& given)
{
    const QString abs = QDir::cleanPath(QDir(folder).absolutePath());
    if (!QDir().mkpath(abs))
        throw HostError(QStringLiteral("SimObservatory"), abs, QStringLiteral("cannot create the folder"));
    const ObservatorySettings settings = resolvedIn(abs, given);
    makeObservatoryFolders(settings);
    m_state = std::make_shared<SimState>(abs, settings);
    // The clock's callback must not keep the state alive or outlive it.
    std::weak_ptr<SimState> weak = m_state;
    m_state->clock.setOnAdvance([weak] {
        if (auto state = weak.lock())
            state->catchUp();
    });
    // In virtual time nothing moves between waits; a running clock is followed about once a second
    // of its own, as a real observatory's controller is.
    const QCoreApplication* app = QCoreApplication::instance();
    if (settings.clockSpeed > 0 && app && app->thread() == QThread::currentThread()) {
        m_tick = std::make_unique<QTimer>();
        m_tick->setInterval(std::max(50, static_cast<int>(1000 / settings.clockSpeed)));
        QObject::connect(m_tick.get(), &QTimer::timeout, [weak] {
            if (auto state = weak.lock())
                state->catchUp();
        });
        m_tick->start();
    }
}

SimObservatory::~SimObservatory() = default;

std::unique_ptr<FileSystem> SimObservatory::createFileSystem()
{
    return std::make_unique<LocalFileSystem>();
}

std::unique_ptr<AcpUtil> SimObservatory::createUtil()
{
    return std::make_unique<SimUtil>(m_state);
}

std::unique_ptr<AcpTelescope> SimObservatory::createTelescope()
{
    return std::make_unique<SimTelescope>(m_state);
}

std::unique_ptr<AcpApplication> SimObservatory::createApplication()
{
    return std::make_unique<SimApplication>(m_state);
}

Clock& SimObservatory::clock()
{
    return m_state->clock;
}

ObservatoryControl* SimObservatory::observatoryControl()
{
    return &m_state->control;
}

QString SimObservatory::describe()
{
    return QStringLiteral("Simulated observatory");
}

const ObservatorySettings* SimObservatory::observatorySettings() const
{
    return &m_state->settings;
}

std::optional<bool> SimObservatory::weatherSafe()
{
    if (!m_state->settings.weatherConnected)
        return std::nullopt;
    return m_state->devices.weatherSafe();
}

QString SimObservatory::lastPlanOutcome()
{
    m_state->catchUp();
    return m_state->runner.outcome();
}

SiteClock& SimObservatory::simClock()
{
    return m_state->clock;
}

const ObservatorySettings& SimObservatory::settings() const
{
    return m_state->settings;
}

QString SimObservatory::folder() const
{
    return m_state->folder;
}

QString SimObservatory::iniPath() const
{
    return observatoryIniPath(m_state->folder);
}

void SimObservatory::pointMount(double rightAscension, double declination)
{
    m_state->catchUp();
    m_state->mountRightAscension = rightAscension;
    m_state->mountDeclination = declination;
}

QString SimObservatory::acquisitionLogPath() const
{
    return m_state->runner.logPath();
}

} // namespace kestrove::sim
