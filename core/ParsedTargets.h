#pragma once

#include "core/TargetConfig.h"
#include "host/Observatory.h"

#include <QList>
#include <QString>

#include <array>

namespace kestrove {

// The unit vector of a place as the slew model takes it.
using SlewDirection = std::array<double, 3>;

// A line told apart from another by its length and a 64-bit hash of its text: keeping the lines
// themselves would double a long catalogue's memory.
struct LineKey
{
    qsizetype size = -1;
    size_t hash = 0;

    static LineKey of(const QString& line);
    bool operator==(const LineKey& other) const = default;
};

// What the last pass made of one entry of a targets file. A pass reuses it only when the entry's
// lines are the same text as then (and the config line's presets the same), so an edit is seen at
// the next pass whatever it does to the file's size and modification time.
struct ParsedEntry
{
    LineKey targetLine;
    // The flags and the target's own limits share what would be padding: an entry of 256 bytes is
    // found by a shift.
    bool positionRead = false;
    bool configRead = false;
    bool hasLimits = false; // the config line gives limits of the target's own
    TargetLimits limits;
    QString name;
    float ra = 0;
    float dec = 0;
    CataloguePlace place;
    SlewDirection slewDirection;

    LineKey configLine;
    TargetConfig presets;
    TargetConfig config;
};

// The entries of one targets file in file order, as the last pass parsed them.
using ParsedTargets = QList<ParsedEntry>;

} // namespace kestrove
