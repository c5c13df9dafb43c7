#include "app/SurveyCore.h"
#include "config/NumberText.h"
#include "host/HostError.h"
#include "targets/FileReplacement.h"

#include <QStringList>

#include <cstdint>
#include <functional>
#include <limits>

namespace kestrove {

namespace {

// How often the update starts again on a targets file that changed while it was copied.
constexpr int kUpdateAttempts = 5;

// Builds the new config line of the chosen target from its old one. `oldLine` is null when the line
// after the target line is not a config line; the presets then stand alone. Lines for the survey log
// go to `log`.
using ConfigLineBuilder = std::function<QString(const QString& oldLine, QStringList& log)>;

// Copies the targets file through "newtargets.txt", replacing the config line after every line
// equal to bestTarget, then renames the copy over the targets file in one atomic step: at every
// moment the targets file is complete, either old or new.
//
// The file stays the user's: a file made read-only is left alone, a copy takes the permissions of the
// file it replaces, and a symbolic link stays in place while the file it names is replaced. An edit
// saved while the file was copied is not overwritten: the copy is made again from the new content.
void rewriteTargets(SurveyCore& core, const QString& bestTarget, const QString& kind,
                    const QString& targetsPath, const ConfigLineBuilder& build)
{
    core.setStatus(QStringLiteral("Updating ") + kind + QStringLiteral(" targets file"));
    FileSystem& fs = *core.fileSystem;
    const QString targetName = bestTarget.section(QLatin1Char('\t'), 0, 0);
    const QString lastObs = QStringLiteral("Last obs time for best ") + kind + QStringLiteral(" target = ");

    for (int attempt = 1;; ++attempt) {
        FileReplacement replacement(fs, targetsPath, core.programFile(QStringLiteral("newtargets.txt")));
        if (replacement.readOnly()) {
            core.reportOnce(
                replacement.filePath(),
                QStringLiteral("The targets file \"%1\" (or its folder) is read-only, so it was not "
                               "updated: the observation of %2 is not recorded, nor any other of "
                               "this file while it stays read-only.")
                    .arg(targetsPath, targetName));
            return;
        }
        // Written once the new file is in place, so that a copy made again does not repeat them.
        QStringList log;
        {
            auto in = fs.OpenTextFile(replacement.filePath(), IOMode::ForReading);
            auto out = fs.CreateTextFile(replacement.newPath(), true);
            if (attempt == 1)
                core.logLine(QStringLiteral("Updating targets file"));

            // Messages about the entry's config line name the file and the line.
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
                    out->WriteLine(build(isConfig ? line : QString(), log));
                    log << lastObs + doubleText(core.acpUtil->Date_Julian(core.now()));
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

        if (replacement.unchanged()) {
            replacement.commit();
            for (const QString& line : log)
                core.logLine(line);
            return;
        }
        if (attempt == kUpdateAttempts) {
            fs.GetFile(replacement.newPath())->Delete();
            core.view().showMessage(
                QStringLiteral("The targets file \"%1\" changed each of the %2 times it was copied for the "
                               "update, so it was left as it is: the observation of %3 is not recorded.")
                    .arg(targetsPath)
                    .arg(kUpdateAttempts)
                    .arg(targetName));
            return;
        }
    }
}

} // namespace

void SurveyCore::updateSNe(const QString& bestTarget)
{
    rewriteTargets(*this, bestTarget, QStringLiteral("SNe"), programFile(QStringLiteral("SNeTargets.txt")),
                   [this](const QString& oldLine, QStringList&) {
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

    rewriteTargets(*this, bestTarget, QStringLiteral("MPS"), path,
                   [this](const QString& oldLine, QStringList& log) {
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
                           log << QStringLiteral("Resetting image count on this target");
                           count = 1;
                       }
                       return QStringLiteral("**** lastImageJD=") + doubleText(acpUtil->Date_Julian(now())) +
                              QStringLiteral(" imageCount=") + integerText(count);
                   });
}

void SurveyCore::updateSLC(const QString& bestTarget)
{
    rewriteTargets(*this, bestTarget, QStringLiteral("SLC"), programFile(QStringLiteral("SLCTargets.txt")),
                   [this](const QString& oldLine, QStringList&) {
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
