#pragma once

// The program folders the preview benchmarks run on: the samples, and a large catalogue spread over
// the sky with a fixed seed at latitude 40.

#include "BenchSupport.h"
#include "core/SurveyCore.h"
#include "host/sim/SimObservatory.h"
#include "settings/ObservatorySettings.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStringList>

namespace kestrove::bench {

inline void writeLines(const QString& path, const QStringList& lines)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    for (const QString& line : lines)
        file.write(line.toLatin1() + "\r\n");
}

// A program folder's config.ini with every kind on, written through the survey core.
inline void enableEveryKind(const QString& programFolder, const QString& observatoryFolder)
{
    sim::SimObservatory host(observatoryFolder);
    QuietView view;
    SurveyCore core(host, view, programFolder);
    core.load();
    core.settings.SNeEnabled = core.settings.MPSEnabled = core.settings.SLCEnabled = 1;
    core.SaveConfig();
}

// A copy of the sample catalogues in `program` (ending with a separator), every kind enabled.
inline void copySamples(const QString& samples, const QString& program, const QString& observatory)
{
    QDir().mkpath(program);
    for (const QString& name : QDir(samples).entryList(QDir::Files))
        QFile::copy(QDir(samples).filePath(name), program + name);
    enableEveryKind(program, observatory);
}

// 10,000 SNe, 1,000 SLC stars and one MPS area, for a site at latitude 40 in America/Denver; every
// kind enabled. `program` ends with a separator.
inline void writeLargeCatalogue(const QString& program, const QString& observatory)
{
    QRandomGenerator random(20240414);
    QStringList sne;
    for (int i = 0; i < 10000; ++i)
        sne << QStringLiteral("SN%1\t%2\t%3")
                   .arg(i)
                   .arg(random.bounded(24.0), 0, 'f', 5)
                   .arg(-30 + random.bounded(110.0), 0, 'f', 4)
            << QStringLiteral("**** ");
    writeLines(program + QStringLiteral("SNeTargets.txt"), sne);
    QStringList slc;
    for (int i = 0; i < 1000; ++i)
        slc << QStringLiteral("Star%1\t%2\t%3")
                   .arg(i)
                   .arg(random.bounded(24.0), 0, 'f', 5)
                   .arg(-20 + random.bounded(100.0), 0, 'f', 4)
            << QStringLiteral("**** priority=%1 interval=%2")
                   .arg(1 + random.bounded(100))
                   .arg(30 + random.bounded(120));
    writeLines(program + QStringLiteral("SLCTargets.txt"), slc);
    writeLines(program + QStringLiteral("MPSTargets.txt"), {QStringLiteral("10.0 10.0 11.2534 22.04")});
    ObservatorySettings settings = observatoryDefaults(observatory);
    settings.latitude = 40;
    settings.longitude = -105;
    settings.elevation = 1600;
    settings.timeZone = QStringLiteral("America/Denver");
    writeObservatorySettings(observatory, settings);
    enableEveryKind(program, observatory);
}

} // namespace kestrove::bench
