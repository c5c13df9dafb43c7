#pragma once

#include "host/indi/steps/PlanStep.h"

namespace kestrove::indi {

// Turns the filter wheel to the slot named as the plan's filter; a plan without a filter leaves
// the wheel where it is.
class FilterStep : public PlanStep
{
public:
    explicit FilterStep(StepContext& context) : m_context(context) {}

    void start();

    void propertyChanged(const QString& device, const QString& name, const IndiProperty& property) override;
    void stop() override;

private:
    void reached();

    StepContext& m_context;
    int m_slot = 0;
    CommandWatch m_watch;
};

} // namespace kestrove::indi
