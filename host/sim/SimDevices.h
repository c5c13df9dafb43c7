#pragma once

#include "host/ObservatoryControl.h"

#include <QtGlobal>

#include <optional>

namespace kestrove::sim {

class SimState;

// The simulated roof and mount park, and sky flats at twilight ([calibration] skyFlats): the
// mount turns to the flat field and the flats take the time one set would: each motion takes the seconds that
// [roof] and [mount] parkSeconds give it in the observatory's clock, so that a virtual night spends them too.
class SimDevices : public ObservatoryDevices
{
public:
    explicit SimDevices(SimState& state) : m_state(state) {}

    bool has(Motion motion) const override;
    QString deviceText(Motion motion) const override;
    void command(Motion motion) override;
    MotionProgress progress(Motion motion) override;
    void stopImaging(const QString& why) override;
    bool weatherSafe() override;
    void log(const QStringList& fields) override;
    // The simulated camera has no frames to take flats for: one set is due each twilight.
    bool skyFlatsWanted() override { return true; }

    bool roofOpen() const { return m_roofOpen; }
    bool mountParked() const { return m_mountParked; }

private:
    struct Move
    {
        Motion motion;
        qint64 endMs;
    };
    qint64 nowMs() const;
    // Finishes the moves that are due.
    void settle();

    SimState& m_state;
    bool m_roofOpen = false;
    bool m_mountParked = false;
    std::optional<Move> m_roofMove;
    std::optional<Move> m_mountMove;
    std::optional<qint64> m_flatsEndMs; // the simulated sky flats under way
};

} // namespace kestrove::sim
