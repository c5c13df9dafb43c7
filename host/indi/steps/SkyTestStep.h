#pragma once

#include "host/indi/steps/CameraControl.h"

namespace kestrove::indi {

class FrameGrader;

// The test frame that ends a pause for clouds: a short exposure of the whole chip where the
// telescope points, through the filter in place, handed to the grader (which grades it against
// the floor alone) and not kept.
class SkyTestStep : public CameraControl::User
{
public:
    SkyTestStep(StepContext& context, CameraControl& camera, FrameGrader& grader)
        : m_context(context), m_camera(camera), m_grader(grader)
    {
    }

    void start(double seconds);

    void cameraReady() override;
    void frameArrived(const IndiBlob* frame) override;

private:
    StepContext& m_context;
    CameraControl& m_camera;
    FrameGrader& m_grader;
    double m_seconds = 0;
};

} // namespace kestrove::indi
