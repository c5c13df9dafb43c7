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
#include <utility>

Q_LOGGING_CATEGORY(lcLightcurve, "kestrove.lightcurve")

namespace kestrove::indi {

namespace {

constexpr int kMinimumComparisons = 2;

QString magnitudeText(const imaging::Magnitude& m)
{
    return QStringLiteral("%1 ± %2").arg(QString::number(m.value, 'f', 3), QString::number(m.error, 'f', 3));
}

int minimumComparisons(const imaging::LightcurveStars& stars)
{
    return stars.named ? 1 : kMinimumComparisons;
}

imaging::CatalogueStar catalogueStar(const NamedStar& star)
{
    const double ra = star.rightAscension * 15;
    return {star.label.isEmpty() ? imaging::positionName(ra, star.declination) : star.label, ra,
            star.declination, star.magnitude};
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

std::optional<imaging::LightcurveStars>
LightcurvePhotometry::namedStars(const imaging::CatalogueStar& target,
                                 const std::vector<NamedStar>& comparisons,
                                 const std::optional<NamedStar>& check)
{
    if (comparisons.empty())
        return std::nullopt;
    imaging::LightcurveStars stars;
    stars.target = target;
    stars.named = true;
    stars.standard = true;
    for (const NamedStar& c : comparisons) {
        stars.comparisons.push_back(catalogueStar(c));
        stars.standard = stars.standard && c.magnitude;
    }
    // Without every catalogue magnitude the ensemble's own are set from the first frame.
    if (!stars.standard)
        for (imaging::CatalogueStar& c : stars.comparisons)
            c.magnitude.reset();
    if (check)
        stars.check = catalogueStar(*check);
    return stars;
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
LightcurvePhotometry::measure(const QByteArray& fits, std::optional<double> gain, const imaging::Wcs& wcs,
                              double hfr, const imaging::CatalogueStar& target,
                              const std::optional<imaging::LightcurveStars>& stars)
{
    QElapsedTimer timer;
    timer.start();
    Measured result;
    try {
        const imaging::FitsImage image = imaging::readFitsImage(fits);
        result.gain = imaging::frameGain(image, gain);
        const imaging::PhotometryFrame frame(image, {result.gain.electronsPerAdu, 0});
        const imaging::Apertures apertures = imaging::aperturesFor(hfr);
        imaging::LightcurveStars chosen;
        if (stars) {
            chosen = *stars;
            // Named stars without catalogue magnitudes take theirs from the first frame.
            if (chosen.named && !chosen.standard &&
                std::any_of(chosen.comparisons.begin(), chosen.comparisons.end(),
                            [](const imaging::CatalogueStar& c) { return !c.magnitude; })) {
                chosen =
                    imaging::withReferences(chosen, imaging::measureStars(frame, wcs, chosen, apertures));
                result.chosen = chosen;
            }
        } else {
            chosen = imaging::chooseStars(frame, wcs, target, apertures);
            result.chosen = chosen;
        }
        if (chosen.comparisons.size() < static_cast<size_t>(minimumComparisons(chosen)))
            result.error = QStringLiteral("%1 comparison stars in the field, %2 needed")
                               .arg(chosen.comparisons.size())
                               .arg(minimumComparisons(chosen));
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
    else if ((stars = namedStars(target, frame.comparisons, frame.check)))
        m_stars[{frame.target, frame.filter}] = *stars;
    m_watcher.setFuture(QtConcurrent::run(&LightcurvePhotometry::measure, frame.fits,
                                          m_context.settings.indi.gain, *frame.wcs, job.hfr, target, stars));
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
    if (result.error.isEmpty() && result.gain.source == imaging::FrameGain::Source::Assumed &&
        !std::exchange(m_gainTold, true))
        m_context.log(
            {QStringLiteral("lightcurve"), frame.target,
             QStringLiteral("the camera's gain is not known (no EGAIN card in its frames, no [indi] "
                            "gain): 1 e-/ADU is taken for the stars' photon noise")});
    const std::pair key{frame.target, frame.filter};
    if (result.chosen)
        m_stars[key] = *result.chosen;
    const auto known = m_stars.find(key);
    const imaging::LightcurveStars stars =
        known != m_stars.end() ? known->second : imaging::LightcurveStars{};
    // Stars that no longer serve (a field placed otherwise, comparisons lost) are chosen afresh from
    // the next frame.
    if (known != m_stars.end() &&
        (!result.error.isEmpty() || usableComparisons(result.frame) < minimumComparisons(stars)))
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
    using Role = database::InstrumentalMagnitude::Role;
    const auto instrumental = [&](Role role, const QString& name, const imaging::StarFlux& flux,
                                  std::optional<double> reference = std::nullopt) {
        database::InstrumentalMagnitude m{role, name, {}, {}, reference};
        if (flux.usable()) {
            m.magnitude = flux.magnitude();
            m.error = flux.magnitudeError();
        }
        point.instrumental.push_back(m);
    };
    instrumental(Role::Target, frame.target, result.frame.target);
    if (stars.check && result.frame.check)
        instrumental(Role::Check, stars.check->name, *result.frame.check);
    for (size_t i = 0; i < stars.comparisons.size() && i < result.frame.comparisons.size(); ++i)
        instrumental(Role::Comparison, stars.comparisons[i].name, result.frame.comparisons[i],
                     stars.comparisons[i].magnitude);
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
