#include "app/SurveyCore.h"
#include "host/HostError.h"

namespace kestrove {

void SurveyCore::WaitSeconds(int) { throw HostError(QStringLiteral("WaitSeconds"), QString(), QStringLiteral("not built yet")); }
} // namespace kestrove
