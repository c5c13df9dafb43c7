#pragma once

#include "host/Observatory.h"

#include <QString>
#include <QStringList>
#include <memory>

namespace kestrove {

// The observatory that "observatory.ini" in the folder names in [host] kind: the simulated one
// (the default), or a real one. The folder and the file are created with defaults when missing.
// Host::reload reads the file again and, when it changed, makes the observatory it now describes.
// `notes`, when given, receives what the file holds that was not used (ObservatorySettings::notes),
// for the caller to show at start.
std::unique_ptr<Host> createHost(const QString& observatoryFolder, QStringList* notes = nullptr);

} // namespace kestrove
