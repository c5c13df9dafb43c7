#pragma once

#include "core/SurveyView.h"

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <optional>

namespace kestrove {

// What became of one target in one pass: chosen for the plan, or the first rule that turned it
// down. Every target the selection reads gets exactly one outcome per pass.
enum class Outcome : uint8_t
{
    Chosen,
    MountLimit,
    ObservationWindow,
    MinimumElevation, // the host's minimum elevation + 1
    Horizon,          // the host's horizon at the azimuth + 5
    Moon,             // closer to the Moon than the host's limit while the Moon is up
    TransitElevation, // SLC: below the set fraction of its transit elevation
    ImagedWithin12h,  // SNe
    SetComplete,      // MPS
    NotDue,           // MPS: the next image of its set is not due yet; balanced SLC: before its interval
    NoPosition,       // the target line or the transform gives no usable position
    SunLimit,         // chosen, but its plan would end after the Sun reaches the host's limit
    BelowMinAltitude, // below the target's own minAltitude
    AboveMaxAirmass,  // above the target's own maxAirmass
    OutsideWindow,    // outside the target's own window of local time
    NegativeScore,    // balanced policy: a negative score is never taken
    ShareUsed,        // balanced policy: its kind's best, held back while its kind is over its share
    LowerScore,       // scored, and something scored higher
};
inline constexpr int outcomeCount = static_cast<int>(Outcome::LowerScore) + 1;

// Watches the selection at work: why each target was turned down, what each kind offered and
// what the pass chose. Called on the survey's thread; the survey core holds at most one, and none
// by default, so an unwatched pass costs a test of a pointer per target.
class SelectionObserver
{
public:
    virtual ~SelectionObserver() = default;

    // A pass begins selecting, at this instant of the host's clock.
    virtual void passStarted(const QDateTime& utc) {}
    // A target turned down by a rule, before it was scored.
    virtual void rejected(SurveyKind kind, const QString& targetLine, Outcome rule) {}
    // A target scored (and compared with the kind's best so far).
    virtual void scored(SurveyKind kind, const QString& targetLine, float score) {}
    // The best a kind offered this pass, raw and multiplied by the kind's weight.
    virtual void kindBest(SurveyKind kind, const QString& targetLine, float score, float weightedScore) {}
    // The pass's choice; `found` is false when no target was viable (or the pass was stopped).
    virtual void passChosen(bool found, SurveyKind kind, const QString& targetLine, float weightedScore) {}
    // Balanced policy: the best of a kind that has had its share of the night, held back this pass.
    virtual void shareUsed(SurveyKind kind, const QString& targetLine) {}
    // A plan handed over has ended (completed or not) after this many seconds.
    virtual void planEnded(SurveyKind kind, double seconds) {}
    // The pass's choice was not handed over after all: its plan would end after the Sun reaches the
    // host's limit, so the pass counts as having found nothing.
    virtual void planRefused(SurveyKind kind, const QString& targetLine) {}
    // The pass's plan was handed to the observatory at this instant, expected to run this long
    // (seconds; none when its length could not be told).
    virtual void planHandedOver(SurveyKind kind, const QString& targetLine, const QDateTime& startUtc,
                                std::optional<double> expectedSeconds)
    {
    }
};

} // namespace kestrove
