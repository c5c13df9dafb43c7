#include "core/PlanLength.h"

#include <algorithm>

namespace kestrove {

double expectedPlanSeconds(const AcquisitionPlan& plan, double slewSeconds, AcpPrefs& prefs)
{
    const double focus = plan.autofocus ? prefs.autofocusSeconds() : 0;
    const double images = plan.count * (plan.interval + prefs.downloadSeconds());
    return focus + slewSeconds + prefs.pointingSeconds() + images;
}

QString stoppingStatus(const QString& target, const QDateTime& expectedEnd, const QDateTime& utcNow)
{
    QString text = QStringLiteral("Survey stopping: waiting for %1 to end").arg(target);
    const qint64 left = expectedEnd.isValid() ? utcNow.secsTo(expectedEnd) : 0;
    if (left > 0)
        text += QStringLiteral(", about %1 min left").arg(std::max<qint64>(1, (left + 30) / 60));
    return text;
}

} // namespace kestrove
