#include "settings/ObservatorySettings.h"

#include "settings/IniReader.h"

#include "settings/ObservatoryForm.h"
#include "settings/ReportSettings.h"
#include "text/FileMessage.h"
#include "text/HostError.h"
#include "text/NumberText.h"
#include "text/ValueText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace kestrove {

namespace {

const QString iniName = QStringLiteral("observatory.ini");
const QString call = QStringLiteral("observatory.ini");

// Every key of the file, as section/key. A key the reader learns is added here as well, or it is
// reported as unknown at start.
const QStringList& knownKeys()
{
    static const QStringList keys =
        QStringList{
            QStringLiteral("host/kind"),
            QStringLiteral("site/latitude"),
            QStringLiteral("site/longitude"),
            QStringLiteral("site/elevation"),
            QStringLiteral("site/timeZone"),
            QStringLiteral("clock/start"),
            QStringLiteral("clock/speed"),
            QStringLiteral("mount/alignmentMode"),
            QStringLiteral("mount/rightAscension"),
            QStringLiteral("mount/declination"),
            QStringLiteral("mount/slewRate"),
            QStringLiteral("mount/settleTime"),
            QStringLiteral("mount/tiltUpLimit"),
            QStringLiteral("limits/minimumElevation"),
            QStringLiteral("limits/sunAltitude"),
            QStringLiteral("limits/moonSeparation"),
            QStringLiteral("limits/horizon"),
            QStringLiteral("weather/connected"),
            QStringLiteral("weather/unsafe"),
            QStringLiteral("folders/planDir"),
            QStringLiteral("folders/logDir"),
            QStringLiteral("folders/hostPath"),
            QStringLiteral("acquisition/autofocusSeconds"),
            QStringLiteral("acquisition/downloadSeconds"),
            QStringLiteral("acquisition/pointingSeconds"),
            QStringLiteral("acquisition/failureRate"),
            QStringLiteral("acquisition/failureSeed"),
            QStringLiteral("acquisition/chainScriptDelay"),
            QStringLiteral("indi/server"),
            QStringLiteral("indi/mount"),
            QStringLiteral("indi/camera"),
            QStringLiteral("indi/filterWheel"),
            QStringLiteral("indi/focuser"),
            QStringLiteral("indi/weather"),
            QStringLiteral("indi/autofocusCommand"),
            QStringLiteral("indi/connectTimeout"),
            QStringLiteral("indi/slewMargin"),
            QStringLiteral("indi/downloadMargin"),
            QStringLiteral("indi/autofocusTimeout"),
            QStringLiteral("indi/sendSite"),
            QStringLiteral("indi/roof"),
            QStringLiteral("indi/dome"),
            QStringLiteral("indi/lightPanel"),
            QStringLiteral("indi/watchdog"),
            QStringLiteral("indi/heartbeat"),
            QStringLiteral("indi/coolTo"),
            QStringLiteral("indi/warmTo"),
            QStringLiteral("indi/gain"),
            QStringLiteral("solve/enabled"),
            QStringLiteral("solve/exposure"),
            QStringLiteral("solve/binning"),
            QStringLiteral("solve/indexFolder"),
            QStringLiteral("solve/scale"),
            QStringLiteral("solve/tolerance"),
            QStringLiteral("solve/attempts"),
            QStringLiteral("solve/method"),
            QStringLiteral("solve/cpuLimit"),
            QStringLiteral("solve/radius"),
            QStringLiteral("focus/stepsOut"),
            QStringLiteral("focus/step"),
            QStringLiteral("focus/maxTravel"),
            QStringLiteral("focus/exposure"),
            QStringLiteral("focus/binning"),
            QStringLiteral("focus/timeout"),
            QStringLiteral("safety/closeDelay"),
            QStringLiteral("safety/reopenDelay"),
            QStringLiteral("safety/closeAtEnd"),
            // Read by the web page and the notify command (web/WebSettings.cpp).
            QStringLiteral("web/port"),
            QStringLiteral("web/bind"),
            QStringLiteral("web/token"),
            QStringLiteral("web/hosts"),
            QStringLiteral("notify/command"),
            QStringLiteral("roof/openSeconds"),
            QStringLiteral("roof/closeSeconds"),
            QStringLiteral("mount/parkSeconds"),
            QStringLiteral("selection/policy"),
            QStringLiteral("selection/shares"),
            QStringLiteral("report/aavsoCode"),
            QStringLiteral("report/mpcCode"),
        } +
        gradingKeys() + domeKeys() + calibrationKeys() + discoveryKeys();
    return keys;
}

bool knownSection(const QString& section)
{
    const QString prefix = section + u'/';
    return std::any_of(knownKeys().begin(), knownKeys().end(),
                       [&](const QString& key) { return key.startsWith(prefix); });
}

// The lines that QSettings would drop without a word: a misspelt section or key, or a line that is
// none of "[section]", "key=value", a comment or blank. Sections and keys compare exactly, as
// QSettings compares them.
QStringList unusedLines(const QString& path)
{
    QStringList notes;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return notes;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    QString section;
    bool sectionKnown = true;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString raw = lines[i];
        if (raw.endsWith(u'\r'))
            raw.chop(1);
        const QString line = raw.trimmed();
        const auto note = [&](const QString& what) { notes << lineMessage(iniName, i + 1, what, raw); };
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            section = line.mid(1, line.size() - 2).trimmed();
            sectionKnown = knownSection(section);
            if (!sectionKnown)
                note(QStringLiteral("unknown section"));
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0) {
            note(QStringLiteral("neither a [section], a key=value nor a comment"));
            continue;
        }
        const QString key = line.left(eq).trimmed();
        if (section.isEmpty())
            note(QStringLiteral("key \"%1\" outside a section").arg(key));
        else if (sectionKnown && !knownKeys().contains(section + u'/' + key))
            note(QStringLiteral("unknown key \"%1\" in [%2]").arg(key, section));
    }
    return notes;
}

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

QString hostKindText(HostKind kind)
{
    return kind == HostKind::Indi ? QStringLiteral("indi") : QStringLiteral("sim");
}

QString optionalText(const std::optional<double>& v)
{
    return v ? doubleText(*v) : QString();
}

QString boolText(bool v)
{
    return v ? QStringLiteral("true") : QStringLiteral("false");
}

// A new file is written by hand so that it can explain its keys; later reads go through QSettings.
QByteArray defaultFileText(const ObservatorySettings& s, const QString& folder)
{
    QStringList lines{
        QStringLiteral("; Kestrove observatory. Delete a key (or the file) to get its default back."),
        QStringLiteral("[host]"),
        QStringLiteral(
            "; sim: the built-in simulated observatory; indi: devices of an INDI server ([indi] below)"),
        QStringLiteral("kind=") + hostKindText(s.kind),
        QString(),
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
        QStringLiteral("; seconds the simulated mount takes to park"),
        QStringLiteral("parkSeconds=") + doubleText(s.parkSeconds),
        QString(),
        QStringLiteral("[roof]"),
        QStringLiteral("; seconds the simulated roof takes to open and to close"),
        QStringLiteral("openSeconds=") + doubleText(s.roofOpenSeconds),
        QStringLiteral("closeSeconds=") + doubleText(s.roofCloseSeconds),
        QString(),
        QStringLiteral("[safety]"),
        QStringLiteral("; seconds unsafe weather must last before the observatory closes (0: at once),"),
        QStringLiteral("; and seconds it must stay safe before it opens again"),
        QStringLiteral("closeDelay=") + doubleText(s.safety.closeDelay),
        QStringLiteral("reopenDelay=") + doubleText(s.safety.reopenDelay),
        QStringLiteral("; true: park, close and warm up when a run ends"),
        QStringLiteral("closeAtEnd=") + boolText(s.safety.closeAtEnd),
        QString(),
        QStringLiteral("[limits]"),
        QStringLiteral("; degrees; no target lower than this (plus one degree) is chosen"),
        QStringLiteral("minimumElevation=") + doubleText(s.minimumElevation),
        QStringLiteral(
            "; degrees; while the Sun stands higher the weather counts as unsafe (empty: no limit)"),
        QStringLiteral("sunAltitude=") + optionalText(s.sunAltitude),
        QStringLiteral("; degrees; while the Moon is up, no target closer to it is chosen (empty: no limit)"),
        QStringLiteral("moonSeparation=") + optionalText(s.moonSeparation),
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
        QStringLiteral("; seconds at each pointing after the settle, as plate solves take them"),
        QStringLiteral("pointingSeconds=") + doubleText(s.pointingSeconds),
        QStringLiteral("; probability (0 to 1) that a plan fails before its end, and the seed of that draw"),
        QStringLiteral("failureRate=") + doubleText(s.failureRate),
        QStringLiteral("failureSeed=") + QString::number(s.failureSeed),
        QStringLiteral("; seconds between the end of a plan and the effect of its chain script"),
        QStringLiteral("chainScriptDelay=") + doubleText(s.chainScriptDelay),
        QString(),
        QStringLiteral("[indi]"),
        QStringLiteral("; the INDI server as host:port, and the names of its devices (empty: none)"),
        QStringLiteral("server=") + s.indi.server,
        QStringLiteral("mount=") + s.indi.mount,
        QStringLiteral("camera=") + s.indi.camera,
        QStringLiteral("filterWheel=") + s.indi.filterWheel,
        QStringLiteral("focuser=") + s.indi.focuser,
        QStringLiteral("weather=") + s.indi.weather,
        QStringLiteral("; a command run for #autofocus; empty skips autofocus (the acquisition log says so)"),
        QStringLiteral("autofocusCommand=") + s.indi.autofocusCommand,
        QStringLiteral(
            "; seconds: to connect and see each device property; a slew beyond distance/slewRate;"),
        QStringLiteral("; an exposure beyond its length"),
        QStringLiteral("connectTimeout=") + doubleText(s.indi.connectTimeout),
        QStringLiteral("slewMargin=") + doubleText(s.indi.slewMargin),
        QStringLiteral("downloadMargin=") + doubleText(s.indi.downloadMargin),
        QStringLiteral("; seconds the autofocus command may run"),
        QStringLiteral("autofocusTimeout=") + doubleText(s.indi.autofocusTimeout),
        QStringLiteral("; true: [site] is sent to the mount when its own location differs"),
        QStringLiteral("sendSite=") + boolText(s.indi.sendSite),
        QStringLiteral("; the roll-off roof or dome, and the indi_watchdog device (empty: none)"),
        QStringLiteral("roof=") + s.indi.roof,
        QStringLiteral("; a dome whose slit follows the telescope ([dome] below), instead of a roof"),
        QStringLiteral("dome=") + s.indi.dome,
        QStringLiteral("watchdog=") + s.indi.watchdog,
        QStringLiteral("; the flat panel lit for flats with the roof closed (empty: none)"),
        QStringLiteral("lightPanel=") + s.indi.lightPanel,
        QStringLiteral("; seconds without a heartbeat after which the watchdog parks and closes"),
        QStringLiteral("heartbeat=") + doubleText(s.indi.heartbeat),
        QStringLiteral("; degrees C: the camera's temperature while open (empty: the cooler is left alone),"),
        QStringLiteral("; and the one it is warmed to at a shut-down"),
        QStringLiteral("coolTo=") + optionalText(s.indi.coolTo),
        QStringLiteral("warmTo=") + doubleText(s.indi.warmTo),
        QStringLiteral("; the camera's electrons per ADU where its frames have no EGAIN card (empty: 1)"),
        QStringLiteral("gain=") + optionalText(s.indi.gain),
        QString(),
        QStringLiteral("[solve]"),
        QStringLiteral("; plate solving after each slew of an INDI plan (astrometry.net's solve-field);"),
        QStringLiteral("; enabled empty: on when solve-field and index files are found"),
        QStringLiteral("enabled=") + (s.solve.enabled ? boolText(*s.solve.enabled) : QString()),
        QStringLiteral("; the solve frame: seconds and binning"),
        QStringLiteral("exposure=") + doubleText(s.solve.exposure),
        QStringLiteral("binning=") + QString::number(s.solve.binning),
        QStringLiteral("; the folder of index-*.fits (empty: /usr/share/astrometry, as Debian's "
                       "astrometry-data-tycho2)"),
        QStringLiteral("indexFolder=") + s.solve.indexFolder,
        QStringLiteral(
            "; arcseconds per unbinned pixel (empty: from the camera's pixel size and focal length)"),
        QStringLiteral("scale=") + optionalText(s.solve.scale),
        QStringLiteral("; arcseconds the centre may lie from the target, and solves per target at most"),
        QStringLiteral("tolerance=") + doubleText(s.solve.tolerance),
        QStringLiteral("attempts=") + QString::number(s.solve.attempts),
        QStringLiteral(
            "; differential: slew to the target less the offset measured; sync: sync the mount, slew again"),
        QStringLiteral("method=") + (s.solve.sync ? QStringLiteral("sync") : QStringLiteral("differential")),
        QStringLiteral("; seconds of CPU per solve, and degrees around the target searched"),
        QStringLiteral("cpuLimit=") + doubleText(s.solve.cpuLimit),
        QStringLiteral("radius=") + doubleText(s.solve.radius),
        QString(),
        QStringLiteral("[focus]"),
        QStringLiteral("; the V-curve run for #autofocus with [indi] focuser (and no autofocusCommand):"),
        QStringLiteral("; steps out from the start, focuser units per step, units from the start at most,"),
        QStringLiteral("; seconds and binning per point, seconds for the whole run"),
        QStringLiteral("stepsOut=") + QString::number(s.focus.stepsOut),
        QStringLiteral("step=") + QString::number(s.focus.step),
        QStringLiteral("maxTravel=") + QString::number(s.focus.maxTravel),
        QStringLiteral("exposure=") + doubleText(s.focus.exposure),
        QStringLiteral("binning=") + QString::number(s.focus.binning),
        QStringLiteral("timeout=") + doubleText(s.focus.timeout),
        QString(),
        QStringLiteral("[selection]"),
        QStringLiteral("; how a pass chooses between the kinds: specified (each kind's best score times its"),
        QStringLiteral("; weight) or balanced (the kinds' scores on one scale, nothing before it is due)"),
        QStringLiteral("policy=") + policyText(s.selection.policy),
        QStringLiteral("; balanced: each kind's share of the night in percent, e.g. SNe:50,SLC:30,MPS:20"),
        QStringLiteral("; (empty: no shares)"),
        QStringLiteral("shares=") + sharesText(s.selection.shares),
    };
    lines << reportFileLines(s.aavsoCode, s.mpcCode);
    lines << gradingFileLines(s.grading);
    lines << domeFileLines(s.dome);
    lines << calibrationFileLines(s.calibration);
    lines << discoveryFileLines(s.discovery);
    // Kestrove's own file, edited with Linux tools: LF line ends (the reader takes CR LF as well).
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += line.toUtf8() + '\n';
    return bytes;
}

// The kind of host, the site and the clock.
void readHostAndSite(IniReader& ini, ObservatorySettings& s, const QString& path)
{
    QString text;
    if (ini.text("host/kind", text)) {
        const QString kind = text.trimmed().toLower();
        if (kind == QStringLiteral("sim"))
            s.kind = HostKind::Sim;
        else if (kind == QStringLiteral("indi"))
            s.kind = HostKind::Indi;
        else
            throw ini.bad("host/kind", text, QStringLiteral("is neither sim nor indi"));
    }

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
}

// The mount, the roof and what keeps them safe.
void readMountAndRoof(IniReader& ini, ObservatorySettings& s)
{
    ini.integer("mount/alignmentMode", s.alignmentMode, 0, 2);
    ini.number("mount/rightAscension", s.mountRightAscension, 0, 24);
    ini.number("mount/declination", s.mountDeclination, -90, 90);
    ini.number("mount/slewRate", s.slewRate, 1e-6, 1e6);
    ini.number("mount/settleTime", s.settleTime, 0, 1e6);
    ini.number("mount/tiltUpLimit", s.tiltUpLimit, -90, 90);
    ini.number("mount/parkSeconds", s.parkSeconds, 0, 3600);
    ini.number("roof/openSeconds", s.roofOpenSeconds, 0, 3600);
    ini.number("roof/closeSeconds", s.roofCloseSeconds, 0, 3600);
    ini.number("safety/closeDelay", s.safety.closeDelay, 0, 86400);
    ini.number("safety/reopenDelay", s.safety.reopenDelay, 0, 86400);
    ini.boolean("safety/closeAtEnd", s.safety.closeAtEnd);
}

// What may be observed: the limits, the horizon and the weather.
void readLimitsAndWeather(IniReader& ini, ObservatorySettings& s)
{
    QString text;
    ini.number("limits/minimumElevation", s.minimumElevation, -90, 90);
    if (ini.text("limits/sunAltitude", text) && text.trimmed().isEmpty()) {
        s.sunAltitude.reset();
    } else {
        double limit = s.sunAltitude.value_or(0);
        ini.number("limits/sunAltitude", limit, -90, 90);
        s.sunAltitude = limit;
    }
    if (ini.text("limits/moonSeparation", text) && !text.trimmed().isEmpty()) {
        double separation = 0;
        ini.number("limits/moonSeparation", separation, 0, 180);
        s.moonSeparation = separation;
    }
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
}

// Where plans and logs go, and the simulated acquisition's timings.
void readFoldersAndAcquisition(IniReader& ini, ObservatorySettings& s, const QString& abs)
{
    QString text;
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
    ini.number("acquisition/pointingSeconds", s.pointingSeconds, 0, 1e6);
    ini.number("acquisition/failureRate", s.failureRate, 0, 1);
    ini.integer("acquisition/failureSeed", s.failureSeed, 0, 4294967295.0);
    ini.number("acquisition/chainScriptDelay", s.chainScriptDelay, 0, 1e6);
}

// The INDI devices and their time limits.
void readIndi(IniReader& ini, ObservatorySettings& s)
{
    QString text;
    for (const auto& [key, target] :
         {std::pair{"indi/server", &s.indi.server}, std::pair{"indi/mount", &s.indi.mount},
          std::pair{"indi/camera", &s.indi.camera}, std::pair{"indi/filterWheel", &s.indi.filterWheel},
          std::pair{"indi/focuser", &s.indi.focuser}, std::pair{"indi/weather", &s.indi.weather},
          std::pair{"indi/autofocusCommand", &s.indi.autofocusCommand}, std::pair{"indi/roof", &s.indi.roof},
          std::pair{"indi/dome", &s.indi.dome}, std::pair{"indi/watchdog", &s.indi.watchdog},
          std::pair{"indi/lightPanel", &s.indi.lightPanel}}) {
        if (ini.text(key, text))
            *target = text.trimmed();
    }
    if (!s.indi.dome.isEmpty() && !s.indi.roof.isEmpty())
        throw ini.bad(
            "indi/dome", s.indi.dome,
            QStringLiteral("names a dome while [indi] roof names \"%1\": set one of them").arg(s.indi.roof));
    ini.number("indi/connectTimeout", s.indi.connectTimeout, 0.1, 3600);
    ini.number("indi/slewMargin", s.indi.slewMargin, 0, 86400);
    ini.number("indi/downloadMargin", s.indi.downloadMargin, 0, 86400);
    ini.number("indi/autofocusTimeout", s.indi.autofocusTimeout, 1, 86400);
    ini.boolean("indi/sendSite", s.indi.sendSite);
    ini.number("indi/heartbeat", s.indi.heartbeat, 3, 3600);
    if (ini.text("indi/coolTo", text) && !text.trimmed().isEmpty()) {
        double cool = 0;
        ini.number("indi/coolTo", cool, -100, 50);
        s.indi.coolTo = cool;
    }
    ini.number("indi/warmTo", s.indi.warmTo, -100, 50);
    if (ini.text("indi/gain", text) && !text.trimmed().isEmpty())
        ini.number("indi/gain", s.indi.gain.emplace(1), 0.001, 1000);
}

// Plate solving and autofocus.
void readSolveAndFocus(IniReader& ini, ObservatorySettings& s, const QString& abs)
{
    QString text;
    if (ini.text("solve/enabled", text) && !text.trimmed().isEmpty()) {
        bool enabled = false;
        ini.boolean("solve/enabled", enabled);
        s.solve.enabled = enabled;
    }
    ini.number("solve/exposure", s.solve.exposure, 0.001, 3600);
    ini.integer("solve/binning", s.solve.binning, 1, 16);
    if (ini.text("solve/indexFolder", text))
        s.solve.indexFolder = text.trimmed().isEmpty() ? QString() : absoluteIn(abs, text.trimmed());
    if (ini.text("solve/scale", text) && !text.trimmed().isEmpty()) {
        double scale = 0;
        ini.number("solve/scale", scale, 0.01, 3600);
        s.solve.scale = scale;
    }
    ini.number("solve/tolerance", s.solve.tolerance, 0.1, 36000);
    ini.integer("solve/attempts", s.solve.attempts, 1, 20);
    if (ini.text("solve/method", text)) {
        const QString method = text.trimmed().toLower();
        if (method == QStringLiteral("sync"))
            s.solve.sync = true;
        else if (method == QStringLiteral("differential") || method.isEmpty())
            s.solve.sync = false;
        else
            throw ini.bad("solve/method", text, QStringLiteral("is neither differential nor sync"));
    }
    ini.number("solve/cpuLimit", s.solve.cpuLimit, 1, 3600);
    ini.number("solve/radius", s.solve.radius, 0.01, 180);
    ini.integer("focus/stepsOut", s.focus.stepsOut, 1, 50);
    ini.integer("focus/step", s.focus.step, 1, 1e7);
    ini.integer("focus/maxTravel", s.focus.maxTravel, 1, 1e8);
    ini.number("focus/exposure", s.focus.exposure, 0.001, 3600);
    ini.integer("focus/binning", s.focus.binning, 1, 16);
    ini.number("focus/timeout", s.focus.timeout, 10, 86400);
}

void readSelection(IniReader& ini, ObservatorySettings& s)
{
    QString text;
    if (ini.text("selection/policy", text)) {
        const auto policy = parsePolicy(text);
        if (!policy)
            throw ini.bad("selection/policy", text, QStringLiteral("is neither specified nor balanced"));
        s.selection.policy = *policy;
    }
    if (ini.text("selection/shares", text)) {
        const auto shares = parseShares(text);
        if (!shares)
            throw ini.bad("selection/shares", text,
                          QStringLiteral("is not a list of kind:percent items such as SNe:50,SLC:30,MPS:20"));
        s.selection.shares = *shares;
    }
}

} // namespace

ObservatorySettings observatoryDefaults(const QString& folder)
{
    const QString abs = QDir::cleanPath(QDir(folder).absolutePath());
    ObservatorySettings s;
    // Roque de los Muchachos, La Palma: a dark site with a real time zone.
    s.latitude = 28.7606;
    s.longitude = -17.8816;
    s.elevation = 2396;
    s.timeZone = QStringLiteral("Atlantic/Canary");
    s.clockStart = QStringLiteral("now");
    s.clockSpeed = 1;
    s.folder = abs;
    s.planDir = abs + QStringLiteral("/Plans");
    s.logDir = abs + QStringLiteral("/Logs");
    s.hostPath = abs;
    return s;
}

ObservatorySettings readObservatorySettings(const QString& folder)
{
    const QString abs = QDir::cleanPath(QDir(folder).absolutePath());
    makeFolder(abs);
    const QString path = abs + u'/' + iniName;
    ObservatorySettings s = observatoryDefaults(abs);
    if (!QFileInfo::exists(path)) {
        QFile file(path);
        ObservatorySettings fresh = s;
        fresh.minimumElevation = newFileMinimumElevation;
        fresh.roofOpenSeconds = newFileRoofSeconds;
        fresh.roofCloseSeconds = newFileRoofSeconds;
        fresh.parkSeconds = newFileParkSeconds;
        if (!file.open(QIODevice::WriteOnly) || file.write(defaultFileText(fresh, abs)) < 0)
            throw HostError(call, path, file.errorString());
        file.close();
    }

    IniReader ini(path, call);
    if (ini.status() != QSettings::NoError)
        throw HostError(call, path, QStringLiteral("not a readable INI file"));
    s.notes = unusedLines(path);

    readHostAndSite(ini, s, path);
    readMountAndRoof(ini, s);
    readLimitsAndWeather(ini, s);
    readFoldersAndAcquisition(ini, s, abs);
    readIndi(ini, s);
    readSolveAndFocus(ini, s, abs);
    readSelection(ini, s);
    ini.text("report/aavsoCode", s.aavsoCode);
    ini.text("report/mpcCode", s.mpcCode);
    readGrading(ini, s.grading);
    readDiscovery(ini, s.discovery);
    readDome(ini, s.dome);
    readCalibration(ini, s.calibration);
    return s;
}

void writeObservatorySettings(const QString& folder, const ObservatorySettings& settings)
{
    const QString abs = QDir::cleanPath(QDir(folder).absolutePath());
    makeFolder(abs);
    const QString path = abs + u'/' + iniName;
    // The file is written anew with the keys it had: one holding the token stays its owner's.
    const auto keepPrivate = [&path] {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly) && holdsWebToken(file.readAll()))
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    };
    keepPrivate();
    QSettings ini(path, QSettings::IniFormat);
    const auto set = [&](const char* key, const QString& value) {
        ini.setValue(QString::fromLatin1(key), value);
    };
    set("host/kind", hostKindText(settings.kind));
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
    set("limits/sunAltitude", optionalText(settings.sunAltitude));
    set("limits/moonSeparation", optionalText(settings.moonSeparation));
    set("weather/connected", boolText(settings.weatherConnected));
    set("weather/unsafe", intervalsText(settings.unsafe));
    set("folders/planDir", relativeTo(abs, settings.planDir));
    set("folders/logDir", relativeTo(abs, settings.logDir));
    set("folders/hostPath", relativeTo(abs, settings.hostPath));
    set("acquisition/autofocusSeconds", doubleText(settings.autofocusSeconds));
    set("acquisition/downloadSeconds", doubleText(settings.downloadSeconds));
    set("acquisition/pointingSeconds", doubleText(settings.pointingSeconds));
    set("acquisition/failureRate", doubleText(settings.failureRate));
    set("acquisition/failureSeed", QString::number(settings.failureSeed));
    set("acquisition/chainScriptDelay", doubleText(settings.chainScriptDelay));
    set("indi/server", settings.indi.server);
    set("indi/mount", settings.indi.mount);
    set("indi/camera", settings.indi.camera);
    set("indi/filterWheel", settings.indi.filterWheel);
    set("indi/focuser", settings.indi.focuser);
    set("indi/weather", settings.indi.weather);
    set("indi/autofocusCommand", settings.indi.autofocusCommand);
    set("indi/connectTimeout", doubleText(settings.indi.connectTimeout));
    set("indi/slewMargin", doubleText(settings.indi.slewMargin));
    set("indi/downloadMargin", doubleText(settings.indi.downloadMargin));
    set("indi/autofocusTimeout", doubleText(settings.indi.autofocusTimeout));
    set("indi/sendSite", boolText(settings.indi.sendSite));
    set("indi/roof", settings.indi.roof);
    set("indi/dome", settings.indi.dome);
    set("indi/lightPanel", settings.indi.lightPanel);
    set("indi/watchdog", settings.indi.watchdog);
    set("indi/heartbeat", doubleText(settings.indi.heartbeat));
    set("indi/coolTo", optionalText(settings.indi.coolTo));
    set("indi/warmTo", doubleText(settings.indi.warmTo));
    set("indi/gain", optionalText(settings.indi.gain));
    set("solve/enabled", settings.solve.enabled ? boolText(*settings.solve.enabled) : QString());
    set("solve/exposure", doubleText(settings.solve.exposure));
    set("solve/binning", QString::number(settings.solve.binning));
    set("solve/indexFolder", settings.solve.indexFolder);
    set("solve/scale", optionalText(settings.solve.scale));
    set("solve/tolerance", doubleText(settings.solve.tolerance));
    set("solve/attempts", QString::number(settings.solve.attempts));
    set("solve/method", settings.solve.sync ? QStringLiteral("sync") : QStringLiteral("differential"));
    set("solve/cpuLimit", doubleText(settings.solve.cpuLimit));
    set("solve/radius", doubleText(settings.solve.radius));
    set("focus/stepsOut", QString::number(settings.focus.stepsOut));
    set("focus/step", QString::number(settings.focus.step));
    set("focus/maxTravel", QString::number(settings.focus.maxTravel));
    set("focus/exposure", doubleText(settings.focus.exposure));
    set("focus/binning", QString::number(settings.focus.binning));
    set("focus/timeout", doubleText(settings.focus.timeout));
    for (const auto& [key, value] : gradingValues(settings.grading) + discoveryValues(settings.discovery))
        ini.setValue(key, value);
    set("safety/closeDelay", doubleText(settings.safety.closeDelay));
    set("safety/reopenDelay", doubleText(settings.safety.reopenDelay));
    set("safety/closeAtEnd", boolText(settings.safety.closeAtEnd));
    set("roof/openSeconds", doubleText(settings.roofOpenSeconds));
    set("roof/closeSeconds", doubleText(settings.roofCloseSeconds));
    set("mount/parkSeconds", doubleText(settings.parkSeconds));
    set("selection/policy", policyText(settings.selection.policy));
    set("selection/shares", sharesText(settings.selection.shares));
    set("report/aavsoCode", settings.aavsoCode);
    set("report/mpcCode", settings.mpcCode);
    for (const auto& [key, value] : domeValues(settings.dome))
        ini.setValue(key, value);
    for (const auto& [key, value] : calibrationValues(settings.calibration))
        ini.setValue(key, value);
    ini.sync();
    if (ini.status() != QSettings::NoError)
        throw HostError(call, path, QStringLiteral("cannot write the file"));
    keepPrivate();
}

QString observatoryIniPath(const QString& folder)
{
    return QDir::cleanPath(QDir(folder).absolutePath()) + u'/' + iniName;
}

void makeObservatoryFolders(const ObservatorySettings& s)
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

ObservatorySettings resolvedIn(const QString& folder, const ObservatorySettings& given)
{
    const QString abs = QDir::cleanPath(QDir(folder).absolutePath());
    ObservatorySettings settings = given;
    const ObservatorySettings fallback = observatoryDefaults(abs);
    for (const auto& [path, byDefault] :
         {std::pair{&settings.planDir, fallback.planDir}, std::pair{&settings.logDir, fallback.logDir},
          std::pair{&settings.hostPath, fallback.hostPath}})
        *path = path->isEmpty() ? byDefault : absoluteIn(abs, *path);
    if (settings.clockStart.isEmpty())
        settings.clockStart = fallback.clockStart;
    if (settings.timeZone.isEmpty())
        settings.timeZone = QStringLiteral("UTC");
    return settings;
}

QTimeZone siteTimeZone(const ObservatorySettings& settings)
{
    return zoneOf(settings.timeZone, QStringLiteral("[site] timeZone"));
}

QDateTime clockStartInstant(const ObservatorySettings& settings)
{
    return clockStartOf(settings.clockStart, QStringLiteral("[clock] start"));
}

} // namespace kestrove
