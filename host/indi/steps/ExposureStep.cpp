#include "host/indi/PlanExecutor.h"

namespace kestrove::indi {

void PlanExecutor::startCamera()
{
    if (m_plan.count <= 0) {
        finish();
        return;
    }
    configureCamera(m_plan.binning, m_plan.subframe, Purpose::Plan);
}

} // namespace kestrove::indi
