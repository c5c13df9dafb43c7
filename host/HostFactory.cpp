#include "host/HostFactory.h"

#include "host/FileSystem.h"
#include "host/indi/IndiObservatory.h"
#include "host/sim/SimObservatory.h"
#include "settings/ObservatorySettings.h"
#include "sky/Clock.h"

namespace kestrove {

namespace {

std::unique_ptr<Host> hostFor(const QString& observatoryFolder, const ObservatorySettings& settings)
{
    switch (settings.kind) {
    case HostKind::Sim:
        return std::make_unique<sim::SimObservatory>(observatoryFolder, settings);
    case HostKind::Indi:
        break;
    }
    return std::make_unique<indi::IndiObservatory>(observatoryFolder, settings);
}

// The observatory "observatory.ini" describes, made again whenever the file says something new.
class ObservatoryOfFile : public Host
{
public:
    explicit ObservatoryOfFile(const QString& folder)
        : m_folder(folder), m_settings(readObservatorySettings(folder)), m_host(hostFor(folder, m_settings))
    {
    }

    const QStringList& notes() const { return m_settings.notes; }

    std::unique_ptr<FileSystem> createFileSystem() override { return m_host->createFileSystem(); }
    std::unique_ptr<AcpUtil> createUtil() override { return m_host->createUtil(); }
    std::unique_ptr<AcpTelescope> createTelescope() override { return m_host->createTelescope(); }
    std::unique_ptr<AcpApplication> createApplication() override { return m_host->createApplication(); }
    Clock& clock() override { return m_host->clock(); }
    QString lastPlanOutcome() override { return m_host->lastPlanOutcome(); }
    QString takeRefocusReason() override { return m_host->takeRefocusReason(); }
    QString skyPause() override { return m_host->skyPause(); }
    QStringList takeSkyEvents() override { return m_host->takeSkyEvents(); }
    ObservatoryControl* observatoryControl() override { return m_host->observatoryControl(); }
    QString describe() override { return m_host->describe(); }
    const ObservatorySettings* observatorySettings() const override { return m_host->observatorySettings(); }
    std::optional<bool> weatherSafe() override { return m_host->weatherSafe(); }
    std::optional<DomeView> dome() override { return m_host->dome(); }

    bool reload(QStringList* notes) override
    {
        ObservatorySettings settings = readObservatorySettings(m_folder);
        if (settings == m_settings)
            return false;
        std::unique_ptr<Host> host = hostFor(m_folder, settings);
        // A simulated clock whose settings stayed goes on from where it is, rather than start the
        // night again.
        if (settings.kind == HostKind::Sim && m_settings.kind == HostKind::Sim &&
            settings.clockStart == m_settings.clockStart && settings.clockSpeed == m_settings.clockSpeed)
            static_cast<sim::SimObservatory&>(*host).simClock().setUtc(m_host->clock().utcNow());
        m_host = std::move(host);
        m_settings = std::move(settings);
        if (notes)
            *notes = m_settings.notes;
        return true;
    }

private:
    QString m_folder;
    ObservatorySettings m_settings;
    std::unique_ptr<Host> m_host;
};

} // namespace

std::unique_ptr<Host> createHost(const QString& observatoryFolder, QStringList* notes)
{
    auto host = std::make_unique<ObservatoryOfFile>(observatoryFolder);
    if (notes)
        *notes = host->notes();
    return host;
}

} // namespace kestrove
