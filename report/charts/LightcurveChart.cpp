#include "report/charts/LightcurveChart.h"

#include "host/LightcurveFile.h"
#include "host/LocalFileSystem.h"
#include "text/HostError.h"

#include <QBuffer>
#include <QChart>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGraphicsLineItem>
#include <QGraphicsScene>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QScatterSeries>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <map>

namespace kestrove::charts {

namespace {

const QSize reportSize(1000, 600);

struct Bar
{
    QScatterSeries* series;
    double x;
    double magnitude;
    double error;
};

QColor filterColour(int index)
{
    static const QColor colours[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28),
                                     QColor(0x2c, 0xa0, 0x2c), QColor(0x94, 0x67, 0xbd),
                                     QColor(0xff, 0x7f, 0x0e)};
    return colours[index % 5];
}

QScatterSeries* pointsSeries(const QString& name, const QColor& colour, double size)
{
    auto* series = new QScatterSeries;
    series->setName(name);
    series->setColor(colour);
    series->setBorderColor(colour);
    series->setMarkerSize(size);
    return series;
}

} // namespace

QString spanName(LightcurveSpan span)
{
    return span == LightcurveSpan::Night ? QStringLiteral("night") : QStringLiteral("all");
}

QStringList lightcurveTargets(const std::vector<database::LightcurvePoint>& points)
{
    QStringList targets;
    for (const database::LightcurvePoint& p : points)
        if (!targets.contains(p.target))
            targets << p.target;
    return targets;
}

QByteArray lightcurvePicture(const QString& target, const std::vector<database::LightcurvePoint>& points,
                             LightcurveSpan span, const QSize& size)
{
    std::vector<const database::LightcurvePoint*> own;
    for (const database::LightcurvePoint& p : points)
        if (p.target == target)
            own.push_back(&p);
    // Days from the first point's midnight in BJD, so that the axis shows hours as fractions.
    const double origin = own.empty() ? 0 : std::floor(own.front()->bjdTdb - 0.5) + 0.5;
    auto* chart = new QChart;
    chart->setTitle(QStringLiteral("%1, %2").arg(
        target, span == LightcurveSpan::Night ? QStringLiteral("the night") : QStringLiteral("every night")));
    std::map<QString, QScatterSeries*> byFilter;
    QScatterSeries* check = nullptr;
    std::vector<Bar> bars;
    double low = INFINITY, high = -INFINITY, first = INFINITY, last = -INFINITY;
    for (const database::LightcurvePoint* p : own) {
        QScatterSeries*& series = byFilter[p->filter];
        if (!series) {
            series = pointsSeries(p->filter.isEmpty() ? QStringLiteral("no filter") : p->filter,
                                  filterColour(static_cast<int>(byFilter.size()) - 1), 7);
            chart->addSeries(series);
        }
        const double x = p->bjdTdb - origin;
        series->append(x, p->magnitude);
        bars.push_back({series, x, p->magnitude, p->error});
        low = std::min(low, p->magnitude - p->error);
        high = std::max(high, p->magnitude + p->error);
        first = std::min(first, x);
        last = std::max(last, x);
        if (p->checkMagnitude) {
            if (!check) {
                check = pointsSeries(QStringLiteral("check star"), QColor(0x88, 0x88, 0x88), 5);
                chart->addSeries(check);
            }
            check->append(x, *p->checkMagnitude);
            bars.push_back({check, x, *p->checkMagnitude, p->checkError.value_or(0)});
            low = std::min(low, *p->checkMagnitude - p->checkError.value_or(0));
            high = std::max(high, *p->checkMagnitude + p->checkError.value_or(0));
        }
    }
    if (own.empty()) {
        low = first = 0;
        high = last = 1;
    }
    const double pad = std::max(0.05, (high - low) * 0.08);
    const double timePad = std::max(0.01, (last - first) * 0.03);
    auto* xAxis = new QValueAxis;
    xAxis->setTitleText(QStringLiteral("BJD_TDB − %1").arg(QString::number(origin, 'f', 1)));
    xAxis->setRange(first - timePad, last + timePad);
    xAxis->setLabelFormat(QStringLiteral("%.3f"));
    auto* yAxis = new QValueAxis;
    yAxis->setTitleText(QStringLiteral("magnitude"));
    yAxis->setRange(low - pad, high + pad);
    yAxis->setReverse(true);
    yAxis->setLabelFormat(QStringLiteral("%.2f"));
    chart->addAxis(xAxis, Qt::AlignBottom);
    chart->addAxis(yAxis, Qt::AlignLeft);
    for (QAbstractSeries* series : chart->series()) {
        series->attachAxis(xAxis);
        series->attachAxis(yAxis);
    }

    QGraphicsScene scene;
    scene.addItem(chart); // the scene owns the chart now
    chart->setGeometry(QRectF(QPointF(0, 0), size));
    QCoreApplication::sendPostedEvents();
    // Qt Charts has no error bars: each is a line over the laid-out plot.
    for (const Bar& bar : bars) {
        if (!(bar.error > 0))
            continue;
        const QPointF top = chart->mapToPosition(QPointF(bar.x, bar.magnitude - bar.error), bar.series);
        const QPointF bottom = chart->mapToPosition(QPointF(bar.x, bar.magnitude + bar.error), bar.series);
        auto* line = new QGraphicsLineItem(QLineF(top, bottom), chart);
        line->setPen(QPen(bar.series->color(), 1));
    }
    QImage picture(size, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::white);
    {
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF area(QPointF(0, 0), size);
        scene.render(&painter, area, area);
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return png;
}

QStringList writeLightcurvePictures(const std::vector<database::LightcurvePoint>& night,
                                    const std::vector<database::LightcurvePoint>& all, const QString& folder)
{
    QStringList paths;
    for (const QString& target : lightcurveTargets(night)) {
        QString base = lightcurvePath(folder, target);
        base.chop(4); // ".csv"
        for (const LightcurveSpan span : {LightcurveSpan::Night, LightcurveSpan::All}) {
            paths << base + u'-' + spanName(span) + QStringLiteral(".png");
            if (!QDir().mkpath(QFileInfo(paths.last()).absolutePath()))
                throw HostError(QStringLiteral("lightcurve"), paths.last(),
                                QStringLiteral("cannot create its folder"));
            writeWholeFile(
                paths.last(),
                lightcurvePicture(target, span == LightcurveSpan::Night ? night : all, span, reportSize));
        }
    }
    return paths;
}

} // namespace kestrove::charts
