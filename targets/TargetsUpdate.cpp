#include "app/SurveyCore.h"
#include "host/HostError.h"

namespace kestrove {

void SurveyCore::updateSNe(const QString&) { throw HostError(QStringLiteral("updateSNe"), QString(), QStringLiteral("not built yet")); }
void SurveyCore::updateMPS(const QString&) { throw HostError(QStringLiteral("updateMPS"), QString(), QStringLiteral("not built yet")); }
void SurveyCore::updateSLC(const QString&) { throw HostError(QStringLiteral("updateSLC"), QString(), QStringLiteral("not built yet")); }
void SurveyCore::updateMPF(const QString&) {}
} // namespace kestrove
