#pragma once

#include "imaging/Discovery.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace kestrove {

class IniReader;

// The keys of [discovery], as section/key.
QStringList discoveryKeys();

// The section as a new "observatory.ini" holds it, with its comments.
QStringList discoveryFileLines(const imaging::DiscoverySettings& discovery);

// Reads [discovery]; a value that cannot be taken is a HostError naming the key.
void readDiscovery(IniReader& ini, imaging::DiscoverySettings& discovery);

// Each key's text, as section/key and value.
QList<QPair<QString, QString>> discoveryValues(const imaging::DiscoverySettings& discovery);

} // namespace kestrove
