#include "host/indi/steps/FrameGrader.h"

#include "database/ObservationDb.h"
#include "imaging/FitsFile.h"
#include "imaging/Stars.h"
#include "imaging/Wcs.h"
#include "text/NumberText.h"

#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace kestrove::indi {

namespace {

// "85 stars, HFR 2.13 px, sky 1021 ADU, noise 12.3 ADU, 4.2 arcsec off"
QString measurementText(const imaging::FrameMeasurement& m)
{
    QString text = QStringLiteral("%1 stars, HFR %2 px, sky %3 ADU, noise %4 ADU")
                       .arg(m.stars)
                       .arg(QString::number(m.medianHfr, 'f', 2), QString::number(m.background, 'f', 0),
                            QString::number(m.noise, 'f', 1));
    if (m.solved)
        text += QStringLiteral(", %1 arcsec off").arg(QString::number(m.solved->pointingError, 'f', 1));
    return text;
}

} // namespace

FrameGrader::FrameGrader(StepContext& context) : m_context(context)
{
    QObject::connect(&m_watcher, &QFutureWatcherBase::finished, &m_watcher, [this] {
        try {
            measured(m_watcher.result());
        } catch (const std::exception& e) {
            m_context.log(
                {QStringLiteral("error"), QStringLiteral("grading: ") + QString::fromUtf8(e.what())});
        }
    });
}

void FrameGrader::beginPlan(qint64 plan)
{
    m_plan = plan;
    m_grades = {};
}

void FrameGrader::add(FrameToGrade frame)
{
    m_queue.push_back(std::move(frame));
    next();
}

int FrameGrader::pending() const
{
    return static_cast<int>(std::count_if(m_queue.begin(), m_queue.end(),
                                          [this](const FrameToGrade& f) { return f.plan == m_plan; }));
}

void FrameGrader::finishPlan(double limitSeconds)
{
    if (pending() == 0)
        m_context.stepDone();
    else
        m_context.waitOn(*this, limitSeconds, QStringLiteral("the frames were not graded"));
}

void FrameGrader::poll()
{
    if (pending() == 0)
        m_context.stepDone();
}

// In a worker thread: touches nothing but its arguments. SEP keeps no state between calls from 1.2
// on, so a focus run measuring on the survey's thread meanwhile is safe.
FrameGrader::Measured FrameGrader::measure(const QByteArray& fits, const std::optional<imaging::Wcs>& wcs,
                                           Equatorial aimed, const QString& path,
                                           const std::optional<imaging::FrameCalibration>& calibration)
{
    try {
        imaging::FitsImage image = imaging::readFitsImage(fits);
        // A frame that cannot be calibrated is measured raw: the frame itself is still good.
        QString calibrated;
        QString calibrationError;
        if (calibration && !path.isEmpty()) {
            try {
                image = imaging::calibrateFrame(image, path, *calibration);
                calibrated = imaging::calibratedPath(path);
            } catch (const std::exception& e) {
                calibrationError = QString::fromUtf8(e.what());
            }
        }
        Measured result{
            imaging::measureFrame(imaging::detectStars(image, maxStars)), {}, calibrated, calibrationError};
        if (wcs) {
            double ra = 0, dec = 0;
            wcs->pixelToSky((image.width + 1) / 2.0, (image.height + 1) / 2.0, ra, dec);
            result.measurement.solved = imaging::SolvedCentre{
                ra, dec,
                imaging::angularDistance(ra, dec, aimed.rightAscension * 15, aimed.declination) * 3600};
        }
        return result;
    } catch (const std::exception& e) {
        return {{}, QString::fromUtf8(e.what()), {}, {}};
    }
}

bool FrameGrader::keepsPixels(const FrameToGrade& frame)
{
    return !frame.test && frame.wcs &&
           (frame.kind == QLatin1String("SLC") || frame.kind == QLatin1String("SNe") ||
            frame.kind == QLatin1String("MPS"));
}

void FrameGrader::next()
{
    if (m_queue.empty() || m_watcher.isRunning())
        return;
    FrameToGrade& frame = m_queue.front();
    m_watcher.setFuture(QtConcurrent::run(&FrameGrader::measure, frame.fits, frame.wcs, frame.aimed,
                                          frame.path, frame.calibration));
    if (!keepsPixels(frame))
        frame.fits = {};
}

void FrameGrader::measured(const Measured& result)
{
    if (m_queue.empty())
        return;
    GradedFrame graded{std::move(m_queue.front()), result.measurement,     {}, result.error, 0,
                       result.calibrated,          result.calibrationError};
    m_queue.pop_front();
    logCalibration(graded);
    const GradingSettings& settings = m_context.settings.grading;
    const FrameToGrade& frame = graded.frame;
    if (graded.error.isEmpty() && settings.enabled) {
        std::vector<imaging::FrameMeasurement> reference;
        if (!frame.test && m_context.observations) {
            try {
                reference = m_context.observations->acceptedFrames(frame.target, frame.filter,
                                                                   settings.thresholds.window);
            } catch (const std::exception& e) {
                m_context.log({QStringLiteral("error"), QString::fromUtf8(e.what())});
            }
        }
        graded.grade = imaging::grade(graded.measurement, reference, settings.thresholds);
    }
    record(graded);
    if (frame.plan == m_plan) {
        ++m_grades.frames;
        if (graded.grade.accepted()) {
            ++m_grades.accepted;
        } else {
            m_grades.rejection = graded.grade.text;
            if (graded.grade.reason == imaging::GradeReason::HfrHigh)
                m_grades.soft = graded.grade.text;
        }
    }
    next();
    if (onGraded)
        onGraded(graded);
    if (m_context.waitingOn(*this) && pending() == 0)
        m_context.stepDone();
}

void FrameGrader::logCalibration(const GradedFrame& graded)
{
    const FrameToGrade& frame = graded.frame;
    if (!graded.calibrationError.isEmpty()) {
        m_context.log({QStringLiteral("error"), frame.target,
                       QStringLiteral("not calibrated, measured raw: ") + graded.calibrationError});
        return;
    }
    if (graded.calibrated.isEmpty() || !frame.calibration)
        return;
    QStringList used;
    if (!frame.calibration->darkPath.isEmpty())
        used << QFileInfo(frame.calibration->darkPath).fileName();
    if (!frame.calibration->flatPath.isEmpty())
        used << QFileInfo(frame.calibration->flatPath).fileName();
    m_context.log(
        {QStringLiteral("calibrated"), frame.target, graded.calibrated, used.join(QStringLiteral(", "))});
}

// The database first: a line of the log is then never without its row.
void FrameGrader::record(GradedFrame& graded)
{
    const FrameToGrade& frame = graded.frame;
    const QString what = frame.test ? QStringLiteral("test frame") : frame.path;
    if (!graded.error.isEmpty()) {
        m_context.log({QStringLiteral("grade"), frame.target, what,
                       QStringLiteral("not measured: %1; counted as accepted").arg(graded.error)});
        return;
    }
    const bool accepted = graded.grade.accepted();
    if (m_context.observations) {
        database::FrameRecord row;
        row.planId = frame.planRecord;
        row.target = frame.target;
        row.kind = frame.kind;
        row.utc = frame.utc;
        row.filter = frame.filter;
        row.exposure = frame.exposure;
        row.binning = frame.binning;
        row.path = frame.path;
        row.measurement = graded.measurement;
        row.accepted = accepted;
        row.reason = graded.grade.text;
        try {
            graded.record = m_context.observations->addFrame(row);
        } catch (const std::exception& e) {
            m_context.log({QStringLiteral("error"), QString::fromUtf8(e.what())});
        }
    }
    m_context.log({QStringLiteral("grade"), frame.target, what,
                   accepted ? QStringLiteral("accepted") : QStringLiteral("rejected: ") + graded.grade.text,
                   measurementText(graded.measurement)});
}

} // namespace kestrove::indi
