#include "report/charts/CoverageChart.h"

#include "report/charts/NightCharts.h"
#include "text/HostError.h"
#include "text/ValueText.h"

#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

#include <algorithm>
#include <cmath>
#include <map>

namespace kestrove::charts {

namespace {

constexpr int maxChartRows = 400;
constexpr int labelWidth = 230;
constexpr int totalWidth = 170;
constexpr int top = 70;
constexpr int bottom = 80;
constexpr int margin = 12;

const SurveyKind rowKinds[] = {SurveyKind::SNe, SurveyKind::MPS, SurveyKind::MPF, SurveyKind::SLC};

// Up to a hundred rows or so each keep a readable name.
int rowHeight(int rows)
{
    return std::clamp(1200 / std::max(rows, 1), 2, 16);
}

int cellWidth(int nights)
{
    return std::clamp(900 / std::max(nights, 1), 8, 40);
}

// White for no visit, deepening to the kind's colour at `most` visits a night; on a logarithmic
// scale, so that a night's single visit shows beside a lightcurve star's dozens.
QColor visitColour(SurveyKind kind, double visits, double most)
{
    if (visits <= 0)
        return QColor(0xf4, 0xf4, 0xf4);
    const double share = 0.4 + 0.6 * std::min(std::log1p(visits) / std::log1p(std::max(most, 1.0)), 1.0);
    const QColor full = kindColour(kind);
    const auto mix = [share](int c) { return static_cast<int>(std::lround(255 - (255 - c) * share)); };
    return QColor(mix(full.red()), mix(full.green()), mix(full.blue()));
}

} // namespace

QList<CoverageRow> coverageRows(const MonthReport& report, int maxRows)
{
    const int perGroup = std::max<int>(1, static_cast<int>((report.coverage.size() + maxRows - 1) / maxRows));
    QList<CoverageRow> rows;
    for (const SurveyKind kind : rowKinds) {
        QList<const TargetCoverage*> targets;
        for (const TargetCoverage& t : report.coverage)
            if (t.kind == kind)
                targets << &t;
        std::stable_sort(
            targets.begin(), targets.end(),
            [](const TargetCoverage* a, const TargetCoverage* b) { return a->visits < b->visits; });
        for (qsizetype i = 0; i < targets.size(); i += perGroup) {
            const qsizetype n = std::min<qsizetype>(perGroup, targets.size() - i);
            CoverageRow row;
            row.kind = kind;
            row.visits = QList<double>(report.nights.size(), 0);
            row.starved = true;
            for (qsizetype j = i; j < i + n; ++j) {
                const TargetCoverage& t = *targets[j];
                for (qsizetype night = 0; night < row.visits.size() && night < t.visitsPerNight.size();
                     ++night)
                    row.visits[night] += t.visitsPerNight[night] / static_cast<double>(n);
                row.total += t.visits / static_cast<double>(n);
                row.starved = row.starved && t.visits == 0;
            }
            row.label =
                n == 1
                    ? targets[i]->name
                    : QStringLiteral("%1 ... %2 (%3)").arg(targets[i]->name, targets[i + n - 1]->name).arg(n);
            rows << row;
        }
    }
    return rows;
}

QSize coverageChartSize(const MonthReport& report)
{
    const int rows = static_cast<int>(coverageRows(report, maxChartRows).size());
    const int nights = static_cast<int>(report.nights.size());
    return QSize(labelWidth + nights * cellWidth(nights) + totalWidth + 2 * margin,
                 top + std::max(rows * rowHeight(rows), 40) + bottom);
}

void paintCoverage(QPainter& painter, const MonthReport& report, const QSize& size)
{
    const QList<CoverageRow> rows = coverageRows(report, maxChartRows);
    const int nights = static_cast<int>(report.nights.size());
    const int h = rowHeight(static_cast<int>(rows.size()));
    const int w = cellWidth(nights);
    const int gridLeft = margin + labelWidth;
    const int gridRight = gridLeft + nights * w;
    const int gridBottom = top + static_cast<int>(rows.size()) * h;

    painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    QFont font = painter.font();
    font.setPixelSize(16);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(margin, 8, size.width() - 2 * margin, 24), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Coverage: %1 nights from %2, visits per target and night")
                         .arg(nights)
                         .arg(report.first.toString(Qt::ISODate)));
    font.setBold(false);
    font.setPixelSize(11);
    painter.setFont(font);
    painter.drawText(QRect(margin, 34, size.width() - 2 * margin, 18), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Each kind's least visited targets first; red names: never visited; grey "
                                    "columns: nights lost to weather"));

    // The most visits one target had in a night sets the colour scale.
    double most = 1;
    for (const CoverageRow& row : rows)
        for (const double v : row.visits)
            most = std::max(most, v);
    // The bars compare the targets of a kind with each other.
    std::map<SurveyKind, double> mostTotal;
    for (const CoverageRow& row : rows)
        mostTotal[row.kind] = std::max({mostTotal[row.kind], row.total, 1.0});

    font.setPixelSize(std::clamp(h - 2, 8, 11));
    painter.setFont(font);
    for (qsizetype r = 0; r < rows.size(); ++r) {
        const CoverageRow& row = rows[r];
        const int y = top + static_cast<int>(r) * h;
        for (int n = 0; n < nights; ++n) {
            const QRect cell(gridLeft + n * w, y, w, h);
            painter.fillRect(cell, report.nights[n].clear ? visitColour(row.kind, row.visits[n], most)
                                                          : QColor(0xc8, 0xc8, 0xc8));
        }
        const int bar = static_cast<int>(std::lround((totalWidth - 50) * row.total / mostTotal[row.kind]));
        painter.fillRect(QRect(gridRight + 8, y + (h > 3 ? 1 : 0), bar, std::max(h - (h > 3 ? 2 : 0), 1)),
                         kindColour(row.kind));
        if (h >= 8) {
            painter.setPen(row.starved ? QColor(0xc0, 0, 0) : Qt::black);
            painter.drawText(QRect(margin, y, labelWidth - 6, h), Qt::AlignRight | Qt::AlignVCenter,
                             painter.fontMetrics().elidedText(row.label, Qt::ElideMiddle, labelWidth - 6));
            painter.setPen(Qt::black);
            painter.drawText(QRect(gridRight + 12 + bar, y, 44, h), Qt::AlignLeft | Qt::AlignVCenter,
                             QString::number(row.total, 'f', row.total == std::floor(row.total) ? 0 : 1));
        } else if (row.starved) {
            painter.fillRect(QRect(gridLeft - 8, y, 6, h), QColor(0xc0, 0, 0));
        }
    }
    // The kinds' bands, named at their first row where names are too small to read.
    painter.setPen(QPen(Qt::black, 1));
    for (qsizetype r = 0; r < rows.size(); ++r)
        if (r == 0 || rows[r].kind != rows[r - 1].kind) {
            const int y = top + static_cast<int>(r) * h;
            painter.drawLine(margin, y, gridRight + totalWidth, y);
            if (h < 8) {
                font.setPixelSize(12);
                font.setBold(true);
                painter.setFont(font);
                painter.drawText(QRect(margin, y + 2, labelWidth - 14, 16), Qt::AlignRight | Qt::AlignTop,
                                 kindText(rows[r].kind));
            }
        }
    painter.drawRect(QRect(gridLeft, top, nights * w, gridBottom - top));

    // The nights' dates, a few of them when the month is long.
    font.setBold(false);
    font.setPixelSize(11);
    painter.setFont(font);
    const int every = w >= 40 ? 1 : (w >= 20 ? 2 : 5);
    for (int n = 0; n < nights; n += every)
        painter.drawText(QRect(gridLeft + n * w - 10, gridBottom + 4, w + 20, 16),
                         Qt::AlignHCenter | Qt::AlignTop,
                         report.nights[n].night.toString(QStringLiteral("MM-dd")));
    painter.drawText(QRect(gridLeft, gridBottom + 20, nights * w, 16), Qt::AlignHCenter | Qt::AlignTop,
                     QStringLiteral("Night (local evening date)"));
    painter.drawText(QRect(gridRight + 8, top - 18, totalWidth, 16), Qt::AlignLeft | Qt::AlignBottom,
                     QStringLiteral("Visits in the month"));

    // The colour scale.
    const int legendY = gridBottom + 46;
    painter.drawText(QRect(gridLeft, legendY, 150, 16), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Visits in a night:"));
    QList<double> steps{0};
    for (const double v : {1, 2, 5, 10, 20, 50, 100, 200, 500})
        if (v < most)
            steps << v;
    steps << most;
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const QRect box(gridLeft + 120 + static_cast<int>(i) * 50, legendY, 18, 16);
        painter.fillRect(box, visitColour(SurveyKind::SNe, steps[i], most));
        painter.drawRect(box);
        painter.drawText(QRect(box.right() + 3, legendY, 28, 16), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::number(steps[i], 'f', steps[i] == std::floor(steps[i]) ? 0 : 1));
    }
    painter.drawText(QRect(gridRight + 8, legendY, totalWidth, 16), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("bars: within each kind"));
}

void saveCoverageChart(const MonthReport& report, const QString& pngPath, const QString& svgPath)
{
    const QSize size = coverageChartSize(report);
    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&picture);
        paintCoverage(painter, report, size);
    }
    if (!picture.save(pngPath, "PNG"))
        throw HostError(QStringLiteral("chart"), pngPath, QStringLiteral("cannot write the picture"));
    QSvgGenerator svg;
    svg.setFileName(svgPath);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle(QStringLiteral("Coverage"));
    QPainter painter;
    if (!painter.begin(&svg))
        throw HostError(QStringLiteral("chart"), svgPath, QStringLiteral("cannot write the drawing"));
    paintCoverage(painter, report, size);
    painter.end();
}

} // namespace kestrove::charts
