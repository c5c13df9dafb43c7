#include "app/SurveyCore.h"
#include "host/HostError.h"

namespace kestrove {

void SurveyCore::startSurvey() { throw HostError(QStringLiteral("startSurvey"), QString(), QStringLiteral("not built yet")); }
void SurveyCore::stopSurvey() { throw HostError(QStringLiteral("stopSurvey"), QString(), QStringLiteral("not built yet")); }
void SurveyCore::stopSurveyAndAcp() { throw HostError(QStringLiteral("stopSurveyAndAcp"), QString(), QStringLiteral("not built yet")); }
} // namespace kestrove
