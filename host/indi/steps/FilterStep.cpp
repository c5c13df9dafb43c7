#include "host/indi/PlanExecutor.h"

#include <cmath>

namespace kestrove::indi {

namespace {

// Drivers answer a property change within a few seconds; a filter wheel turns within two minutes.
constexpr double kFilterLimitSeconds = 120;

} // namespace

void PlanExecutor::startFilter()
{
    if (m_plan.filter.isEmpty()) {
        startFocus();
        return;
    }
    const QString& wheel = m_settings.indi.filterWheel;
    QStringList names;
    if (const IndiProperty* p = m_client.property(wheel, QStringLiteral("FILTER_NAME")))
        for (const IndiElement& e : p->elements)
            names << e.text;
    const auto slot = filterSlot(names, m_plan.filter);
    if (!slot) {
        fail(QStringLiteral("filter \"%1\" is not in the wheel (%2)").arg(m_plan.filter, names.join(u',')));
        return;
    }
    m_filterSlot = *slot;
    const IndiProperty* current = m_client.property(wheel, QStringLiteral("FILTER_SLOT"));
    if (current && std::lround(current->number(QStringLiteral("FILTER_SLOT_VALUE")).value_or(-1)) == *slot &&
        current->state != PropertyState::Busy) {
        log({QStringLiteral("filter"), m_plan.target, m_plan.filter, QStringLiteral("slot %1").arg(*slot)});
        startFocus();
        return;
    }
    m_client.sendNumbers(wheel, QStringLiteral("FILTER_SLOT"),
                         {{QStringLiteral("FILTER_SLOT_VALUE"), static_cast<double>(*slot)}});
    m_watch.sent(current ? current->state : PropertyState::Idle);
    enter(Step::Filter, kFilterLimitSeconds, QStringLiteral("the filter wheel did not stop"));
}

} // namespace kestrove::indi
