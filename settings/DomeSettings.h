#pragma once

#include "sky/DomeGeometry.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace kestrove {

class IniReader;

// Who keeps the slit in front of the telescope: Kestrove, from [dome]'s geometry, or the dome
// driver's own slaving (INDI's DOME_AUTOSYNC), given the same geometry.
enum class DomeSlaving
{
    Kestrove,
    Driver
};

// [dome]: the dome that [indi] dome names, its geometry and how it follows the telescope.
struct DomeSettings
{
    double radius = 1.5;         // metres
    double mountOffsetNorth = 0; // metres from the dome's centre to where the mount's axes cross
    double mountOffsetEast = 0;
    double mountOffsetUp = 0;
    double declinationAxis = 0; // metres from the polar axis to the optical axis
    double tolerance = 3;       // degrees the dome may stand from the slit's azimuth
    double rotationRate = 5;    // degrees per second
    DomeSlaving slaving = DomeSlaving::Kestrove;

    DomeLayout layout() const
    {
        return {radius, mountOffsetNorth, mountOffsetEast, mountOffsetUp, declinationAxis};
    }

    bool operator==(const DomeSettings&) const = default;
};

// The keys of [dome], as section/key.
QStringList domeKeys();

// The section as a new "observatory.ini" holds it, with its comments.
QStringList domeFileLines(const DomeSettings& dome);

// Reads [dome]; a value that cannot be taken, or a mount that would stand outside its dome, is a
// HostError naming the key.
void readDome(IniReader& ini, DomeSettings& dome);

// Each key's text, as section/key and value.
QList<QPair<QString, QString>> domeValues(const DomeSettings& dome);

} // namespace kestrove
