#include "host/sim/AcquisitionRunner.h"

#include "config/NumberText.h"
#include "host/HostError.h"
#include "host/LocalFileSystem.h"
#include "host/sim/ChainScript.h"
#include "host/sim/HostText.h"
#include "host/sim/SimLimits.h"
#include "host/sim/SimState.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTimeZone>

#include <cmath>
#include <limits>

Q_DECLARE_LOGGING_CATEGORY(lcSim)

namespace kestrove::sim {

namespace {

qint64 toMs(double seconds)
{
    return std::llround(seconds * 1000.0);
}

QString utcText(qint64 ms)
{
    return utcInstantText(QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()));
}

QStringList readLines(const QString& path)
{
    LocalFileSystem fs;
    auto stream = fs.OpenTextFile(path, IOMode::ForReading);
    QStringList lines;
    while (!stream->AtEndOfStream())
        lines << stream->ReadLine();
    return lines;
}

} // namespace

AcquisitionPlan parsePlan(const QString& planPath, const QStringList& lines)
{
    AcquisitionPlan plan;
    int targets = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        const auto bad = [&](const QString& why) {
            return HostError(QStringLiteral("plan"), planPath,
                             QStringLiteral("line %1: %2").arg(i + 1).arg(why));
        };
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (!line.startsWith(u'#')) {
            const QStringList fields = lines[i].split(u'\t');
            if (fields.size() != 3 || fields[0].trimmed().isEmpty())
                throw bad(QStringLiteral("a target line is name, TAB, right ascension, TAB, declination"));
            if (++targets > 1)
                throw bad(QStringLiteral("only one target per plan"));
            plan.target = fields[0].trimmed();
            try {
                plan.rightAscension = parseSexagesimal(QStringLiteral("HMS_Hours"), fields[1], u'h');
                plan.declination = parseSexagesimal(QStringLiteral("DMS_Degrees"), fields[2], u'd');
            } catch (const HostError& e) {
                throw bad(e.message());
            }
            continue;
        }
        const qsizetype blank = line.indexOf(QRegularExpression(QStringLiteral("\\s")));
        const QString word = (blank < 0 ? line : line.left(blank)).toLower();
        const QString value = blank < 0 ? QString() : line.mid(blank + 1).trimmed();
        const auto number = [&](double low, double high) {
            const auto v = parseNumber(value);
            if (!v || *v < low || *v > high)
                throw bad(QStringLiteral("%1 needs a number from %2 to %3, not \"%4\"")
                              .arg(word, doubleText(low), doubleText(high), value));
            return *v;
        };
        const auto whole = [&](double low, double high) {
            const double v = number(low, high);
            if (v != std::floor(v))
                throw bad(QStringLiteral("%1 needs a whole number, not \"%2\"").arg(word, value));
            return static_cast<int>(v);
        };
        if (word == QStringLiteral("#autofocus"))
            plan.autofocus = true;
        else if (word == QStringLiteral("#calibrate"))
            plan.calibrate = true;
        else if (word == QStringLiteral("#dir"))
            plan.dir = value;
        else if (word == QStringLiteral("#filter"))
            plan.filter = value;
        else if (word == QStringLiteral("#subframe"))
            plan.subframe = number(0, 1);
        else if (word == QStringLiteral("#binning"))
            plan.binning = whole(1, 16);
        else if (word == QStringLiteral("#count"))
            plan.count = whole(0, 100000);
        else if (word == QStringLiteral("#interval"))
            plan.interval = number(0, 86400);
        else if (word == QStringLiteral("#chainscript"))
            plan.chainScript = value;
        else
            throw bad(QStringLiteral("unknown directive \"%1\"").arg(word));
    }
    if (targets == 0)
        throw HostError(QStringLiteral("plan"), planPath, QStringLiteral("no target line"));
    return plan;
}

AcquisitionRunner::AcquisitionRunner(SimState& state) : m_state(state), m_random(state.settings.failureSeed)
{
}

void AcquisitionRunner::load(const QString& path)
{
    if (!QFileInfo(path).isFile())
        throw HostError(QStringLiteral("LoadScript"), path, QStringLiteral("script file not found"));
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
    if (m_chainAt) {
        // Its marker would be taken for the new plan's.
        log(now, {QStringLiteral("error"),
                  QStringLiteral("chain script not run, a new script started: ") + m_chainPath});
        m_chainAt.reset();
    }
    const QString runPlanOnce = m_state.settings.planDir + QStringLiteral("/runplanonce.txt");
    QString planPath;
    try {
        const QStringList hand = readLines(runPlanOnce);
        planPath = hand.isEmpty() ? QString() : hand.front().trimmed();
        if (planPath.isEmpty())
            throw HostError(QStringLiteral("RunScript"), runPlanOnce, QStringLiteral("names no plan"));
        m_plan = parsePlan(planPath, readLines(planPath));
    } catch (const HostError& e) {
        log(now, {QStringLiteral("error"), e.message()});
        return;
    }

    const SimSettings& s = m_state.settings;
    qint64 t = now;
    if (m_plan.autofocus)
        t += toMs(s.autofocusSeconds);
    const double distance = separation(m_state.mountRightAscension, m_state.mountDeclination,
                                       m_plan.rightAscension, m_plan.declination);
    m_slewEnd = t + toMs(distance / s.slewRate);
    m_exposuresStart = m_slewEnd + toMs(s.settleTime);
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
    m_active = true;
    log(now, {QStringLiteral("start"), m_plan.target, planPath});
}

qint64 AcquisitionRunner::exposureEnd(int image) const
{
    const SimSettings& s = m_state.settings;
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
        } else if (m_end <= now) {
            endScript(m_end, QStringLiteral("end"), QStringLiteral("%1 images").arg(m_nextImage));
            if (!m_plan.chainScript.isEmpty()) {
                m_chainAt = m_end + toMs(m_state.settings.chainScriptDelay);
                m_chainPath = m_plan.chainScript;
            }
        }
    }
    if (m_chainAt && *m_chainAt <= now)
        runChainScript(*m_chainAt);
}

void AcquisitionRunner::abort()
{
    if (!m_active)
        return;
    endScript(m_state.clock.utcNow().toMSecsSinceEpoch(), QStringLiteral("aborted"),
              QStringLiteral("AbortScript"));
}

void AcquisitionRunner::endScript(qint64 at, const QString& event, const QString& detail)
{
    m_active = false;
    QStringList fields{event, m_plan.target};
    if (!detail.isEmpty())
        fields << detail;
    log(at, fields);
}

void AcquisitionRunner::runChainScript(qint64 at)
{
    m_chainAt.reset();
    try {
        QFile file(m_chainPath);
        if (!file.open(QIODevice::ReadOnly))
            throw HostError(QStringLiteral("chain script"), m_chainPath, file.errorString());
        const ChainEffect effect = parseChainScript(m_chainPath, file.readAll());
        applyChainEffect(effect);
        log(at, {QStringLiteral("chainscript"), m_chainPath});
    } catch (const HostError& e) {
        log(at, {QStringLiteral("error"), e.message()});
    }
}

void AcquisitionRunner::log(qint64 at, const QStringList& fields) noexcept
{
    try {
        LocalFileSystem fs;
        auto stream = fs.OpenTextFile(logPath(), IOMode::ForAppending, true);
        stream->WriteLine(utcText(at) + u'\t' + fields.join(u'\t'));
        stream->Close();
    } catch (const std::exception& e) {
        qCWarning(lcSim) << "acquisition log:" << e.what();
    }
}

QString AcquisitionRunner::logPath() const
{
    return m_state.settings.logDir + QStringLiteral("/AcquireImages.log");
}

} // namespace kestrove::sim
