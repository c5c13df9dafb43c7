#pragma once

#include "host/indi/steps/CameraControl.h"
#include "imaging/FocusCurve.h"

#include <QDateTime>
#include <QMetaObject>
#include <QProcess>

#include <memory>

namespace kestrove::indi {

// Focuses for a plan that asks for "#autofocus", through the plan's filter: by the configured
// [indi] autofocusCommand, or else by a V-curve run with the focuser and the camera
// (imaging/FocusCurve). A focus that fails leaves the focuser where it was; the plan goes on.
class FocusStep : public PlanStep, public CameraControl::User
{
public:
    FocusStep(StepContext& context, CameraControl& camera) : m_context(context), m_camera(camera) {}

    // Whether the plan's focus is a V-curve run, which needs the focuser's position.
    bool runsVCurve() const;
    void start();
    // Gives up a V-curve run that has outlasted [focus] timeout, the plan going on at the current
    // focus; true when it did.
    bool giveUpWhenOverdue();

    void poll() override;
    void stop() override;
    void cameraReady() override;
    void frameArrived(const IndiBlob* frame) override;

private:
    enum class Phase
    {
        Command, // the external autofocus command runs
        Moving   // the focuser moves to the next point of the V-curve
    };
    // Where a V-curve run stands.
    enum class RunPhase
    {
        Point,     // to a point of the curve, then an exposure
        Overshoot, // past the best position, so that it is approached from one side
        Best,      // to the best position, then the verifying exposure
        Back,      // past the start, on the way back
        Start      // to the start, where the run gives up
    };
    struct Run
    {
        imaging::FocusSweep sweep;
        imaging::FocusFit fit;
        QDateTime started;
        RunPhase phase = RunPhase::Point;
        int moving = 0; // the position asked
        int best = 0;   // the fitted best position, once fitted
        bool accepted = false;
        QString outcome;
    };

    void runCommand(const QString& command);
    void startVCurve();
    void next();
    void moveFocuser(int position, RunPhase phase);
    void arrived();
    void measure(const IndiBlob* frame);
    void fitted();
    void done();

    StepContext& m_context;
    CameraControl& m_camera;
    Phase m_phase = Phase::Command;
    std::unique_ptr<QProcess> m_process;
    QMetaObject::Connection m_processFinished;
    std::unique_ptr<Run> m_run;
};

} // namespace kestrove::indi
