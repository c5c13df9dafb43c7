#pragma once

#include "settings/CalibrationSettings.h"
#include "settings/DiscoverySettings.h"
#include "settings/DomeSettings.h"
#include "settings/GradingSettings.h"

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <optional>

namespace kestrove {

// Which observatory stands behind the automation objects.
enum class HostKind
{
    Sim,
    Indi
};

// The INDI server and the names of its devices. An empty device name means none.
struct IndiSettings
{
    QString server = QStringLiteral("localhost:7624");
    QString mount;
    QString camera;
    QString filterWheel;
    QString focuser;
    QString weather;
    // Run for "#autofocus"; empty: autofocus is skipped, and the acquisition log says so.
    QString autofocusCommand;
    double connectTimeout = 10;    // seconds to reach the server and see each needed property
    double slewMargin = 30;        // seconds a slew may take beyond distance / slewRate
    double downloadMargin = 30;    // seconds an exposure may take beyond its length
    double autofocusTimeout = 600; // seconds the autofocus command may run
    // Send [site] to the mount when its GEOGRAPHIC_COORD differs, as INDI clients do on connecting.
    bool sendSite = true;
    // A roll-off roof, or a dome that only opens and closes (its DOME_PARK, and DOME_SHUTTER where it
    // has one); empty: none.
    QString roof;
    // A dome that also turns its slit to the telescope ([dome]); empty: none. Not with a roof.
    QString dome;
    // A flat panel lit for flats in the closed observatory ([calibration]); empty: none.
    QString lightPanel;
    // What opens and closes the observatory: the roof, or the dome.
    const QString& enclosure() const { return roof.isEmpty() ? dome : roof; }
    // The indi_watchdog device, which parks and closes when the heartbeat stops; empty: none.
    QString watchdog;
    double heartbeat = 60; // seconds of silence after which the watchdog shuts the observatory
    // CCD_TEMPERATURE while open, degrees C; none: the cooler is left alone.
    std::optional<double> coolTo;
    double warmTo = 10; // CCD_TEMPERATURE at a shut-down, degrees C (with coolTo only)
    // The camera's electrons per ADU, for a lightcurve star's photon noise when its frames carry no
    // EGAIN card; none: 1 is assumed.
    std::optional<double> gain;

    bool operator==(const IndiSettings&) const = default;
};

// Plate solving after each slew of an INDI plan (astrometry.net's solve-field).
struct SolveSettings
{
    // none: on when solve-field and an index folder are found (the log says once which).
    std::optional<bool> enabled;
    double exposure = 5; // seconds of the solve frame
    int binning = 2;
    QString
        indexFolder; // empty: Debian's /usr/share/astrometry (astrometry-data-tycho2) and the usual places
    std::optional<double>
        scale;             // arcseconds per unbinned pixel; none: from the camera's pixel and focal length
    double tolerance = 60; // arcseconds the frame's centre may lie from the target
    int attempts = 3;      // solves per target at most
    bool sync = false;     // method=sync: sync the mount and slew again; else a differential slew
    double cpuLimit = 30;  // seconds of CPU time per solve
    double radius = 5;     // degrees around the target that the solver searches

    bool operator==(const SolveSettings&) const = default;
};

// Kestrove's own V-curve autofocus for "#autofocus", with [indi] focuser.
struct FocusSettings
{
    int stepsOut = 5;
    int step = 250;       // focuser units between points
    int maxTravel = 5000; // units from the start the sweep may go to bracket the minimum
    double exposure = 3;  // seconds per point
    int binning = 2;
    double timeout = 900; // seconds the whole run may take

    bool operator==(const FocusSettings&) const = default;
};

// When the observatory closes and opens again.
struct SafetySettings
{
    double closeDelay = 10;   // seconds unsafe weather must last before closing; 0: at once
    double reopenDelay = 900; // seconds of continuous safe weather before opening again
    bool closeAtEnd = true;   // shut down when a run ends

    bool operator==(const SafetySettings&) const = default;
};

// How a pass chooses between the survey kinds' best targets.
enum class SelectionPolicy
{
    // Each kind's best score times its weight, the highest winning: the survey's own rule.
    Specified,
    // Each kind's scores brought to one scale before the weights apply, shares of the night kept,
    // nothing taken before it is due or with a negative score, supernovae near their highest.
    Balanced
};

// [selection]
struct SelectionSettings
{
    SelectionPolicy policy = SelectionPolicy::Specified;
    // The balanced policy's shares of the night by kind name, in percent; empty: no shares.
    QList<QPair<QString, double>> shares;

    bool operator==(const SelectionSettings& other) const = default;
};

QString policyText(SelectionPolicy policy);
std::optional<SelectionPolicy> parsePolicy(const QString& text);

// Everything "observatory.ini" configures, for every kind of host: one reading, each host taking
// the sections it needs. [site], [mount] (but its start position), [limits] and [folders] are
// shared; [clock], [weather] and [acquisition] describe the simulated observatory; [indi] a real
// one. Defaults are written into a new file.
struct ObservatorySettings
{
    // [host]
    HostKind kind = HostKind::Sim;
    // [site]
    double latitude = 0;  // degrees, north positive
    double longitude = 0; // degrees, east positive
    double elevation = 0; // metres
    QString timeZone;     // IANA name
    // [clock]
    QString clockStart;    // "now" or an ISO 8601 UTC instant
    double clockSpeed = 1; // 1 real time, N times faster, 0 virtual time
    // [mount]
    int alignmentMode = 2;
    double mountRightAscension = 0; // J2000 hours where it points at start
    double mountDeclination = 0;    // J2000 degrees
    double slewRate = 2.5;          // degrees per second
    double settleTime = 10;         // seconds
    double tiltUpLimit = 90;
    // [limits]
    double minimumElevation = 0;
    QList<QPointF> horizon; // (azimuth, elevation) pairs; empty: flat 0
    // While the Sun stands above this altitude (degrees) the weather counts as unsafe; none: no gate.
    std::optional<double> sunAltitude = -12;
    // A target closer to the Moon than this (degrees), while the Moon is up, is not chosen; none: the
    // Moon is not looked at.
    std::optional<double> moonSeparation;
    // [weather]
    bool weatherConnected = false;
    QList<QPair<QDateTime, QDateTime>> unsafe; // UTC intervals in which the weather is unsafe
    // The folder observatory.ini is in, absolute: the user's supernova references are in its
    // "references" folder.
    QString folder;
    // [folders]
    QString planDir; // absolute, no trailing separator
    QString logDir;
    QString hostPath;
    // [acquisition]
    double autofocusSeconds = 120;
    double downloadSeconds = 5;
    double pointingSeconds = 0; // after each settle, as an observatory that plate solves spends them
    double failureRate = 0;     // probability that a plan fails before its end
    unsigned failureSeed = 1;
    double chainScriptDelay = 0; // seconds between the end of a plan and its chain script's effect
    // [indi]
    IndiSettings indi;
    // [solve] and [focus]
    SolveSettings solve;
    FocusSettings focus;
    // [grading]
    GradingSettings grading;
    // [safety]
    SafetySettings safety;
    // [selection]
    SelectionSettings selection;
    // [dome]
    DomeSettings dome;
    // [calibration]
    CalibrationSettings calibration;
    // [discovery]: the search for supernova candidates and moving objects.
    imaging::DiscoverySettings discovery;
    // [report] aavsoCode: the observer code the night's AAVSO file is made out to; empty: none yet.
    QString aavsoCode;
    // [report] mpcCode: the MPC's code of the site the movers' observation blocks name; empty: none yet.
    QString mpcCode;
    // [roof] and [mount] parkSeconds: how long the simulated roof and mount park take.
    double roofOpenSeconds = 0;
    double roofCloseSeconds = 0;
    double parkSeconds = 0;

    // What the file holds that the reader did not use: an unknown section or key, or a line of no
    // known form, one message each naming its line. Reported at start; the rest is read as usual.
    QStringList notes;

    bool operator==(const ObservatorySettings&) const = default;
};

// What a new "observatory.ini" holds where it differs from the defaults for a missing key: a
// minimum elevation of 20 degrees, and a simulated roof and mount park that take their time (an
// existing file keeps its own).
inline constexpr double newFileMinimumElevation = 20;
inline constexpr double newFileRoofSeconds = 30;
inline constexpr double newFileParkSeconds = 20;

// The defaults for an observatory kept in `folder`.
ObservatorySettings observatoryDefaults(const QString& folder);

// Reads "observatory.ini" in the folder, creating the folder and the file with defaults first when
// they are missing. A value that cannot be read throws HostError naming the key.
ObservatorySettings readObservatorySettings(const QString& folder);

// Writes the settings to "observatory.ini" in the folder.
void writeObservatorySettings(const QString& folder, const ObservatorySettings& settings);

// "observatory.ini" in the folder.
QString observatoryIniPath(const QString& folder);

// Makes folder paths absolute (relative ones are taken in `folder`, empty ones get their
// defaults) and fills in an empty clock start and time zone.
ObservatorySettings resolvedIn(const QString& folder, const ObservatorySettings& settings);

// The site's time zone and the clock's start instant (invalid for "now"); throw HostError when
// the settings name no known zone or no instant.
QTimeZone siteTimeZone(const ObservatorySettings& settings);
QDateTime clockStartInstant(const ObservatorySettings& settings);

// Why a crash or a hang of Kestrove would leave the observatory open: an INDI roof or dome with no
// [indi] watchdog to close it. Empty when a watchdog guards it or there is none.
QString unguardedRoofWarning(const ObservatorySettings& settings);

// Creates the plan, log and host folders and the placeholder acquisition script under the host's
// folder, so that the survey finds them.
void makeObservatoryFolders(const ObservatorySettings& settings);

} // namespace kestrove
