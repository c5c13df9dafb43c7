#include "settings/ObservatoryForm.h"

#include "text/HostError.h"
#include "text/NumberText.h"
#include "text/ValueText.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTimeZone>

#include <cmath>

namespace kestrove {

namespace {

const QString call = QStringLiteral("observatory.ini");

// The INDI interface bits (INDI::BaseDevice::DRIVER_INTERFACE).
constexpr unsigned telescopeInterface = 1u << 0;
constexpr unsigned ccdInterface = 1u << 1;
constexpr unsigned focuserInterface = 1u << 3;
constexpr unsigned filterInterface = 1u << 4;
constexpr unsigned domeInterface = 1u << 5;
constexpr unsigned weatherInterface = 1u << 7;
constexpr unsigned lightBoxInterface = 1u << 10;
constexpr unsigned auxInterface = 1u << 15;

QString boolText(bool v)
{
    return v ? QStringLiteral("true") : QStringLiteral("false");
}

QString optionalText(const std::optional<double>& v)
{
    return v ? doubleText(*v) : QString();
}

QString relativeTo(const QString& folder, const QString& path)
{
    const QString rel = QDir(folder).relativeFilePath(path);
    return rel.isEmpty() ? QStringLiteral(".") : rel;
}

// QSettings reads an unquoted comma as a list and ";" as a comment.
QString quotedValue(const QString& value)
{
    if (value.contains(u',') || value.contains(u';') || value.contains(u'"'))
        return u'"' + QString(value).replace(u'"', QStringLiteral("\\\"")) + u'"';
    return value;
}

QString sectionOf(const QString& key)
{
    return key.section(u'/', 0, 0);
}

QString nameOf(const QString& key)
{
    return key.section(u'/', 1);
}

} // namespace

const QList<ObservatoryField>& observatoryFields()
{
    using K = FieldKind;
    const QString deg = QStringLiteral("degrees");
    const QString sec = QStringLiteral("seconds");
    const QString m = QStringLiteral("metres");
    static const QList<ObservatoryField> fields = {
        {QStringLiteral("host/kind"), QStringLiteral("Host"), {}, K::HostKind},
        {QStringLiteral("site/latitude"), QStringLiteral("Latitude"), deg, K::Number, -90, 90},
        {QStringLiteral("site/longitude"), QStringLiteral("Longitude"), deg, K::Number, -360, 360},
        {QStringLiteral("site/elevation"), QStringLiteral("Elevation"), QStringLiteral("metres"), K::Number,
         -500, 10000},
        {QStringLiteral("site/timeZone"), QStringLiteral("Time zone"), {}, K::TimeZone},
        {QStringLiteral("clock/start"), QStringLiteral("Clock start"), QStringLiteral("now or UTC"),
         K::Instant},
        {QStringLiteral("clock/speed"), QStringLiteral("Clock speed"), QStringLiteral("x, 0 virtual"),
         K::Number, 0, 1e9},
        {QStringLiteral("mount/alignmentMode"), QStringLiteral("Alignment mode"),
         QStringLiteral("0 alt-az, 1 eq, 2 GEM"), K::Integer, 0, 2},
        {QStringLiteral("mount/rightAscension"), QStringLiteral("Start right ascension"),
         QStringLiteral("hours"), K::Number, 0, 24},
        {QStringLiteral("mount/declination"), QStringLiteral("Start declination"), deg, K::Number, -90, 90},
        {QStringLiteral("mount/slewRate"), QStringLiteral("Slew rate"), QStringLiteral("degrees/s"),
         K::Number, 1e-6, 1e6},
        {QStringLiteral("mount/settleTime"), QStringLiteral("Settle time"), sec, K::Number, 0, 1e6},
        {QStringLiteral("mount/tiltUpLimit"), QStringLiteral("Tilt-up limit"), deg, K::Number, -90, 90},
        {QStringLiteral("mount/parkSeconds"), QStringLiteral("Simulated park"), sec, K::Number, 0, 3600},
        {QStringLiteral("roof/openSeconds"), QStringLiteral("Simulated roof opening"), sec, K::Number, 0,
         3600},
        {QStringLiteral("roof/closeSeconds"), QStringLiteral("Simulated roof closing"), sec, K::Number, 0,
         3600},
        {QStringLiteral("safety/closeDelay"), QStringLiteral("Close delay"), sec, K::Number, 0, 86400},
        {QStringLiteral("safety/reopenDelay"), QStringLiteral("Reopen delay"), sec, K::Number, 0, 86400},
        {QStringLiteral("safety/closeAtEnd"), QStringLiteral("Close at the end of a run"), {}, K::Boolean},
        {QStringLiteral("limits/minimumElevation"), QStringLiteral("Minimum elevation"), deg, K::Number, -90,
         90},
        {QStringLiteral("limits/sunAltitude"), QStringLiteral("Sun altitude limit"),
         QStringLiteral("degrees, empty: none"), K::OptionalNumber, -90, 90},
        {QStringLiteral("limits/moonSeparation"), QStringLiteral("Moon separation"),
         QStringLiteral("degrees, empty: none"), K::OptionalNumber, 0, 180},
        {QStringLiteral("limits/horizon"), QStringLiteral("Horizon"),
         QStringLiteral("azimuth:elevation degrees"), K::Horizon},
        {QStringLiteral("weather/connected"), QStringLiteral("Simulated weather connected"), {}, K::Boolean},
        {QStringLiteral("weather/unsafe"), QStringLiteral("Simulated unsafe weather"),
         QStringLiteral("UTC start/end"), K::Intervals},
        {QStringLiteral("acquisition/autofocusSeconds"), QStringLiteral("Simulated autofocus"), sec,
         K::Number, 0, 1e6},
        {QStringLiteral("acquisition/downloadSeconds"), QStringLiteral("Simulated download"), sec, K::Number,
         0, 1e6},
        {QStringLiteral("acquisition/pointingSeconds"), QStringLiteral("Simulated plate solving"), sec,
         K::Number, 0, 1e6},
        {QStringLiteral("acquisition/failureRate"), QStringLiteral("Simulated failure rate"),
         QStringLiteral("probability"), K::Number, 0, 1},
        {QStringLiteral("acquisition/failureSeed"),
         QStringLiteral("Failure seed"),
         {},
         K::Integer,
         0,
         4294967295.0},
        {QStringLiteral("acquisition/chainScriptDelay"), QStringLiteral("Chain script delay"), sec, K::Number,
         0, 1e6},
        {QStringLiteral("indi/server"), QStringLiteral("INDI server"), QStringLiteral("host:port"), K::Text},
        {QStringLiteral("indi/mount"), QStringLiteral("Mount"), {}, K::Device},
        {QStringLiteral("indi/camera"), QStringLiteral("Camera"), {}, K::Device},
        {QStringLiteral("indi/filterWheel"), QStringLiteral("Filter wheel"), {}, K::Device},
        {QStringLiteral("indi/focuser"), QStringLiteral("Focuser"), {}, K::Device},
        {QStringLiteral("indi/weather"), QStringLiteral("Weather"), {}, K::Device},
        {QStringLiteral("indi/roof"), QStringLiteral("Roof or dome"), {}, K::Device},
        {QStringLiteral("indi/dome"), QStringLiteral("Dome following the telescope"), {}, K::Device},
        {QStringLiteral("indi/watchdog"), QStringLiteral("Watchdog"), {}, K::Device},
        {QStringLiteral("indi/lightPanel"), QStringLiteral("Flat panel"), {}, K::Device},
        {QStringLiteral("indi/autofocusCommand"), QStringLiteral("Autofocus command"), {}, K::Text},
        {QStringLiteral("indi/connectTimeout"), QStringLiteral("Connect timeout"), sec, K::Number, 0.1, 3600},
        {QStringLiteral("indi/slewMargin"), QStringLiteral("Slew margin"), sec, K::Number, 0, 86400},
        {QStringLiteral("indi/downloadMargin"), QStringLiteral("Download margin"), sec, K::Number, 0, 86400},
        {QStringLiteral("indi/autofocusTimeout"), QStringLiteral("Autofocus timeout"), sec, K::Number, 1,
         86400},
        {QStringLiteral("indi/sendSite"), QStringLiteral("Send the site to the mount"), {}, K::Boolean},
        {QStringLiteral("indi/heartbeat"), QStringLiteral("Watchdog heartbeat"), sec, K::Number, 3, 3600},
        {QStringLiteral("indi/coolTo"), QStringLiteral("Camera cooling"), QStringLiteral("deg C, empty: off"),
         K::OptionalNumber, -100, 50},
        {QStringLiteral("indi/warmTo"), QStringLiteral("Camera warm-up"), QStringLiteral("deg C"), K::Number,
         -100, 50},
        {QStringLiteral("indi/gain"), QStringLiteral("Camera gain"),
         QStringLiteral("e-/ADU, empty: from the frames"), K::OptionalNumber, 0.001, 1000},
        {QStringLiteral("solve/exposure"), QStringLiteral("Solve exposure"), sec, K::Number, 0.001, 3600},
        {QStringLiteral("solve/binning"), QStringLiteral("Solve binning"), {}, K::Integer, 1, 16},
        {QStringLiteral("solve/indexFolder"), QStringLiteral("Index folder"),
         QStringLiteral("empty: the installed indexes"), K::Text},
        {QStringLiteral("solve/scale"), QStringLiteral("Image scale"),
         QStringLiteral("arcsec/pixel, empty: from the camera"), K::OptionalNumber, 0.01, 3600},
        {QStringLiteral("solve/tolerance"), QStringLiteral("Pointing tolerance"),
         QStringLiteral("arcseconds"), K::Number, 0.1, 36000},
        {QStringLiteral("solve/attempts"), QStringLiteral("Solves per target"), {}, K::Integer, 1, 20},
        {QStringLiteral("solve/cpuLimit"), QStringLiteral("Solve CPU limit"), sec, K::Number, 1, 3600},
        {QStringLiteral("solve/radius"), QStringLiteral("Search radius"), deg, K::Number, 0.01, 180},
        {QStringLiteral("focus/stepsOut"), QStringLiteral("Steps out"), {}, K::Integer, 1, 50},
        {QStringLiteral("focus/step"), QStringLiteral("Step"), QStringLiteral("focuser units"), K::Integer, 1,
         1e7},
        {QStringLiteral("focus/maxTravel"), QStringLiteral("Largest travel"), QStringLiteral("focuser units"),
         K::Integer, 1, 1e8},
        {QStringLiteral("focus/exposure"), QStringLiteral("Focus exposure"), sec, K::Number, 0.001, 3600},
        {QStringLiteral("focus/binning"), QStringLiteral("Focus binning"), {}, K::Integer, 1, 16},
        {QStringLiteral("focus/timeout"), QStringLiteral("Focus timeout"), sec, K::Number, 10, 86400},
        {QStringLiteral("grading/enabled"), QStringLiteral("Reject poor frames"), {}, K::Boolean},
        {QStringLiteral("grading/minimumStars"), QStringLiteral("Fewest stars"), {}, K::Integer, 0, 100000},
        {QStringLiteral("grading/starFraction"), QStringLiteral("Star fraction"),
         QStringLiteral("of the recent frames'"), K::Number, 0, 1},
        {QStringLiteral("grading/hfrFactor"), QStringLiteral("HFR factor"), QStringLiteral("x recent"),
         K::Number, 1, 100},
        {QStringLiteral("grading/backgroundFactor"), QStringLiteral("Sky brightness factor"),
         QStringLiteral("x recent"), K::Number, 1, 1e6},
        {QStringLiteral("grading/window"), QStringLiteral("Recent frames"), {}, K::Integer, 1, 1000},
        {QStringLiteral("grading/cloudFrames"), QStringLiteral("Starless frames before a pause"),
         QStringLiteral("one per plan"), K::Integer, 1, 1000},
        {QStringLiteral("grading/cloudPause"), QStringLiteral("Cloud pause"), QStringLiteral("minutes"),
         K::Number, 0.05, 1440},
        {QStringLiteral("grading/testExposure"), QStringLiteral("Test frame"), sec, K::Number, 0.001, 3600},
        {QStringLiteral("dome/radius"), QStringLiteral("Dome radius"), m, K::Number, 0.1, 100},
        {QStringLiteral("dome/mountOffsetNorth"), QStringLiteral("Mount offset north"), m, K::Number, -100,
         100},
        {QStringLiteral("dome/mountOffsetEast"), QStringLiteral("Mount offset east"), m, K::Number, -100,
         100},
        {QStringLiteral("dome/mountOffsetUp"), QStringLiteral("Mount offset up"), m, K::Number, -100, 100},
        {QStringLiteral("dome/declinationAxis"), QStringLiteral("Declination axis"), m, K::Number, 0, 100},
        {QStringLiteral("dome/tolerance"), QStringLiteral("Slit tolerance"), deg, K::Number, 0.1, 180},
        {QStringLiteral("dome/rotationRate"), QStringLiteral("Rotation rate"), QStringLiteral("degrees/s"),
         K::Number, 0.01, 360},
        {QStringLiteral("dome/slaving"), QStringLiteral("Slaving"), {}, K::Slaving},
        {QStringLiteral("calibration/enabled"), QStringLiteral("Calibrate"), {}, K::Boolean},
        {QStringLiteral("calibration/darks"), QStringLiteral("Darks"), QStringLiteral("per exposure"),
         K::Integer, 1, 1000},
        {QStringLiteral("calibration/bias"), QStringLiteral("Bias frames"), {}, K::Integer, 0, 1000},
        {QStringLiteral("calibration/flatLevel"), QStringLiteral("Flat level"), QStringLiteral("ADU"),
         K::Number, 1, 1e7},
        {QStringLiteral("calibration/flatExposureMin"), QStringLiteral("Shortest flat"), sec, K::Number,
         0.001, 3600},
        {QStringLiteral("calibration/flatExposureMax"), QStringLiteral("Longest flat"), sec, K::Number, 0.001,
         3600},
        {QStringLiteral("calibration/maxAgeDays"), QStringLiteral("Oldest master"), QStringLiteral("days"),
         K::Number, 0.01, 3650},
        {QStringLiteral("discovery/radius"), QStringLiteral("Search radius"),
         QStringLiteral("arcminutes from the galaxy"), K::Number, 0.05, 600},
        {QStringLiteral("discovery/minSnr"), QStringLiteral("Least S/N"), {}, K::Number, 3, 1000},
        {QStringLiteral("discovery/linkResidual"), QStringLiteral("Link residual"),
         QStringLiteral("arcseconds off a straight path"), K::Number, 0.1, 60},
        {QStringLiteral("report/mpcCode"), QStringLiteral("MPC observatory code"),
         QStringLiteral("empty: none yet"), K::Text},
    };
    return fields;
}

QString fieldProblem(const ObservatoryField& f, const QString& given)
{
    const QString text = given.trimmed();
    const QString box = f.unit.isEmpty() ? f.label : QStringLiteral("%1 (%2)").arg(f.label, f.unit);
    const auto refuse = [&](const QString& why) {
        return QStringLiteral("%1: \"%2\" %3").arg(box, given, why);
    };
    switch (f.kind) {
    case FieldKind::OptionalNumber:
        if (text.isEmpty())
            return {};
        [[fallthrough]];
    case FieldKind::Number:
    case FieldKind::Integer: {
        const auto v = parseNumber(text);
        if (!v || !std::isfinite(*v))
            return refuse(QStringLiteral("is not a number"));
        if (*v < f.low || *v > f.high)
            return refuse(QStringLiteral("lies outside %1 to %2").arg(doubleText(f.low), doubleText(f.high)));
        if (f.kind == FieldKind::Integer && *v != std::floor(*v))
            return refuse(QStringLiteral("is not a whole number"));
        return {};
    }
    case FieldKind::Boolean:
        if (text != QStringLiteral("true") && text != QStringLiteral("false"))
            return refuse(QStringLiteral("is not true or false"));
        return {};
    case FieldKind::HostKind:
        if (text != QStringLiteral("sim") && text != QStringLiteral("indi"))
            return refuse(QStringLiteral("is neither sim nor indi"));
        return {};
    case FieldKind::Slaving:
        if (text != QStringLiteral("kestrove") && text != QStringLiteral("driver"))
            return refuse(QStringLiteral("is neither kestrove nor driver"));
        return {};
    case FieldKind::TimeZone:
        if (!QTimeZone(text.toUtf8()).isValid())
            return refuse(QStringLiteral("is not a known IANA time zone"));
        return {};
    case FieldKind::Instant:
        if (text.compare(QStringLiteral("now"), Qt::CaseInsensitive) != 0 && !parseUtcInstant(text))
            return refuse(QStringLiteral("is neither \"now\" nor an ISO 8601 UTC instant"));
        return {};
    case FieldKind::Horizon:
        if (!parseHorizon(text))
            return refuse(QStringLiteral("is not a list of azimuth:elevation pairs"));
        return {};
    case FieldKind::Intervals:
        if (!parseIntervals(text))
            return refuse(QStringLiteral("is not a list of start/end UTC intervals"));
        return {};
    case FieldKind::Device:
    case FieldKind::Text:
        if (text.contains(u'\n') || text.contains(u'\r'))
            return refuse(QStringLiteral("holds a line break"));
        return {};
    }
    return {};
}

QString zoneLongitudeMismatch(const QString& zoneId, const QString& longitudeText)
{
    const QTimeZone zone(zoneId.toUtf8());
    const std::optional<double> longitude = parseNumber(longitudeText);
    if (!zone.isValid() || !longitude)
        return {};
    // Standard time, so that the season does not decide; east is positive. The zone's rules of a
    // recent year are enough for a hint.
    const double zoneHours =
        zone.standardTimeOffset(QDateTime(QDate(2024, 1, 1), QTime(12, 0), QTimeZone::utc())) / 3600.0;
    const double solarHours = std::remainder(*longitude, 360.0) / 15.0;
    const double apart = std::abs(std::remainder(zoneHours - solarHours, 24.0));
    if (apart <= 3.5)
        return {};
    return QStringLiteral("The time zone %1 (UTC%2) does not fit longitude %3 (about UTC%4): check the zone, "
                          "and that east is positive.")
        .arg(zoneId, QString::asprintf("%+g", zoneHours), longitudeText,
             QString::asprintf("%+.0f", solarHours));
}

QString combinedProblem(const QMap<QString, QString>& values)
{
    if (!values.value(QStringLiteral("indi/roof")).trimmed().isEmpty() &&
        !values.value(QStringLiteral("indi/dome")).trimmed().isEmpty())
        return QStringLiteral("Roof or dome and Dome following the telescope both name a device: set one "
                              "of them");
    const auto number = [&](const char* key) {
        return parseNumber(values.value(QString::fromLatin1(key)).trimmed()).value_or(0);
    };
    const double reach = std::hypot(number("dome/mountOffsetNorth"), number("dome/mountOffsetEast"),
                                    number("dome/mountOffsetUp")) +
                         number("dome/declinationAxis");
    if (reach >= number("dome/radius"))
        return QStringLiteral("Dome radius: the mount's offset and the declination axis reach %1 m from the "
                              "centre, past the dome's wall")
            .arg(doubleText(reach));
    const QString shortest = values.value(QStringLiteral("calibration/flatExposureMin")).trimmed();
    const QString longest = values.value(QStringLiteral("calibration/flatExposureMax")).trimmed();
    if (parseNumber(longest).value_or(1e9) < parseNumber(shortest).value_or(0))
        return QStringLiteral("Longest flat: %1 s is shorter than the shortest flat, %2 s")
            .arg(longest, shortest);
    return {};
}

QMap<QString, QString> observatoryValues(const ObservatorySettings& s, const QString& folder)
{
    const QString abs = QDir::cleanPath(QDir(folder).absolutePath());
    QMap<QString, QString> values{
        {QStringLiteral("host/kind"),
         s.kind == HostKind::Indi ? QStringLiteral("indi") : QStringLiteral("sim")},
        {QStringLiteral("site/latitude"), doubleText(s.latitude)},
        {QStringLiteral("site/longitude"), doubleText(s.longitude)},
        {QStringLiteral("site/elevation"), doubleText(s.elevation)},
        {QStringLiteral("site/timeZone"), s.timeZone},
        {QStringLiteral("clock/start"), s.clockStart},
        {QStringLiteral("clock/speed"), doubleText(s.clockSpeed)},
        {QStringLiteral("mount/alignmentMode"), integerText(s.alignmentMode)},
        {QStringLiteral("mount/rightAscension"), doubleText(s.mountRightAscension)},
        {QStringLiteral("mount/declination"), doubleText(s.mountDeclination)},
        {QStringLiteral("mount/slewRate"), doubleText(s.slewRate)},
        {QStringLiteral("mount/settleTime"), doubleText(s.settleTime)},
        {QStringLiteral("mount/tiltUpLimit"), doubleText(s.tiltUpLimit)},
        {QStringLiteral("mount/parkSeconds"), doubleText(s.parkSeconds)},
        {QStringLiteral("roof/openSeconds"), doubleText(s.roofOpenSeconds)},
        {QStringLiteral("roof/closeSeconds"), doubleText(s.roofCloseSeconds)},
        {QStringLiteral("safety/closeDelay"), doubleText(s.safety.closeDelay)},
        {QStringLiteral("safety/reopenDelay"), doubleText(s.safety.reopenDelay)},
        {QStringLiteral("safety/closeAtEnd"), boolText(s.safety.closeAtEnd)},
        {QStringLiteral("limits/minimumElevation"), doubleText(s.minimumElevation)},
        {QStringLiteral("limits/sunAltitude"), optionalText(s.sunAltitude)},
        {QStringLiteral("limits/moonSeparation"), optionalText(s.moonSeparation)},
        {QStringLiteral("limits/horizon"), horizonText(s.horizon)},
        {QStringLiteral("weather/connected"), boolText(s.weatherConnected)},
        {QStringLiteral("weather/unsafe"), intervalsText(s.unsafe)},
        {QStringLiteral("folders/planDir"), relativeTo(abs, s.planDir)},
        {QStringLiteral("folders/logDir"), relativeTo(abs, s.logDir)},
        {QStringLiteral("folders/hostPath"), relativeTo(abs, s.hostPath)},
        {QStringLiteral("acquisition/autofocusSeconds"), doubleText(s.autofocusSeconds)},
        {QStringLiteral("acquisition/downloadSeconds"), doubleText(s.downloadSeconds)},
        {QStringLiteral("acquisition/pointingSeconds"), doubleText(s.pointingSeconds)},
        {QStringLiteral("acquisition/failureRate"), doubleText(s.failureRate)},
        {QStringLiteral("acquisition/failureSeed"), QString::number(s.failureSeed)},
        {QStringLiteral("acquisition/chainScriptDelay"), doubleText(s.chainScriptDelay)},
        {QStringLiteral("indi/server"), s.indi.server},
        {QStringLiteral("indi/mount"), s.indi.mount},
        {QStringLiteral("indi/camera"), s.indi.camera},
        {QStringLiteral("indi/filterWheel"), s.indi.filterWheel},
        {QStringLiteral("indi/focuser"), s.indi.focuser},
        {QStringLiteral("indi/weather"), s.indi.weather},
        {QStringLiteral("indi/roof"), s.indi.roof},
        {QStringLiteral("indi/watchdog"), s.indi.watchdog},
        {QStringLiteral("indi/autofocusCommand"), s.indi.autofocusCommand},
        {QStringLiteral("indi/connectTimeout"), doubleText(s.indi.connectTimeout)},
        {QStringLiteral("indi/slewMargin"), doubleText(s.indi.slewMargin)},
        {QStringLiteral("indi/downloadMargin"), doubleText(s.indi.downloadMargin)},
        {QStringLiteral("indi/autofocusTimeout"), doubleText(s.indi.autofocusTimeout)},
        {QStringLiteral("indi/sendSite"), boolText(s.indi.sendSite)},
        {QStringLiteral("indi/heartbeat"), doubleText(s.indi.heartbeat)},
        {QStringLiteral("indi/coolTo"), optionalText(s.indi.coolTo)},
        {QStringLiteral("indi/warmTo"), doubleText(s.indi.warmTo)},
        {QStringLiteral("solve/exposure"), doubleText(s.solve.exposure)},
        {QStringLiteral("solve/binning"), QString::number(s.solve.binning)},
        {QStringLiteral("solve/indexFolder"), s.solve.indexFolder},
        {QStringLiteral("solve/scale"), optionalText(s.solve.scale)},
        {QStringLiteral("solve/tolerance"), doubleText(s.solve.tolerance)},
        {QStringLiteral("solve/attempts"), QString::number(s.solve.attempts)},
        {QStringLiteral("solve/cpuLimit"), doubleText(s.solve.cpuLimit)},
        {QStringLiteral("solve/radius"), doubleText(s.solve.radius)},
        {QStringLiteral("focus/stepsOut"), QString::number(s.focus.stepsOut)},
        {QStringLiteral("focus/step"), QString::number(s.focus.step)},
        {QStringLiteral("focus/maxTravel"), QString::number(s.focus.maxTravel)},
        {QStringLiteral("focus/exposure"), doubleText(s.focus.exposure)},
        {QStringLiteral("focus/binning"), QString::number(s.focus.binning)},
        {QStringLiteral("focus/timeout"), doubleText(s.focus.timeout)},
        {QStringLiteral("grading/enabled"), boolText(s.grading.enabled)},
        {QStringLiteral("grading/minimumStars"), QString::number(s.grading.thresholds.minimumStars)},
        {QStringLiteral("grading/starFraction"), doubleText(s.grading.thresholds.starFraction)},
        {QStringLiteral("grading/hfrFactor"), doubleText(s.grading.thresholds.hfrFactor)},
        {QStringLiteral("grading/backgroundFactor"), doubleText(s.grading.thresholds.backgroundFactor)},
        {QStringLiteral("grading/window"), QString::number(s.grading.thresholds.window)},
        {QStringLiteral("grading/cloudFrames"), QString::number(s.grading.cloudFrames)},
        {QStringLiteral("grading/cloudPause"), doubleText(s.grading.cloudPause)},
        {QStringLiteral("grading/testExposure"), doubleText(s.grading.testExposure)},
        {QStringLiteral("indi/dome"), s.indi.dome},
        {QStringLiteral("indi/lightPanel"), s.indi.lightPanel},
    };
    for (const auto& [key, value] : domeValues(s.dome))
        values.insert(key, value);
    for (const auto& [key, value] : calibrationValues(s.calibration) + discoveryValues(s.discovery))
        values.insert(key, value);
    values.insert(QStringLiteral("report/mpcCode"), s.mpcCode);
    return values;
}

QStringList deviceKeysFor(unsigned interfaces, const QString& driver)
{
    QStringList keys;
    const std::pair<unsigned, const char*> kinds[] = {
        {telescopeInterface, "indi/mount"},    {ccdInterface, "indi/camera"},
        {filterInterface, "indi/filterWheel"}, {focuserInterface, "indi/focuser"},
        {weatherInterface, "indi/weather"},    {domeInterface, "indi/roof"},
        {domeInterface, "indi/dome"},          {lightBoxInterface, "indi/lightPanel"},
    };
    for (const auto& [bit, key] : kinds)
        if (interfaces & bit)
            keys << QString::fromLatin1(key);
    if ((interfaces & auxInterface) && driver.contains(QStringLiteral("watchdog"), Qt::CaseInsensitive))
        keys << QStringLiteral("indi/watchdog");
    return keys;
}

QByteArray editedIni(const QByteArray& text, const QList<QPair<QString, QString>>& changes)
{
    // Lines with their own ends, so that an unchanged line goes back exactly as it came.
    QList<QByteArray> lines;
    for (qsizetype start = 0; start < text.size();) {
        const qsizetype nl = text.indexOf('\n', start);
        const qsizetype end = nl < 0 ? text.size() : nl + 1;
        lines << text.mid(start, end - start);
        start = end;
    }
    const QByteArray eol = text.contains("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
    const auto body = [](const QByteArray& line) {
        qsizetype n = line.size();
        while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r'))
            --n;
        return line.left(n);
    };

    QList<QPair<QString, QString>> missing;
    for (const auto& [key, value] : changes) {
        const QString wanted = sectionOf(key);
        const QString name = nameOf(key);
        QString section;
        bool found = false;
        for (QByteArray& line : lines) {
            const QByteArray content = body(line);
            const QString trimmed = QString::fromUtf8(content).trimmed();
            if (trimmed.startsWith(u'[') && trimmed.endsWith(u']')) {
                section = trimmed.mid(1, trimmed.size() - 2).trimmed();
                continue;
            }
            const qsizetype eq = content.indexOf('=');
            if (section != wanted || eq < 0 || trimmed.startsWith(u';') || trimmed.startsWith(u'#') ||
                QString::fromUtf8(content.left(eq)).trimmed() != name)
                continue;
            // Keep the key as written, with its spacing, and the line's own end.
            qsizetype valueStart = eq + 1;
            while (valueStart < content.size() && content[valueStart] == ' ')
                ++valueStart;
            line = content.left(valueStart) + quotedValue(value).toUtf8() + line.mid(content.size());
            found = true;
        }
        if (!found)
            missing << qMakePair(key, value);
    }

    for (const auto& [key, value] : missing) {
        const QByteArray added = (nameOf(key) + u'=' + quotedValue(value)).toUtf8() + eol;
        const QString wanted = sectionOf(key);
        QString section;
        qsizetype insertAt = -1;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString trimmed = QString::fromUtf8(body(lines[i])).trimmed();
            if (trimmed.startsWith(u'[') && trimmed.endsWith(u']')) {
                section = trimmed.mid(1, trimmed.size() - 2).trimmed();
                if (section == wanted)
                    insertAt = i + 1;
                continue;
            }
            // After the section's last key, not after the blank lines that part it from the next.
            if (section == wanted && !trimmed.isEmpty())
                insertAt = i + 1;
        }
        if (insertAt < 0) {
            if (!lines.isEmpty() && !lines.last().endsWith('\n'))
                lines.last() += eol;
            lines << eol << ('[' + wanted.toUtf8() + ']' + eol) << added;
        } else {
            if (!lines[insertAt - 1].endsWith('\n'))
                lines[insertAt - 1] += eol;
            lines.insert(insertAt, added);
        }
    }
    return lines.join();
}

void saveObservatoryChanges(const QString& folder, const QList<QPair<QString, QString>>& changes)
{
    // Nothing changed: the file and its time stay as they are.
    if (changes.isEmpty())
        return;
    const QString path = observatoryIniPath(folder);
    QFile in(path);
    QByteArray text;
    if (in.exists()) {
        if (!in.open(QIODevice::ReadOnly))
            throw HostError(call, path, in.errorString());
        text = in.readAll();
        in.close();
    }
    const QByteArray edited = editedIni(text, changes);
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) ||
        (holdsWebToken(edited) && !out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) ||
        out.write(edited) < 0 || !out.commit())
        throw HostError(call, path, out.errorString());
}

bool holdsWebToken(const QByteArray& iniText)
{
    QByteArray section;
    for (const QByteArray& raw : iniText.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[') && line.endsWith(']')) {
            section = line.mid(1, line.size() - 2).trimmed().toLower();
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (section == "web" && eq > 0 && line.left(eq).trimmed() == "token" &&
            !line.mid(eq + 1).trimmed().isEmpty())
            return true;
    }
    return false;
}

} // namespace kestrove
