#pragma once

#include "host/HandOver.h"
#include "host/PlanReader.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <random>

namespace kestrove::sim {

class SimState;

// The simulated acquisition script: runs the plan named in "runplanonce.txt" in the clock's time.
// Its progress is worked out lazily: catchUp() carries out everything that is due by an instant, so
// the script behaves the same whether the clock runs in real or in virtual time.
class AcquisitionRunner
{
public:
    explicit AcquisitionRunner(SimState& state);

    // Fails for a path that is not an existing file. A chain script still pending is dropped: its
    // marker would be taken for the plan of the new script.
    void load(const QString& path);
    // Starts the loaded script and returns at once. A plan it cannot read ends it at once, with the
    // error in the acquisition log.
    void run();
    // Ends a running script at once; its chain script never runs. `outcome` says why, for the
    // acquisition log and the plan's history ("aborted, weather unsafe"); empty: AbortScript.
    void abort(const QString& outcome = {});
    bool active() const { return m_active; }
    // How the last run ended ("completed", "failed (simulated fault)" ...), "running", or empty
    // before the first run.
    const QString& outcome() const { return m_outcome; }
    void catchUp(const QDateTime& now);
    // "AcquireImages.log" in the host's log folder.
    QString logPath() const;

private:
    void start(qint64 now);
    void endScript(qint64 at, const QString& event, const QString& detail);
    void runChainScript(qint64 at);
    void dropChainScript(qint64 at, const QString& why);
    // Appends a line; a log that cannot be written must not stop the simulation.
    void log(qint64 at, const QStringList& fields) noexcept;
    qint64 exposureEnd(int image) const;

    SimState& m_state;
    std::mt19937 m_random;
    QString m_loaded;
    bool m_active = false;

    AcquisitionPlan m_plan;
    qint64 m_slewEnd = 0;
    qint64 m_exposuresStart = 0;
    qint64 m_end = 0;
    std::optional<qint64> m_cutoff; // when the plan is cut short, if it is
    QString m_cutoffReason;
    bool m_mountMoved = false;
    int m_nextImage = 0;
    std::optional<qint64> m_chainAt;
    QString m_chainPath;
    // The "runplanonce.txt" the running or ended plan was started from; its chain script runs only
    // while this is still in place.
    std::optional<HandOver> m_handOver;
    QString m_outcome;
};

} // namespace kestrove::sim
