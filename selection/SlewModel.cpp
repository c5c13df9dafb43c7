#include "app/SurveyCore.h"
#include "host/HostError.h"

namespace kestrove {

double SurveyCore::Arccos(double) { throw HostError(QStringLiteral("Arccos"), QString(), QStringLiteral("not built yet")); }
double SurveyCore::SlewDistance(double, double, double, double) { throw HostError(QStringLiteral("SlewDistance"), QString(), QStringLiteral("not built yet")); }
float SurveyCore::adjustForPointing(float, float, float, SlewState&) { throw HostError(QStringLiteral("adjustForPointing"), QString(), QStringLiteral("not built yet")); }
} // namespace kestrove
