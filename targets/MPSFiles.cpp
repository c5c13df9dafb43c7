#include "app/SurveyCore.h"
#include "host/HostError.h"

namespace kestrove {

int16_t SurveyCore::createMPSFiles() { throw HostError(QStringLiteral("createMPSFiles"), QString(), QStringLiteral("not built yet")); }
} // namespace kestrove
