// The preview of a month, as kestrove --preview --nights 30 --compare-policies runs it: the survey
// night after night on one scratch copy, then coverage.csv and the coverage chart, under each
// selection policy, and the two side by side. Two months: the samples' with every kind on, and one
// of 10,000 SNe, 1,000 SLC targets and a 500-field MPS area at latitude 40.
// Resident memory is read as each night starts, to show that it stays flat.
// month_preview [NIGHTS [LARGE_NIGHTS [SAMPLES_FOLDER [KEEP_FOLDER]]]]; run from a Release build on an idle machine.

#include "BenchCatalogues.h"
#include "core/SurveyCore.h"
#include "host/sim/SimObservatory.h"
#include "report/MonthPreview.h"
#include "report/PolicyComparison.h"
#include "report/charts/NightOutput.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <unistd.h>

using namespace kestrove;
using namespace kestrove::bench;

namespace {

long residentKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : 0;
}

MonthReport measure(const char* title, MonthRequest request, SelectionPolicy policy, const QString& out)
{
    QList<long> resident;
    MonthReport report;
    request.first.policy = policy;
    const Timing run = bestOf(
        1, [] {},
        [&] {
            report = runMonthPreview(request, [&](int night, double) {
                if (night == resident.size())
                    resident << residentKiB();
                return true;
            });
        });
    QDir().mkpath(out);
    const Timing files = bestOf(
        1, [] {}, [&] { writeMonthFiles(report, out); });
    int plans = 0;
    for (const MonthNight& night : report.nights)
        plans += static_cast<int>(night.plans.size());
    std::printf("%s, %s policy\n", title, qPrintable(policyText(policy)));
    std::printf("  nights        %lld from %s, %d plans, %lld targets\n",
                static_cast<long long>(report.nights.size()), qPrintable(report.first.toString(Qt::ISODate)),
                plans, static_cast<long long>(report.coverage.size()));
    std::printf("  survey run    %.3f s wall, %.3f s processor (%.3f s a night)\n", run.wall / 1000,
                run.cpu / 1000, run.wall / 1000 / std::max<qsizetype>(report.nights.size(), 1));
    std::printf("  files, chart  %.3f s wall\n", files.wall / 1000);
    std::printf("  resident      first night %ld KiB, middle %ld KiB, last %ld KiB\n",
                resident.isEmpty() ? 0 : resident.first(),
                resident.isEmpty() ? 0 : resident[resident.size() / 2],
                resident.isEmpty() ? 0 : resident.last());
    std::printf("  peak memory   %ld KiB\n", peakKiB());
    return report;
}

// The month under each policy, on the same nights, and the two side by side.
void measureBoth(const char* title, const MonthRequest& request, const QString& out)
{
    PolicyMonths both;
    both.specified = measure(title, request, SelectionPolicy::Specified, out + QStringLiteral("/specified"));
    both.balanced = measure(title, request, SelectionPolicy::Balanced, out + QStringLiteral("/balanced"));
    std::printf("%s\n", qPrintable(policyComparison(both)));
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int nights = argc > 1 ? std::atoi(argv[1]) : 30;
    const int largeNights = argc > 2 ? std::atoi(argv[2]) : nights;
    const QString samples =
        argc > 3 && argv[3][0] ? QString::fromLocal8Bit(argv[3])
                 : QStringLiteral(KESTROVE_SAMPLES_DIR);
    // Given a folder to keep, the program folders and the files stay there to be compared.
    QTemporaryDir temporary;
    const QDir dir(argc > 4 ? QString::fromLocal8Bit(argv[4]) : temporary.path());

    {
        const QString program = dir.filePath(QStringLiteral("samples/"));
        const QString observatory = dir.filePath(QStringLiteral("samples-observatory"));
        copySamples(samples, program, observatory);
        MonthRequest request;
        request.first.programFolder = program;
        request.first.observatoryFolder = observatory;
        request.first.night = QDate(2024, 12, 7);
        request.nights = nights;
        measureBoth("month_preview: the samples, every kind", request, dir.filePath(QStringLiteral("out1")));
    }
    if (largeNights > 0) {
        const QString program = dir.filePath(QStringLiteral("large/"));
        const QString observatory = dir.filePath(QStringLiteral("large-observatory"));
        QDir().mkpath(program);
        writeLargeCatalogue(program, observatory);
        MonthRequest request;
        request.first.programFolder = program;
        request.first.observatoryFolder = observatory;
        request.first.night = QDate(2024, 4, 13);
        request.nights = largeNights;
        measureBoth("month_preview: 10000 SNe + 1000 SLC + 500 MPS fields", request,
                    dir.filePath(QStringLiteral("out2")));
    }
    return 0;
}
