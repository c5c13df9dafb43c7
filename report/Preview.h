#pragma once

#include "core/KindBalance.h"
#include "core/SurveyView.h"
#include "report/NightReport.h"
#include "settings/ObservatorySettings.h"
#include "sky/SiteClock.h"

#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <map>
#include <optional>

namespace kestrove {

// The user's observatory as a night's preview or report uses it, resolved from its settings once,
// where a command or the window starts, and passed on: nothing below derives the site, its zone,
// the clock or the limits from the raw settings again.
struct ResolvedObservatory
{
    ObservatorySettings settings; // as read: what a preview's simulated observatory is copied from
    Site site;
    QTimeZone zone;
    SiteClock clock;        // the observatory's clock, started when it was resolved
    QList<QPointF> horizon; // the host's limits
    double minimumElevation = 0;
};

// What to preview: the user's folders, the time span, and which kinds are on with what weights.
struct PreviewRequest
{
    QString programFolder;
    QString observatoryFolder;
    QDate night;
    TimeSpan span;
    // The window's check boxes and weight boxes; none: the enable flags and weights of "config.ini".
    struct Control
    {
        bool checked = false;
        QString weight;
    };
    std::optional<std::map<SurveyKind, Control>> controls;
    // The observatory of observatoryFolder, when whoever starts the preview resolved it already;
    // none: the preview reads and resolves it.
    std::optional<ResolvedObservatory> observatory;
    // The policy to choose by; none: the observatory's [selection] policy.
    std::optional<SelectionPolicy> policy;
    // The balanced policy's memory, carried from night to night: the survey starts from it and
    // leaves its own there. None: the survey starts afresh.
    KindBalance* balance = nullptr;
};

// The user's observatory as "observatory.ini" in the folder describes it, read without creating
// or changing anything: defaults when the file is missing.
ObservatorySettings userObservatory(const QString& observatoryFolder);
// The one place the settings become the typed values: the site with its zone, the clock, the
// limits. Throws HostError when the settings name no valid zone or clock start.
ResolvedObservatory resolveObservatory(const ObservatorySettings& settings);
// The user's observatory of the folder (userObservatory), resolved.
ResolvedObservatory resolvedUserObservatory(const QString& observatoryFolder);
// The site of an observatory.
Site siteOf(const ObservatorySettings& settings);
// The night the observatory's clock is in now (or the coming one, before noon turns it over).
QDate currentNight(const ResolvedObservatory& observatory);
// The dark window of a night at the observatory; throws HostError when the Sun does not get that low.
TimeSpan darkSpan(const ResolvedObservatory& observatory, const QDate& night);
// The same for settings not resolved yet (they are resolved for the call).
TimeSpan darkSpan(const ObservatorySettings& settings, const QDate& night);

// Runs the survey core in virtual time over the span on a simulated observatory configured like
// the user's, in a scratch copy of the program folder: the user's files are only read. `progress`
// gets the fraction done now and then and returns false to stop early. Throws what the survey
// throws (HostError).
NightReport runPreview(const PreviewRequest& request, const std::function<bool(double)>& progress = {});

// A scratch copy of a program folder, removed with the object. Nights previewed one after the
// other in the same copy carry every update of the targets files from one night to the next.
class PreviewScratch
{
public:
    explicit PreviewScratch(const QString& programFolder);
    QString programFolder() const;
    QString observatoryFolder() const;

private:
    QTemporaryDir m_dir;
};

// runPreview in an existing scratch copy; each night starts a fresh simulated observatory there.
NightReport runPreview(PreviewScratch& scratch, const PreviewRequest& request,
                       const std::function<bool(double)>& progress = {});

// What the survey did in a night, from "history.csv" in the observatory's log folder.
NightReport observedNight(const ResolvedObservatory& observatory, const QDate& night);

} // namespace kestrove
