#pragma once

#include "host/Observatory.h"
#include "settings/ObservatorySettings.h"

#include <QString>
#include <memory>

namespace kestrove::indi {

class IndiState;

// A real observatory: the devices of an INDI server ([indi] in "observatory.ini"), with the site,
// limits, horizon, settle time and folders of the shared sections, a clock at the real time in the
// site's zone, and a plan executor as its acquisition script. Every frame is graded and recorded
// in "observations.sqlite" in the log folder; frames without stars pause imaging ([grading]).
class IndiObservatory : public Host
{
public:
    // Connects to the server and waits (responsively, up to [indi] connectTimeout) until the
    // mount and every configured device are connected and the mount reports its position; throws
    // HostError naming the server's address, or the device that is missing, when they are not.
    IndiObservatory(const QString& folder, const ObservatorySettings& settings);
    ~IndiObservatory() override;

    std::unique_ptr<FileSystem> createFileSystem() override;
    std::unique_ptr<AcpUtil> createUtil() override;
    std::unique_ptr<AcpTelescope> createTelescope() override;
    std::unique_ptr<AcpApplication> createApplication() override;
    Clock& clock() override;

    // completed / rejected and why / failed and why / aborted and why, for the last plan; empty
    // before the first.
    QString lastPlanOutcome() override;
    QString takeRefocusReason() override;
    QString skyPause() override;
    QStringList takeSkyEvents() override;
    ObservatoryControl* observatoryControl() override;
    QString describe() override;
    const ObservatorySettings* observatorySettings() const override;
    std::optional<bool> weatherSafe() override;
    std::optional<DomeView> dome() override;
    QString acquisitionLogPath() const;
    const ObservatorySettings& settings() const;

private:
    // Shared with the automation objects, which may outlive this object.
    std::shared_ptr<IndiState> m_state;
};

} // namespace kestrove::indi
