#include "settings/GradingSettings.h"

#include "settings/IniReader.h"
#include "text/NumberText.h"

namespace kestrove {

QStringList gradingKeys()
{
    QStringList keys;
    for (const auto& [key, value] : gradingValues(GradingSettings()))
        keys << key;
    return keys;
}

QList<QPair<QString, QString>> gradingValues(const GradingSettings& g)
{
    const auto number = [](int n) { return QString::number(n); };
    return {
        {QStringLiteral("grading/enabled"), g.enabled ? QStringLiteral("true") : QStringLiteral("false")},
        {QStringLiteral("grading/minimumStars"), number(g.thresholds.minimumStars)},
        {QStringLiteral("grading/starFraction"), doubleText(g.thresholds.starFraction)},
        {QStringLiteral("grading/hfrFactor"), doubleText(g.thresholds.hfrFactor)},
        {QStringLiteral("grading/backgroundFactor"), doubleText(g.thresholds.backgroundFactor)},
        {QStringLiteral("grading/window"), number(g.thresholds.window)},
        {QStringLiteral("grading/cloudFrames"), number(g.cloudFrames)},
        {QStringLiteral("grading/cloudPause"), doubleText(g.cloudPause)},
        {QStringLiteral("grading/testExposure"), doubleText(g.testExposure)},
    };
}

QStringList gradingFileLines(const GradingSettings& g)
{
    return {
        QStringLiteral("[grading]"),
        QStringLiteral(
            "; each frame of an INDI plan is measured and graded (false: recorded, never rejected)"),
        QStringLiteral("enabled=") + gradingValues(g)[0].second,
        QStringLiteral("; rejected: fewer than minimumStars; fewer than starFraction of the stars of the"),
        QStringLiteral(
            "; target's recent frames (the median of its latest `window` accepted ones in the filter);"),
        QStringLiteral(
            "; an HFR hfrFactor times theirs (the next plan refocuses); a sky backgroundFactor times"),
        QStringLiteral("; as bright"),
        QStringLiteral("minimumStars=") + QString::number(g.thresholds.minimumStars),
        QStringLiteral("starFraction=") + doubleText(g.thresholds.starFraction),
        QStringLiteral("hfrFactor=") + doubleText(g.thresholds.hfrFactor),
        QStringLiteral("backgroundFactor=") + doubleText(g.thresholds.backgroundFactor),
        QStringLiteral("window=") + QString::number(g.thresholds.window),
        QStringLiteral(
            "; plans in a row whose frames show too few stars pause imaging for cloudPause minutes;"),
        QStringLiteral("; then a test frame of testExposure seconds looks again"),
        QStringLiteral("cloudFrames=") + QString::number(g.cloudFrames),
        QStringLiteral("cloudPause=") + doubleText(g.cloudPause),
        QStringLiteral("testExposure=") + doubleText(g.testExposure),
    };
}

void readGrading(IniReader& ini, GradingSettings& g)
{
    ini.boolean("grading/enabled", g.enabled);
    ini.integer("grading/minimumStars", g.thresholds.minimumStars, 0, 100000);
    ini.number("grading/starFraction", g.thresholds.starFraction, 0, 1);
    ini.number("grading/hfrFactor", g.thresholds.hfrFactor, 1, 100);
    ini.number("grading/backgroundFactor", g.thresholds.backgroundFactor, 1, 1e6);
    ini.integer("grading/window", g.thresholds.window, 1, 1000);
    ini.integer("grading/cloudFrames", g.cloudFrames, 1, 1000);
    ini.number("grading/cloudPause", g.cloudPause, 0.05, 1440);
    ini.number("grading/testExposure", g.testExposure, 0.001, 3600);
}

} // namespace kestrove
