#pragma once

#include "report/Preview.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <functional>
#include <map>
#include <optional>

namespace kestrove {

// What to preview over consecutive nights: the first night's request (its span is not used: each
// night runs over its own dark window), how many nights, and the share of them that are clear.
struct MonthRequest
{
    PreviewRequest first;
    int nights = 1;
    double clearFraction = 1;
    quint32 seed = 0;
};

// One night of a month's preview: cloudy nights have no plans.
struct MonthNight
{
    QDate night;
    bool clear = true;
    QList<ObservedPlan> plans;
};

// How well the month served one target.
struct TargetCoverage
{
    SurveyKind kind = SurveyKind::SNe;
    QString name;
    QList<int> visitsPerNight; // one count per night of the month
    int visits = 0;
    int nightsObserved = 0;
    std::optional<double> meanIntervalHours; // between consecutive visits; none below two visits
    std::optional<double> longestIntervalHours;
    QDateTime firstUtc; // invalid when never visited
    QDateTime lastUtc;
    // SLC: the interval its config line asks for, and the mean interval between visits within a
    // night (minutes); none when no night had two visits.
    std::optional<int> cadenceAsked;
    std::optional<double> cadenceGot;
    // SLC: visits that came sooner after the one before than the cadence asked.
    int earlyVisits = 0;
};

struct MonthReport
{
    QDate first;
    QTimeZone zone;
    QList<MonthNight> nights;
    QList<TargetCoverage> coverage;
    QStringList messages; // what the nights' surveys would have shown, each once
    bool stopped = false; // a night was stopped: the later ones were not run
    // The policy the nights chose by, its shares, and the time each kind took over the month.
    SelectionPolicy policy = SelectionPolicy::Specified;
    KindShares shares{};
    KindTimes kindTimes;
};

// Which of `nights` nights are clear: each one with probability `clearFraction`, drawn from `seed`,
// so that the same seed loses the same nights.
QList<bool> clearNights(int nights, double clearFraction, quint32 seed);

// The SLC targets' intervals in minutes, by name, from a "SLCTargets.txt" (60 where the config line
// gives none).
std::map<QString, int> slcIntervals(const QString& path);

// Whether the mean interval got between a target's visits within a night keeps the one asked:
// within a tenth of it either way.
bool cadenceKept(int askedMinutes, double gotMinutes);

// Coverage of the targets (in the order given, those never visited included; then any other target
// the plans name) by the nights' completed plans: one cut short, or whose frames were all rejected,
// is not a visit.
QList<TargetCoverage> coverageOf(const QList<MonthNight>& nights,
                                 const QList<std::pair<SurveyKind, QString>>& targets,
                                 const std::map<QString, int>& slcCadence);

// Runs the survey night after night over the dark windows from the first night on, in one scratch
// copy of the program folder, so that every update carries on; the days in between are skipped at
// once. `progress` gets the night's index and the fraction of it done, and returns false to stop.
MonthReport runMonthPreview(const MonthRequest& request,
                            const std::function<bool(int, double)>& progress = {});

// "coverage.csv": a line per target.
QByteArray coverageCsv(const MonthReport& report);
// Plans of every night, as plans.csv lists a night's.
QByteArray monthPlansCsv(const MonthReport& report);
// Per kind: targets, how many were visited, visits, nights observed; for SLC the cadence kept.
QString monthSummary(const MonthReport& report);

} // namespace kestrove
