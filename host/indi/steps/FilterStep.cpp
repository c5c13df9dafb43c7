#include "host/indi/steps/FilterStep.h"

#include <QLoggingCategory>

#include <cmath>

Q_DECLARE_LOGGING_CATEGORY(lcIndi)

namespace kestrove::indi {

namespace {

// Drivers answer a property change within a few seconds; a filter wheel turns within two minutes.
constexpr double kFilterLimitSeconds = 120;

} // namespace

void FilterStep::start()
{
    const AcquisitionPlan& plan = m_context.plan;
    if (plan.filter.isEmpty()) {
        m_context.stepDone();
        return;
    }
    IndiClient& client = m_context.client;
    const QString& wheel = m_context.settings.indi.filterWheel;
    QStringList names;
    if (const IndiProperty* p = client.property(wheel, QStringLiteral("FILTER_NAME")))
        for (const IndiElement& e : p->elements)
            names << e.text;
    const auto slot = filterSlot(names, plan.filter);
    if (!slot) {
        m_context.fail(
            QStringLiteral("filter \"%1\" is not in the wheel (%2)").arg(plan.filter, names.join(u',')));
        return;
    }
    m_slot = *slot;
    const IndiProperty* current = client.property(wheel, QStringLiteral("FILTER_SLOT"));
    if (current && std::lround(current->number(QStringLiteral("FILTER_SLOT_VALUE")).value_or(-1)) == *slot &&
        current->state != PropertyState::Busy) {
        reached();
        return;
    }
    client.sendNumbers(wheel, QStringLiteral("FILTER_SLOT"),
                       {{QStringLiteral("FILTER_SLOT_VALUE"), static_cast<double>(*slot)}});
    m_watch.sent(current ? current->state : PropertyState::Idle);
    m_context.waitOn(*this, kFilterLimitSeconds, QStringLiteral("the filter wheel did not stop"));
}

void FilterStep::propertyChanged(const QString& device, const QString& name, const IndiProperty& property)
{
    if (device != m_context.settings.indi.filterWheel || name != QStringLiteral("FILTER_SLOT"))
        return;
    const auto result = m_watch.update(property.state);
    if (result == CommandWatch::Result::Failed) {
        m_context.fail(QStringLiteral("filter change failed: the wheel reported Alert"));
    } else if (result == CommandWatch::Result::Done) {
        if (std::lround(property.number(QStringLiteral("FILTER_SLOT_VALUE")).value_or(-1)) != m_slot) {
            m_context.fail(QStringLiteral("the filter wheel stopped at another slot than %1").arg(m_slot));
            return;
        }
        reached();
    }
}

void FilterStep::reached()
{
    m_context.log({QStringLiteral("filter"), m_context.plan.target, m_context.plan.filter,
                   QStringLiteral("slot %1").arg(m_slot)});
    m_context.stepDone();
}

void FilterStep::stop()
{
    if (m_context.waitingOn(*this) && m_context.client.serverConnected())
        qCDebug(lcIndi) << "plan ended while the filter wheel turns";
}

} // namespace kestrove::indi
