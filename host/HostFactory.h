#pragma once

#include "host/Observatory.h"

#include <QString>
#include <memory>

namespace kestrove {

// The observatory that "observatory.ini" in the folder names in [host] kind: the simulated one
// (the default), or a real one. The folder and the file are created with defaults when missing.
std::unique_ptr<Host> createHost(const QString& observatoryFolder);

} // namespace kestrove
