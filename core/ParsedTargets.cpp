#include "core/ParsedTargets.h"

#include <xxhash.h>

namespace kestrove {

LineKey LineKey::of(const QString& line)
{
    // A pass hashes every line of a catalogue; XXH3 is several times faster than qHash.
    return {line.size(), static_cast<size_t>(XXH3_64bits(line.constData(), static_cast<size_t>(line.size()) * 2))};
}

} // namespace kestrove
