#include "settings/ObservatorySettings.h"

namespace kestrove {

QString policyText(SelectionPolicy policy)
{
    return policy == SelectionPolicy::Balanced ? QStringLiteral("balanced") : QStringLiteral("specified");
}

std::optional<SelectionPolicy> parsePolicy(const QString& text)
{
    const QString policy = text.trimmed().toLower();
    if (policy == QStringLiteral("specified") || policy.isEmpty())
        return SelectionPolicy::Specified;
    if (policy == QStringLiteral("balanced"))
        return SelectionPolicy::Balanced;
    return std::nullopt;
}

} // namespace kestrove
