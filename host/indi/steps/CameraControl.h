#pragma once

#include "host/indi/steps/PlanStep.h"
#include "imaging/Wcs.h"

#include <QDateTime>

#include <functional>

namespace kestrove::indi {

// The camera for whichever step needs a frame: the pointing's solve frames, the focus run's and
// the plan's images. It sets the binning and a centred subframe, waits until the camera has taken
// them, exposes, and hands the frame of the main chip to the step that set it up.
class CameraControl : public PlanStep
{
public:
    // The step a frame is taken for.
    class User
    {
    public:
        // The camera has taken the binning and frame asked.
        virtual void cameraReady() = 0;
        // The exposure's frame has come.
        virtual void frameArrived(const IndiBlob* frame) = 0;

    protected:
        ~User() = default;
    };

    explicit CameraControl(StepContext& context) : m_context(context) {}

    // `subframe` is the fraction of each axis; `user` is told when the camera is ready and when
    // each frame comes.
    void configure(int binning, double subframe, User& user);
    // `what` names the exposure in a failure: "exposure 3", "the solve exposure".
    void expose(double seconds, const QString& what);
    // Called before each exposure with the exposure to start once the observatory is ready for it
    // (the dome's slit in front); none: at once.
    void setBeforeExposure(std::function<void(std::function<void()>)> before)
    {
        m_before = std::move(before);
    }
    // Stops an exposure under way, as when a focus run is given up.
    void abortExposure();

    // The binning and frame the camera set, for the frame's header and WCS.
    const imaging::ImageGeometry& geometry() const { return m_geometry; }
    // The frame the camera set, for the acquisition log.
    QString frameText() const;
    QDateTime exposureStart() const { return m_exposureStart; }
    double exposureSeconds() const { return m_exposureSeconds; }

    void poll() override;
    void propertyChanged(const QString& device, const QString& name, const IndiProperty& property) override;
    void stop() override;

private:
    enum class Phase
    {
        Configuring,
        Exposing
    };
    // Whether the camera has answered the binning and frame sent to it.
    enum class Answer
    {
        Waiting,
        Taken,
        Refused
    };
    Answer answer() const;
    void taken();
    bool exposing() const;
    void startExposure(double seconds, const QString& what);

    StepContext& m_context;
    User* m_user = nullptr;
    Phase m_phase = Phase::Configuring;
    imaging::ImageGeometry m_geometry;
    quint64 m_binningUpdates = 0;
    quint64 m_frameUpdates = 0;
    quint64 m_blobsBefore = 0;
    QDateTime m_exposureStart;
    double m_exposureSeconds = 0;
    QString m_what;
    CommandWatch m_watch;
    std::function<void(std::function<void()>)> m_before;
};

} // namespace kestrove::indi
