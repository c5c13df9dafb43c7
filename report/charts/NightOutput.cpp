#include "report/charts/NightOutput.h"

#include "app/StopSignals.h"
#include "host/HostError.h"
#include "host/LocalFileSystem.h"
#include "report/NightFiles.h"
#include "report/Preview.h"
#include "report/charts/NightCharts.h"

#include <QDir>
#include <cstdio>
#include <exception>

namespace kestrove {

namespace {

const QSize nightSize(1400, 800);
const QSize skySize(900, 950);

void print(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, bytes.size(), stream);
    std::fflush(stream);
}

// The night a command means: --night, the night --from falls in, or the observatory's current one.
QDate nightOf(const CommandLine& commandLine, const ObservatorySettings& observatory)
{
    if (commandLine.night.isValid())
        return commandLine.night;
    if (commandLine.fromUtc.isValid())
        return nightDateOf(commandLine.fromUtc.toTimeZone(siteTimeZone(observatory)));
    return currentNight(observatory);
}

QString outputFolder(const CommandLine& commandLine, const QString& kind, const QDate& night, bool fresh)
{
    if (!commandLine.out.isEmpty()) {
        if (!QDir().mkpath(commandLine.out))
            throw HostError(QStringLiteral("--out"), commandLine.out,
                            QStringLiteral("cannot create the folder"));
        return QDir(commandLine.out).absolutePath();
    }
    const QString parent = QDir(commandLine.folder).filePath(kind);
    if (fresh)
        return newDatedFolder(parent, night);
    const QString folder = QDir(parent).filePath(night.toString(Qt::ISODate));
    if (!QDir().mkpath(folder))
        throw HostError(QStringLiteral("report"), folder, QStringLiteral("cannot create the folder"));
    return folder;
}

} // namespace

QStringList writePreviewFiles(const NightReport& report, const QString& folder)
{
    const QDir dir(folder);
    const QStringList paths{
        dir.filePath(QStringLiteral("plans.csv")), dir.filePath(QStringLiteral("reasons.csv")),
        dir.filePath(QStringLiteral("night.png")), dir.filePath(QStringLiteral("night.svg")),
        dir.filePath(QStringLiteral("sky.png"))};
    writeWholeFile(paths[0], plansCsv(report));
    writeWholeFile(paths[1], reasonsCsv(report));
    charts::saveChart(charts::nightChart(report), nightSize, paths[2], paths[3]);
    charts::saveChart(charts::skyChart(report), skySize, paths[4]);
    return paths;
}

QStringList writeReportFiles(const NightReport& report, const QString& folder)
{
    const QString path = QDir(folder).filePath(QStringLiteral("night.png"));
    charts::saveChart(charts::nightChart(report), nightSize, path);
    return {path};
}

int runPreviewCommand(const CommandLine& commandLine)
{
    try {
        const ObservatorySettings observatory = userObservatory(commandLine.observatory);
        PreviewRequest request;
        request.programFolder = commandLine.folder;
        request.observatoryFolder = commandLine.observatory;
        request.night = nightOf(commandLine, observatory);
        request.span = commandLine.fromUtc.isValid() ? TimeSpan{commandLine.fromUtc, commandLine.toUtc}
                                                     : darkSpan(observatory, request.night);
        // Ctrl-C ends the preview as Stop Survey would, so that its scratch copy is removed.
        StopSignalNotifier stopSignals;
        bool stopped = false;
        QObject::connect(&stopSignals, &StopSignalNotifier::received, [&stopped] { stopped = true; });
        const NightReport report = runPreview(request, [&stopped](double) { return !stopped; });
        if (stopped) {
            print(stderr, QStringLiteral("Kestrove: the preview was stopped; it wrote no files\n"));
            return 1;
        }
        const QString folder = outputFolder(commandLine, QStringLiteral("preview"), request.night, true);
        writePreviewFiles(report, folder);
        print(stdout, nightSummary(report) + QStringLiteral("Files: ") + folder + u'\n');
        return 0;
    } catch (const std::exception& error) {
        print(stderr, QStringLiteral("Kestrove: ") + QString::fromUtf8(error.what()) + u'\n');
        return 1;
    }
}

int runReportCommand(const CommandLine& commandLine)
{
    try {
        const ObservatorySettings observatory = userObservatory(commandLine.observatory);
        const NightReport report = observedNight(observatory, nightOf(commandLine, observatory));
        const QString folder = outputFolder(commandLine, QStringLiteral("report"), report.night, false);
        writeReportFiles(report, folder);
        print(stdout, nightSummary(report) + QStringLiteral("Files: ") + folder + u'\n');
        return 0;
    } catch (const std::exception& error) {
        print(stderr, QStringLiteral("Kestrove: ") + QString::fromUtf8(error.what()) + u'\n');
        return 1;
    }
}

} // namespace kestrove
