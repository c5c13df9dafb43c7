#include "app/SurveyCore.h"
#include "host/HostError.h"

namespace kestrove {

bool SurveyCore::selectSNe(float&, QString&) { throw HostError(QStringLiteral("selectSNe"), QString(), QStringLiteral("not built yet")); }
} // namespace kestrove
