#pragma once

#include "core/SurveyCore.h"
#include "host/sim/SimObservatory.h"
#include "sky/Clock.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <functional>
#include <memory>

namespace kestrove::test {

// A survey core on the simulated observatory in virtual time, in a fresh temporary folder: a site at
// latitude 40 in the Mountain time zone, the clock at 03:10 local time on 14 April 2024, a
// fork-mounted equatorial telescope (no pier-side bonus), no weather source.
class SimSurvey
{
public:
    explicit SimSurvey(const std::function<void(ObservatorySettings&)>& adjust = {},
                       const QString& programName = QStringLiteral("program"))
    {
        programFolder = dir.path() + QLatin1Char('/') + programName + QLatin1Char('/');
        QDir().mkpath(programFolder);
        const QString observatoryFolder = dir.path() + QStringLiteral("/observatory");
        simSettings = observatoryDefaults(observatoryFolder);
        simSettings.latitude = 40;
        simSettings.longitude = -105;
        simSettings.elevation = 1600;
        simSettings.timeZone = QStringLiteral("America/Denver");
        simSettings.clockStart = QStringLiteral("2024-04-14T09:10:00Z");
        simSettings.clockSpeed = 0;
        simSettings.alignmentMode = 1;
        simSettings.weatherConnected = false;
        // The run loop's own behaviour; shutting down at the end has tests of its own.
        simSettings.safety.closeAtEnd = false;
        if (adjust)
            adjust(simSettings);
        host = std::make_unique<sim::SimObservatory>(observatoryFolder, simSettings);
        core = std::make_unique<SurveyCore>(*host, view, programFolder);
        core->eventPumpIntervalMs = 0;
        core->load();
    }

    QString planDir() { return core->acpUtil->Prefs().LocalUser().DefaultPlanDir(); }
    QString planPath() { return planDir() + QStringLiteral("/surveyplan.txt"); }
    QString logPath()
    {
        return core->acpUtil->Prefs().LocalUser().DefaultLogDir() + QStringLiteral("/Kestrove.log");
    }
    QString programFile(const QString& name) const { return programFolder + name; }

    static QStringList readLines(const QString& path)
    {
        if (!QFile::exists(path))
            return {};
        QString text = QString::fromLatin1(readBytes(path));
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        QStringList lines = text.split(QLatin1Char('\n'));
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }
    // The survey's lines of its log; what the observatory did is left to observatoryLines().
    QStringList logLines()
    {
        QStringList lines = readLines(logPath());
        lines.removeIf([](const QString& line) { return line.startsWith(kObservatory); });
        return lines;
    }
    QStringList observatoryLines()
    {
        QStringList lines = readLines(logPath());
        lines.removeIf([](const QString& line) { return !line.startsWith(kObservatory); });
        return lines;
    }
    static inline const QString kObservatory = QStringLiteral("Observatory: ");
    QStringList programLines(const QString& name) { return readLines(programFile(name)); }
    void writeProgramFile(const QString& name, const QStringList& lines)
    {
        writeBytes(programFile(name), crlfLines(lines));
    }

    QDateTime utc() { return host->clock().utcNow(); }
    double jdNow() { return core->acpUtil->Date_Julian(core->now()); }
    // Local apparent sidereal time now: a target at this right ascension stands on the meridian.
    double siderealTime() { return core->acpTelescope->SiderealTime(); }
    // The position columns of a target on the meridian now at a declination.
    QString onMeridian(double declination)
    {
        return QString::number(siderealTime(), 'f', 6) + QLatin1Char('\t') +
               QString::number(declination, 'f', 6);
    }

    // Settings are reloaded from "config.ini" when a survey starts, so tests change them there.
    void saveSettings(const std::function<void(SurveySettings&)>& change)
    {
        change(core->settings);
        core->SaveConfig();
    }

    // Runs the survey for a number of passes (0: until stopped).
    void run(int passes)
    {
        core->runLimits.passes = passes;
        core->startSurvey();
    }

    void enable(SurveyKind kind, const QString& weight = QStringLiteral("100"))
    {
        view.checked[kind] = true;
        view.weights[kind] = weight;
    }

    QTemporaryDir dir;
    QString programFolder;
    ObservatorySettings simSettings;
    std::unique_ptr<sim::SimObservatory> host;
    RecordingView view;
    std::unique_ptr<SurveyCore> core;
};

} // namespace kestrove::test
