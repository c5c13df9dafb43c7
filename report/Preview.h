#pragma once

#include "app/SurveyView.h"
#include "host/ObservatorySettings.h"
#include "report/NightReport.h"

#include <QString>
#include <functional>
#include <map>
#include <optional>

namespace kestrove {

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
};

// The user's observatory as "observatory.ini" in the folder describes it, read without creating
// or changing anything: defaults when the file is missing.
ObservatorySettings userObservatory(const QString& observatoryFolder);
// The site of an observatory and its time zone.
Site siteOf(const ObservatorySettings& settings);
// The night the observatory's clock is in now (or the coming one, before noon turns it over).
QDate currentNight(const ObservatorySettings& settings);
// The dark window of a night at the observatory; throws HostError when the Sun does not get that low.
TimeSpan darkSpan(const ObservatorySettings& settings, const QDate& night);

// Runs the survey core in virtual time over the span on a simulated observatory configured like
// the user's, in a scratch copy of the program folder: the user's files are only read. `progress`
// gets the fraction done now and then and returns false to stop early. Throws what the survey
// throws (HostError).
NightReport runPreview(const PreviewRequest& request, const std::function<bool(double)>& progress = {});

// What the survey did in a night, from "history.csv" in the observatory's log folder.
NightReport observedNight(const ObservatorySettings& observatory, const QDate& night);

} // namespace kestrove
