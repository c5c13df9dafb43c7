#include "host/indi/steps/CalibrationStep.h"

#include "database/ObservationDb.h"
#include "imaging/ImagingError.h"
#include "sky/Clock.h"
#include "text/NumberText.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>

namespace kestrove::indi {

namespace {

const QString CCD_FRAME_TYPE = QStringLiteral("CCD_FRAME_TYPE");

QString frameTypeOf(imaging::MasterKind kind)
{
    switch (kind) {
    case imaging::MasterKind::Bias:
        return QStringLiteral("FRAME_BIAS");
    case imaging::MasterKind::Dark:
        return QStringLiteral("FRAME_DARK");
    case imaging::MasterKind::Flat:
        return QStringLiteral("FRAME_FLAT");
    }
    return {};
}

// The shortest exposure a bias is taken with: drivers refuse 0.
constexpr double kBiasSeconds = 0.01;

} // namespace

QString calibrationSetText(const imaging::MasterSetting& s)
{
    QString text = imaging::masterKindText(s.kind);
    if (s.kind != imaging::MasterKind::Bias)
        text += QStringLiteral(" %1 s").arg(doubleText(s.exposure));
    text += QStringLiteral(" bin %1").arg(s.binning);
    if (s.kind == imaging::MasterKind::Flat && !s.filter.isEmpty())
        text += QStringLiteral(" %1").arg(s.filter);
    if (s.temperature)
        text += QStringLiteral(" at %1 C").arg(doubleText(*s.temperature));
    return text;
}

QList<CalibrationSet> nightCalibrationSets(const database::ObservationDb& observations,
                                           const ObservatorySettings& settings, const QDateTime& fromUtc,
                                           const QDateTime& toUtc)
{
    using imaging::MasterKind;
    const CalibrationSettings& c = settings.calibration;
    // Each setting with the time of its last frame, in the order first used.
    QList<std::pair<imaging::MasterSetting, QDateTime>> used;
    const auto use = [&](const imaging::MasterSetting& setting, const QDateTime& utc) {
        for (auto& [s, last] : used)
            if (s == setting) {
                last = std::max(last, utc);
                return;
            }
        used.append({setting, utc});
    };
    for (const database::FrameRecord& f : observations.frames(fromUtc, toUtc)) {
        if (f.kind == QStringLiteral("test"))
            continue;
        // Exposures to the millisecond: a driver's rounding makes no second set.
        const double exposure = std::round(f.exposure * 1000) / 1000;
        use({MasterKind::Dark, exposure, f.binning, settings.indi.coolTo, {}}, f.utc);
        if (c.bias > 0)
            use({MasterKind::Bias, 0, f.binning, settings.indi.coolTo, {}}, f.utc);
    }
    QList<CalibrationSet> sets;
    for (const auto& [setting, last] : used)
        if (!observations.newestMaster(setting, last, toUtc))
            sets << CalibrationSet{setting, setting.kind == MasterKind::Bias ? c.bias : c.darks};
    return sets;
}

std::optional<imaging::FrameCalibration> mastersFor(const database::ObservationDb& observations,
                                                    const ObservatorySettings& settings, double exposure,
                                                    int binning, const QString& filter, const QDateTime& utc)
{
    using imaging::MasterKind;
    const CalibrationSettings& c = settings.calibration;
    if (!c.enabled)
        return std::nullopt;
    const QDateTime oldest = utc.addSecs(-static_cast<qint64>(c.maxAgeDays * 86400));
    // Masters made this morning calibrate last night's frames again when asked; the lookup takes the
    // newest up to now.
    const QDateTime newest = utc.addDays(1);
    const auto find = [&](MasterKind kind) {
        return observations.newestMaster({kind, exposure, binning, settings.indi.coolTo, filter}, oldest,
                                         newest);
    };
    imaging::FrameCalibration masters;
    if (const auto dark = find(MasterKind::Dark)) {
        masters.darkPath = dark->path;
    } else if (const auto bias = find(MasterKind::Bias)) {
        masters.darkPath = bias->path;
        masters.bias = true;
    }
    if (const auto flat = find(MasterKind::Flat))
        masters.flatPath = flat->path;
    if (masters.darkPath.isEmpty() && masters.flatPath.isEmpty())
        return std::nullopt;
    return masters;
}

QString calibrationLibrary(const ObservatorySettings& settings)
{
    return QDir(settings.hostPath).filePath(QStringLiteral("Calibration"));
}

void CalibrationStep::start(QList<CalibrationSet> sets)
{
    m_sets = std::move(sets);
    nextSet();
}

void CalibrationStep::nextSet()
{
    m_frames.clear();
    if (m_sets.isEmpty()) {
        restoreLight();
        m_context.stepDone();
        return;
    }
    const CalibrationSet& set = m_sets.front();
    const QString& camera = m_context.settings.indi.camera;
    if (!m_context.client.property(camera, CCD_FRAME_TYPE)) {
        m_context.fail(QStringLiteral("camera \"%1\" has no CCD_FRAME_TYPE").arg(camera));
        return;
    }
    m_context.client.sendSwitch(camera, CCD_FRAME_TYPE, frameTypeOf(set.setting.kind));
    m_camera.configure(set.setting.binning, 1.0, *this);
}

void CalibrationStep::restoreLight()
{
    const QString& camera = m_context.settings.indi.camera;
    if (m_context.client.serverConnected() && m_context.client.property(camera, CCD_FRAME_TYPE))
        m_context.client.sendSwitch(camera, CCD_FRAME_TYPE, QStringLiteral("FRAME_LIGHT"));
}

void CalibrationStep::cameraReady()
{
    const CalibrationSet& set = m_sets.front();
    m_context.log({QStringLiteral("calibrate"), calibrationSetText(set.setting),
                   QStringLiteral("%1 frames").arg(set.count), m_camera.frameText()});
    expose();
}

void CalibrationStep::expose()
{
    const CalibrationSet& set = m_sets.front();
    const double seconds =
        set.setting.kind == imaging::MasterKind::Bias ? kBiasSeconds : set.setting.exposure;
    m_camera.expose(seconds, QStringLiteral("%1 frame %2")
                                 .arg(imaging::masterKindText(set.setting.kind))
                                 .arg(m_frames.size() + 1));
}

void CalibrationStep::frameArrived(const IndiBlob* frame)
{
    try {
        m_frames.push_back(imaging::readFitsImage(frame->data));
    } catch (const imaging::ImagingError& e) {
        m_context.fail(QStringLiteral("camera \"%1\": %2").arg(m_context.settings.indi.camera, e.message()));
        return;
    }
    if (static_cast<int>(m_frames.size()) < m_sets.front().count)
        expose();
    else
        finishSet();
}

void CalibrationStep::finishSet()
{
    const CalibrationSet set = m_sets.takeFirst();
    const QDateTime now = m_context.clock.utcNow();
    const QString folder = calibrationLibrary(m_context.settings);
    const QString path = QDir(folder).filePath(imaging::masterFileName(set.setting, now));
    try {
        if (!QDir().mkpath(folder))
            throw imaging::ImagingError(
                QStringLiteral("cannot create the calibration library %1").arg(folder));
        const imaging::FitsImage master = imaging::medianCombine(m_frames);
        QList<imaging::HeaderCard> cards{
            {QStringLiteral("IMAGETYP"),
             QStringLiteral("Master %1").arg(imaging::masterKindText(set.setting.kind)),
             QStringLiteral("median of the frames")},
            {QStringLiteral("NCOMBINE"), static_cast<long long>(m_frames.size()),
             QStringLiteral("frames combined")},
            {QStringLiteral("EXPTIME"), set.setting.exposure, QStringLiteral("seconds")},
            {QStringLiteral("XBINNING"), static_cast<long long>(set.setting.binning), QString()},
            {QStringLiteral("YBINNING"), static_cast<long long>(set.setting.binning), QString()},
            {QStringLiteral("DATE-OBS"), now.toString(Qt::ISODateWithMs).chopped(1), QStringLiteral("UTC")},
        };
        if (set.setting.temperature)
            cards << imaging::HeaderCard{QStringLiteral("SET-TEMP"), *set.setting.temperature,
                                         QStringLiteral("camera set point, C"), 1};
        if (!set.setting.filter.isEmpty())
            cards << imaging::HeaderCard{QStringLiteral("FILTER"), set.setting.filter, QString()};
        imaging::writeFitsImage(path, master, cards);
    } catch (const std::exception& e) {
        m_context.fail(QStringLiteral("%1 master not made: %2")
                           .arg(calibrationSetText(set.setting), QString::fromUtf8(e.what())));
        return;
    }
    if (m_context.observations) {
        try {
            m_context.observations->addMaster({0, set.setting, now, static_cast<int>(m_frames.size()), path});
        } catch (const std::exception& e) {
            m_context.log({QStringLiteral("error"), QString::fromUtf8(e.what())});
        }
    }
    m_context.log({QStringLiteral("master"), calibrationSetText(set.setting),
                   QStringLiteral("%1 frames").arg(m_frames.size()), path});
    m_events << QStringLiteral("Master %1 of %2 frames: %3")
                    .arg(calibrationSetText(set.setting))
                    .arg(m_frames.size())
                    .arg(QFileInfo(path).fileName());
    nextSet();
}

} // namespace kestrove::indi
