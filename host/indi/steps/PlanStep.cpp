#include "host/indi/steps/PlanStep.h"

#include "host/indi/IndiLink.h"

#include <QDir>

namespace kestrove::indi {

StepContext::StepContext(IndiLink& link, SiteSky& sky, Clock& clock)
    : link(link), client(link.client()), settings(link.settings()), sky(sky), clock(clock)
{
}

QString StepContext::imageFolder() const
{
    QString dir = plan.dir;
    dir.replace(u'\\', u'/');
    if (dir.isEmpty())
        dir = QStringLiteral(".");
    return QDir::cleanPath(QDir(settings.hostPath).absoluteFilePath(dir));
}

PropertyState StepContext::stateOf(const QString& device, const QString& name) const
{
    const IndiProperty* p = client.property(device, name);
    return p ? p->state : PropertyState::Idle;
}

} // namespace kestrove::indi
