#pragma once

#include "host/indi/steps/CameraControl.h"
#include "imaging/SolveField.h"

#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace kestrove::indi {

// Points the telescope at the plan's target: slews, lets the mount settle, checks where it
// stands, and, when solving is on, plate solves a short frame (imaging/SolveField) and corrects
// the pointing until the target lies within [solve] tolerance or the attempts run out. A lost
// solve leaves the pointing as the mount has it; the plan goes on.
class PointingStep : public PlanStep, public CameraControl::User
{
public:
    PointingStep(StepContext& context, CameraControl& camera);

    // `solve`: plate solve where solving is on; a field that needs no exact place is only slewed to.
    void start(bool solve = true);
    // Whether frames are solved: decided on the first call, with the reason logged once.
    bool solveWanted();

    void poll() override;
    void propertyChanged(const QString& device, const QString& name, const IndiProperty& property) override;
    void stop() override;
    void cameraReady() override;
    void frameArrived(const IndiBlob* frame) override;

private:
    enum class Phase
    {
        Slewing,
        Settling,
        Solving // solve-field runs on the solve frame
    };

    void wait(Phase phase, double limitSeconds, const QString& limitText);
    bool waiting(Phase phase) const;
    void slewTo(const Equatorial& aim, const QString& event);
    void afterSettle();
    void startSolveFrame();
    void solveFrame(const IndiBlob* frame);
    void solved(const imaging::SolveResult& result);
    void correct(const imaging::SolveResult& result);
    std::optional<double> scaleHint() const;

    StepContext& m_context;
    CameraControl& m_camera;
    Phase m_phase = Phase::Slewing;
    Equatorial m_target;
    Equatorial m_aim; // where the mount is sent: the target, less the offset a solve measured
    CommandWatch m_watch;
    std::optional<bool> m_solveOn; // decided once per executor
    QString m_indexFolder;
    imaging::SolveField m_solver;
    std::unique_ptr<QTemporaryDir> m_work;
    int m_solves = 0;
    bool m_solveThis = true;
    imaging::ImageGeometry m_solveGeometry; // of the frame being solved
    Equatorial m_solveMount;                // where the mount said it pointed for that frame
};

} // namespace kestrove::indi
