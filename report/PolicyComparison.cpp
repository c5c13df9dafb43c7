#include "report/PolicyComparison.h"

#include <QDir>
#include <QStringList>

#include <algorithm>
#include <tuple>
#include <vector>

namespace kestrove {

namespace {

const SurveyKind kinds[] = {SurveyKind::SNe, SurveyKind::MPS, SurveyKind::MPF, SurveyKind::SLC};

std::optional<double> median(std::vector<double> values)
{
    if (values.empty())
        return std::nullopt;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

QString number(const std::optional<double>& value, int decimals)
{
    return value ? QString::number(*value, 'f', decimals) : QStringLiteral("-");
}

} // namespace

std::optional<double> PolicyFigures::shareGot(SurveyKind kind) const
{
    const int k = slotOf(kind);
    if (!(times.available[k] > 0))
        return std::nullopt;
    return 100 * times.seconds[k] / times.available[k];
}

std::optional<double> PolicyFigures::shareAsked(SurveyKind kind) const
{
    const int k = slotOf(kind);
    if (!anyShare(shares) || !(times.available[k] > 0))
        return std::nullopt;
    return 100 * times.entitled[k] / times.available[k];
}

PolicyFigures policyFigures(const MonthReport& report)
{
    PolicyFigures figures;
    figures.policy = report.policy;
    figures.shares = report.shares;
    figures.times = report.kindTimes;
    std::array<std::vector<double>, kindSlots> airmass;
    for (const MonthNight& night : report.nights) {
        figures.nights += night.clear;
        for (const ObservedPlan& plan : night.plans) {
            const int k = slotOf(plan.entry.kind);
            ++figures.plans[k];
            if (plan.airmass)
                airmass[k].push_back(*plan.airmass);
            figures.negativePlans += plan.entry.score < 0;
        }
    }
    for (int k = 0; k < kindSlots; ++k)
        figures.medianAirmass[k] = median(airmass[k]);
    std::vector<double> asked, got;
    for (const TargetCoverage& target : report.coverage) {
        if (target.kind != SurveyKind::SLC)
            continue;
        figures.earlyVisits += target.earlyVisits;
        if (!target.cadenceAsked || !target.cadenceGot)
            continue;
        asked.push_back(*target.cadenceAsked);
        got.push_back(*target.cadenceGot);
        ++figures.cadenceKnown;
        figures.cadenceKept += *target.cadenceGot <= *target.cadenceAsked * 1.1;
    }
    figures.cadenceAsked = median(asked);
    figures.cadenceGot = median(got);
    return figures;
}

MonthReport asMonth(const NightReport& night, const std::map<QString, int>& slcCadence)
{
    MonthReport month;
    month.first = night.night;
    month.zone = night.zone;
    month.nights << MonthNight{night.night, true, night.plans};
    QList<std::pair<SurveyKind, QString>> targets;
    for (const TargetReasons& target : night.reasons)
        targets << std::pair{target.kind, target.name};
    month.coverage = coverageOf(month.nights, targets, slcCadence);
    month.messages = night.messages;
    month.policy = night.policy;
    month.shares = night.shares;
    month.kindTimes = night.kindTimes;
    return month;
}

QString policyComparison(const PolicyFigures& specified, const PolicyFigures& balanced)
{
    QStringList lines;
    const auto row = [&lines](const QString& what, const QString& a, const QString& b) {
        lines << QStringLiteral("%1%2%3").arg(what, -44).arg(a, 14).arg(b, 14);
    };
    const auto rowOf = [&](const QString& what, const std::function<QString(const PolicyFigures&)>& text) {
        row(what, text(specified), text(balanced));
    };
    const PolicyFigures* both[] = {&specified, &balanced};
    const auto enabled = [&](SurveyKind kind) {
        return std::any_of(std::begin(both), std::end(both), [&](const PolicyFigures* f) {
            return f->times.available[slotOf(kind)] > 0 || f->plans[slotOf(kind)] > 0;
        });
    };

    lines << QStringLiteral("Policies side by side on the same %1 clear nights:").arg(specified.nights);
    row(QString(), QStringLiteral("specified"), QStringLiteral("balanced"));
    rowOf(QStringLiteral("Plans"), [](const PolicyFigures& f) {
        int all = 0;
        for (const int plans : f.plans)
            all += plans;
        return QString::number(all);
    });
    for (const SurveyKind kind : kinds)
        if (enabled(kind))
            rowOf(QStringLiteral("  ") + kindText(kind),
                  [kind](const PolicyFigures& f) { return QString::number(f.plans[slotOf(kind)]); });
    rowOf(QStringLiteral("Hours in plans"), [](const PolicyFigures& f) {
        double seconds = 0;
        for (const double s : f.times.seconds)
            seconds += s;
        return QString::number(seconds / 3600, 'f', 1);
    });
    lines << QStringLiteral("Share of the time while it had a target, % (asked)");
    for (const SurveyKind kind : kinds)
        if (enabled(kind))
            rowOf(QStringLiteral("  ") + kindText(kind), [kind](const PolicyFigures& f) {
                QString text = number(f.shareGot(kind), 1);
                if (const auto asked = f.shareAsked(kind))
                    text += QStringLiteral(" (%1)").arg(*asked, 0, 'f', 0);
                return text;
            });
    lines << QStringLiteral("Median airmass of the plans");
    for (const SurveyKind kind : kinds)
        if (enabled(kind))
            rowOf(QStringLiteral("  ") + kindText(kind),
                  [kind](const PolicyFigures& f) { return number(f.medianAirmass[slotOf(kind)], 2); });
    rowOf(QStringLiteral("SLC cadence asked, median (min)"),
          [](const PolicyFigures& f) { return number(f.cadenceAsked, 0); });
    rowOf(QStringLiteral("SLC cadence got, median (min)"),
          [](const PolicyFigures& f) { return number(f.cadenceGot, 0); });
    rowOf(QStringLiteral("SLC stars keeping their cadence"), [](const PolicyFigures& f) {
        return QStringLiteral("%1 of %2").arg(f.cadenceKept).arg(f.cadenceKnown);
    });
    rowOf(QStringLiteral("SLC visits before their interval"),
          [](const PolicyFigures& f) { return QString::number(f.earlyVisits); });
    rowOf(QStringLiteral("Plans with a negative score"),
          [](const PolicyFigures& f) { return QString::number(f.negativePlans); });
    return lines.join(u'\n') + u'\n';
}

QString policyComparison(const PolicyMonths& months)
{
    return policyComparison(policyFigures(months.specified), policyFigures(months.balanced));
}

PolicyMonths comparePolicies(const PreviewRequest& request, const std::function<bool(int, double)>& progress)
{
    PolicyMonths nights;
    // The interval a star asks for is not changed by observing it.
    const std::map<QString, int> cadence =
        slcIntervals(QDir(request.programFolder).filePath(QStringLiteral("SLCTargets.txt")));
    PreviewRequest one = request;
    if (!one.observatory)
        one.observatory = resolvedUserObservatory(one.observatoryFolder);
    int index = 0;
    for (const auto& [policy, report, night] :
         {std::tuple{SelectionPolicy::Specified, &nights.specified, &nights.specifiedNight},
          std::tuple{SelectionPolicy::Balanced, &nights.balanced, &nights.balancedNight}}) {
        one.policy = policy;
        bool stopped = false;
        *night = runPreview(one, [&](double fraction) {
            stopped = progress && !progress(index, fraction);
            return !stopped;
        });
        *report = asMonth(**night, cadence);
        if (stopped) {
            nights.stopped = true;
            break;
        }
        ++index;
    }
    return nights;
}

PolicyMonths comparePolicies(const MonthRequest& request,
                             const std::function<bool(int, int, double)>& progress)
{
    PolicyMonths months;
    MonthRequest one = request;
    if (!one.first.observatory)
        one.first.observatory = resolvedUserObservatory(one.first.observatoryFolder);
    int index = 0;
    for (const auto& [policy, report] : {std::pair{SelectionPolicy::Specified, &months.specified},
                                         std::pair{SelectionPolicy::Balanced, &months.balanced}}) {
        one.first.policy = policy;
        *report = runMonthPreview(
            one, [&](int night, double fraction) { return !progress || progress(index, night, fraction); });
        if (report->stopped) {
            months.stopped = true;
            break;
        }
        ++index;
    }
    return months;
}

} // namespace kestrove
