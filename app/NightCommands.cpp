#include "app/NightCommands.h"

#include "app/StopSignals.h"
#include "report/MonthPreview.h"
#include "report/NightFiles.h"
#include "report/PolicyComparison.h"
#include "report/Preview.h"
#include "report/charts/NightOutput.h"
#include "text/HostError.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <exception>
#include <tuple>

namespace kestrove {

namespace {

void print(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, bytes.size(), stream);
    std::fflush(stream);
}

// The night a command means: --night, the night --from falls in, or the observatory's current one.
QDate nightOf(const CommandLine& commandLine, const ResolvedObservatory& observatory)
{
    if (commandLine.night.isValid())
        return commandLine.night;
    if (commandLine.fromUtc.isValid())
        return nightDateOf(commandLine.fromUtc.toTimeZone(observatory.zone));
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

int runPreviewCommand(const CommandLine& commandLine)
{
    try {
        // The observatory's settings are read and resolved here, once, for the whole command.
        PreviewRequest request;
        request.programFolder = commandLine.folder;
        request.observatoryFolder = commandLine.observatory;
        request.observatory = resolvedUserObservatory(commandLine.observatory);
        request.night = nightOf(commandLine, *request.observatory);
        request.span = commandLine.fromUtc.isValid() ? TimeSpan{commandLine.fromUtc, commandLine.toUtc}
                                                     : darkSpan(*request.observatory, request.night);
        // Ctrl-C ends the preview as Stop Survey would, so that its scratch copy is removed.
        StopSignalNotifier stopSignals;
        bool stopped = false;
        QObject::connect(&stopSignals, &StopSignalNotifier::received, [&stopped] { stopped = true; });
        if (commandLine.comparePolicies) {
            int shown = -1;
            const auto tell = [&](int policy, int night) {
                const int step = policy * commandLine.nights + night;
                if (step == shown)
                    return;
                shown = step;
                print(stderr, QStringLiteral("%1 policy, night %2 of %3\n")
                                  .arg(policy == 0 ? QStringLiteral("Specified") : QStringLiteral("Balanced"))
                                  .arg(night + 1)
                                  .arg(commandLine.nights));
            };
            const PolicyMonths months =
                commandLine.nights > 1
                    ? comparePolicies(MonthRequest{request, commandLine.nights, commandLine.clearFraction,
                                                   commandLine.seed},
                                      [&](int policy, int night, double) {
                                          tell(policy, night);
                                          return !stopped;
                                      })
                    : comparePolicies(request, [&](int policy, double) {
                          tell(policy, 0);
                          return !stopped;
                      });
            if (stopped || months.stopped) {
                print(stderr, QStringLiteral("Kestrove: the preview was stopped; it wrote no files\n"));
                return 1;
            }
            const QString folder = outputFolder(commandLine, QStringLiteral("preview"), request.night, true);
            writePolicyFiles(months, folder);
            QString text;
            for (const auto& [name, month, night] :
                 {std::tuple{QStringLiteral("Specified policy"), &months.specified, &months.specifiedNight},
                  std::tuple{QStringLiteral("Balanced policy"), &months.balanced, &months.balancedNight}})
                text += name + QStringLiteral(":\n") +
                        (*night ? nightSummary(**night) : monthSummary(*month)) + u'\n';
            text += policyComparison(months);
            print(stdout, text + QStringLiteral("Files: ") + folder + u'\n');
            return 0;
        }
        if (commandLine.nights > 1) {
            MonthRequest month{request, commandLine.nights, commandLine.clearFraction, commandLine.seed};
            int shown = -1;
            const MonthReport report = runMonthPreview(month, [&](int night, double) {
                if (night != shown) {
                    shown = night;
                    print(stderr, QStringLiteral("Night %1 of %2\n").arg(night + 1).arg(commandLine.nights));
                }
                return !stopped;
            });
            if (stopped || report.stopped) {
                print(stderr, QStringLiteral("Kestrove: the preview was stopped; it wrote no files\n"));
                return 1;
            }
            const QString folder = outputFolder(commandLine, QStringLiteral("preview"), request.night, true);
            writeMonthFiles(report, folder);
            QString text = monthSummary(report);
            for (const QString& message : report.messages)
                text += message + u'\n';
            print(stdout, text + QStringLiteral("Files: ") + folder + u'\n');
            return 0;
        }
        const NightReport report = runPreview(request, [&stopped](double) { return !stopped; });
        if (stopped) {
            print(stderr, QStringLiteral("Kestrove: the preview was stopped; it wrote no files\n"));
            return 1;
        }
        const QString folder = outputFolder(commandLine, QStringLiteral("preview"), request.night, true);
        writePreviewFiles(report, folder);
        QString text = nightSummary(report);
        for (const QString& message : report.messages)
            text += message + u'\n';
        print(stdout, text + QStringLiteral("Files: ") + folder + u'\n');
        return 0;
    } catch (const std::exception& error) {
        print(stderr, QStringLiteral("Kestrove: ") + QString::fromUtf8(error.what()) + u'\n');
        return 1;
    }
}

int runReportCommand(const CommandLine& commandLine)
{
    try {
        const ResolvedObservatory observatory = resolvedUserObservatory(commandLine.observatory);
        const NightReport report = observedNight(observatory, nightOf(commandLine, observatory));
        const QString folder = outputFolder(commandLine, QStringLiteral("report"), report.night, false);
        QString lightcurves;
        for (const QString& path : writeReportFiles(report, folder))
            if (path.endsWith(QLatin1String(".png")) &&
                QFileInfo(path).dir().dirName() == QLatin1String("lightcurves"))
                lightcurves += QStringLiteral("Lightcurve: ") + QDir(folder).relativeFilePath(path) + u'\n';
        print(stdout, nightSummary(report) + lightcurves + QStringLiteral("Files: ") + folder + u'\n');
        return 0;
    } catch (const std::exception& error) {
        print(stderr, QStringLiteral("Kestrove: ") + QString::fromUtf8(error.what()) + u'\n');
        return 1;
    }
}

} // namespace kestrove
