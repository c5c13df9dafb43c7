#include "app/SurveyCore.h"
#include "host/HostError.h"

namespace kestrove {

bool SurveyCore::selectSLC(float&, QString&) { throw HostError(QStringLiteral("selectSLC"), QString(), QStringLiteral("not built yet")); }
bool SurveyCore::selectMPF(float&, QString&) { return false; }
} // namespace kestrove
