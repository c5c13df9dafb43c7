#include "host/indi/steps/CalibrationStep.h"

#include "database/ObservationDb.h"
#include "imaging/ImagingError.h"
#include "sky/Clock.h"
#include "text/NumberText.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace kestrove::indi {

namespace {

const QString CCD_FRAME_TYPE = QStringLiteral("CCD_FRAME_TYPE");
const QString FLAT_LIGHT_CONTROL = QStringLiteral("FLAT_LIGHT_CONTROL");
const QString FILTER_SLOT = QStringLiteral("FILTER_SLOT");

// Frames a flat set may take beyond those it keeps before it gives up on the level.
constexpr int kFlatSpareTries = 8;
constexpr double kFilterLimitSeconds = 120;

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

QList<CalibrationSet> nightFlatSets(const database::ObservationDb& observations,
                                    const ObservatorySettings& settings, const QDateTime& fromUtc,
                                    const QDateTime& toUtc)
{
    QList<CalibrationSet> sets;
    if (settings.indi.lightPanel.isEmpty())
        return sets;
    QList<std::pair<imaging::MasterSetting, QDateTime>> used;
    for (const database::FrameRecord& f : observations.frames(fromUtc, toUtc)) {
        if (f.kind == QStringLiteral("test"))
            continue;
        const imaging::MasterSetting s{imaging::MasterKind::Flat, 0, f.binning, settings.indi.coolTo,
                                       f.filter};
        const auto it = std::find_if(used.begin(), used.end(), [&](const auto& u) { return u.first == s; });
        if (it == used.end())
            used.append({s, f.utc});
        else
            it->second = std::max(it->second, f.utc);
    }
    for (const auto& [setting, last] : used)
        if (!observations.newestMaster(setting, last, toUtc))
            sets << CalibrationSet{setting, settings.calibration.darks};
    return sets;
}

QList<CalibrationSet> skyFlatSets(const database::ObservationDb& observations,
                                  const ObservatorySettings& settings, const QDateTime& utc)
{
    const CalibrationSettings& c = settings.calibration;
    QList<imaging::MasterSetting> used;
    for (const database::FrameRecord& f :
         observations.frames(utc.addSecs(-static_cast<qint64>(c.maxAgeDays * 86400)), utc)) {
        if (f.kind == QStringLiteral("test"))
            continue;
        const imaging::MasterSetting s{imaging::MasterKind::Flat, 0, f.binning, settings.indi.coolTo,
                                       f.filter};
        if (!used.contains(s))
            used << s;
    }
    QList<CalibrationSet> sets;
    for (const imaging::MasterSetting& setting : used)
        if (!observations.newestMaster(setting, utc.addDays(-1), utc))
            sets << CalibrationSet{setting, c.darks};
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

void CalibrationStep::start(QList<CalibrationSet> sets, bool sky)
{
    m_sets = std::move(sets);
    m_sky = sky;
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
    if (set.setting.kind == imaging::MasterKind::Flat)
        beginFlats();
    else
        configureCamera();
}

void CalibrationStep::configureCamera()
{
    m_camera.configure(m_sets.front().setting.binning, 1.0, *this);
}

// The panel lit, the bias level read from the newest master bias, and the wheel turned to the
// set's filter.
void CalibrationStep::beginFlats()
{
    const CalibrationSet& set = m_sets.front();
    const ObservatorySettings& settings = m_context.settings;
    const CalibrationSettings& c = settings.calibration;
    m_flatOffset = 0;
    if (m_context.observations) {
        const QDateTime now = m_context.clock.utcNow();
        try {
            if (const auto bias = m_context.observations->newestMaster(
                    {imaging::MasterKind::Bias, 0, set.setting.binning, set.setting.temperature, {}},
                    now.addSecs(-static_cast<qint64>(c.maxAgeDays * 86400)), now))
                m_flatOffset = imaging::flatLevel(imaging::readFitsImage(bias->path));
        } catch (const std::exception& e) {
            m_context.log({QStringLiteral("error"), QString::fromUtf8(e.what())});
        }
    }
    m_flat.emplace(c.flatLevel, c.flatExposureMin, c.flatExposureMax, m_flatOffset, kFlatTolerance, m_sky);
    m_flatTries = 0;
    m_flatSeconds = 0;
    if (!m_sky) {
        if (!m_context.client.property(settings.indi.lightPanel, FLAT_LIGHT_CONTROL)) {
            m_context.fail(
                QStringLiteral("light panel \"%1\" has no FLAT_LIGHT_CONTROL").arg(settings.indi.lightPanel));
            return;
        }
        panel(true);
    }
    const QString& wheel = settings.indi.filterWheel;
    if (set.setting.filter.isEmpty() || wheel.isEmpty()) {
        configureCamera();
        return;
    }
    QStringList names;
    if (const IndiProperty* p = m_context.client.property(wheel, QStringLiteral("FILTER_NAME")))
        for (const IndiElement& e : p->elements)
            names << e.text;
    const auto slot = filterSlot(names, set.setting.filter);
    if (!slot) {
        abandonSet(QStringLiteral("filter \"%1\" is not in the wheel (%2)")
                       .arg(set.setting.filter, names.join(u',')));
        return;
    }
    m_slot = *slot;
    const IndiProperty* current = m_context.client.property(wheel, FILTER_SLOT);
    if (current && std::lround(current->number(QStringLiteral("FILTER_SLOT_VALUE")).value_or(-1)) == m_slot &&
        current->state != PropertyState::Busy) {
        configureCamera();
        return;
    }
    m_context.client.sendNumbers(wheel, FILTER_SLOT, {{QStringLiteral("FILTER_SLOT_VALUE"), double(m_slot)}});
    m_wheel.sent(current ? current->state : PropertyState::Idle);
    m_context.waitOn(*this, kFilterLimitSeconds, QStringLiteral("the filter wheel did not stop"));
}

void CalibrationStep::propertyChanged(const QString& device, const QString& name,
                                      const IndiProperty& property)
{
    if (device != m_context.settings.indi.filterWheel || name != FILTER_SLOT)
        return;
    const auto result = m_wheel.update(property.state);
    if (result == CommandWatch::Result::Failed)
        m_context.fail(QStringLiteral("filter change failed: the wheel reported Alert"));
    else if (result == CommandWatch::Result::Done)
        configureCamera();
}

void CalibrationStep::panel(bool on)
{
    const QString& device = m_context.settings.indi.lightPanel;
    if (device.isEmpty() || !m_context.client.serverConnected() ||
        !m_context.client.property(device, FLAT_LIGHT_CONTROL))
        return;
    if (!on && !m_panelLit)
        return;
    m_context.client.sendSwitch(device, FLAT_LIGHT_CONTROL,
                                on ? QStringLiteral("FLAT_LIGHT_ON") : QStringLiteral("FLAT_LIGHT_OFF"));
    m_panelLit = on;
    m_context.log({QStringLiteral("panel"), device, on ? QStringLiteral("on") : QStringLiteral("off")});
}

void CalibrationStep::restoreLight()
{
    const QString& camera = m_context.settings.indi.camera;
    if (m_context.client.serverConnected() && m_context.client.property(camera, CCD_FRAME_TYPE))
        m_context.client.sendSwitch(camera, CCD_FRAME_TYPE, QStringLiteral("FRAME_LIGHT"));
    panel(false);
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
    double seconds = set.setting.exposure;
    if (set.setting.kind == imaging::MasterKind::Bias)
        seconds = kBiasSeconds;
    else if (set.setting.kind == imaging::MasterKind::Flat)
        seconds = m_flat->seconds();
    m_camera.expose(seconds, QStringLiteral("%1 frame %2")
                                 .arg(imaging::masterKindText(set.setting.kind))
                                 .arg(m_frames.size() + 1));
}

void CalibrationStep::frameArrived(const IndiBlob* frame)
{
    imaging::FitsImage image;
    try {
        image = imaging::readFitsImage(frame->data);
    } catch (const imaging::ImagingError& e) {
        m_context.fail(QStringLiteral("camera \"%1\": %2").arg(m_context.settings.indi.camera, e.message()));
        return;
    }
    if (m_sets.front().setting.kind == imaging::MasterKind::Flat) {
        flatArrived(std::move(image));
        return;
    }
    m_frames.push_back(std::move(image));
    if (static_cast<int>(m_frames.size()) < m_sets.front().count)
        expose();
    else
        finishSet();
}

void CalibrationStep::flatArrived(imaging::FitsImage image)
{
    const CalibrationSet& set = m_sets.front();
    const double seconds = m_flat->seconds();
    const double level = imaging::flatLevel(image);
    const imaging::FlatExposure::Verdict verdict = m_flat->took(level);
    ++m_flatTries;
    using Verdict = imaging::FlatExposure::Verdict;
    m_context.log({QStringLiteral("flat"), calibrationSetText(set.setting),
                   QStringLiteral("%1 s: %2 ADU").arg(doubleText(seconds), QString::number(level, 'f', 0)),
                   verdict == Verdict::Accepted
                       ? QStringLiteral("kept")
                       : QStringLiteral("next %1 s").arg(doubleText(m_flat->seconds()))});
    const CalibrationSettings& c = m_context.settings.calibration;
    if (verdict == Verdict::Accepted) {
        m_frames.push_back(std::move(image));
        m_flatSeconds += seconds;
        if (static_cast<int>(m_frames.size()) >= set.count) {
            finishSet();
            return;
        }
    } else if (verdict == Verdict::TooBright) {
        abandonSet(
            QStringLiteral("the level %1 ADU cannot be reached: %2 ADU at the shortest exposure, %3 s")
                .arg(doubleText(c.flatLevel), QString::number(level, 'f', 0), doubleText(c.flatExposureMin)));
        return;
    } else if (verdict == Verdict::TooFaint) {
        abandonSet(
            QStringLiteral("the level %1 ADU cannot be reached: %2 ADU at the longest exposure, %3 s")
                .arg(doubleText(c.flatLevel), QString::number(level, 'f', 0), doubleText(c.flatExposureMax)));
        return;
    }
    if (m_flatTries >= set.count + kFlatSpareTries) {
        abandonSet(QStringLiteral("the level %1 ADU was not kept: %2 of %3 frames within %4 %")
                       .arg(doubleText(c.flatLevel))
                       .arg(m_frames.size())
                       .arg(m_flatTries)
                       .arg(doubleText(kFlatTolerance * 100)));
        return;
    }
    expose();
}

// A set that cannot be made is told and left; the sets after it are still taken.
void CalibrationStep::abandonSet(const QString& why)
{
    const CalibrationSet set = m_sets.takeFirst();
    m_context.log({QStringLiteral("error"),
                   QStringLiteral("%1 not made: %2").arg(calibrationSetText(set.setting), why)});
    m_events << QStringLiteral("No master %1: %2").arg(calibrationSetText(set.setting), why);
    nextSet();
}

void CalibrationStep::finishSet()
{
    CalibrationSet set = m_sets.takeFirst();
    const bool flat = set.setting.kind == imaging::MasterKind::Flat;
    if (flat)
        set.setting.exposure = std::round(m_flatSeconds / static_cast<double>(m_frames.size()) * 1000) / 1000;
    const QDateTime now = m_context.clock.utcNow();
    const QString folder = calibrationLibrary(m_context.settings);
    const QString path = QDir(folder).filePath(imaging::masterFileName(set.setting, now));
    try {
        if (!QDir().mkpath(folder))
            throw imaging::ImagingError(
                QStringLiteral("cannot create the calibration library %1").arg(folder));
        const imaging::FitsImage master =
            flat ? imaging::masterFlat(m_frames, m_flatOffset) : imaging::medianCombine(m_frames);
        QList<imaging::HeaderCard> cards{
            {QStringLiteral("IMAGETYP"),
             QStringLiteral("Master %1").arg(imaging::masterKindText(set.setting.kind)),
             flat ? QStringLiteral("median of the frames less the bias, each scaled to 1")
                  : QStringLiteral("median of the frames")},
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
