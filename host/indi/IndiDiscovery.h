#pragma once

#include "host/indi/IndiMapping.h"

#include <QMap>
#include <QStringList>
#include <optional>

namespace kestrove::indi {

// The devices of an INDI server by the "observatory.ini" [indi] key of their kind (section/key),
// from the interfaces each reports in DRIVER_INFO; nothing when the server does not answer within
// `timeoutSeconds`. Waits in responsive one-second steps until the devices stop arriving.
std::optional<QMap<QString, QStringList>> discoverDevices(const ServerAddress& address,
                                                          double timeoutSeconds);

} // namespace kestrove::indi
