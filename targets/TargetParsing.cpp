#include "core/SurveyCore.h"
#include "targets/TargetTable.h"
#include "text/HostError.h"
#include "text/HostText.h"
#include "text/NamedStar.h"
#include "text/NumberText.h"

#include <cfloat>
#include <cmath>
#include <optional>

namespace kestrove {

namespace {

const QChar tab = QLatin1Char('\t');
const QChar space = QLatin1Char(' ');

// A float item must fit a 32-bit float; a larger magnitude would silently become infinity.
std::optional<float> toSingle(const QString& text)
{
    const auto value = parseNumber(text);
    if (!value || std::fabs(*value) > FLT_MAX)
        return std::nullopt;
    return static_cast<float>(*value);
}

std::optional<bool> toBoolean(const QString& text)
{
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    const auto value = parseNumber(text);
    if (!value)
        return std::nullopt;
    return *value != 0;
}

// "HH:MM" of a day, in minutes after midnight.
std::optional<int16_t> toMinuteOfDay(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 2 || parts[0].isEmpty() || parts[0].size() > 2 || parts[1].size() != 2)
        return std::nullopt;
    bool hoursRead = false, minutesRead = false;
    const int hours = parts[0].toInt(&hoursRead);
    const int minutes = parts[1].toInt(&minutesRead);
    if (!hoursRead || !minutesRead || hours < 0 || hours > 23 || minutes < 0 || minutes > 59 ||
        parts[0].startsWith(QLatin1Char('+')) || parts[1].startsWith(QLatin1Char('+')))
        return std::nullopt;
    return static_cast<int16_t>(hours * 60 + minutes);
}

// Assigns one item's value; returns why it could not, or an empty text when it did. An unknown
// key gives a null text through `known`.
QString assignItem(const QString& key, const QString& value, TargetConfig& config, TargetLimits& limits,
                   bool& known)
{
    known = true;
    const QString notNumber = QStringLiteral("not a number");
    const QString notInteger = QStringLiteral("not a whole number from -32768 to 32767");
    const QString tooLarge = QStringLiteral("too large");
    if (key == QLatin1String("lastImageJD")) {
        const auto v = parseNumber(value);
        if (!v)
            return notNumber;
        config.lastImageJD = *v;
    } else if (key == QLatin1String("reshoot")) {
        const auto v = toBoolean(value);
        if (!v)
            return QStringLiteral("not true, false or a number");
        config.reshoot = *v;
    } else if (key == QLatin1String("imageCount")) {
        const auto v = parseInt16(value);
        if (!v)
            return notInteger;
        config.imageCount = *v;
    } else if (key == QLatin1String("priority")) {
        const auto v = toSingle(value);
        if (!v)
            return parseNumber(value) ? tooLarge : notNumber;
        config.priority = *v;
    } else if (key == QLatin1String("interval")) {
        const auto v = parseInt16(value);
        if (!v)
            return notInteger;
        config.interval = *v;
    } else if (key == QLatin1String("exposure")) {
        const auto v = toSingle(value);
        if (!v)
            return parseNumber(value) ? tooLarge : notNumber;
        config.exposure = *v;
    } else if (key == QLatin1String("binning")) {
        const auto v = parseInt16(value);
        if (!v)
            return notInteger;
        config.binning = *v;
    } else if (key == QLatin1String("filter")) {
        config.filter = value;
    } else if (key == QLatin1String("comp") || key == QLatin1String("check")) {
        // A lightcurve's comparison and check stars: read where the lightcurve is measured.
        if (!parseNamedStar(value))
            return QStringLiteral("not a place RA,DEC[,MAG[,LABEL]]");
    } else if (key == QLatin1String("minAltitude")) {
        const auto v = parseNumber(value);
        if (!v || *v < -90 || *v > 90)
            return QStringLiteral("not an altitude from -90 to 90");
        limits.minAltitude = static_cast<float>(*v);
    } else if (key == QLatin1String("maxAirmass")) {
        const auto v = parseNumber(value);
        if (!v || !(*v >= 1) || *v > FLT_MAX)
            return QStringLiteral("not an airmass of 1 or more");
        limits.maxAirmass = static_cast<float>(*v);
    } else if (key == QLatin1String("window")) {
        const qsizetype dash = value.indexOf(QLatin1Char('-'));
        const auto start = dash < 0 ? std::nullopt : toMinuteOfDay(value.left(dash));
        const auto end = dash < 0 ? std::nullopt : toMinuteOfDay(value.mid(dash + 1));
        if (!start || !end || *start == *end)
            return QStringLiteral("not a window of local time HH:MM-HH:MM");
        limits.windowStart = *start;
        limits.windowEnd = *end;
    } else {
        known = false;
    }
    return QString();
}

} // namespace

QString targetItemProblem(const QString& key, const QString& value)
{
    TargetConfig config;
    TargetLimits limits;
    bool known = true;
    const QString problem = assignItem(key, value, config, limits, known);
    return known ? problem : QStringLiteral("unknown item name");
}

bool SurveyCore::parseTarget(const QString& target, QString& targetName, float& targetRA, float& targetDec)
{
    const auto report = [&](const QString& message) { reportLine(entryPlace.targetLine, message, target); };
    const qsizetype p1 = target.indexOf(tab);
    if (p1 < 0) {
        report(QStringLiteral("Parse error - First tab missing"));
        return false;
    }
    const qsizetype p2 = target.indexOf(tab, p1 + 1);
    if (p2 < 0) {
        report(QStringLiteral("Parse error - Second tab missing"));
        return false;
    }
    // A position the host cannot convert, or one outside the sky, is a malformed line like any
    // other: reported, with each fault of it, and the entry skipped rather than the end of the
    // night. Both are converted before anything is assigned, so that a failure leaves the caller's
    // values.
    QStringList problems;
    const auto convert = [&](double (AcpUtil::*conversion)(const QString&), const QString& text, QChar first,
                             const char* what, float& out) {
        QString problem;
        try {
            out = static_cast<float>((acpUtil.get()->*conversion)(text));
            problem =
                std::isfinite(out) ? positionRangeProblem(first, out, text) : QStringLiteral("too large");
        } catch (const HostError& error) {
            problem = error.reason();
        }
        if (!problem.isEmpty())
            problems << QStringLiteral("Invalid ") + QLatin1String(what) + QStringLiteral(" - ") + problem;
    };
    float ra = 0;
    float dec = 0;
    convert(&AcpUtil::HMS_Hours, target.mid(p1 + 1, p2 - p1 - 1), u'h', "right ascension", ra);
    convert(&AcpUtil::DMS_Degrees, target.mid(p2 + 1), u'd', "declination", dec);
    if (!problems.isEmpty()) {
        report(problems.join(QStringLiteral("; ")));
        return false;
    }
    targetName = target.left(p1);
    targetRA = ra;
    targetDec = dec;
    return true;
}

bool SurveyCore::extractName(const QString& target, QString& targetName)
{
    const qsizetype p1 = target.indexOf(tab);
    if (p1 < 0) {
        reportLine(entryPlace.targetLine, QStringLiteral("Parse error - First tab missing"), target);
        return false;
    }
    targetName = target.left(p1);
    return true;
}

bool SurveyCore::parseTargetConfig(const QString& targetConfig, TargetConfig& config)
{
    TargetLimits ignored;
    return parseTargetConfig(targetConfig, config, ignored);
}

bool SurveyCore::parseTargetConfig(const QString& targetConfig, TargetConfig& config, TargetLimits& limits)
{
    bool clean = true;
    const auto report = [&](const QString& message) {
        reportLine(entryPlace.configLine, message, targetConfig);
        clean = false;
    };
    // Items start at the sixth character: four asterisks and one separator come first.
    qsizetype start = 5;
    while (start < targetConfig.size()) {
        const qsizetype q = targetConfig.indexOf(space, start);
        const QString item = q < 0 ? targetConfig.mid(start) : targetConfig.mid(start, q - start);
        // An empty item (a doubled or trailing space) ends the line.
        if (item.isEmpty())
            return clean;
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        if (eq < 0) {
            report(QStringLiteral("Invalid item ") + item + QStringLiteral(" - no \"=\" in it"));
        } else {
            const QString key = item.left(eq);
            bool known = true;
            const QString problem = assignItem(key, item.mid(eq + 1), config, limits, known);
            if (!known)
                report(QStringLiteral("Unknown item name ") + key);
            else if (!problem.isEmpty())
                report(QStringLiteral("Invalid item ") + item + QStringLiteral(" - ") + problem);
        }
        if (q < 0)
            return clean;
        start = q + 1;
    }
    return clean;
}

} // namespace kestrove
