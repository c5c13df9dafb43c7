#include "host/sim/SimObservatory.h"

#include "host/FileSystem.h"
#include "host/HostError.h"

namespace kestrove::sim {

class SimState
{
};

SimClock::SimClock(const QDateTime& startUtc, double speed, const QTimeZone& zone)
    : m_startUtc(startUtc), m_speed(speed), m_zone(zone)
{
}
QDateTime SimClock::utcNow() const { return m_startUtc; }
QDateTime SimClock::localNow() const { return m_startUtc.toTimeZone(m_zone); }
void SimClock::sleepSeconds(int) {}
void SimClock::setUtc(const QDateTime& utc) { m_startUtc = utc; }
void SimClock::advanceSeconds(double) {}

SimObservatory::SimObservatory(const QString&) { throw HostError(QStringLiteral("SimObservatory"), QString(), QStringLiteral("not built yet")); }
SimObservatory::SimObservatory(const QString&, const SimSettings&) { throw HostError(QStringLiteral("SimObservatory"), QString(), QStringLiteral("not built yet")); }
SimObservatory::~SimObservatory() = default;
SimSettings SimObservatory::defaults(const QString&) { return {}; }
std::unique_ptr<FileSystem> SimObservatory::createFileSystem() { return nullptr; }
std::unique_ptr<AcpUtil> SimObservatory::createUtil() { return nullptr; }
std::unique_ptr<AcpTelescope> SimObservatory::createTelescope() { return nullptr; }
std::unique_ptr<AcpApplication> SimObservatory::createApplication() { return nullptr; }
Clock& SimObservatory::clock() { throw HostError(QStringLiteral("clock"), QString(), QStringLiteral("not built yet")); }
SimClock& SimObservatory::simClock() { throw HostError(QStringLiteral("simClock"), QString(), QStringLiteral("not built yet")); }
const SimSettings& SimObservatory::settings() const { throw HostError(QStringLiteral("settings"), QString(), QStringLiteral("not built yet")); }
QString SimObservatory::folder() const { return {}; }
void SimObservatory::pointMount(double, double) {}
QString SimObservatory::acquisitionLogPath() const { return {}; }

} // namespace kestrove::sim
