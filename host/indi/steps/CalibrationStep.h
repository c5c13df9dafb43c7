#pragma once

#include "host/indi/IndiMapping.h"
#include "host/indi/steps/CameraControl.h"
#include "imaging/FitsFile.h"
#include "imaging/FlatExposure.h"
#include "imaging/MasterFrame.h"

#include <QList>
#include <QStringList>

#include <optional>
#include <vector>

namespace kestrove::indi {

// One master to make: its setting and how many frames it combines.
struct CalibrationSet
{
    imaging::MasterSetting setting;
    int count = 10;
};

// "dark 60 s bin 2 at -10 C", for the logs.
QString calibrationSetText(const imaging::MasterSetting& setting);

// The darks and bias for the survey frames taken from `fromUtc` to `toUtc`: a dark of each exposure
// and binning, a bias of each binning, at the camera's set temperature ([indi] coolTo), `darks` and
// `bias` frames each ([calibration]); a setting that already has a master made since its last frame
// is left out. Throws DatabaseError.
QList<CalibrationSet> nightCalibrationSets(const database::ObservationDb& observations,
                                           const ObservatorySettings& settings, const QDateTime& fromUtc,
                                           const QDateTime& toUtc);

// The flats for the survey frames taken from `fromUtc` to `toUtc` when [indi] lightPanel names a
// panel: one of each filter and binning, of `darks` frames; a setting that already has a master
// flat made since its last frame is left out. Throws DatabaseError.
QList<CalibrationSet> nightFlatSets(const database::ObservationDb& observations,
                                    const ObservatorySettings& settings, const QDateTime& fromUtc,
                                    const QDateTime& toUtc);

// The sky flats due at `utc`: one of each filter and binning of the survey's frames within
// [calibration] maxAgeDays, of `darks` frames, leaving out a setting with a master flat of the last
// day (the evening's flats serve the morning). Throws DatabaseError.
QList<CalibrationSet> skyFlatSets(const database::ObservationDb& observations,
                                  const ObservatorySettings& settings, const QDateTime& utc);

// How far a flat's level may miss [calibration] flatLevel, as a fraction of it.
constexpr double kFlatTolerance = 0.1;

// The newest masters within [calibration] maxAgeDays for a frame of the exposure, binning and filter
// taken at `utc` at the camera's set temperature: its dark, else a bias, and a flat of the filter.
// None when calibration is off or no master fits. Throws DatabaseError.
std::optional<imaging::FrameCalibration> mastersFor(const database::ObservationDb& observations,
                                                    const ObservatorySettings& settings, double exposure,
                                                    int binning, const QString& filter, const QDateTime& utc);

// The library folder of the masters: "Calibration" in the host's folder.
QString calibrationLibrary(const ObservatorySettings& settings);

// Takes the frames of each set on the whole chip with the camera's CCD_FRAME_TYPE set to the kind,
// combines them into a master by their median, writes it into the calibration library and records
// it in observations.sqlite. The camera is set back to light frames at the end.
//
// Flats are taken on the lit panel through the set's filter, each exposure steered towards
// [calibration] flatLevel within flatExposureMin and flatExposureMax; the frames within
// kFlatTolerance of it make the master, each scaled to a median of 1. A filter whose level cannot
// be reached within the limits is left without a master, and the night goes on with the next. The
// panel is turned off at the end, whatever ended it.
class CalibrationStep : public CameraControl::User, public PlanStep
{
public:
    CalibrationStep(StepContext& context, CameraControl& camera) : m_context(context), m_camera(camera) {}

    // `sky`: the flats are of the twilight sky where the mount tracks, each exposure carrying the
    // sky's brightening or fading on to the next; otherwise of the panel.
    void start(QList<CalibrationSet> sets, bool sky = false);
    // The masters made so far ("dark 60 s bin 2 at -10 C: 10 frames, dark-60s-...fits"), each
    // taken once.
    QStringList takeEvents() { return std::exchange(m_events, QStringList()); }
    // Sets the camera back to light frames and turns the panel off, as after a failure.
    void restoreLight();

    void cameraReady() override;
    void frameArrived(const IndiBlob* frame) override;
    void propertyChanged(const QString& device, const QString& name, const IndiProperty& property) override;

private:
    void nextSet();
    void beginFlats();
    void configureCamera();
    void expose();
    void flatArrived(imaging::FitsImage image);
    void abandonSet(const QString& why);
    void finishSet();
    void panel(bool on);

    StepContext& m_context;
    CameraControl& m_camera;
    QList<CalibrationSet> m_sets;
    std::vector<imaging::FitsImage> m_frames;
    QStringList m_events;
    // The flat set under way: its exposures, the bias level under its pixels, the frames tried and
    // the exposures of those kept.
    std::optional<imaging::FlatExposure> m_flat;
    double m_flatOffset = 0;
    int m_flatTries = 0;
    double m_flatSeconds = 0;
    bool m_panelLit = false;
    bool m_sky = false;
    int m_slot = 0;
    CommandWatch m_wheel;
};

} // namespace kestrove::indi
