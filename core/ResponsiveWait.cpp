#include "core/SurveyCore.h"
#include "sky/Clock.h"
#include "text/ValueText.h"

namespace kestrove {

namespace {
// Waits in progress on this thread. A handler that runs inside a wait and waits itself gets a
// plain sleep: dispatching again from there could nest waits without end.
int g_waitDepth = 0;

struct DepthGuard
{
    DepthGuard() { ++g_waitDepth; }
    ~DepthGuard() { --g_waitDepth; }
};
} // namespace

void SurveyCore::WaitSeconds(int n)
{
    const bool nested = g_waitDepth > 0;
    {
        DepthGuard depth;
        for (int second = 0; second < n; ++second) {
            if (!nested)
                m_view.processEvents();
            m_host.clock().sleepSeconds(1);
        }
    }

    // --until: the run ends as if "Stop Survey" had been pressed once the clock reaches the instant.
    if (m_running && !stopPending() && runLimits.untilUtc.isValid() &&
        m_host.clock().utcNow() >= runLimits.untilUtc)
        stopAtLimit(QStringLiteral("--until %1 reached").arg(utcInstantText(runLimits.untilUtc)));
}

} // namespace kestrove
