// The plan reader on any plan: it reads a plan with one finite target, or refuses it with a
// HostError that names the plan.
#include "FuzzSupport.h"
#include "host/PlanReader.h"

#include <cmath>

using namespace kestrove;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString planPath = QStringLiteral("/plans/surveyplan.txt");
    const QStringList lines = QString::fromLatin1(fuzz::bytesOf(data, size)).split(QLatin1Char('\n'));
    try {
        const AcquisitionPlan plan = parsePlan(planPath, lines);
        FUZZ_CHECK(!plan.target.isEmpty(), "a plan without a target");
        FUZZ_CHECK(std::isfinite(plan.rightAscension) && std::isfinite(plan.declination), "a NaN target");
        FUZZ_CHECK(plan.count >= 0 && plan.binning >= 1 && plan.interval >= 0, "a value out of range");
    } catch (const HostError& e) {
        FUZZ_CHECK(e.message().contains(planPath), "an error that does not name the plan");
    }
    return 0;
}
