// The preview of a night, as kestrove --preview runs it: the survey in virtual time on a scratch
// copy, then the files and charts. Two nights: the samples' night with every kind on, and a
// 12-hour night with 10,000 SNe, 1,000 SLC targets and one 500-field MPS area.
// night_preview [SAMPLES_FOLDER]; run from a Release build on an idle machine.

#include "BenchSupport.h"
#include "config/NumberText.h"
#include "core/SurveyCore.h"
#include "host/ConfigValues.h"
#include "host/sim/SimObservatory.h"
#include "report/Preview.h"
#include "report/charts/NightOutput.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>

using namespace kestrove;
using namespace kestrove::bench;

namespace {

void writeLines(const QString& path, const QStringList& lines)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    for (const QString& line : lines)
        file.write(line.toLatin1() + "\r\n");
}

// A program folder's config.ini with every kind on, written through the survey core.
void enableEveryKind(const QString& programFolder, const QString& observatoryFolder)
{
    sim::SimObservatory host(observatoryFolder);
    QuietView view;
    SurveyCore core(host, view, programFolder);
    core.load();
    core.settings.SNeEnabled = core.settings.MPSEnabled = core.settings.SLCEnabled = 1;
    core.SaveConfig();
}

void measure(const char* title, const PreviewRequest& request, const QString& out)
{
    NightReport report;
    const Timing run = bestOf(
        3, [] {}, [&] { report = runPreview(request); });
    const Timing files = bestOf(
        3, [] {}, [&] { writePreviewFiles(report, out); });
    std::printf("%s\n", title);
    std::printf("  night         %s to %s, %lld plans in %d passes\n",
                qPrintable(utcInstantText(request.span.startUtc)),
                qPrintable(utcInstantText(request.span.endUtc)), static_cast<long long>(report.plans.size()),
                report.passes);
    std::printf("  survey run    %.3f s wall, %.3f s processor\n", run.wall / 1000, run.cpu / 1000);
    std::printf("  files, charts %.3f s wall, %.3f s processor\n", files.wall / 1000, files.cpu / 1000);
    std::printf("  total         %.3f s wall\n", (run.wall + files.wall) / 1000);
    std::printf("  peak memory   %ld KiB\n", peakKiB());
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString samples =
        argc > 1 ? QString::fromLocal8Bit(argv[1])
                 : QFileInfo(QStringLiteral(__FILE__)).dir().filePath(QStringLiteral("../samples"));
    QTemporaryDir dir;

    {
        // The samples at the default site, La Palma, on the night of 7 December 2024.
        const QString program = dir.filePath(QStringLiteral("samples/"));
        const QString observatory = dir.filePath(QStringLiteral("samples-observatory"));
        QDir().mkpath(program);
        for (const QString& name : QDir(samples).entryList(QDir::Files))
            QFile::copy(QDir(samples).filePath(name), program + name);
        enableEveryKind(program, observatory);
        PreviewRequest request;
        request.programFolder = program;
        request.observatoryFolder = observatory;
        request.night = QDate(2024, 12, 7);
        request.span = darkSpan(resolvedUserObservatory(observatory), request.night);
        QDir().mkpath(dir.filePath(QStringLiteral("out1")));
        measure("night_preview: the samples' night, every kind", request,
                dir.filePath(QStringLiteral("out1")));
    }
    {
        // As night_virtual: targets spread over the sky with a fixed seed, latitude 40, 12 hours.
        const QString program = dir.filePath(QStringLiteral("large/"));
        const QString observatory = dir.filePath(QStringLiteral("large-observatory"));
        QDir().mkpath(program);
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
        PreviewRequest request;
        request.programFolder = program;
        request.observatoryFolder = observatory;
        request.night = QDate(2024, 4, 13);
        const QDateTime start(QDate(2024, 4, 14), QTime(2, 0), QTimeZone::utc());
        request.span = {start, start.addSecs(12 * 3600)};
        QDir().mkpath(dir.filePath(QStringLiteral("out2")));
        measure("night_preview: 12 hours, 10000 SNe + 1000 SLC + 500 MPS fields", request,
                dir.filePath(QStringLiteral("out2")));
    }
    return 0;
}
