#pragma once

#include "core/TargetConfig.h"

#include <QList>
#include <QString>

namespace kestrove {

// What the last pass made of one entry of a targets file. A pass reuses it only when the entry's
// lines are the same text as then (and the config line's presets the same), so an edit is seen at
// the next pass whatever it does to the file's size and modification time.
struct ParsedEntry
{
    QString targetLine;
    bool positionRead = false;
    QString name;
    float ra = 0;
    float dec = 0;

    QString configLine;
    bool configRead = false;
    TargetConfig presets;
    TargetConfig config;
};

// The entries of one targets file in file order, as the last pass parsed them.
using ParsedTargets = QList<ParsedEntry>;

} // namespace kestrove
