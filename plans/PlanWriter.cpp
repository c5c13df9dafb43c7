#include "app/SurveyCore.h"
#include "host/HostError.h"

namespace kestrove {

void SurveyCore::planSNe(const QString&) { throw HostError(QStringLiteral("planSNe"), QString(), QStringLiteral("not built yet")); }
void SurveyCore::planMPS(const QString&) { throw HostError(QStringLiteral("planMPS"), QString(), QStringLiteral("not built yet")); }
void SurveyCore::planSLC(const QString&) { throw HostError(QStringLiteral("planSLC"), QString(), QStringLiteral("not built yet")); }
void SurveyCore::planMPF(const QString&) {}
} // namespace kestrove
