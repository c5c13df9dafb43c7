#include "core/ImageCount.h"
#include "core/SurveyCore.h"
#include "text/HostError.h"
#include "text/NamedStar.h"
#include "text/NumberText.h"

#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

namespace kestrove {

namespace {

// What sets one survey kind's plan apart from another's.
struct PlanRecipe
{
    QString statusText;
    QString lookupFile; // in the program folder
    QString kindFolder; // below baseDir, with its separator
    bool targetFolder;  // images go to a folder of the target's own
    std::optional<float> subframe;
    std::optional<int16_t> fixedCount;
    TargetConfig defaults;
    // The target's comp= and check= stars go into the plan as comments, for the lightcurve's
    // photometry to find; the acquisition script reads past them.
    bool namedStars = false;
    // A minor planet field's image of its set, "; set=K/N", also a comment: the set's frames are
    // taken by as many plans, and the search for movers looks at them together.
    bool setPosition = false;
};

// Elapsed days compared in whole milliseconds: the clock and the saved Julian dates carry no finer
// time, and rounding keeps "exactly focusInterval minutes later" from counting as overdue through
// the last bits of a Julian date.
bool autofocusDue(double jdNow, double lastFocusJD, int16_t focusInterval)
{
    const double elapsedMs = (jdNow - lastFocusJD) * 86400000.0;
    return std::llround(elapsedMs) > static_cast<long long>(focusInterval) * 60000;
}

// The night's date folder: images taken between noon and the next noon share one. The local wall
// time is moved back 12 hours as a wall time, whatever the zone's daylight-saving rules do that day.
QDateTime nightOf(const QDateTime& localNow)
{
    const QDateTime wall(localNow.date(), localNow.time(), QTimeZone::utc());
    return wall.addSecs(-12 * 3600);
}

// The config line's comp= and check= items with a place in them, as the plan's comment lines.
QStringList namedStarLines(const QString& targetConfig)
{
    QStringList lines;
    // Items start at the sixth character; an empty item ends the line, as when it is parsed.
    for (const QString& item : targetConfig.mid(5).split(QLatin1Char(' '))) {
        if (item.isEmpty())
            break;
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        const QString key = item.left(eq);
        if (eq > 0 && (key == QLatin1String("comp") || key == QLatin1String("check")) &&
            parseNamedStar(item.mid(eq + 1)))
            lines << QStringLiteral("; ") + item;
    }
    return lines;
}

void writePlan(SurveyCore& core, const QString& bestTarget, const QString& targetName,
               const TargetConfig& config, const QString& targetConfig, const PlanRecipe& recipe)
{
    SurveySettings& settings = core.settings;
    AcpUtil& util = *core.acpUtil;
    const QString planPath = util.Prefs().LocalUser().DefaultPlanDir() + QStringLiteral("/surveyplan.txt");
    std::unique_ptr<TextStream> plan = core.fileSystem->CreateTextFile(planPath, true);

    if (autofocusDue(util.Date_Julian(core.now()), settings.lastFocusJD, settings.focusInterval)) {
        core.logLine(QStringLiteral("Performing autofocus on this target"));
        plan->WriteLine(QStringLiteral("#autofocus"));
        // Saved before the plan runs, so a plan that fails later still counts as focused.
        settings.lastFocusJD = util.Date_Julian(core.now());
        core.SaveConfig();
    }

    QString dir = QStringLiteral("#dir ") + settings.baseDir + recipe.kindFolder;
    if (recipe.targetFolder)
        dir += targetName + QLatin1Char('/');
    dir += util.FormatVar(nightOf(core.now()), QStringLiteral("yyyymmdd"));
    plan->WriteLine(dir);
    plan->WriteLine(QStringLiteral("#calibrate"));
    if (recipe.subframe)
        plan->WriteLine(QStringLiteral("#subframe ") + singleText(*recipe.subframe));
    if (!config.filter.isEmpty())
        plan->WriteLine(QStringLiteral("#filter ") + config.filter);
    plan->WriteLine(QStringLiteral("#binning ") + integerText(config.binning));
    plan->WriteLine(QStringLiteral("#count ") + integerText(recipe.fixedCount.value_or(config.imageCount)));
    plan->WriteLine(QStringLiteral("#interval ") + singleText(config.exposure));
    if (recipe.namedStars)
        for (const QString& line : namedStarLines(targetConfig))
            plan->WriteLine(line);
    if (recipe.setPosition) {
        // Counted as the targets file's update will count it once the image is in.
        const int image = std::max<int>(1, imageCountAfter(config, util.Date_Julian(core.now())));
        plan->WriteLine(QStringLiteral("; set=%1/%2").arg(image).arg(std::max<int>(1, settings.imagesMPS)));
    }
    plan->WriteLine(bestTarget);
    plan->WriteLine(QStringLiteral("#chainscript ") + core.GetEXEPath() + QStringLiteral("completed.vbs"));
    plan->Close();
}

// Finds the chosen target line in its file by whole-line equality and writes a plan for the config
// line after each occurrence; a later occurrence replaces the plan of an earlier one.
void planFromFile(SurveyCore& core, const QString& bestTarget, const PlanRecipe& recipe)
{
    core.setStatus(recipe.statusText);
    std::unique_ptr<TextStream> lookup =
        core.fileSystem->OpenTextFile(core.programFile(recipe.lookupFile), IOMode::ForReading);
    core.logLine(QStringLiteral("Creating plan file"));

    const ReadingFile reading(core, recipe.lookupFile);
    qint64 lineNumber = 0;
    QString targetName;
    while (!lookup->AtEndOfStream()) {
        core.pumpEvents();
        ++lineNumber;
        if (lookup->ReadLine() != bestTarget)
            continue;
        core.entryPlace.targetLine = lineNumber;
        core.extractName(bestTarget, targetName);
        if (lookup->AtEndOfStream())
            break; // a target line without a config line gets no plan
        core.pumpEvents();
        const QString targetConfig = lookup->ReadLine();
        core.entryPlace.configLine = ++lineNumber;
        TargetConfig config = recipe.defaults;
        core.parseTargetConfig(targetConfig, config);
        writePlan(core, bestTarget, targetName, config, targetConfig, recipe);
    }
    lookup->Close();
}

TargetConfig planDefaults(int16_t imageCount, int16_t interval, float exposure, int16_t binning,
                          const QString& filter)
{
    TargetConfig config;
    config.lastImageJD = 0;
    config.reshoot = false;
    config.imageCount = imageCount;
    config.priority = 100;
    config.interval = interval;
    config.exposure = exposure;
    config.binning = binning;
    config.filter = filter;
    return config;
}

} // namespace

void SurveyCore::planSNe(const QString& bestTarget)
{
    PlanRecipe recipe{
        QStringLiteral("Creating SNe plan file"),
        QStringLiteral("SNeTargets.txt"),
        QStringLiteral("SNe/"),
        true,
        settings.cameraSubframeSNe,
        std::nullopt,
        planDefaults(1, 0, settings.exposureSNe, settings.cameraBinningSNe, settings.cameraFilterSNe)};
    planFromFile(*this, bestTarget, recipe);
}

void SurveyCore::planMPS(const QString& bestTarget)
{
    // The field number is the text before the first "!" of the field's name.
    const qsizetype bang = bestTarget.indexOf(QLatin1Char('!'));
    if (bang < 0)
        throw HostError(QStringLiteral("planMPS"), bestTarget,
                        QStringLiteral("no \"!\" after a field number"));
    const std::optional<int16_t> field = parseInt16(bestTarget.left(bang));
    if (!field)
        throw HostError(QStringLiteral("planMPS"), bestTarget,
                        QStringLiteral("\"%1\" is not a field number").arg(bestTarget.left(bang)));

    PlanRecipe recipe{
        QStringLiteral("Creating MPS plan file"),
        QStringLiteral("MPSfov") + integerText(*field) + QStringLiteral(".txt"),
        QStringLiteral("MPS/"),
        false,
        std::nullopt,
        int16_t(1),
        planDefaults(0, 0, settings.exposureMPS, settings.cameraBinningMPS, settings.cameraFilterMPS),
        false,
        true};
    planFromFile(*this, bestTarget, recipe);
}

void SurveyCore::planSLC(const QString& bestTarget)
{
    const std::optional<int16_t> setSize = roundToInt16(settings.setSizeSLC);
    if (!setSize)
        throw HostError(
            QStringLiteral("planSLC"), QStringLiteral("setSizeSLC"),
            QStringLiteral("%1 is outside the 16-bit range").arg(singleText(settings.setSizeSLC)));

    PlanRecipe recipe{
        QStringLiteral("Creating SLC plan file"),
        QStringLiteral("SLCTargets.txt"),
        QStringLiteral("SLC/"),
        true,
        settings.cameraSubframeSLC,
        std::nullopt,
        planDefaults(*setSize, 60, settings.exposureSLC, settings.cameraBinningSLC, settings.cameraFilterSLC),
        true};
    planFromFile(*this, bestTarget, recipe);
}

// Minor planet follow-up has no targets of its own, so there is never a plan to write.
void SurveyCore::planMPF(const QString&) {}

} // namespace kestrove
