#pragma once

#include "core/SurveyView.h"

#include <QElapsedTimer>
#include <QString>
#include <cstdio>
#include <ctime>
#include <functional>
#include <sys/resource.h>

namespace kestrove::bench {

// A view that shows nothing but messages (on standard error) and enables every kind when asked to.
class QuietView : public SurveyView
{
public:
    explicit QuietView(bool allKinds = false) : m_allKinds(allKinds) {}
    void showStatus(const QString&) override {}
    void showMessage(const QString& text) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    bool isKindChecked(SurveyKind) override { return m_allKinds; }
    QString weightText(SurveyKind) override { return QStringLiteral("100"); }
    void processEvents() override {}
    void showRunning(bool) override {}

private:
    bool m_allKinds;
};

inline double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Wall-clock and processor milliseconds of one run.
struct Timing
{
    double wall = 1e300;
    double cpu = 0;
};

// The fastest of several runs by wall clock; `prepare` runs untimed before each.
inline Timing bestOf(int runs, const std::function<void()>& prepare, const std::function<void()>& work)
{
    Timing best;
    for (int i = 0; i < runs; ++i) {
        prepare();
        QElapsedTimer timer;
        const double cpuStart = cpuMs();
        timer.start();
        work();
        const double wall = timer.nsecsElapsed() / 1e6;
        if (wall < best.wall)
            best = {wall, cpuMs() - cpuStart};
    }
    return best;
}

// The peak resident memory of the process so far, KiB.
inline long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace kestrove::bench
