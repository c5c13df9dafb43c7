#include "host/sim/AcquisitionRunner.h"

#include "host/HostError.h"
#include "host/sim/SimState.h"

#include <QFileInfo>

namespace kestrove::sim {

AcquisitionRunner::AcquisitionRunner(SimState& state) : m_state(state) {}

void AcquisitionRunner::load(const QString& path)
{
    if (!QFileInfo(path).isFile())
        throw HostError(QStringLiteral("LoadScript"), path, QStringLiteral("script file not found"));
    m_loaded = path;
}

void AcquisitionRunner::run()
{
    throw HostError(QStringLiteral("RunScript"), m_loaded, QStringLiteral("not built yet"));
}

void AcquisitionRunner::abort() {}

void AcquisitionRunner::catchUp(const QDateTime&) {}

QString AcquisitionRunner::logPath() const
{
    return m_state.settings.logDir + QStringLiteral("/AcquireImages.log");
}

} // namespace kestrove::sim
