#include "report/charts/NightCharts.h"

#include "text/HostError.h"
#include "text/ValueText.h"

#include <QAreaSeries>
#include <QCategoryAxis>
#include <QChart>
#include <QCoreApplication>
#include <QGraphicsScene>
#include <QImage>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QPolarChart>
#include <QScatterSeries>
#include <QSvgGenerator>
#include <QValueAxis>
#include <QtMath>

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace kestrove::charts {

namespace {

constexpr qint64 sampleSeconds = 300;
constexpr double blockHeight = 4;         // degrees of the altitude axis the plan blocks take at its foot
constexpr double rimZenithDistance = 100; // the sky chart's rim, 10 degrees below the horizon

const SurveyKind chartKinds[] = {SurveyKind::SNe, SurveyKind::MPS, SurveyKind::MPF, SurveyKind::SLC};

void hideFromLegend(QChart* chart, QAbstractSeries* series)
{
    for (QLegendMarker* marker : chart->legend()->markers(series))
        marker->setVisible(false);
}

// The time axis runs in hours from `origin`; its labels are the site's whole local hours.
struct TimeScale
{
    QDateTime origin;
    double hours(const QDateTime& utc) const { return origin.msecsTo(utc) / 3600000.0; }
};

QCategoryAxis* localTimeAxis(const NightReport& report, const TimeScale& scale, const QDateTime& end)
{
    auto* axis = new QCategoryAxis;
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    axis->setRange(0, scale.hours(end));
    axis->setStartValue(0);
    QDateTime hour = scale.origin.toTimeZone(report.zone);
    hour = QDateTime(hour.date(), QTime(hour.time().hour(), 0), report.zone).addSecs(3600);
    const int step = scale.hours(end) > 16 ? 2 : 1;
    for (; hour <= end; hour = hour.addSecs(3600 * step))
        axis->append(hour.toString(QStringLiteral("HH:mm")), scale.hours(hour));
    axis->setTitleText(QStringLiteral("Local time (%1)").arg(QString::fromUtf8(report.zone.id())));
    axis->setGridLineVisible(true);
    return axis;
}

// A step line at `high` while `on` holds and 0 elsewhere, over the samples.
QLineSeries* stepLine(const QList<double>& xs, const QList<bool>& on, double high)
{
    auto* line = new QLineSeries;
    for (qsizetype i = 0; i < xs.size(); ++i) {
        const double y = on[i] ? high : 0;
        if (i > 0 && on[i] != on[i - 1])
            line->append(xs[i], on[i - 1] ? high : 0);
        line->append(xs[i], y);
    }
    return line;
}

QAreaSeries* filledArea(QChart* chart, QLineSeries* upper, const QString& name, const QColor& colour)
{
    auto* area = new QAreaSeries(upper);
    upper->setParent(area); // an area series does not own its lines
    area->setName(name);
    area->setBrush(colour);
    area->setPen(Qt::NoPen);
    chart->addSeries(area);
    return area;
}

void attach(QAbstractSeries* series, QAbstractAxis* x, QAbstractAxis* y)
{
    series->attachAxis(x);
    series->attachAxis(y);
}

} // namespace

QColor kindColour(SurveyKind kind)
{
    switch (kind) {
    case SurveyKind::SNe:
        return QColor(0xd6, 0x27, 0x28);
    case SurveyKind::MPS:
        return QColor(0x1f, 0x77, 0xb4);
    case SurveyKind::MPF:
        return QColor(0x94, 0x67, 0xbd);
    case SurveyKind::SLC:
        return QColor(0x2c, 0xa0, 0x2c);
    }
    return Qt::black;
}

QString plansSeriesName(SurveyKind kind)
{
    return kindText(kind) + QStringLiteral(" plans");
}

QString positionsSeriesName(SurveyKind kind)
{
    return kindText(kind);
}

QString failedPlansSeriesName()
{
    return QStringLiteral("Failed or aborted plans");
}

QList<SkyBand> skyBands()
{
    const QChar degree(0x00b0);
    return {
        {QStringLiteral("Night (Sun below -18%1)").arg(degree), -90, -18, QColor(60, 70, 120, 70)},
        {QStringLiteral("Astronomical twilight (Sun -18%1 to -12%1)").arg(degree), -18, -12,
         QColor(90, 110, 160, 55)},
        {QStringLiteral("Nautical twilight (Sun -12%1 to -6%1)").arg(degree), -12, -6,
         QColor(130, 160, 205, 45)},
        {QStringLiteral("Civil twilight (Sun -6%1 to 0%1)").arg(degree), -6, 0, QColor(185, 205, 235, 40)}};
}

QChart* nightChart(const NightReport& report)
{
    auto* chart = new QChart;
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setTitle((report.preview ? QStringLiteral("Preview of the night of %1")
                                    : QStringLiteral("Observed in the night of %1"))
                        .arg(report.night.toString(Qt::ISODate)));

    QDateTime start = report.span.startUtc;
    QDateTime end = report.span.endUtc;
    for (const ObservedPlan& plan : report.plans) {
        start = std::min(start, plan.entry.startUtc);
        end = std::max(end, plan.entry.endUtc);
    }
    // Some of the evening and the morning around the span, to show the twilights.
    start = start.addSecs(-3600);
    end = end.addSecs(3600);
    const TimeScale scale{start};

    auto* xAxis = localTimeAxis(report, scale, end);
    auto* yAxis = new QValueAxis;
    yAxis->setRange(0, 90);
    yAxis->setTickCount(7);
    yAxis->setLabelFormat(QStringLiteral("%d"));
    yAxis->setTitleText(QStringLiteral("Altitude (degrees)"));
    chart->addAxis(xAxis, Qt::AlignBottom);
    chart->addAxis(yAxis, Qt::AlignLeft);

    QList<QDateTime> times;
    for (QDateTime t = start; t <= end; t = t.addSecs(sampleSeconds))
        times << t;
    QList<double> xs;
    QList<double> sun;
    QList<std::optional<double>> moon;
    SkyContexts contexts(report.site);
    std::vector<std::shared_ptr<const SkyInstant>> skies;
    skies.reserve(times.size());
    for (const QDateTime& t : times) {
        const SkyInstant& sky = *skies.emplace_back(contexts.at(t));
        xs << scale.hours(t);
        sun << sky.sun().elevation;
        const auto m = sky.moon();
        moon << (m ? std::optional<double>(m->elevation) : std::nullopt);
    }

    // The night darkest and each twilight lighter, one band each, so that the legend tells them apart.
    for (const SkyBand& band : skyBands()) {
        QList<bool> on;
        for (double altitude : sun)
            on << (altitude >= band.sunFrom && altitude < band.sunTo);
        QAreaSeries* area = filledArea(chart, stepLine(xs, on, 90), band.name, band.colour);
        attach(area, xAxis, yAxis);
    }

    if (haveMoonEphemeris()) {
        auto* line = new QLineSeries;
        line->setName(QStringLiteral("Moon"));
        for (qsizetype i = 0; i < xs.size(); ++i)
            if (moon[i])
                line->append(xs[i], *moon[i]);
        QPen pen(QColor(120, 120, 120));
        pen.setStyle(Qt::DashLine);
        pen.setWidthF(1.5);
        line->setPen(pen);
        chart->addSeries(line);
        attach(line, xAxis, yAxis);
    }

    // Every target observed, all night long, faintly; its plans boldly.
    std::map<QString, const ObservedPlan*> targets;
    for (const ObservedPlan& plan : report.plans)
        targets.emplace(kindText(plan.entry.kind) + u'\t' + plan.entry.target, &plan);
    for (const auto& [key, plan] : targets) {
        auto* line = new QLineSeries;
        line->setName(plan->entry.target);
        QColor colour = kindColour(plan->entry.kind);
        colour.setAlpha(70);
        line->setPen(QPen(colour, 1));
        for (qsizetype i = 0; i < xs.size(); ++i)
            line->append(xs[i],
                         skies[i]->observed(plan->entry.rightAscension, plan->entry.declination).elevation);
        chart->addSeries(line);
        attach(line, xAxis, yAxis);
        hideFromLegend(chart, line);
    }
    std::map<SurveyKind, QList<const ObservedPlan*>> byKind;
    for (const ObservedPlan& plan : report.plans) {
        byKind[plan.entry.kind] << &plan;
        auto* line = new QLineSeries;
        line->setName(kindText(plan.entry.kind) + QStringLiteral(": ") + plan.entry.target);
        line->setPen(QPen(kindColour(plan.entry.kind), 3));
        const qint64 seconds = std::max<qint64>(1, plan.entry.startUtc.secsTo(plan.entry.endUtc));
        for (qint64 s = 0;; s = std::min(seconds, s + 60)) {
            const QDateTime t = plan.entry.startUtc.addSecs(s);
            line->append(scale.hours(t), contexts.at(t)
                                             ->observed(plan.entry.rightAscension, plan.entry.declination)
                                             .elevation);
            if (s == seconds)
                break;
        }
        chart->addSeries(line);
        attach(line, xAxis, yAxis);
        hideFromLegend(chart, line);
    }
    // The plan blocks at the foot of the chart, one series per kind.
    for (const SurveyKind kind : chartKinds) {
        const auto it = byKind.find(kind);
        if (it == byKind.end())
            continue;
        auto* upper = new QLineSeries;
        upper->append(0, 0);
        for (const ObservedPlan* plan : it->second) {
            const double a = scale.hours(plan->entry.startUtc);
            const double b = scale.hours(plan->entry.endUtc);
            upper->append(a, 0);
            upper->append(a, blockHeight);
            upper->append(b, blockHeight);
            upper->append(b, 0);
        }
        upper->append(scale.hours(end), 0);
        attach(filledArea(chart, upper, plansSeriesName(kind), kindColour(kind)), xAxis, yAxis);
    }
    // Plans that did not complete are hatched over their kind's colour.
    auto* failed = new QLineSeries;
    failed->append(0, 0);
    for (const ObservedPlan& plan : report.plans) {
        if (plan.entry.result == QLatin1String("completed"))
            continue;
        const double a = scale.hours(plan.entry.startUtc);
        const double b = scale.hours(plan.entry.endUtc);
        failed->append(a, 0);
        failed->append(a, blockHeight);
        failed->append(b, blockHeight);
        failed->append(b, 0);
    }
    if (failed->count() > 1) {
        failed->append(scale.hours(end), 0);
        QAreaSeries* area = filledArea(chart, failed, failedPlansSeriesName(), Qt::black);
        area->setBrush(QBrush(Qt::black, Qt::BDiagPattern));
        area->setPen(QPen(Qt::black, 1));
        attach(area, xAxis, yAxis);
    } else {
        delete failed;
    }
    chart->legend()->setAlignment(Qt::AlignBottom);
    return chart;
}

QChart* skyChart(const NightReport& report)
{
    auto* chart = new QPolarChart;
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setTitle(
        QStringLiteral("Observed positions, night of %1").arg(report.night.toString(Qt::ISODate)));

    // The compass points where they lie on skyMapPoint's map; north closes the circle at 360.
    auto* azimuth = new QCategoryAxis;
    azimuth->setRange(0, 360);
    azimuth->setStartValue(0);
    azimuth->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    for (const auto& [label, value] : compassPoints())
        if (value > 0)
            azimuth->append(label, value);
    azimuth->append(QStringLiteral("N"), 360);
    azimuth->setTitleText(QStringLiteral("Azimuth (north at the top, east to the right)"));
    // The radius is the zenith distance; its labels give the altitude. The rim lies below the horizon,
    // so that the altitude's 0, labelled on the north line, keeps clear of the azimuth's 0 above it.
    auto* radius = new QCategoryAxis;
    radius->setRange(0, rimZenithDistance);
    radius->setStartValue(0);
    radius->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    for (int altitude = 60; altitude >= 0; altitude -= 30)
        radius->append(QStringLiteral("%1").arg(altitude), 90 - altitude);
    chart->addAxis(azimuth, QPolarChart::PolarOrientationAngular);
    chart->addAxis(radius, QPolarChart::PolarOrientationRadial);

    const auto r = [](double elevation) { return 90 - std::clamp(elevation, 90 - rimZenithDistance, 90.0); };
    auto* horizon = new QLineSeries;
    auto* limit = new QLineSeries;
    auto* edge = new QLineSeries;
    for (int az = 0; az <= 360; az += 2) {
        const double h = horizonElevation(report.horizon, az);
        horizon->append(az, r(h));
        limit->append(az, r(std::max(h + 5, report.minimumElevation + 1)));
        edge->append(az, rimZenithDistance);
    }
    auto* below = new QAreaSeries(horizon, edge);
    horizon->setParent(below);
    edge->setParent(below);
    below->setName(QStringLiteral("Horizon"));
    below->setBrush(QColor(110, 110, 110, 110));
    // No outline: it would draw the seam at north from the horizon to the rim.
    below->setPen(Qt::NoPen);
    chart->addSeries(below);
    attach(below, azimuth, radius);
    limit->setName(QStringLiteral("Elevation limit"));
    QPen limitPen(QColor(80, 80, 80));
    limitPen.setStyle(Qt::DashLine);
    limit->setPen(limitPen);
    chart->addSeries(limit);
    attach(limit, azimuth, radius);

    // The observation window, where it leaves out part of the sky.
    const bool allAzimuths = report.minAzimuth <= 0 && report.maxAzimuth >= 360;
    if (!allAzimuths || report.maxElevation < 90) {
        auto* window = new QLineSeries;
        window->setName(QStringLiteral("Observation window"));
        const double top = r(report.maxElevation);
        const double from = std::clamp(report.minAzimuth, 0.0, 360.0);
        const double to = std::clamp(report.maxAzimuth, 0.0, 360.0);
        if (!allAzimuths)
            window->append(from, rimZenithDistance);
        for (double az = from; az < to; az += 2)
            window->append(az, top);
        window->append(to, top);
        if (!allAzimuths)
            window->append(to, rimZenithDistance);
        window->setPen(QPen(QColor(200, 140, 0), 2));
        chart->addSeries(window);
        attach(window, azimuth, radius);
    }

    for (const SurveyKind kind : chartKinds) {
        auto* points = new QScatterSeries;
        for (const ObservedPlan& plan : report.plans)
            if (plan.entry.kind == kind)
                points->append(plan.atStart.azimuth, r(plan.atStart.elevation));
        if (points->count() == 0) {
            delete points;
            continue;
        }
        points->setName(positionsSeriesName(kind));
        points->setColor(kindColour(kind));
        points->setBorderColor(kindColour(kind).darker());
        points->setMarkerSize(8);
        chart->addSeries(points);
        attach(points, azimuth, radius);
    }
    chart->legend()->setAlignment(Qt::AlignBottom);
    return chart;
}

QPointF skyMapPoint(double azimuth, double elevation)
{
    const double d = (90 - elevation) / 90;
    const double a = qDegreesToRadians(azimuth);
    return {d * std::sin(a), -d * std::cos(a)};
}

QList<std::pair<QString, double>> compassPoints()
{
    return {{QStringLiteral("N"), 0},
            {QStringLiteral("E"), 90},
            {QStringLiteral("S"), 180},
            {QStringLiteral("W"), 270}};
}

void saveChart(QChart* chart, const QSize& size, const QString& pngPath, const QString& svgPath)
{
    // Laid out in a scene of its own, as a view would, without a window.
    QGraphicsScene scene;
    scene.addItem(chart); // the scene owns the chart now
    chart->setGeometry(QRectF(QPointF(0, 0), size));
    QCoreApplication::sendPostedEvents();
    const QRectF area(QPointF(0, 0), size);

    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    // The corners the chart's rounding leaves take its own colour where it is one.
    const QBrush background = chart->backgroundBrush();
    picture.fill(background.style() == Qt::SolidPattern ? background.color() : QColor(Qt::white));
    {
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        scene.render(&painter, area, area);
    }
    if (!picture.save(pngPath, "PNG"))
        throw HostError(QStringLiteral("chart"), pngPath, QStringLiteral("cannot write the picture"));
    if (!svgPath.isEmpty()) {
        QSvgGenerator svg;
        svg.setFileName(svgPath);
        svg.setSize(size);
        svg.setViewBox(area);
        svg.setTitle(chart->title());
        QPainter painter;
        if (!painter.begin(&svg))
            throw HostError(QStringLiteral("chart"), svgPath, QStringLiteral("cannot write the drawing"));
        painter.setRenderHint(QPainter::Antialiasing);
        scene.render(&painter, area, area);
        painter.end();
    }
}

} // namespace kestrove::charts
