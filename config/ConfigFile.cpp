#include "app/SurveyCore.h"
#include "host/HostError.h"

namespace kestrove {

QString SurveySettings::defaultBaseDir() { return QStringLiteral("/Astronomy/Kestrove/"); }
void SurveyCore::LoadConfig() { throw HostError(QStringLiteral("LoadConfig"), QString(), QStringLiteral("not built yet")); }
void SurveyCore::SaveConfig() { throw HostError(QStringLiteral("SaveConfig"), QString(), QStringLiteral("not built yet")); }
} // namespace kestrove
