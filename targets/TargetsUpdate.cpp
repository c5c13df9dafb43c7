#include "app/SurveyCore.h"
#include "config/NumberText.h"
#include "host/HostError.h"

#include <cstdint>
#include <functional>
#include <limits>

namespace kestrove {

namespace {

// Builds the new config line of the chosen target from its old one. `oldLine` is null when the line
// after the target line is not a config line; the presets then stand alone.
using ConfigLineBuilder = std::function<QString(const QString& oldLine)>;

// Copies the targets file through "newtargets.txt", replacing the config line after every line
// equal to bestTarget, then renames the copy over the targets file in one atomic step: at every
// moment the targets file is complete, either old or new.
void rewriteTargets(SurveyCore& core, const QString& bestTarget, const QString& kind,
                    const QString& targetsPath, const ConfigLineBuilder& build)
{
    core.setStatus(QStringLiteral("Updating ") + kind + QStringLiteral(" targets file"));
    const QString newPath = core.programFile(QStringLiteral("newtargets.txt"));
    {
        auto in = core.fileSystem->OpenTextFile(targetsPath, IOMode::ForReading);
        auto out = core.fileSystem->CreateTextFile(newPath, true);
        core.logLine(QStringLiteral("Updating targets file"));

        const QString lastObs =
            QStringLiteral("Last obs time for best ") + kind + QStringLiteral(" target = ");
        const ReadingFile reading(core, targetsPath);
        qint64 lineNumber = 0;
        bool found = false;
        while (!in->AtEndOfStream()) {
            core.pumpEvents();
            const QString line = in->ReadLine();
            ++lineNumber;
            if (found) {
                found = false;
                core.entryPlace.targetLine = lineNumber - 1;
                core.entryPlace.configLine = lineNumber;
                const bool isConfig = line.startsWith(QLatin1String("****"));
                out->WriteLine(build(isConfig ? line : QString()));
                core.logLine(lastObs + doubleText(core.acpUtil->Date_Julian(core.now())));
                // A line that is not a config line is the user's; keep it after the new one.
                if (isConfig)
                    continue;
            }
            out->WriteLine(line);
            if (line == bestTarget)
                found = true;
        }
        in->Close();
        // Close flushes the copy to the disk before it may take the targets file's place.
        out->Close();
    }
    core.fileSystem->GetFile(newPath)->Replace(targetsPath);
}

} // namespace

void SurveyCore::updateSNe(const QString& bestTarget)
{
    rewriteTargets(*this, bestTarget, QStringLiteral("SNe"), programFile(QStringLiteral("SNeTargets.txt")),
                   [this](const QString& oldLine) {
                       TargetConfig config;
                       if (!oldLine.isNull())
                           parseTargetConfig(oldLine, config);
                       return QStringLiteral("**** lastImageJD=") + doubleText(acpUtil->Date_Julian(now()));
                   });
}

void SurveyCore::updateMPS(const QString& bestTarget)
{
    const QString areaText = bestTarget.section(QLatin1Char('!'), 0, 0);
    const auto area = parseInt16(areaText);
    if (!area)
        throw HostError(QStringLiteral("updateMPS"), bestTarget,
                        QStringLiteral("the name does not begin with an area number"));
    const QString path = programFile(QStringLiteral("MPSfov") + integerText(*area) + QStringLiteral(".txt"));

    rewriteTargets(*this, bestTarget, QStringLiteral("MPS"), path, [this](const QString& oldLine) {
        TargetConfig config;
        config.lastImageJD = 0;
        config.imageCount = 0;
        if (!oldLine.isNull())
            parseTargetConfig(oldLine, config);
        // A count at the 16-bit limit stays there rather than wrapping.
        int16_t count = config.imageCount;
        if (count < std::numeric_limits<int16_t>::max())
            ++count;
        if (acpUtil->Date_Julian(now()) - config.lastImageJD > 0.5) {
            logLine(QStringLiteral("Resetting image count on this target"));
            count = 1;
        }
        return QStringLiteral("**** lastImageJD=") + doubleText(acpUtil->Date_Julian(now())) +
               QStringLiteral(" imageCount=") + integerText(count);
    });
}

void SurveyCore::updateSLC(const QString& bestTarget)
{
    rewriteTargets(*this, bestTarget, QStringLiteral("SLC"), programFile(QStringLiteral("SLCTargets.txt")),
                   [this](const QString& oldLine) {
                       TargetConfig config;
                       config.priority = 100;
                       config.interval = 60;
                       config.exposure = settings.exposureSLC;
                       config.binning = settings.cameraBinningSLC;
                       config.filter = settings.cameraFilterSLC;
                       if (!oldLine.isNull())
                           parseTargetConfig(oldLine, config);
                       return QStringLiteral("**** lastImageJD=") + doubleText(acpUtil->Date_Julian(now())) +
                              QStringLiteral(" priority=") + singleText(config.priority) +
                              QStringLiteral(" interval=") + integerText(config.interval) +
                              QStringLiteral(" exposure=") + singleText(config.exposure) +
                              QStringLiteral(" binning=") + integerText(config.binning) +
                              QStringLiteral(" filter=") + config.filter;
                   });
}

void SurveyCore::updateMPF(const QString&) {}

} // namespace kestrove
