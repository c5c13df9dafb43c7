#pragma once

#include "core/SelectionObserver.h"
#include "core/SurveyCore.h"
#include "targets/PendingRecords.h"

#include <QString>

namespace kestrove::selection {

// What parseTarget made of a target line.
struct TargetPosition
{
    TargetPosition() = default;
    TargetPosition(const TargetPosition&) = delete;
    TargetPosition& operator=(const TargetPosition&) = delete;

    // The name is only logged: one kept from an earlier pass is not copied (its text lies cold in
    // memory, one cache miss per target).
    const QString& name() const { return kept ? *kept : parsedName; }

    const QString* kept = nullptr;
    QString parsedName;
    float ra = 0;                // hours
    float dec = 0;               // degrees
    CataloguePlace place;        // of (ra, dec)
    SlewDirection slewDirection; // of (ra, dec)
};

// Reads a targets file top to bottom and calls evaluate(targetLine, configLine) for every entry,
// with the entry's pending records written into its config line. A stop request ends the scan
// before the next line is read. A whole read is noted for the rewrites that follow. While another
// program writes the file, its last complete read is read instead (see TargetsRead).
template <typename Evaluate> void scanTargetsFile(SurveyCore& core, const QString& path, Evaluate&& evaluate);

// Reads the config line of an entry over the presets in `config`, as parseTargetConfig does; an
// entry whose config line and presets are as at the last pass takes what that pass read.
void readTargetConfig(SurveyCore& core, const QString& configLine, TargetConfig& config);
// The own limits of the entry whose config line was read last, or nullptr when its line gives none.
// Asked only of a target that is otherwise observable: most of a catalogue never gets this far.
inline const TargetLimits* ownLimits(const SurveyCore& core)
{
    if (const ParsedEntry* cached = core.parsedEntry)
        return cached->hasLimits ? &cached->limits : nullptr;
    return core.entryLimits.any() ? &core.entryLimits : nullptr;
}

// Parses the target line of an entry; false (after parseTarget's own message) when it cannot be
// read or gives no usable position, so the entry is skipped rather than scored with stale values.
// A target line read cleanly at the last pass is not parsed again (the scan has matched the line
// with its entry).
bool readTargetPosition(SurveyCore& core, const QString& targetLine, TargetPosition& position);

// Points the transform at the target and applies the mount limit, the observation window, the
// horizon limits and, with `avoidMoon` and a limit from the host, the distance from the Moon (for a
// transform of now: the Moon is placed now). A transform that cannot place the target (NaN) counts
// as unobservable. When it rejects, `rule` is the first rule that did (all are still evaluated, in
// their order).
bool isObservable(SurveyCore& core, CoordTransform& transform, const TargetPosition& target, Outcome& rule,
                  bool avoidMoon = true);

// The target's own limits, where its config line gives any: its minAltitude, maxAirmass and window
// of local time, at the elevation it stands at now. When one turns it down, `rule` says which.
bool withinOwnLimits(SurveyCore& core, const TargetLimits& limits, double elevation, Outcome& rule);

// What the balanced policy knows of the night ahead at a pass: the site's latitude (degrees), the
// local sidereal time (hours), and the hours until the Sun reaches the host's limit (none: no limit).
struct NightAhead
{
    double latitude = 0;
    double siderealTime = 0;
    std::optional<double> hoursLeft;
};
NightAhead nightAhead(SurveyCore& core);

// A target's elevation (degrees, no refraction) at an hour angle (hours).
double elevationAtHourAngle(double latitude, double declination, double hourAngle);
// The highest a target stands (degrees, no refraction) from now, at an hour angle, until `hoursLeft`
// hours on; none: until it has crossed the meridian.
double highestElevationAhead(double latitude, double declination, double hourAngle,
                             std::optional<double> hoursLeft);
// How near its highest for the rest of the night a target stands now: its elevation over that
// highest, 0 to 1 (both without refraction).
double nearHighest(const NightAhead& ahead, const TargetPosition& target);
// The balanced policy takes a supernova only this near its highest, so that a galaxy that is rising
// waits for its best hours; one that is setting stands at its highest already.
inline constexpr double nearHighestEnough = 0.9;

// Balanced policy: a target with a negative score is not taken; the log and the observer say so.
void skipNegative(SurveyCore& core, SurveyKind kind, const QString& targetLine);

// Tell the observer, if there is one.
inline void noteRejected(SurveyCore& core, SurveyKind kind, const QString& targetLine, Outcome rule)
{
    if (core.observer)
        core.observer->rejected(kind, targetLine, rule);
}
inline void noteScored(SurveyCore& core, SurveyKind kind, const QString& targetLine, float score)
{
    if (core.observer)
        core.observer->scored(kind, targetLine, score);
}

// "<kind> Target: <name> RA=<ra>, DEC=<dec>"
void logTarget(SurveyCore& core, const QString& kind, const TargetPosition& target);

// "  Score=<score> Elev=<elevation> slewTime=<slewTime>", optionally followed by
// " minsSinceLast=<minutes>".
void logScore(SurveyCore& core, float score, double elevation, float slewTime);
void logScore(SurveyCore& core, float score, double elevation, float slewTime, double minsSinceLast);

// Keeps the target when its score is strictly greater than the best so far; returns whether it did.
bool chooseBest(SurveyCore& core, float score, const QString& targetLine, float& bestScore,
                QString& bestTarget);

// The score floor: nothing at or below it is ever chosen.
inline constexpr float noScore = -10000;

// A score that cannot be computed is no candidate.
float scoreOrNone(float score);

// Minutes since the last image; a target not imaged for more than half a day counts as exactly
// one interval old.
double minutesSinceLast(SurveyCore& core, double lastImageJD, int16_t interval);

template <typename Evaluate> void scanTargetsFile(SurveyCore& core, const QString& path, Evaluate&& evaluate)
{
    TargetsRead read(core, path);
    const auto stream = read.open();
    if (!stream)
        return;
    const ReadingFile reading(core, path);
    // The file is still read whole at every pass; only the parsing of unchanged entries is spared.
    ParsedTargets& parsed = core.parsedTargets[path];
    qsizetype entry = 0;
    QString previous;
    QString current;
    qint64 lineNumber = 0;
    while (!core.stopRequested && !stream->AtEndOfStream()) {
        core.pumpEvents();
        // A stop pressed while events were dispatched ends the scan before the next line.
        if (core.stopRequested)
            break;
        // The line before last gives its buffer to the next line.
        std::swap(previous, current);
        stream->readLineInto(current);
        ++lineNumber;
        // As startsWith("****"), which costs a call per line.
        if (current.size() >= 4 && current[0] == u'*' && current[1] == u'*' && current[2] == u'*' &&
            current[3] == u'*') {
            core.entryPlace.targetLine = lineNumber - 1;
            core.entryPlace.configLine = lineNumber;
            if (entry == parsed.size())
                parsed.append(ParsedEntry{});
            ParsedEntry& cached = parsed[entry++];
            const LineKey key = LineKey::of(previous);
            if (!(cached.targetLine == key)) {
                cached = ParsedEntry();
                cached.targetLine = key;
            }
            core.parsedEntry = &cached;
            evaluate(previous, read.configLine(previous, current));
            core.parsedEntry = nullptr;
        }
    }
    stream->Close();
    if (!core.stopRequested)
        parsed.resize(entry);
    read.finish(lineNumber, !core.stopRequested);
}

} // namespace kestrove::selection
