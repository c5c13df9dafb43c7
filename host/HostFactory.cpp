#include "host/HostFactory.h"

#include "host/ObservatorySettings.h"
#include "host/indi/IndiObservatory.h"
#include "host/sim/SimObservatory.h"

namespace kestrove {

std::unique_ptr<Host> createHost(const QString& observatoryFolder, QStringList* notes)
{
    const ObservatorySettings settings = readObservatorySettings(observatoryFolder);
    if (notes)
        *notes = settings.notes;
    switch (settings.kind) {
    case HostKind::Sim:
        return std::make_unique<sim::SimObservatory>(observatoryFolder, settings);
    case HostKind::Indi:
        break;
    }
    return std::make_unique<indi::IndiObservatory>(observatoryFolder, settings);
}

} // namespace kestrove
