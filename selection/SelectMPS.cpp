#include "app/SurveyCore.h"
#include "host/HostError.h"

namespace kestrove {

bool SurveyCore::selectMPS(float&, QString&) { throw HostError(QStringLiteral("selectMPS"), QString(), QStringLiteral("not built yet")); }
} // namespace kestrove
