#include "report/MonthPreview.h"

#include "core/Csv.h"
#include "report/NightFiles.h"
#include "text/HostError.h"
#include "text/NumberText.h"
#include "text/ValueText.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <random>

namespace kestrove {

namespace {

const SurveyKind kinds[] = {SurveyKind::SNe, SurveyKind::MPS, SurveyKind::MPF, SurveyKind::SLC};

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

QString optionalText(const std::optional<double>& value, int decimals)
{
    return value ? fixed(*value, decimals) : QString();
}

QString targetKey(SurveyKind kind, const QString& name)
{
    return kindText(kind) + u'\t' + name;
}

} // namespace

QList<bool> clearNights(int nights, double clearFraction, quint32 seed)
{
    // mt19937's sequence is fixed by the standard, unlike the distributions built on it.
    std::mt19937 random(seed);
    QList<bool> clear;
    for (int i = 0; i < nights; ++i)
        clear << (random() / 4294967296.0 < clearFraction);
    return clear;
}

std::map<QString, int> slcIntervals(const QString& path)
{
    std::map<QString, int> intervals;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return intervals;
    static const QRegularExpression item(QStringLiteral("(?:^| )interval=(-?\\d+)"));
    QString name;
    while (!file.atEnd()) {
        const QString line = QString::fromLatin1(file.readLine()).trimmed();
        if (line.startsWith(QLatin1String("****"))) {
            if (name.isEmpty())
                continue;
            const QRegularExpressionMatch match = item.match(line);
            intervals[name] = match.hasMatch() ? match.captured(1).toInt() : 60;
            name.clear();
        } else if (line.contains(u'\t')) {
            name = line.left(line.indexOf(u'\t'));
        }
    }
    return intervals;
}

bool cadenceKept(int askedMinutes, double gotMinutes)
{
    // Visits far closer together than asked are as wrong as visits too far apart: a star asked for
    // every 12 hours and taken every 2 minutes was not followed as asked.
    return std::abs(gotMinutes - askedMinutes) <= 0.1 * askedMinutes;
}

QList<TargetCoverage> coverageOf(const QList<MonthNight>& nights,
                                 const QList<std::pair<SurveyKind, QString>>& targets,
                                 const std::map<QString, int>& slcCadence)
{
    QList<TargetCoverage> coverage;
    std::map<QString, qsizetype> index;
    const auto add = [&](SurveyKind kind, const QString& name) -> TargetCoverage& {
        const QString key = targetKey(kind, name);
        const auto it = index.find(key);
        if (it != index.end())
            return coverage[it->second];
        index[key] = coverage.size();
        TargetCoverage target;
        target.kind = kind;
        target.name = name;
        target.visitsPerNight = QList<int>(nights.size(), 0);
        if (kind == SurveyKind::SLC) {
            const auto cadence = slcCadence.find(name);
            if (cadence != slcCadence.end())
                target.cadenceAsked = cadence->second;
        }
        coverage << target;
        return coverage.last();
    };
    for (const auto& [kind, name] : targets)
        add(kind, name);

    // The visits of each target in time order, with the night each falls in. A plan cut short or
    // none of whose frames was accepted looked at nothing: the target stays as unvisited as before.
    std::map<QString, QList<std::pair<QDateTime, int>>> visits;
    for (qsizetype n = 0; n < nights.size(); ++n)
        for (const ObservedPlan& plan : nights[n].plans) {
            const HistoryEntry& e = plan.entry;
            add(e.kind, e.target);
            if (!e.result.startsWith(QLatin1String("completed")))
                continue;
            visits[targetKey(e.kind, e.target)] << std::pair{e.startUtc, static_cast<int>(n)};
        }
    for (TargetCoverage& target : coverage) {
        auto& list = visits[targetKey(target.kind, target.name)];
        std::sort(list.begin(), list.end());
        target.visits = static_cast<int>(list.size());
        for (const auto& [utc, night] : list)
            ++target.visitsPerNight[night];
        target.nightsObserved = static_cast<int>(std::count_if(
            target.visitsPerNight.begin(), target.visitsPerNight.end(), [](int v) { return v > 0; }));
        if (list.isEmpty())
            continue;
        target.firstUtc = list.first().first;
        target.lastUtc = list.last().first;
        double sum = 0, longest = 0, sameNightSum = 0;
        int sameNight = 0;
        for (qsizetype i = 1; i < list.size(); ++i) {
            const double seconds = static_cast<double>(list[i - 1].first.secsTo(list[i].first));
            sum += seconds;
            longest = std::max(longest, seconds);
            if (target.cadenceAsked && seconds < *target.cadenceAsked * 60.0)
                ++target.earlyVisits;
            if (list[i - 1].second == list[i].second) {
                sameNightSum += seconds;
                ++sameNight;
            }
        }
        if (list.size() > 1) {
            target.meanIntervalHours = sum / static_cast<double>(list.size() - 1) / 3600;
            target.longestIntervalHours = longest / 3600;
        }
        if (target.kind == SurveyKind::SLC && sameNight > 0)
            target.cadenceGot = sameNightSum / sameNight / 60;
    }
    return coverage;
}

MonthReport runMonthPreview(const MonthRequest& request, const std::function<bool(int, double)>& progress)
{
    if (request.nights < 1)
        throw HostError(QStringLiteral("preview"), QString(),
                        QStringLiteral("a preview needs a night at least"));
    PreviewRequest night = request.first;
    if (!night.observatory)
        night.observatory = resolvedUserObservatory(night.observatoryFolder);
    const ResolvedObservatory& observatory = *night.observatory;

    MonthReport report;
    report.first = request.first.night;
    report.zone = observatory.zone;
    const QList<bool> clear = clearNights(request.nights, request.clearFraction, request.seed);
    PreviewScratch scratch(request.first.programFolder);
    report.policy = night.policy.value_or(observatory.settings.selection.policy);
    if (report.policy == SelectionPolicy::Balanced)
        report.shares = kindShares(observatory.settings.selection.shares);
    // The balanced policy's memory and shares carry on from night to night.
    KindBalance balance;
    night.balance = &balance;
    QList<std::pair<SurveyKind, QString>> targets;
    std::map<QString, bool> known;
    for (int i = 0; i < request.nights; ++i) {
        MonthNight month;
        month.night = report.first.addDays(i);
        month.clear = clear[i];
        if (month.clear) {
            night.night = month.night;
            night.span = darkSpan(observatory, month.night);
            bool stopped = false;
            const auto nightProgress = [&](double fraction) {
                stopped = progress && !progress(i, fraction);
                return !stopped;
            };
            const NightReport one = runPreview(scratch, night, nightProgress);
            // Only what the coverage needs is kept: memory stays flat however long the month.
            month.plans = one.plans;
            for (int k = 0; k < kindSlots; ++k) {
                report.kindTimes.seconds[k] += one.kindTimes.seconds[k];
                report.kindTimes.available[k] += one.kindTimes.available[k];
                report.kindTimes.entitled[k] += one.kindTimes.entitled[k];
            }
            for (const TargetReasons& target : one.reasons) {
                bool& seen = known[targetKey(target.kind, target.name)];
                if (!seen)
                    targets << std::pair{target.kind, target.name};
                seen = true;
            }
            for (const QString& message : one.messages)
                if (!report.messages.contains(message))
                    report.messages << message;
            if (stopped) {
                report.stopped = true;
                report.nights << month;
                break;
            }
        } else if (progress && !progress(i, 1.0)) {
            report.stopped = true;
            report.nights << month;
            break;
        }
        report.nights << month;
    }
    report.coverage = coverageOf(report.nights, targets,
                                 slcIntervals(scratch.programFolder() + QStringLiteral("/SLCTargets.txt")));
    return report;
}

QByteArray coverageCsv(const MonthReport& report)
{
    QByteArray bytes = csvLine({QStringLiteral("kind"), QStringLiteral("target"),
                                QStringLiteral("nights observed"), QStringLiteral("visits"),
                                QStringLiteral("mean interval (h)"), QStringLiteral("longest interval (h)"),
                                QStringLiteral("first visit (UTC)"), QStringLiteral("last visit (UTC)"),
                                QStringLiteral("cadence asked (min)"), QStringLiteral("cadence got (min)")})
                           .toUtf8() +
                       "\r\n";
    for (const TargetCoverage& t : report.coverage)
        bytes +=
            csvLine({kindText(t.kind), t.name, QString::number(t.nightsObserved), QString::number(t.visits),
                     optionalText(t.meanIntervalHours, 2), optionalText(t.longestIntervalHours, 2),
                     t.firstUtc.isValid() ? utcInstantText(t.firstUtc) : QString(),
                     t.lastUtc.isValid() ? utcInstantText(t.lastUtc) : QString(),
                     t.cadenceAsked ? QString::number(*t.cadenceAsked) : QString(),
                     optionalText(t.cadenceGot, 1)})
                .toUtf8() +
            "\r\n";
    return bytes;
}

QByteArray monthPlansCsv(const MonthReport& report)
{
    NightReport all;
    all.zone = report.zone;
    for (const MonthNight& night : report.nights)
        all.plans << night.plans;
    return plansCsv(all);
}

QString monthSummary(const MonthReport& report)
{
    const auto clear = std::count_if(report.nights.begin(), report.nights.end(),
                                     [](const MonthNight& n) { return n.clear; });
    QString text = QStringLiteral("Preview of %1 nights from %2: %3 clear, %4 lost to weather\n")
                       .arg(report.nights.size())
                       .arg(report.first.toString(Qt::ISODate))
                       .arg(clear)
                       .arg(report.nights.size() - clear);
    if (report.policy == SelectionPolicy::Balanced)
        text += QStringLiteral("Policy: ") + policyLine(report.policy, report.shares) + u'\n' +
                sharesLine(report.kindTimes, report.shares) + u'\n';
    for (const SurveyKind kind : kinds) {
        int targets = 0, visited = 0, visits = 0, nightsObserved = 0, kept = 0, cadenceKnown = 0;
        int most = 0;
        for (const TargetCoverage& t : report.coverage) {
            if (t.kind != kind)
                continue;
            ++targets;
            visited += t.visits > 0;
            visits += t.visits;
            nightsObserved += t.nightsObserved;
            most = std::max(most, t.visits);
            if (t.cadenceAsked && t.cadenceGot) {
                ++cadenceKnown;
                kept += cadenceKept(*t.cadenceAsked, *t.cadenceGot);
            }
        }
        if (targets == 0)
            continue;
        text +=
            QStringLiteral("%1: %2 targets, %3 visited, %4 never; %5 visits (most %6), %7 nights observed "
                           "per target on average")
                .arg(kindText(kind))
                .arg(targets)
                .arg(visited)
                .arg(targets - visited)
                .arg(visits)
                .arg(most)
                .arg(fixed(static_cast<double>(nightsObserved) / targets, 1));
        if (kind == SurveyKind::SLC)
            text +=
                QStringLiteral("; cadence kept by %1 of %2 with repeated visits").arg(kept).arg(cadenceKnown);
        text += u'\n';
    }
    return text;
}

} // namespace kestrove
