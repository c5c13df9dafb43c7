#include "host/indi/steps/DiscoverySearch.h"

#include "database/ObservationDb.h"
#include "imaging/Cutouts.h"
#include "imaging/FitsFile.h"
#include "imaging/Sources.h"
#include "text/MpcReport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTimeZone>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>

Q_LOGGING_CATEGORY(lcDiscovery, "kestrove.discovery")

namespace kestrove::indi {

namespace {

// Catalogue stars a frame's zero point is made from lie within this of a source, arcseconds.
constexpr double kMatchRadius = 3;
constexpr int kCutoutSize = 64;

bool isSearched(const QString& kind)
{
    return kind == QLatin1String("SNe") || kind == QLatin1String("MPS");
}

// The calibrated file beside a frame ("NAME-cal.fits") when there is one: what the search reads.
QString calibratedPath(const QString& path)
{
    if (!path.endsWith(QLatin1String(".fits"), Qt::CaseInsensitive))
        return {};
    const QString calibrated = path.left(path.size() - 5) + QStringLiteral("-cal.fits");
    return QFileInfo(calibrated).isFile() ? calibrated : QString();
}

// A frame's sources on the sky, with their magnitudes on the catalogue's scale when the solve
// gave stars with magnitudes.
DiscoverySearch::Seen analyse(const imaging::FitsImage& image, const imaging::Wcs& wcs,
                              const std::vector<imaging::FieldStar>& catalogue)
{
    DiscoverySearch::Seen seen;
    seen.sources = imaging::detectSources(image);
    imaging::placeOnSky(seen.sources, wcs);
    if (!catalogue.empty())
        seen.zeroPoint = imaging::catalogueZeroPoint(seen.sources, catalogue,
                                                     std::max(kMatchRadius, seen.sources.scale()));
    imaging::applyZeroPoint(seen.sources, seen.zeroPoint.value_or(imaging::ZeroPoint{}));
    return seen;
}

// The image a frame's sources were found on.
imaging::FitsImage imageOf(const QString& path)
{
    return imaging::readFitsImage(path);
}

QString fileSafe(QString text)
{
    for (QChar& c : text)
        if (c == u'/' || c == u'\\' || c == u':' || c.isSpace())
            c = u'_';
    return text;
}

QString placeText(double ra, double dec)
{
    return QStringLiteral("RA %1 Dec %2").arg(ra, 0, 'f', 5).arg(dec, 0, 'f', 5);
}

} // namespace

DiscoverySearch::DiscoverySearch(StepContext& context) : m_context(context)
{
    QObject::connect(&m_watcher, &QFutureWatcherBase::finished, &m_watcher, [this] {
        try {
            done(m_watcher.result());
        } catch (const std::exception& e) {
            m_context.log(
                {QStringLiteral("error"), QStringLiteral("discovery: ") + QString::fromUtf8(e.what())});
        }
    });
}

bool DiscoverySearch::wanted(const GradedFrame& graded)
{
    const FrameToGrade& f = graded.frame;
    return !f.test && isSearched(f.kind) && f.wcs && !f.fits.isEmpty() && graded.error.isEmpty() &&
           graded.grade.accepted();
}

void DiscoverySearch::add(const GradedFrame& graded, qint64 frameRecord)
{
    const FrameToGrade& frame = graded.frame;
    if (frame.test || !isSearched(frame.kind))
        return;
    // A minor planet field's set is taken by a plan per image, between which other plans may run:
    // its frames are gathered by field, and looked at together when its last image is in.
    const bool inSet = frame.kind == QLatin1String("MPS") && frame.setSize > 0;
    if (frame.plan != m_plan) {
        // A plan that ended early is looked at with the frames it has.
        const auto last =
            std::find_if(m_queue.rbegin(), m_queue.rend(), [](const Job& j) { return j.set.isEmpty(); });
        const bool ofPlan = last != m_queue.rend() && last->frame.plan == m_plan;
        // The job under way has taken its orders already: the plan's close follows it as a job of its own.
        const bool running = ofPlan && m_watcher.isRunning() && std::prev(last.base()) == m_queue.begin();
        if (m_plan != 0 && m_graded > 0 && ofPlan && !running)
            last->closesPlan = true;
        else if (m_plan != 0 && m_graded > 0 && (!m_set.empty() || running))
            m_queue.push_back({m_lastFrame, false, 0, true, {}, false});
        m_plan = inSet ? 0 : frame.plan;
        m_graded = 0;
    }
    Job job{frame, wanted(graded), frameRecord, false, {}, false};
    if (inSet) {
        job.set = frame.target;
        job.startsSet = frame.setImage <= 1;
        job.closesPlan = frame.setImage >= frame.setSize;
    } else {
        ++m_graded;
        job.closesPlan = m_graded >= std::max(1, frame.planFrames);
        m_lastFrame = frame;
        m_lastFrame.fits = {};
        if (job.closesPlan)
            m_plan = 0;
    }
    if (!job.analyse)
        job.frame.fits = {};
    if (job.analyse || job.closesPlan)
        m_queue.push_back(std::move(job));
    next();
}

QString DiscoverySearch::referencePath(const QString& target) const
{
    const QString own = QDir(m_context.settings.folder)
                            .filePath(QStringLiteral("references/") + target + QStringLiteral(".fits"));
    if (!m_context.settings.folder.isEmpty() && QFileInfo(own).isFile())
        return own;
    if (const auto it = m_references.find(target); it != m_references.end())
        return it->second;
    if (m_context.observations) {
        try {
            return m_context.observations->firstFramePath(target, QStringLiteral("SNe"));
        } catch (const std::exception& e) {
            m_context.log({QStringLiteral("error"), QString::fromUtf8(e.what())});
        }
    }
    return {};
}

void DiscoverySearch::next()
{
    if (m_queue.empty() || m_watcher.isRunning())
        return;
    Job& job = m_queue.front();
    Work w;
    if (job.analyse)
        w.frame = job.frame;
    if (job.set.isEmpty())
        w.earlier = m_set;
    else if (const auto it = m_sets.find(job.set); it != m_sets.end() && !job.startsSet)
        w.earlier = it->second;
    w.kind = job.frame.kind;
    w.target = job.frame.target;
    w.place = {job.frame.aimed.rightAscension * 15, job.frame.aimed.declination};
    w.settings = m_context.settings.discovery;
    w.closesPlan = job.closesPlan;
    if (w.kind == QLatin1String("SNe")) {
        w.referencePath = referencePath(w.target);
        // The database already holds the frame itself: the target's first is the reference.
        if (job.analyse && w.referencePath == job.frame.path)
            w.referencePath.clear();
        if (m_context.observations) {
            try {
                for (const database::CandidateRecord& c : m_context.observations->candidatesOf(w.target))
                    if (c.status == database::CandidateStatus::Bogus)
                        w.bogus.push_back({c.ra, c.dec});
            } catch (const std::exception& e) {
                m_context.log({QStringLiteral("error"), QString::fromUtf8(e.what())});
            }
        }
        w.cutoutBase =
            QDir(m_context.settings.logDir)
                .filePath(QStringLiteral("discovery/%1-%2")
                              .arg(fileSafe(w.target),
                                   job.frame.utc.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    }
    m_watcher.setFuture(QtConcurrent::run(&DiscoverySearch::work, w));
    job.frame.fits = {};
}

DiscoverySearch::Found DiscoverySearch::work(const Work& w)
{
    QElapsedTimer timer;
    timer.start();
    Found found;
    try {
        imaging::FitsImage image;
        if (w.frame) {
            const QString calibrated = calibratedPath(w.frame->path);
            image = calibrated.isEmpty() ? imaging::readFitsImage(w.frame->fits)
                                         : imaging::readFitsImage(calibrated);
            Seen seen = analyse(image, *w.frame->wcs, w.frame->catalogue);
            seen.path = calibrated.isEmpty() ? w.frame->path : calibrated;
            seen.utc = w.frame->utc;
            seen.exposure = w.frame->exposure;
            found.frame = seen;
            found.becameReference =
                w.kind == QLatin1String("SNe") && w.referencePath.isEmpty() && w.earlier.empty();
        }
        found.milliseconds = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        if (!w.closesPlan)
            return found;
        found.set = w.earlier;
        if (found.frame && !found.becameReference)
            found.set.push_back(*found.frame);
        if (found.set.empty())
            return found;
        std::vector<imaging::SourceList> lists;
        for (const Seen& s : found.set)
            lists.push_back(s.sources);
        if (w.kind == QLatin1String("MPS")) {
            std::vector<double> times;
            for (const Seen& s : found.set)
                times.push_back(static_cast<double>(s.utc.toMSecsSinceEpoch()) / 1000 + s.exposure / 2);
            if (lists.size() >= 3)
                found.movers = imaging::linkMovers(lists, times, w.settings);
            return found;
        }
        if (w.referencePath.isEmpty())
            return found;
        const QString referenceFile =
            calibratedPath(w.referencePath).isEmpty() ? w.referencePath : calibratedPath(w.referencePath);
        const std::optional<imaging::Wcs> referenceWcs = imaging::readWcs(referenceFile);
        if (!referenceWcs) {
            found.error = QStringLiteral("the reference %1 has no WCS").arg(referenceFile);
            return found;
        }
        const imaging::FitsImage referenceImage = imageOf(referenceFile);
        // The reference's magnitudes on the instrumental scale: candidates are measured on the
        // frames' own, the catalogue's when the solve gave one.
        const Seen reference = analyse(referenceImage, *referenceWcs, {});
        found.candidates = imaging::findCandidates(reference.sources, lists, w.place, w.settings, w.bogus);
        if (found.candidates.empty())
            return found;
        // Cut-outs from the plan's last frame, whose pixels are at hand or on disk.
        const Seen& last = found.set.back();
        const imaging::FitsImage lastImage =
            found.frame && !found.becameReference ? image : imageOf(last.path);
        const imaging::ZeroPoint frameZero =
            imaging::relativeZeroPoint(last.sources, reference.sources, kMatchRadius);
        const double ratio = imaging::fluxRatio(frameZero, imaging::ZeroPoint{});
        QDir().mkpath(QFileInfo(w.cutoutBase).absolutePath());
        for (size_t i = 0; i < found.candidates.size(); ++i) {
            imaging::Candidate& c = found.candidates[i];
            const imaging::Cutouts cut = imaging::makeCutouts(
                lastImage, last.sources, referenceImage, reference.sources, c.place(), ratio, kCutoutSize);
            // On the difference the new light is free of its galaxy's.
            const imaging::NewLight light = imaging::newLight(cut, last.sources, 1.5 * last.sources.seeing);
            if (light.flux > 0 && std::isfinite(light.flux)) {
                c.ra = light.place.ra;
                c.dec = light.place.dec;
                c.mag = last.zeroPoint.value_or(imaging::ZeroPoint{}).value - 2.5 * std::log10(light.flux);
            }
            const QString base = w.cutoutBase + QStringLiteral("-%1").arg(i + 1);
            try {
                imaging::writeCutouts(cut, base);
                found.cutouts.push_back(base);
            } catch (const std::exception& e) {
                found.cutouts.push_back({});
                found.error = QString::fromUtf8(e.what());
            }
        }
    } catch (const std::exception& e) {
        found.error = QString::fromUtf8(e.what());
    }
    found.milliseconds = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    return found;
}

void DiscoverySearch::done(const Found& found)
{
    if (m_queue.empty())
        return;
    const Job job = std::move(m_queue.front());
    m_queue.pop_front();
    const FrameToGrade& frame = job.frame;
    if (found.frame) {
        qCDebug(lcDiscovery, "sources of %s: %.1f ms", qPrintable(frame.path), found.milliseconds);
        if (found.becameReference)
            m_references[frame.target] = frame.path;
        else if (job.set.isEmpty())
            m_set.push_back(*found.frame);
        if (m_context.observations && job.record) {
            std::vector<database::DetectionRecord> rows;
            for (const imaging::SkySource& s : found.frame->sources.sources)
                rows.push_back({job.record, s.ra, s.dec, s.x, s.y, s.flux, s.fluxError, s.snr,
                                std::isfinite(s.mag) ? std::optional(s.mag) : std::nullopt, s.fwhm,
                                s.saturated, s.atEdge, s.blended});
            try {
                m_context.observations->addDetections(job.record, rows);
            } catch (const std::exception& e) {
                m_context.log({QStringLiteral("error"), QString::fromUtf8(e.what())});
            }
        }
        m_context.log({QStringLiteral("sources"), frame.target, frame.path,
                       QStringLiteral("%1 found").arg(found.frame->sources.sources.size()),
                       found.becameReference ? QStringLiteral("the target's reference") : QString()});
        if (onAnalysed)
            onAnalysed(frame.path, found.milliseconds);
    }
    if (!job.set.isEmpty()) {
        std::vector<Seen>& set = m_sets[job.set];
        if (job.startsSet)
            set.clear();
        if (found.frame)
            set.push_back(*found.frame);
        if (job.closesPlan)
            m_sets.erase(job.set);
    } else if (job.closesPlan) {
        m_set.clear();
    }
    next();
    if (!found.error.isEmpty())
        m_context.log({QStringLiteral("discovery"), frame.target, frame.path,
                       QStringLiteral("not searched: ") + found.error});
    recordCandidates(found, frame);
    recordMovers(found, frame);
}

void DiscoverySearch::recordCandidates(const Found& found, const FrameToGrade& plan)
{
    for (size_t i = 0; i < found.candidates.size(); ++i) {
        const imaging::Candidate& c = found.candidates[i];
        const Seen& first = found.set[static_cast<size_t>(c.sightings.front().frame)];
        database::CandidateRecord row;
        row.planId = plan.planRecord;
        row.target = plan.target;
        row.utc = first.utc;
        row.ra = c.ra;
        row.dec = c.dec;
        if (std::isfinite(c.mag))
            row.magnitude = c.mag;
        row.snr = c.snr;
        for (const imaging::Sighting& s : c.sightings)
            row.frameIds << found.set[static_cast<size_t>(s.frame)].record;
        row.cutouts = i < found.cutouts.size() ? found.cutouts[i] : QString();
        if (m_context.observations) {
            try {
                row.id = m_context.observations->addCandidate(row);
            } catch (const std::exception& e) {
                m_context.log({QStringLiteral("error"), QString::fromUtf8(e.what())});
            }
        }
        m_context.log(
            {QStringLiteral("discovery"), row.target, found.set.back().path,
             QStringLiteral("candidate at %1, magnitude %2, S/N %3 in %4 frames")
                 .arg(placeText(c.ra, c.dec),
                      row.magnitude ? QString::number(*row.magnitude, 'f', 2) : QStringLiteral("unknown"),
                      QString::number(c.snr, 'f', 1), QString::number(c.sightings.size()))});
    }
}

void DiscoverySearch::recordMovers(const Found& found, const FrameToGrade& plan)
{
    for (const imaging::Mover& m : found.movers) {
        database::MoverRecord row;
        row.planId = plan.planRecord;
        row.target = plan.target;
        row.rate = m.rate;
        row.direction = m.direction;
        row.residual = m.residual;
        if (std::isfinite(m.mag))
            row.magnitude = m.mag;
        QList<MpcObservation> observations;
        const QDate night = found.set.front().utc.toUTC().date();
        row.designation = temporaryDesignation(night, m_moversTonight++);
        for (const imaging::MoverDetection& d : m.detections) {
            const QDateTime utc = QDateTime::fromMSecsSinceEpoch(
                static_cast<qint64>(std::llround(d.time * 1000)), QTimeZone::utc());
            database::MoverPosition p{utc, d.ra, d.dec, std::nullopt};
            if (std::isfinite(d.mag))
                p.magnitude = d.mag;
            row.positions.push_back(p);
            MpcObservation o;
            o.designation = row.designation;
            o.discovery = observations.isEmpty();
            o.utc = utc;
            o.rightAscension = d.ra;
            o.declination = d.dec;
            o.magnitude = p.magnitude;
            o.band = u'C'; // unfiltered, on the index catalogue's scale
            o.observatory =
                m_context.settings.mpcCode.isEmpty() ? QStringLiteral("XXX") : m_context.settings.mpcCode;
            observations << o;
        }
        row.utc = row.positions.empty() ? QDateTime() : row.positions.front().utc;
        MpcHeader header;
        header.observatory = observations.isEmpty() ? QString() : observations.front().observatory;
        header.catalogue = QStringLiteral("Tycho-2");
        row.mpcReport = mpcReport(header, observations);
        if (m_context.observations) {
            try {
                row.id = m_context.observations->addMover(row);
            } catch (const std::exception& e) {
                m_context.log({QStringLiteral("error"), QString::fromUtf8(e.what())});
            }
        }
        const database::MoverPosition& start = row.positions.front();
        m_context.log(
            {QStringLiteral("discovery"), row.target, found.set.back().path,
             QStringLiteral("mover %1 at %2, %3\"/min toward %4°, magnitude %5")
                 .arg(row.designation, placeText(start.ra, start.dec), QString::number(m.rate, 'f', 2),
                      QString::number(m.direction, 'f', 1),
                      row.magnitude ? QString::number(*row.magnitude, 'f', 2) : QStringLiteral("unknown"))});
    }
}

} // namespace kestrove::indi
