#pragma once

#include "host/Observatory.h"
#include "sky/Clock.h"

#include <QDateTime>
#include <QStringList>

namespace kestrove::test {

// A clock that stands still until a test moves it.
class FixedClock : public Clock
{
public:
    explicit FixedClock(const QDateTime& utc) : m_utc(utc) {}
    QDateTime utcNow() const override { return m_utc; }
    QDateTime localNow() const override;
    void sleepSeconds(int n) override { m_utc = m_utc.addSecs(n); }

private:
    QDateTime m_utc;
};

// A host whose objects report an idle observatory and do nothing else: enough for the window's
// load, unload and settings. Files are real files on the local disk.
class FakeHost : public Host
{
public:
    FakeHost();
    std::unique_ptr<FileSystem> createFileSystem() override;
    std::unique_ptr<AcpUtil> createUtil() override;
    std::unique_ptr<AcpTelescope> createTelescope() override;
    std::unique_ptr<AcpApplication> createApplication() override;
    Clock& clock() override { return m_clock; }
    std::optional<DomeView> dome() override { return domeView; }

    // What the host was asked to create, in order ("FileSystem", "Util", "Telescope", "Application").
    QStringList created;
    std::optional<DomeView> domeView; // none: no dome

private:
    FixedClock m_clock;
};

} // namespace kestrove::test
