#pragma once

#include <QDateTime>
#include <QString>

namespace kestrove::sim {

class SimState;

// The simulated acquisition script: runs the plan named in "runplanonce.txt" in the clock's time.
// Its progress is worked out lazily: catchUp() carries out everything that is due by an instant.
class AcquisitionRunner
{
public:
    explicit AcquisitionRunner(SimState& state);

    void load(const QString& path);
    void run();
    void abort();
    bool active() const { return m_active; }
    void catchUp(const QDateTime& now);
    QString logPath() const;

private:
    SimState& m_state;
    QString m_loaded;
    bool m_active = false;
};

} // namespace kestrove::sim
