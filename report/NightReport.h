#pragma once

#include "core/History.h"
#include "core/KindBalance.h"
#include "database/ObservationDb.h"
#include "report/Discoveries.h"
#include "report/NightReasons.h"
#include "report/NightWindow.h"
#include "settings/ObservatorySettings.h"
#include "sky/Astronomy.h"

#include <QList>
#include <QPointF>
#include <QStringList>
#include <QTimeZone>
#include <optional>
#include <vector>

namespace kestrove {

// A plan of the night with where its target stood when it began.
struct ObservedPlan
{
    HistoryEntry entry;
    Horizontal atStart;
    std::optional<double> airmass; // none at or below the horizon
    // How long the survey expected it to run, seconds; a preview knows, history.csv does not say.
    std::optional<double> expectedSeconds;
};

// A night as previewed or as observed: what the files, the charts and the summary are made of.
struct NightReport
{
    bool preview = true;
    QDate night;
    Site site;
    QTimeZone zone;
    TimeSpan span;                // the time covered
    std::optional<TimeSpan> dark; // the night's dark window, Sun below -12
    // The host's limits and the survey's observation window.
    QList<QPointF> horizon;
    double minimumElevation = 0;
    double minAzimuth = 0;
    double maxAzimuth = 360;
    double maxElevation = 90;

    QList<ObservedPlan> plans;
    // The selection's reasons; a preview has them, a report of a real night does not.
    QList<TargetReasons> reasons;
    int passes = 0;
    int idlePasses = 0;
    // What each kind's best target typically scored; a preview has them.
    QList<KindScore> kindScores;
    // The frames of a real night with their grades, from the observations database; a preview has
    // none.
    std::vector<database::FrameRecord> frames;
    // The night's lightcurve points, and the observer code the AAVSO file is made out to.
    std::vector<database::LightcurvePoint> lightcurve;
    // Every point of the night's lightcurve targets up to the night's end, the night's as above.
    std::vector<database::LightcurvePoint> lightcurveAll;
    // The masters made that night, and the masters the night's frames were calibrated with: each
    // file's name and how many frames it calibrated.
    std::vector<database::MasterRecord> masters;
    QList<QPair<QString, int>> mastersUsed;
    QString aavsoCode;
    // The night's supernova candidates and moving objects.
    NightDiscoveries discoveries;
    // The policy the preview chose by, the shares it kept, and the time each kind took against the
    // time of the passes it had a target in.
    SelectionPolicy policy = SelectionPolicy::Specified;
    KindShares shares{};
    KindTimes kindTimes;
    // A preview's: what the calibration costs at dusk and at dawn.
    QStringList calibration;
    // Messages the survey would have shown (a target line it could not read, say).
    QStringList messages;
};

// The plan with its target's place at its start; a night's plans in turn share `skies`.
ObservedPlan observedPlan(const HistoryEntry& entry, SkyContexts& skies);
ObservedPlan observedPlan(const HistoryEntry& entry, const Site& site);

} // namespace kestrove
