#include "app/SurveyCore.h"
#include "host/HostError.h"

namespace kestrove {

bool SurveyCore::parseTarget(const QString&, QString&, float&, float&) { throw HostError(QStringLiteral("parseTarget"), QString(), QStringLiteral("not built yet")); }
bool SurveyCore::extractName(const QString&, QString&) { throw HostError(QStringLiteral("extractName"), QString(), QStringLiteral("not built yet")); }
void SurveyCore::parseTargetConfig(const QString&, TargetConfig&) { throw HostError(QStringLiteral("parseTargetConfig"), QString(), QStringLiteral("not built yet")); }
} // namespace kestrove
