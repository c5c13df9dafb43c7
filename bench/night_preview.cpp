// The preview of a night, as kestrove --preview runs it: the survey in virtual time on a scratch
// copy, then the files and charts. Two nights: the samples' night with every kind on, and a
// 12-hour night with 10,000 SNe, 1,000 SLC targets and one 500-field MPS area.
// night_preview [SAMPLES_FOLDER [KEEP_FOLDER]]; run from a Release build on an idle machine.

#include "BenchCatalogues.h"
#include "core/SurveyCore.h"
#include "host/sim/SimObservatory.h"
#include "report/Preview.h"
#include "report/charts/NightOutput.h"
#include "text/NumberText.h"
#include "text/ValueText.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

using namespace kestrove;
using namespace kestrove::bench;

namespace {

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
        argc > 1 && argv[1][0] ? QString::fromLocal8Bit(argv[1])
                 : QStringLiteral(KESTROVE_SAMPLES_DIR);
    // Given a folder to keep, the program folders and the files stay there to be compared.
    QTemporaryDir temporary;
    const QDir dir(argc > 2 ? QString::fromLocal8Bit(argv[2]) : temporary.path());

    {
        // The samples at the default site, La Palma, on the night of 7 December 2024.
        const QString program = dir.filePath(QStringLiteral("samples/"));
        const QString observatory = dir.filePath(QStringLiteral("samples-observatory"));
        copySamples(samples, program, observatory);
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
        writeLargeCatalogue(program, observatory);
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
