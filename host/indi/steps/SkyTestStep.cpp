#include "host/indi/steps/SkyTestStep.h"

#include "host/indi/steps/FrameGrader.h"

namespace kestrove::indi {

void SkyTestStep::start(double seconds)
{
    m_seconds = seconds;
    m_camera.configure(m_context.settings.solve.binning, 1.0, *this);
}

void SkyTestStep::cameraReady()
{
    m_camera.expose(m_seconds, QStringLiteral("the test frame"));
}

void SkyTestStep::frameArrived(const IndiBlob* frame)
{
    FrameToGrade test;
    test.plan = m_context.planNumber;
    test.test = true;
    test.target = m_context.plan.target;
    test.kind = QStringLiteral("test");
    test.filter = m_context.plan.filter;
    test.utc = m_camera.exposureStart();
    test.exposure = m_camera.exposureSeconds();
    test.binning = m_camera.geometry().binning;
    test.fits = frame->data;
    m_grader.add(std::move(test));
    m_context.stepDone();
}

} // namespace kestrove::indi
