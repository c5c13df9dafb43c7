#include "host/indi/steps/ExposureStep.h"

#include "database/ObservationDb.h"
#include "host/indi/steps/CalibrationStep.h"
#include "text/NumberText.h"

#include <algorithm>

namespace kestrove::indi {

void ExposureStep::start()
{
    const AcquisitionPlan& plan = m_context.plan;
    if (plan.count <= 0) {
        m_context.stepDone();
        return;
    }
    m_camera.configure(plan.binning, plan.subframe, *this);
}

void ExposureStep::cameraReady()
{
    const AcquisitionPlan& plan = m_context.plan;
    m_context.log({QStringLiteral("camera"), plan.target, QStringLiteral("binning %1").arg(plan.binning),
                   QStringLiteral("subframe %1").arg(doubleText(plan.subframe)), m_camera.frameText()});
    m_context.imagesSaved = 0;
    expose();
}

void ExposureStep::expose()
{
    m_camera.expose(m_context.plan.interval, QStringLiteral("exposure %1").arg(m_context.imagesSaved + 1));
}

void ExposureStep::frameArrived(const IndiBlob* frame)
{
    QString error;
    const QString path = m_saver.save(*frame, error);
    if (path.isEmpty()) {
        m_context.fail(error);
        return;
    }
    const AcquisitionPlan& plan = m_context.plan;
    ++m_context.imagesSaved;
    m_context.log({QStringLiteral("image"), plan.target, plan.filter, integerText(plan.binning),
                   doubleText(plan.interval), path});
    FrameToGrade graded;
    graded.plan = m_context.planNumber;
    graded.planRecord = m_context.planRecord;
    graded.target = plan.target;
    graded.kind = m_context.surveyKind();
    graded.filter = plan.filter;
    graded.path = path;
    graded.utc = m_camera.exposureStart();
    graded.exposure = m_camera.exposureSeconds();
    graded.binning = m_camera.geometry().binning;
    if (const std::optional<PlateSolution>& solution = m_context.solution) {
        graded.wcs = solution->wcs.carriedTo(solution->geometry, m_camera.geometry());
        graded.catalogue = solution->catalogue;
    }
    graded.aimed = m_context.target();
    graded.fits = frame->data;
    graded.planFrames = plan.count;
    graded.setImage = plan.setImage;
    graded.setSize = plan.setSize;
    graded.comparisons = plan.comparisons;
    graded.check = plan.check;
    if (m_context.observations) {
        try {
            graded.calibration = mastersFor(*m_context.observations, m_context.settings, graded.exposure,
                                            graded.binning, graded.filter, graded.utc);
        } catch (const std::exception& e) {
            m_context.log({QStringLiteral("error"), plan.target, QString::fromUtf8(e.what())});
        }
        if (graded.calibration) {
            const imaging::ImageGeometry& g = m_camera.geometry();
            graded.calibration->x = g.x / std::max(1, g.binning);
            graded.calibration->y = g.y / std::max(1, g.binning);
        }
    }
    m_grader.add(std::move(graded));
    if (m_context.imagesSaved < plan.count)
        expose();
    else
        m_context.stepDone();
}

} // namespace kestrove::indi
