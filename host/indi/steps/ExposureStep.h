#pragma once

#include "host/indi/steps/CameraControl.h"
#include "host/indi/steps/FrameGrader.h"
#include "host/indi/steps/FrameSaver.h"

namespace kestrove::indi {

// The plan's images: the camera set to the plan's binning and subframe, then its count of
// exposures, each saved and handed to the grader before the next starts.
class ExposureStep : public CameraControl::User
{
public:
    ExposureStep(StepContext& context, CameraControl& camera, FrameGrader& grader)
        : m_context(context), m_camera(camera), m_saver(context, camera), m_grader(grader)
    {
    }

    void start();

    void cameraReady() override;
    void frameArrived(const IndiBlob* frame) override;

private:
    void expose();

    StepContext& m_context;
    CameraControl& m_camera;
    FrameSaver m_saver;
    FrameGrader& m_grader;
};

} // namespace kestrove::indi
