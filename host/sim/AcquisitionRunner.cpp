#include "host/sim/AcquisitionRunner.h"

#include "host/AcquisitionLog.h"
#include "host/ChainScript.h"
#include "host/SkyUtil.h"
#include "host/sim/SimState.h"
#include "text/HostError.h"
#include "text/HostText.h"
#include "text/NumberText.h"
#include "text/ValueText.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimeZone>

#include <cmath>
#include <limits>

namespace kestrove::sim {

namespace {

qint64 toMs(double seconds)
{
    return std::llround(seconds * 1000.0);
}

} // namespace

AcquisitionRunner::AcquisitionRunner(SimState& state) : m_state(state), m_random(state.settings.failureSeed)
{
}

void AcquisitionRunner::load(const QString& path)
{
    if (!QFileInfo(path).isFile())
        throw HostError(QStringLiteral("LoadScript"), path, QStringLiteral("script file not found"));
    if (m_chainAt)
        dropChainScript(m_state.clock.utcNow().toMSecsSinceEpoch(),
                        QStringLiteral("a new script was loaded"));
    m_loaded = path;
}

void AcquisitionRunner::run()
{
    if (m_loaded.isEmpty())
        throw HostError(QStringLiteral("RunScript"), QString(), QStringLiteral("no script loaded"));
    if (m_active)
        throw HostError(QStringLiteral("RunScript"), m_loaded, QStringLiteral("a script is already running"));
    start(m_state.clock.utcNow().toMSecsSinceEpoch());
}

void AcquisitionRunner::start(qint64 now)
{
    if (m_chainAt)
        dropChainScript(now, QStringLiteral("a new script started"));
    m_handOver.reset();
    QString planPath;
    try {
        m_handOver = HandOver::take(m_state.settings.planDir + QStringLiteral("/runplanonce.txt"));
        m_plan = readHandedOverPlan(*m_handOver, planPath);
    } catch (const HostError& e) {
        m_handOver.reset();
        log(now, {QStringLiteral("error"), e.message()});
        m_outcome = QStringLiteral("failed, plan not readable: ") + e.message();
        return;
    }

    const ObservatorySettings& s = m_state.settings;
    qint64 t = now;
    if (m_plan.autofocus)
        t += toMs(s.autofocusSeconds);
    const double distance = separation(m_state.mountRightAscension, m_state.mountDeclination,
                                       m_plan.rightAscension, m_plan.declination);
    m_slewEnd = t + toMs(distance / s.slewRate);
    m_exposuresStart = m_slewEnd + toMs(s.settleTime) + toMs(s.pointingSeconds);
    m_end = m_exposuresStart + static_cast<qint64>(m_plan.count) * toMs(m_plan.interval + s.downloadSeconds);
    m_mountMoved = false;
    m_nextImage = 0;
    m_cutoff.reset();

    // Draw on every run, so that a seed gives the same sequence of outcomes whatever the rate.
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const double draw = uniform(m_random);
    const double moment = uniform(m_random);
    if (draw < s.failureRate) {
        m_cutoff = now + static_cast<qint64>(std::floor(moment * static_cast<double>(m_end - now)));
        m_cutoffReason = QStringLiteral("failed (simulated fault)");
    }
    if (s.weatherConnected) {
        const auto unsafe = firstInstantIn(s.unsafe, QDateTime::fromMSecsSinceEpoch(now, QTimeZone::utc()));
        const qint64 at = unsafe ? unsafe->toMSecsSinceEpoch() : std::numeric_limits<qint64>::max();
        if (at < m_end && (!m_cutoff || at < *m_cutoff)) {
            m_cutoff = at;
            m_cutoffReason = QStringLiteral("aborted, weather unsafe");
        }
    }
    // Dawn ends a plan as bad weather does.
    const auto utcOf = [](qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()); };
    if (const auto dawn = m_state.sky.firstSunAboveLimit(s.sunAltitude, utcOf(now), utcOf(m_end))) {
        const qint64 at = dawn->toMSecsSinceEpoch();
        if (at < m_end && (!m_cutoff || at < *m_cutoff)) {
            m_cutoff = at;
            m_cutoffReason = QStringLiteral("aborted, the Sun is above the limit");
        }
    }
    m_active = true;
    m_outcome = QStringLiteral("running");
    log(now, {QStringLiteral("start"), m_plan.target, planPath});
}

qint64 AcquisitionRunner::exposureEnd(int image) const
{
    const ObservatorySettings& s = m_state.settings;
    return m_exposuresStart + image * toMs(m_plan.interval + s.downloadSeconds) + toMs(m_plan.interval);
}

void AcquisitionRunner::catchUp(const QDateTime& nowUtc)
{
    const qint64 now = nowUtc.toMSecsSinceEpoch();
    if (m_active) {
        const qint64 stop = m_cutoff ? std::min(now + 1, *m_cutoff) : now + 1; // events before `stop`
        if (!m_mountMoved && m_slewEnd < stop) {
            m_state.mountRightAscension = m_plan.rightAscension;
            m_state.mountDeclination = m_plan.declination;
            m_mountMoved = true;
        }
        while (m_nextImage < m_plan.count && exposureEnd(m_nextImage) < stop) {
            const qint64 end = exposureEnd(m_nextImage);
            log(end - toMs(m_plan.interval),
                {QStringLiteral("image"), m_plan.target, m_plan.filter, integerText(m_plan.binning),
                 doubleText(m_plan.interval), m_plan.dir});
            ++m_nextImage;
        }
        if (m_cutoff && *m_cutoff <= now) {
            endScript(*m_cutoff, m_cutoffReason, QString());
            m_outcome = m_cutoffReason;
        } else if (m_end <= now) {
            endScript(m_end, QStringLiteral("end"), QStringLiteral("%1 images").arg(m_nextImage));
            m_outcome = QStringLiteral("completed");
            if (!m_plan.chainScript.isEmpty()) {
                m_chainAt = m_end + toMs(m_state.settings.chainScriptDelay);
                m_chainPath = m_plan.chainScript;
            } else {
                m_handOver.reset();
            }
        }
    }
    if (m_chainAt && *m_chainAt <= now)
        runChainScript(*m_chainAt);
}

void AcquisitionRunner::abort(const QString& outcome)
{
    if (!m_active)
        return;
    if (!outcome.isEmpty()) {
        endScript(m_state.clock.utcNow().toMSecsSinceEpoch(), outcome, QString());
        m_outcome = outcome;
        return;
    }
    endScript(m_state.clock.utcNow().toMSecsSinceEpoch(), QStringLiteral("aborted"),
              QStringLiteral("AbortScript"));
    m_outcome = QStringLiteral("aborted (AbortScript)");
}

void AcquisitionRunner::endScript(qint64 at, const QString& event, const QString& detail)
{
    m_active = false;
    // Only a plan that ran to its end keeps its hand-over, for its chain script.
    if (event != QStringLiteral("end"))
        m_handOver.reset();
    QStringList fields{event, m_plan.target};
    if (!detail.isEmpty())
        fields << detail;
    log(at, fields);
}

void AcquisitionRunner::runChainScript(qint64 at)
{
    // Once the loop has deleted or replaced the hand-over it has given up on this plan, and the marker
    // would be taken for the next one's.
    const QString why = m_handOver ? m_handOver->whyNotInPlace() : QStringLiteral("is gone");
    if (!why.isEmpty()) {
        dropChainScript(at, QStringLiteral("its hand-over runplanonce.txt ") + why);
        return;
    }
    m_chainAt.reset();
    m_handOver.reset();
    try {
        runChainScriptFile(m_chainPath);
        log(at, {QStringLiteral("chainscript"), m_chainPath});
    } catch (const HostError& e) {
        log(at, {QStringLiteral("error"), e.message()});
    }
}

void AcquisitionRunner::dropChainScript(qint64 at, const QString& why)
{
    m_chainAt.reset();
    m_handOver.reset();
    log(at, {QStringLiteral("error"),
             QStringLiteral("chain script not run, ") + why + QStringLiteral(": ") + m_chainPath});
}

void AcquisitionRunner::log(qint64 at, const QStringList& fields) noexcept
{
    appendAcquisitionLog(m_state.settings.logDir, QDateTime::fromMSecsSinceEpoch(at, QTimeZone::utc()),
                         fields);
}

QString AcquisitionRunner::logPath() const
{
    return acquisitionLogPath(m_state.settings.logDir);
}

} // namespace kestrove::sim
