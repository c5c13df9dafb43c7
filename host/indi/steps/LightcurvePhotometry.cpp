#include "host/indi/steps/LightcurvePhotometry.h"

#include "database/ObservationDb.h"
#include "host/LightcurveFile.h"
#include "imaging/Airmass.h"
#include "imaging/FitsFile.h"
#include "sky/Barycentric.h"
#include "sky/SiteSky.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

Q_LOGGING_CATEGORY(lcLightcurve, "kestrove.lightcurve")

namespace kestrove::indi {

namespace {

constexpr int kMinimumComparisons = 2;

QString magnitudeText(const imaging::Magnitude& m)
{
    return QStringLiteral("%1 ± %2").arg(QString::number(m.value, 'f', 3), QString::number(m.error, 'f', 3));
}

int usableComparisons(const imaging::LightcurveFrame& frame)
{
    return static_cast<int>(std::count_if(frame.comparisons.begin(), frame.comparisons.end(),
                                          [](const imaging::StarFlux& f) { return f.usable(); }));
}

} // namespace

LightcurvePhotometry::LightcurvePhotometry(StepContext& context) : m_context(context)
{
    QObject::connect(&m_watcher, &QFutureWatcherBase::finished, &m_watcher, [this] {
        try {
            measured(m_watcher.result());
        } catch (const std::exception& e) {
            m_context.log(
                {QStringLiteral("error"), QStringLiteral("lightcurve: ") + QString::fromUtf8(e.what())});
        }
    });
}

bool LightcurvePhotometry::wanted(const GradedFrame& graded)
{
    const FrameToGrade& f = graded.frame;
    return !f.test && f.kind == QLatin1String("SLC") && f.wcs && !f.fits.isEmpty() &&
           graded.error.isEmpty() && graded.grade.accepted() && graded.measurement.medianHfr > 0;
}

void LightcurvePhotometry::add(const GradedFrame& graded, qint64 frameRecord)
{
    if (!wanted(graded))
        return;
    m_queue.push_back({graded.frame, graded.measurement.medianHfr, frameRecord});
    next();
}

// In a worker thread: touches nothing but its arguments.
LightcurvePhotometry::Measured
LightcurvePhotometry::measure(const QByteArray& fits, const imaging::Wcs& wcs, double hfr,
                              const imaging::CatalogueStar& target,
                              const std::optional<imaging::LightcurveStars>& stars)
{
    QElapsedTimer timer;
    timer.start();
    Measured result;
    try {
        const imaging::FitsImage image = imaging::readFitsImage(fits);
        const imaging::PhotometryFrame frame(image);
        const imaging::Apertures apertures = imaging::aperturesFor(hfr);
        imaging::LightcurveStars chosen;
        if (stars) {
            chosen = *stars;
        } else {
            chosen = imaging::chooseStars(frame, wcs, target, apertures);
            result.chosen = chosen;
        }
        if (chosen.comparisons.size() < static_cast<size_t>(kMinimumComparisons))
            result.error = QStringLiteral("%1 comparison stars in the field, %2 needed")
                               .arg(chosen.comparisons.size())
                               .arg(kMinimumComparisons);
        else
            result.frame = imaging::measureStars(frame, wcs, chosen, apertures);
    } catch (const std::exception& e) {
        result.error = QString::fromUtf8(e.what());
    }
    result.milliseconds = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    return result;
}

void LightcurvePhotometry::next()
{
    if (m_queue.empty() || m_watcher.isRunning())
        return;
    Job& job = m_queue.front();
    const FrameToGrade& frame = job.frame;
    imaging::CatalogueStar target{frame.target, frame.aimed.rightAscension * 15, frame.aimed.declination, {}};
    std::optional<imaging::LightcurveStars> stars;
    if (const auto it = m_stars.find({frame.target, frame.filter}); it != m_stars.end())
        stars = it->second;
    m_watcher.setFuture(
        QtConcurrent::run(&LightcurvePhotometry::measure, frame.fits, *frame.wcs, job.hfr, target, stars));
    job.frame.fits = {};
}

void LightcurvePhotometry::measured(const Measured& result)
{
    if (m_queue.empty())
        return;
    const Job job = std::move(m_queue.front());
    m_queue.pop_front();
    const FrameToGrade& frame = job.frame;
    qCDebug(lcLightcurve, "photometry of %s: %.1f ms", qPrintable(frame.path), result.milliseconds);
    const std::pair key{frame.target, frame.filter};
    if (result.chosen)
        m_stars[key] = *result.chosen;
    const auto known = m_stars.find(key);
    const imaging::LightcurveStars stars =
        known != m_stars.end() ? known->second : imaging::LightcurveStars{};
    // Stars that no longer serve (a field placed otherwise, comparisons lost) are chosen afresh from
    // the next frame.
    if (known != m_stars.end() &&
        (!result.error.isEmpty() || usableComparisons(result.frame) < kMinimumComparisons))
        m_stars.erase(known);
    // Only now: a frame queued behind the target's first must be measured against the stars the
    // first chose, not choose its own.
    next();
    QString error = result.error;
    if (error.isEmpty() && !result.frame.magnitude)
        error = QStringLiteral("the target could not be measured");
    if (!error.isEmpty()) {
        m_context.log({QStringLiteral("lightcurve"), frame.target, frame.path,
                       QStringLiteral("not measured: ") + error});
        return;
    }
    record(job, stars, result);
}

void LightcurvePhotometry::record(const Job& job, const imaging::LightcurveStars& stars,
                                  const Measured& result)
{
    const FrameToGrade& frame = job.frame;
    database::LightcurvePoint point;
    point.frameId = job.frameRecord;
    point.target = frame.target;
    point.filter = frame.filter;
    point.utc = frame.utc.addMSecs(static_cast<qint64>(frame.exposure * 500));
    const Site& site = m_context.sky.site();
    point.bjdTdb = barycentricJulianDate(point.utc, site, frame.aimed);
    point.airmass = imaging::airmassAt(
        SkyInstant(point.utc, site).observed(frame.aimed.rightAscension, frame.aimed.declination).elevation);
    point.magnitude = result.frame.magnitude->value;
    point.error = result.frame.magnitude->error;
    point.standard = stars.standard;
    QStringList names;
    for (size_t i = 0; i < stars.comparisons.size(); ++i)
        if (i < result.frame.comparisons.size() && result.frame.comparisons[i].usable())
            names << stars.comparisons[i].name;
    point.comparisons = names.join(u';');
    if (stars.check && result.frame.checkMagnitude) {
        point.check = stars.check->name;
        point.checkMagnitude = result.frame.checkMagnitude->value;
        point.checkError = result.frame.checkMagnitude->error;
    }
    // The database first, as for a frame's grade: the file and the log line then never run ahead
    // of it.
    if (m_context.observations) {
        try {
            point.id = m_context.observations->addLightcurvePoint(point);
        } catch (const std::exception& e) {
            m_context.log({QStringLiteral("error"), QString::fromUtf8(e.what())});
        }
    }
    try {
        appendLightcurve(m_context.settings.logDir, point);
    } catch (const std::exception& e) {
        m_context.log({QStringLiteral("error"), QString::fromUtf8(e.what())});
    }
    QString text = magnitudeText(*result.frame.magnitude) +
                   QStringLiteral(" against %1 comparison stars").arg(names.size());
    if (result.frame.checkMagnitude)
        text += QStringLiteral(", check ") + magnitudeText(*result.frame.checkMagnitude);
    m_context.log({QStringLiteral("lightcurve"), frame.target, frame.path, text});
    if (onPoint)
        onPoint(point, result.milliseconds);
}

} // namespace kestrove::indi
