#include "report/charts/NightOutput.h"

#include "host/LocalFileSystem.h"
#include "report/AavsoReport.h"
#include "report/FrameLines.h"
#include "report/NightFiles.h"
#include "report/charts/CoverageChart.h"
#include "report/charts/LightcurveChart.h"
#include "report/charts/NightCharts.h"
#include "text/HostError.h"

#include <QDir>

#include <tuple>

namespace kestrove {

namespace {

const QSize nightSize(1400, 800);
const QSize skySize(900, 950);

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

QStringList writeMonthFiles(const MonthReport& report, const QString& folder)
{
    const QDir dir(folder);
    const QStringList paths{
        dir.filePath(QStringLiteral("coverage.csv")), dir.filePath(QStringLiteral("plans.csv")),
        dir.filePath(QStringLiteral("coverage.png")), dir.filePath(QStringLiteral("coverage.svg"))};
    writeWholeFile(paths[0], coverageCsv(report));
    writeWholeFile(paths[1], monthPlansCsv(report));
    charts::saveCoverageChart(report, paths[2], paths[3]);
    return paths;
}

QStringList writePolicyFiles(const PolicyMonths& months, const QString& folder)
{
    QStringList paths;
    const QDir dir(folder);
    for (const auto& [name, month, night] :
         {std::tuple{QStringLiteral("specified"), &months.specified, &months.specifiedNight},
          std::tuple{QStringLiteral("balanced"), &months.balanced, &months.balancedNight}}) {
        const QString sub = dir.filePath(name);
        if (!QDir().mkpath(sub))
            throw HostError(QStringLiteral("preview"), sub, QStringLiteral("cannot create the folder"));
        paths << (*night ? writePreviewFiles(**night, sub) : writeMonthFiles(*month, sub));
    }
    paths << dir.filePath(QStringLiteral("policies.txt"));
    writeWholeFile(paths.last(), policyComparison(months).toUtf8());
    return paths;
}

QStringList writeReportFiles(const NightReport& report, const QString& folder)
{
    const QString path = QDir(folder).filePath(QStringLiteral("night.png"));
    charts::saveChart(charts::nightChart(report), nightSize, path);
    QStringList paths{path};
    if (!report.frames.empty()) {
        paths << QDir(folder).filePath(QStringLiteral("frames.csv"));
        writeWholeFile(paths.last(), framesCsv(report.frames, report.zone));
    }
    if (!report.lightcurve.empty()) {
        paths << QDir(folder).filePath(QStringLiteral("aavso.txt"));
        writeWholeFile(paths.last(), nightAavsoFile(report.lightcurve, report.aavsoCode));
        paths << charts::writeLightcurvePictures(report.lightcurve, report.lightcurveAll, folder);
    }
    if (const QByteArray mpc = mpcFile(report.discoveries.movers); !mpc.isEmpty()) {
        paths << QDir(folder).filePath(QStringLiteral("mpc.txt"));
        writeWholeFile(paths.last(), mpc);
    }
    return paths;
}

} // namespace kestrove
