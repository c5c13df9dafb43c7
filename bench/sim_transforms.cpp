// How long the simulated observatory takes per coordinate transform: one pass of the selection
// computes about 100,000 of them at one instant.
#include "host/sim/SimObservatory.h"

#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <memory>

int main()
{
    using namespace kestrove;
    QTemporaryDir dir;
    ObservatorySettings settings = observatoryDefaults(dir.path());
    settings.clockStart = QStringLiteral("2026-12-07T22:00:00Z");
    settings.clockSpeed = 0;
    sim::SimObservatory observatory(dir.path(), settings);
    auto util = observatory.createUtil();
    auto telescope = observatory.createTelescope();

    constexpr int count = 100000;
    double sum = 0;
    const auto start = std::chrono::steady_clock::now();
    auto here = util->NewCTHereAndNow();
    for (int i = 0; i < count; ++i) {
        here->setRightAscension((i % 2400) / 100.0);
        here->setDeclination((i % 1700) / 10.0 - 85);
        sum += here->Elevation() + here->Azimuth();
    }
    const auto middle = std::chrono::steady_clock::now();
    auto fixed = util->NewCT(telescope->SiteLatitude(), telescope->SiderealTime());
    for (int i = 0; i < count; ++i) {
        fixed->setRightAscension((i % 2400) / 100.0);
        fixed->setDeclination((i % 1700) / 10.0 - 85);
        sum += fixed->Elevation() + fixed->Azimuth();
    }
    const auto end = std::chrono::steady_clock::now();
    // New transforms at one instant must reuse the instant's context.
    for (int i = 0; i < 1000; ++i)
        sum += util->NewCTHereAndNow()->Elevation();
    const auto last = std::chrono::steady_clock::now();

    // On a running clock every call sees a new instant: the pier-side test is asked per target.
    ObservatorySettings running = settings;
    running.clockSpeed = 1;
    QTemporaryDir realDir;
    sim::SimObservatory realTime(realDir.path(), running);
    auto realUtil = realTime.createUtil();
    const auto gemStart = std::chrono::steady_clock::now();
    int west = 0;
    for (int i = 0; i < count; ++i)
        west += realUtil->IsGEMDestinationWest((i % 2400) / 100.0) ? 1 : 0;
    const auto gemEnd = std::chrono::steady_clock::now();

    const auto us = [](auto d) { return std::chrono::duration<double, std::micro>(d).count(); };
    std::printf("NewCTHereAndNow: %.2f us per transform (%d transforms)\n", us(middle - start) / count,
                count);
    std::printf("NewCT:           %.2f us per transform (%d transforms)\n", us(end - middle) / count, count);
    std::printf("new transform:   %.2f us each (1000 created at one instant)\n", us(last - end) / 1000);
    std::printf("IsGEMDestinationWest, real time: %.2f us per call\n", us(gemEnd - gemStart) / count);
    std::printf("(checksum %.3f %d)\n", sum, west);
    return 0;
}
