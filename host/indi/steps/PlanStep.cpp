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

// The survey writes its plans into baseDir/KIND/[target/]night: the kind is the folder so named.
QString StepContext::surveyKind() const
{
    const QStringList dir = QString(plan.dir).replace(u'\\', u'/').split(u'/', Qt::SkipEmptyParts);
    const QStringList kinds{QStringLiteral("SNe"), QStringLiteral("MPS"), QStringLiteral("MPF"),
                            QStringLiteral("SLC")};
    for (qsizetype i = dir.size() - 1; i >= 0; --i)
        if (kinds.contains(dir[i]))
            return dir[i];
    return {};
}

PropertyState StepContext::stateOf(const QString& device, const QString& name) const
{
    const IndiProperty* p = client.property(device, name);
    return p ? p->state : PropertyState::Idle;
}

} // namespace kestrove::indi
