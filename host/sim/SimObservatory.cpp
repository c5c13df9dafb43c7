#include "host/sim/SimObservatory.h"

#include "config/NumberText.h"
#include "host/HostError.h"
#include "host/LocalFileSystem.h"
#include "host/sim/HostText.h"
#include "host/sim/SimLimits.h"
#include "host/sim/SimState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSettings>

#include <cmath>

Q_LOGGING_CATEGORY(lcSim, "kestrove.sim")

namespace kestrove::sim {

namespace {

const QString iniName = QStringLiteral("observatory.ini");
const QString call = QStringLiteral("SimObservatory");

QString absoluteIn(const QString& folder, const QString& path)
{
    return QDir::cleanPath(QDir(folder).absoluteFilePath(path));
}

QString relativeTo(const QString& folder, const QString& path)
{
    const QString rel = QDir(folder).relativeFilePath(path);
    return rel.isEmpty() ? QStringLiteral(".") : rel;
}

void makeFolder(const QString& path)
{
    if (!QDir().mkpath(path))
        throw HostError(call, path, QStringLiteral("cannot create the folder"));
}

QTimeZone zoneOf(const QString& name, const QString& subject)
{
    const QTimeZone zone(name.toUtf8());
    if (!zone.isValid())
        throw HostError(call, subject,
                        QStringLiteral("[site] timeZone \"%1\" is not a known IANA time zone").arg(name));
    return zone;
}

QDateTime clockStartOf(const QString& text, const QString& subject)
{
    if (text.trimmed().compare(QStringLiteral("now"), Qt::CaseInsensitive) == 0)
        return {};
    const auto start = parseUtcInstant(text);
    if (!start)
        throw HostError(
            call, subject,
            QStringLiteral("[clock] start \"%1\" is neither \"now\" nor an ISO 8601 UTC instant").arg(text));
    return *start;
}

// Reads "observatory.ini" key by key; a key that is absent keeps its default.
class IniReader
{
public:
    explicit IniReader(const QString& path) : m_path(path), m_ini(path, QSettings::IniFormat) {}

    bool text(const char* key, QString& out)
    {
        const QString k = QString::fromLatin1(key);
        if (!m_ini.contains(k))
            return false;
        const QVariant v = m_ini.value(k);
        // Unquoted commas make QSettings split a value into a list.
        out =
            v.typeId() == QMetaType::QStringList ? v.toStringList().join(QStringLiteral(", ")) : v.toString();
        return true;
    }

    void number(const char* key, double& out, double low, double high)
    {
        QString t;
        if (!text(key, t))
            return;
        const auto v = parseNumber(t);
        if (!v || !std::isfinite(*v))
            throw bad(key, t, QStringLiteral("is not a number"));
        if (*v < low || *v > high)
            throw bad(key, t, QStringLiteral("lies outside %1 to %2").arg(doubleText(low), doubleText(high)));
        out = *v;
    }

    template <typename Int> void integer(const char* key, Int& out, double low, double high)
    {
        double v = static_cast<double>(out);
        number(key, v, low, high);
        if (v != std::floor(v)) {
            QString t;
            text(key, t);
            throw bad(key, t, QStringLiteral("is not a whole number"));
        }
        out = static_cast<Int>(v);
    }

    void boolean(const char* key, bool& out)
    {
        QString t;
        if (!text(key, t))
            return;
        const QString l = t.trimmed().toLower();
        if (l == QStringLiteral("true") || l == QStringLiteral("1") || l == QStringLiteral("yes"))
            out = true;
        else if (l == QStringLiteral("false") || l == QStringLiteral("0") || l == QStringLiteral("no"))
            out = false;
        else
            throw bad(key, t, QStringLiteral("is not true or false"));
    }

    // The value as the file holds it, for values that may hold ";" (a comment start for QSettings).
    bool raw(const QString& section, const QString& key, QString& out)
    {
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        QString current;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (line.startsWith(u'[') && line.endsWith(u']')) {
                current = line.mid(1, line.size() - 2).trimmed();
                continue;
            }
            const qsizetype eq = line.indexOf(u'=');
            if (current.compare(section, Qt::CaseInsensitive) != 0 || eq < 0 ||
                line.left(eq).trimmed() != key)
                continue;
            out = line.mid(eq + 1).trimmed();
            if (out.size() >= 2 && out.startsWith(u'"') && out.endsWith(u'"'))
                out = out.mid(1, out.size() - 2);
            return true;
        }
        return false;
    }

    HostError bad(const char* key, const QString& value, const QString& why) const
    {
        const QString k = QString::fromLatin1(key);
        const qsizetype slash = k.indexOf(u'/');
        return HostError(
            call, m_path,
            QStringLiteral("[%1] %2 \"%3\" %4").arg(k.left(slash), k.mid(slash + 1), value, why));
    }

    QSettings::Status status() const { return m_ini.status(); }

private:
    QString m_path;
    QSettings m_ini;
};

QString boolText(bool v)
{
    return v ? QStringLiteral("true") : QStringLiteral("false");
}

// A new file is written by hand so that it can explain its keys; later reads go through QSettings.
QByteArray defaultFileText(const SimSettings& s, const QString& folder)
{
    QStringList lines{
        QStringLiteral(
            "; Kestrove simulated observatory. Delete a key (or the file) to get its default back."),
        QStringLiteral("[site]"),
        QStringLiteral(
            "; degrees (north and east positive), metres, and the IANA time zone of the site's civil time"),
        QStringLiteral("latitude=") + doubleText(s.latitude),
        QStringLiteral("longitude=") + doubleText(s.longitude),
        QStringLiteral("elevation=") + doubleText(s.elevation),
        QStringLiteral("timeZone=") + s.timeZone,
        QString(),
        QStringLiteral("[clock]"),
        QStringLiteral("; now, or an ISO 8601 UTC instant such as 2026-12-07T20:00:00Z"),
        QStringLiteral("start=") + s.clockStart,
        QStringLiteral(
            "; 1 real time, N runs N times faster, 0 virtual time (a wait moves the clock at once)"),
        QStringLiteral("speed=") + doubleText(s.clockSpeed),
        QString(),
        QStringLiteral("[mount]"),
        QStringLiteral("; 0 alt-azimuth, 1 equatorial, 2 German equatorial"),
        QStringLiteral("alignmentMode=") + integerText(s.alignmentMode),
        QStringLiteral("; where the mount points at start: J2000 hours and degrees"),
        QStringLiteral("rightAscension=") + doubleText(s.mountRightAscension),
        QStringLiteral("declination=") + doubleText(s.mountDeclination),
        QStringLiteral("; degrees per second; seconds after each slew; degrees"),
        QStringLiteral("slewRate=") + doubleText(s.slewRate),
        QStringLiteral("settleTime=") + doubleText(s.settleTime),
        QStringLiteral("tiltUpLimit=") + doubleText(s.tiltUpLimit),
        QString(),
        QStringLiteral("[limits]"),
        QStringLiteral("minimumElevation=") + doubleText(s.minimumElevation),
        QStringLiteral(
            "; azimuth:elevation pairs in degrees, e.g. 0:10 90:25 180:5 270:15; empty is flat at 0"),
        QStringLiteral("horizon=") + horizonText(s.horizon),
        QString(),
        QStringLiteral("[weather]"),
        QStringLiteral("connected=") + boolText(s.weatherConnected),
        QStringLiteral("; UTC intervals of unsafe weather, start/end, separated by commas"),
        QStringLiteral("unsafe=") + intervalsText(s.unsafe),
        QString(),
        QStringLiteral("[folders]"),
        QStringLiteral("; relative to this folder"),
        QStringLiteral("planDir=") + relativeTo(folder, s.planDir),
        QStringLiteral("logDir=") + relativeTo(folder, s.logDir),
        QStringLiteral("hostPath=") + relativeTo(folder, s.hostPath),
        QString(),
        QStringLiteral("[acquisition]"),
        QStringLiteral("; seconds per autofocus and per image download"),
        QStringLiteral("autofocusSeconds=") + doubleText(s.autofocusSeconds),
        QStringLiteral("downloadSeconds=") + doubleText(s.downloadSeconds),
        QStringLiteral("; probability (0 to 1) that a plan fails before its end, and the seed of that draw"),
        QStringLiteral("failureRate=") + doubleText(s.failureRate),
        QStringLiteral("failureSeed=") + QString::number(s.failureSeed),
        QStringLiteral("; seconds between the end of a plan and the effect of its chain script"),
        QStringLiteral("chainScriptDelay=") + doubleText(s.chainScriptDelay),
    };
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += line.toUtf8() + "\r\n";
    return bytes;
}

void makeFolders(const SimSettings& s)
{
    makeFolder(s.planDir);
    makeFolder(s.logDir);
    makeFolder(s.hostPath + QStringLiteral("/Scripts"));
    const QString script = s.hostPath + QStringLiteral("/Scripts/AcquireImages.js");
    if (!QFileInfo::exists(script)) {
        QFile file(script);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write("// Placeholder: the simulated observatory runs its acquisition script itself.\r\n") <
                0)
            throw HostError(call, script, file.errorString());
    }
}

// The automation objects. Each member first lets the acquisition script catch up with the clock.

class SimTransform : public CoordTransform
{
public:
    SimTransform(std::shared_ptr<const SkyInstant> sky, bool fixed, double latitude, double siderealTime)
        : m_sky(std::move(sky)), m_fixed(fixed), m_latitude(latitude), m_siderealTime(siderealTime)
    {
    }

    void setRightAscension(double hours) override
    {
        m_ra = hours;
        m_dirty = true;
    }
    void setDeclination(double degrees) override
    {
        m_dec = degrees;
        m_dirty = true;
    }
    double RightAscension() const override { return m_ra; }
    double Declination() const override { return m_dec; }
    double Elevation() override { return place().elevation; }
    double Azimuth() override { return place().azimuth; }

private:
    const Horizontal& place()
    {
        if (m_dirty) {
            m_place = m_fixed ? m_sky->observedAt(m_ra, m_dec, m_latitude, m_siderealTime)
                              : m_sky->observed(m_ra, m_dec);
            m_dirty = false;
        }
        return m_place;
    }

    std::shared_ptr<const SkyInstant> m_sky;
    bool m_fixed;
    double m_latitude;
    double m_siderealTime;
    double m_ra = 0;
    double m_dec = 0;
    bool m_dirty = true;
    Horizontal m_place;
};

class SimLocalUser : public AcpLocalUser
{
public:
    explicit SimLocalUser(SimState& state) : m_state(state) {}
    QString DefaultPlanDir() override { return m_state.settings.planDir; }
    QString DefaultLogDir() override { return m_state.settings.logDir; }

private:
    SimState& m_state;
};

class SimPrefs : public AcpPrefs
{
public:
    explicit SimPrefs(SimState& state) : m_state(state), m_localUser(state) {}
    AcpLocalUser& LocalUser() override { return m_localUser; }
    double TiltUpLimit() override { return m_state.settings.tiltUpLimit; }
    double MinimumElevation() override { return m_state.settings.minimumElevation; }
    double GetHorizon(double azimuth) override { return horizonElevation(m_state.settings.horizon, azimuth); }
    double SlewsettleTime() override { return m_state.settings.settleTime; }

private:
    SimState& m_state;
    SimLocalUser m_localUser;
};

class SimWeather : public AcpWeather
{
public:
    explicit SimWeather(SimState& state) : m_state(state) {}
    bool Safe() override
    {
        m_state.catchUp();
        return !inAnyInterval(m_state.settings.unsafe, m_state.clock.utcNow());
    }

private:
    SimState& m_state;
};

class SimUtil : public AcpUtil
{
public:
    explicit SimUtil(std::shared_ptr<SimState> state)
        : m_state(std::move(state)), m_weather(*m_state), m_prefs(*m_state)
    {
    }

    bool ScriptActive() override
    {
        m_state->catchUp();
        return m_state->runner.active();
    }
    bool WeatherConnected() override { return m_state->settings.weatherConnected; }
    AcpWeather& Weather() override { return m_weather; }
    AcpPrefs& Prefs() override { return m_prefs; }

    QString FormatVar(const QDateTime& value, const QString& format) override
    {
        return formatDate(value, format);
    }
    double Date_Julian(const QDateTime& value) override { return julianDate(value); }

    std::unique_ptr<CoordTransform> NewCTHereAndNow() override
    {
        return std::make_unique<SimTransform>(m_state->skyNow(), false, 0, 0);
    }
    std::unique_ptr<CoordTransform> NewCT(double latitude, double siderealTime) override
    {
        double st = std::fmod(siderealTime, 24.0);
        if (st < 0)
            st += 24.0;
        return std::make_unique<SimTransform>(m_state->skyNow(), true, latitude, st);
    }
    bool IsGEMDestinationWest(double rightAscension) override
    {
        double ha = std::fmod(m_state->siderealTimeNow() - rightAscension, 24.0);
        if (ha <= -12)
            ha += 24;
        else if (ha > 12)
            ha -= 24;
        return ha < 0;
    }

    double HMS_Hours(const QString& text) override
    {
        return parseSexagesimal(QStringLiteral("HMS_Hours"), text, u'h');
    }
    double DMS_Degrees(const QString& text) override
    {
        return parseSexagesimal(QStringLiteral("DMS_Degrees"), text, u'd');
    }
    QString Hours_HMS(double hours, const QString& h, const QString& m, const QString& s) override
    {
        return formatSexagesimal(hours, h, m, s, false);
    }
    QString Degrees_DMS(double degrees, const QString& d, const QString& m, const QString& s) override
    {
        return formatSexagesimal(degrees, d, m, s, true);
    }

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

private:
    std::shared_ptr<SimState> m_state;
    SimWeather m_weather;
    SimPrefs m_prefs;
};

class SimTelescope : public AcpTelescope
{
public:
    explicit SimTelescope(std::shared_ptr<SimState> state) : m_state(std::move(state)) {}
    double RightAscension() override
    {
        m_state->catchUp();
        return m_state->mountRightAscension;
    }
    double Declination() override
    {
        m_state->catchUp();
        return m_state->mountDeclination;
    }
    int AlignmentMode() override { return m_state->settings.alignmentMode; }
    double SiteLatitude() override { return m_state->settings.latitude; }
    double SiderealTime() override { return m_state->siderealTimeNow(); }

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

SimState::SimState(const QString& folder, const SimSettings& settings)
    : folder(folder), settings(settings), clock(clockStartOf(settings.clockStart, folder),
                                                settings.clockSpeed, zoneOf(settings.timeZone, folder)),
      mountRightAscension(settings.mountRightAscension), mountDeclination(settings.mountDeclination),
      runner(*this)
{
}

std::shared_ptr<const SkyInstant> SimState::skyNow()
{
    catchUp();
    const QDateTime now = clock.utcNow();
    if (!m_sky || m_sky->msecsSinceEpoch() != now.toMSecsSinceEpoch())
        m_sky = std::make_shared<const SkyInstant>(now, site());
    return m_sky;
}

double SimState::siderealTimeNow()
{
    catchUp();
    const qint64 now = clock.utcNow().toMSecsSinceEpoch();
    if (!m_sky || now < m_sky->msecsSinceEpoch() || now - m_sky->msecsSinceEpoch() > 60000)
        return skyNow()->localSiderealTime();
    constexpr double siderealPerSolar = 1.00273790935;
    const double hours = m_sky->localSiderealTime() +
                         static_cast<double>(now - m_sky->msecsSinceEpoch()) / 3600000.0 * siderealPerSolar;
    return std::fmod(hours, 24.0);
}

void SimState::catchUp() noexcept
{
    try {
        runner.catchUp(clock.utcNow());
    } catch (const std::exception& e) {
        qCWarning(lcSim) << "acquisition script:" << e.what();
    }
}

SimObservatory::SimObservatory(const QString& folder) : SimObservatory(folder, readSettings(folder)) {}

SimObservatory::SimObservatory(const QString& folder, const SimSettings& given)
{
    const QString abs = QDir::cleanPath(QDir(folder).absolutePath());
    makeFolder(abs);
    SimSettings settings = given;
    const SimSettings fallback = defaults(abs);
    for (const auto& [path, byDefault] :
         {std::pair{&settings.planDir, fallback.planDir}, std::pair{&settings.logDir, fallback.logDir},
          std::pair{&settings.hostPath, fallback.hostPath}})
        *path = path->isEmpty() ? byDefault : absoluteIn(abs, *path);
    if (settings.clockStart.isEmpty())
        settings.clockStart = fallback.clockStart;
    if (settings.timeZone.isEmpty())
        settings.timeZone = QStringLiteral("UTC");
    makeFolders(settings);
    m_state = std::make_shared<SimState>(abs, settings);
    // The clock's callback must not keep the state alive or outlive it.
    std::weak_ptr<SimState> weak = m_state;
    m_state->clock.setOnAdvance([weak] {
        if (auto state = weak.lock())
            state->catchUp();
    });
}

SimObservatory::~SimObservatory() = default;

SimSettings SimObservatory::defaults(const QString& folder)
{
    const QString abs = QDir::cleanPath(QDir(folder).absolutePath());
    SimSettings s;
    // Roque de los Muchachos, La Palma: a dark site with a real time zone.
    s.latitude = 28.7606;
    s.longitude = -17.8816;
    s.elevation = 2396;
    s.timeZone = QStringLiteral("Atlantic/Canary");
    s.clockStart = QStringLiteral("now");
    s.clockSpeed = 1;
    s.planDir = abs + QStringLiteral("/Plans");
    s.logDir = abs + QStringLiteral("/Logs");
    s.hostPath = abs;
    return s;
}

SimSettings SimObservatory::readSettings(const QString& folder)
{
    const QString abs = QDir::cleanPath(QDir(folder).absolutePath());
    makeFolder(abs);
    const QString path = abs + u'/' + iniName;
    SimSettings s = defaults(abs);
    if (!QFileInfo::exists(path)) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(defaultFileText(s, abs)) < 0)
            throw HostError(call, path, file.errorString());
        file.close();
    }

    IniReader ini(path);
    if (ini.status() != QSettings::NoError)
        throw HostError(call, path, QStringLiteral("not a readable INI file"));

    ini.number("site/latitude", s.latitude, -90, 90);
    ini.number("site/longitude", s.longitude, -360, 360);
    ini.number("site/elevation", s.elevation, -500, 10000);
    ini.text("site/timeZone", s.timeZone);
    s.timeZone = s.timeZone.trimmed();
    zoneOf(s.timeZone, path);

    ini.text("clock/start", s.clockStart);
    s.clockStart = s.clockStart.trimmed();
    clockStartOf(s.clockStart, path);
    ini.number("clock/speed", s.clockSpeed, 0, 1e9);

    ini.integer("mount/alignmentMode", s.alignmentMode, 0, 2);
    ini.number("mount/rightAscension", s.mountRightAscension, 0, 24);
    ini.number("mount/declination", s.mountDeclination, -90, 90);
    ini.number("mount/slewRate", s.slewRate, 1e-6, 1e6);
    ini.number("mount/settleTime", s.settleTime, 0, 1e6);
    ini.number("mount/tiltUpLimit", s.tiltUpLimit, -90, 90);

    ini.number("limits/minimumElevation", s.minimumElevation, -90, 90);
    QString text;
    if (ini.text("limits/horizon", text)) {
        const auto horizon = parseHorizon(text);
        if (!horizon)
            throw ini.bad("limits/horizon", text, QStringLiteral("is not a list of azimuth:elevation pairs"));
        s.horizon = *horizon;
    }

    ini.boolean("weather/connected", s.weatherConnected);
    if (ini.raw(QStringLiteral("weather"), QStringLiteral("unsafe"), text) ||
        ini.text("weather/unsafe", text)) {
        const auto intervals = parseIntervals(text);
        if (!intervals)
            throw ini.bad("weather/unsafe", text, QStringLiteral("is not a list of start/end UTC intervals"));
        s.unsafe = *intervals;
    }

    for (const auto& [key, target] :
         {std::pair{"folders/planDir", &s.planDir}, std::pair{"folders/logDir", &s.logDir},
          std::pair{"folders/hostPath", &s.hostPath}}) {
        if (ini.text(key, text)) {
            if (text.trimmed().isEmpty())
                throw ini.bad(key, text, QStringLiteral("is empty"));
            *target = absoluteIn(abs, text.trimmed());
        }
    }

    ini.number("acquisition/autofocusSeconds", s.autofocusSeconds, 0, 1e6);
    ini.number("acquisition/downloadSeconds", s.downloadSeconds, 0, 1e6);
    ini.number("acquisition/failureRate", s.failureRate, 0, 1);
    ini.integer("acquisition/failureSeed", s.failureSeed, 0, 4294967295.0);
    ini.number("acquisition/chainScriptDelay", s.chainScriptDelay, 0, 1e6);
    return s;
}

void SimObservatory::writeSettings(const QString& folder, const SimSettings& settings)
{
    const QString abs = QDir::cleanPath(QDir(folder).absolutePath());
    makeFolder(abs);
    const QString path = abs + u'/' + iniName;
    QSettings ini(path, QSettings::IniFormat);
    const auto set = [&](const char* key, const QString& value) {
        ini.setValue(QString::fromLatin1(key), value);
    };
    set("site/latitude", doubleText(settings.latitude));
    set("site/longitude", doubleText(settings.longitude));
    set("site/elevation", doubleText(settings.elevation));
    set("site/timeZone", settings.timeZone);
    set("clock/start", settings.clockStart);
    set("clock/speed", doubleText(settings.clockSpeed));
    set("mount/alignmentMode", integerText(settings.alignmentMode));
    set("mount/rightAscension", doubleText(settings.mountRightAscension));
    set("mount/declination", doubleText(settings.mountDeclination));
    set("mount/slewRate", doubleText(settings.slewRate));
    set("mount/settleTime", doubleText(settings.settleTime));
    set("mount/tiltUpLimit", doubleText(settings.tiltUpLimit));
    set("limits/minimumElevation", doubleText(settings.minimumElevation));
    set("limits/horizon", horizonText(settings.horizon));
    set("weather/connected", boolText(settings.weatherConnected));
    set("weather/unsafe", intervalsText(settings.unsafe));
    set("folders/planDir", relativeTo(abs, settings.planDir));
    set("folders/logDir", relativeTo(abs, settings.logDir));
    set("folders/hostPath", relativeTo(abs, settings.hostPath));
    set("acquisition/autofocusSeconds", doubleText(settings.autofocusSeconds));
    set("acquisition/downloadSeconds", doubleText(settings.downloadSeconds));
    set("acquisition/failureRate", doubleText(settings.failureRate));
    set("acquisition/failureSeed", QString::number(settings.failureSeed));
    set("acquisition/chainScriptDelay", doubleText(settings.chainScriptDelay));
    ini.sync();
    if (ini.status() != QSettings::NoError)
        throw HostError(call, path, QStringLiteral("cannot write the file"));
}

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

SimClock& SimObservatory::simClock()
{
    return m_state->clock;
}

const SimSettings& SimObservatory::settings() const
{
    return m_state->settings;
}

QString SimObservatory::folder() const
{
    return m_state->folder;
}

QString SimObservatory::iniPath() const
{
    return m_state->folder + u'/' + iniName;
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
