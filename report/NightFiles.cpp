#include "report/NightFiles.h"

#include "core/Csv.h"
#include "report/FrameLines.h"
#include "text/HostError.h"
#include "text/NumberText.h"
#include "text/ValueText.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <map>

namespace kestrove {

namespace {

QString localText(const QDateTime& utc, const QTimeZone& zone)
{
    return utc.toTimeZone(zone).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString clockText(const QDateTime& utc, const QTimeZone& zone)
{
    return utc.toTimeZone(zone).toString(QStringLiteral("HH:mm"));
}

QString durationText(qint64 seconds)
{
    const qint64 minutes = (seconds + 30) / 60;
    return QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

// Three significant digits without an exponent: 71.3, 0.823, 7130.
QString significant(double value)
{
    const int digits = value == 0 ? 2 : 2 - static_cast<int>(std::floor(std::log10(std::abs(value))));
    return QString::number(value, 'f', std::clamp(digits, 0, 6));
}

QByteArray csvBytes(const QList<QStringList>& rows)
{
    QByteArray bytes;
    for (const QStringList& row : rows)
        bytes += csvLine(row).toUtf8() + '\n';
    return bytes;
}

// The part of [start, end) that lies inside the span, in seconds.
qint64 overlapSeconds(const QDateTime& start, const QDateTime& end, const TimeSpan& span)
{
    const QDateTime from = std::max(start, span.startUtc);
    const QDateTime to = std::min(end, span.endUtc);
    return from < to ? from.secsTo(to) : 0;
}

} // namespace

QByteArray plansCsv(const NightReport& report)
{
    QList<QStringList> rows{
        {QStringLiteral("start (UTC)"), QStringLiteral("end (UTC)"), QStringLiteral("start (local)"),
         QStringLiteral("end (local)"), QStringLiteral("kind"), QStringLiteral("target"),
         QStringLiteral("weighted score"), QStringLiteral("elevation (deg)"), QStringLiteral("azimuth (deg)"),
         QStringLiteral("airmass"), QStringLiteral("duration (min)"), QStringLiteral("expected (min)"),
         QStringLiteral("result")}};
    for (const ObservedPlan& plan : report.plans) {
        const HistoryEntry& e = plan.entry;
        rows << QStringList{utcInstantText(e.startUtc),
                            utcInstantText(e.endUtc),
                            localText(e.startUtc, report.zone),
                            localText(e.endUtc, report.zone),
                            kindText(e.kind),
                            e.target,
                            singleText(e.score),
                            fixed(plan.atStart.elevation, 2),
                            fixed(plan.atStart.azimuth, 2),
                            plan.airmass ? fixed(*plan.airmass, 3) : QString(),
                            fixed(e.startUtc.secsTo(e.endUtc) / 60.0, 1),
                            plan.expectedSeconds ? fixed(*plan.expectedSeconds / 60.0, 1) : QString(),
                            e.result};
    }
    return csvBytes(rows);
}

QByteArray reasonsCsv(const NightReport& report)
{
    QList<QStringList> rows{{QStringLiteral("kind"),
                             QStringLiteral("target"),
                             QStringLiteral("passes considered"),
                             QStringLiteral("passes chosen"),
                             QStringLiteral("mount limit"),
                             QStringLiteral("observation window"),
                             QStringLiteral("minimum elevation"),
                             QStringLiteral("horizon"),
                             QStringLiteral("moon"),
                             QStringLiteral("transit elevation"),
                             QStringLiteral("imaged within 12 h"),
                             QStringLiteral("set complete"),
                             QStringLiteral("not due"),
                             QStringLiteral("no position"),
                             QStringLiteral("sun limit"),
                             QStringLiteral("lower score"),
                             QStringLiteral("below its minAltitude"),
                             QStringLiteral("above its maxAirmass"),
                             QStringLiteral("outside its window"),
                             QStringLiteral("negative score"),
                             QStringLiteral("share used")}};
    for (const TargetReasons& target : report.reasons) {
        QStringList row{kindText(target.kind), target.name, QString::number(target.considered)};
        for (const Outcome outcome :
             {Outcome::Chosen, Outcome::MountLimit, Outcome::ObservationWindow, Outcome::MinimumElevation,
              Outcome::Horizon, Outcome::Moon, Outcome::TransitElevation, Outcome::ImagedWithin12h,
              Outcome::SetComplete, Outcome::NotDue, Outcome::NoPosition, Outcome::SunLimit,
              Outcome::LowerScore, Outcome::BelowMinAltitude, Outcome::AboveMaxAirmass,
              Outcome::OutsideWindow, Outcome::NegativeScore, Outcome::ShareUsed})
            row << QString::number(target.count(outcome));
        rows << row;
    }
    return csvBytes(rows);
}

QString nightSummary(const NightReport& report)
{
    QStringList lines;
    const QString zoneName = QString::fromUtf8(report.zone.id());
    lines << QStringLiteral("%1 of the night of %2 at latitude %3, longitude %4 (%5)")
                 .arg(report.preview ? QStringLiteral("Preview") : QStringLiteral("Report"),
                      report.night.toString(Qt::ISODate), doubleText(report.site.latitude),
                      doubleText(report.site.longitude), zoneName);
    lines << QStringLiteral("Covered: %1 to %2 local (%3 to %4)")
                 .arg(localText(report.span.startUtc, report.zone),
                      localText(report.span.endUtc, report.zone), utcInstantText(report.span.startUtc),
                      utcInstantText(report.span.endUtc));

    std::map<SurveyKind, int> perKind;
    int completed = 0;
    for (const ObservedPlan& plan : report.plans) {
        ++perKind[plan.entry.kind];
        completed += plan.entry.result.startsWith(QLatin1String("completed"));
    }
    QStringList kinds;
    for (const auto& [kind, count] : perKind)
        kinds << QStringLiteral("%1 %2").arg(kindText(kind)).arg(count);
    lines << QStringLiteral("Plans: %1%2; %3 completed, %4 not")
                 .arg(report.plans.size())
                 .arg(kinds.isEmpty() ? QString()
                                      : QStringLiteral(" (") + kinds.join(QStringLiteral(", ")) + u')')
                 .arg(completed)
                 .arg(report.plans.size() - completed);

    if (report.dark) {
        qint64 used = 0;
        for (const ObservedPlan& plan : report.plans)
            used += overlapSeconds(plan.entry.startUtc, plan.entry.endUtc, *report.dark);
        const qint64 dark = report.dark->startUtc.secsTo(report.dark->endUtc);
        lines << QStringLiteral(
                     "Dark time (Sun below %1 degrees, %2 to %3 local): %4, of which plans used %5 (%6%)")
                     .arg(doubleText(darkSunAltitude), clockText(report.dark->startUtc, report.zone),
                          clockText(report.dark->endUtc, report.zone), durationText(dark), durationText(used),
                          QString::number(
                              dark > 0 ? 100.0 * static_cast<double>(used) / static_cast<double>(dark) : 0.0,
                              'f', 0));
    } else {
        lines << QStringLiteral("Dark time: none, the Sun stays above %1 degrees")
                     .arg(doubleText(darkSunAltitude));
    }
    if (report.preview && report.policy == SelectionPolicy::Balanced) {
        lines << QStringLiteral("Policy: ") + policyLine(report.policy, report.shares);
        lines << sharesLine(report.kindTimes, report.shares);
    }
    if (report.preview)
        lines << QStringLiteral("Passes: %1, of which idle (no viable target): %2")
                     .arg(report.passes)
                     .arg(report.idlePasses);
    // What weights to set: each kind's typical best, before and after its weight.
    if (!report.kindScores.isEmpty()) {
        QStringList kinds;
        for (const KindScore& k : report.kindScores)
            kinds << QStringLiteral("%1 %2 (weighted %3, %4 passes)")
                         .arg(kindText(k.kind), significant(k.score), significant(k.weightedScore))
                         .arg(k.passes);
        lines << QStringLiteral("Typical winning score per kind (the median of its best target's score): ") +
                     kinds.join(QStringLiteral(", "));
    }
    const auto describe = [&report](const ObservedPlan& plan) {
        const HistoryEntry& e = plan.entry;
        return QStringLiteral("%1 local, %2 %3, weighted score %4, elevation %5, %6")
            .arg(localText(e.startUtc, report.zone), kindText(e.kind), e.target, singleText(e.score),
                 fixed(plan.atStart.elevation, 1), e.result);
    };
    if (!report.plans.isEmpty()) {
        lines << QStringLiteral("First plan: ") + describe(report.plans.first());
        lines << QStringLiteral("Last plan: ") + describe(report.plans.last());
    }
    if (!report.frames.empty()) {
        std::vector<int> stars;
        std::vector<double> hfr;
        for (const database::FrameRecord& f : report.frames)
            if (f.accepted) {
                stars.push_back(f.measurement.stars);
                hfr.push_back(f.measurement.medianHfr);
            }
        const auto rejected = static_cast<qsizetype>(report.frames.size() - stars.size());
        QString line = QStringLiteral("Frames: %1 taken, %2 accepted, %3 rejected")
                           .arg(report.frames.size())
                           .arg(stars.size())
                           .arg(rejected);
        if (!stars.empty()) {
            std::nth_element(stars.begin(), stars.begin() + stars.size() / 2, stars.end());
            std::nth_element(hfr.begin(), hfr.begin() + hfr.size() / 2, hfr.end());
            line += QStringLiteral("; accepted frames' median: %1 stars, HFR %2 px")
                        .arg(stars[stars.size() / 2])
                        .arg(QString::number(hfr[hfr.size() / 2], 'f', 2));
        }
        lines << line;
        // The rejections are what the observer wants to see; the rest are in frames.csv.
        constexpr qsizetype shown = 20;
        qsizetype listed = 0;
        for (const database::FrameRecord& f : report.frames)
            if (!f.accepted && listed++ < shown)
                lines << QStringLiteral("Rejected: ") + frameLine(f, report.zone);
        if (rejected > shown)
            lines << QStringLiteral("Rejected: %1 more in frames.csv").arg(rejected - shown);
    }
    for (const QString& line : report.calibration)
        lines << line;
    for (const database::MasterRecord& m : report.masters)
        lines << QStringLiteral("Master made: %1: %2").arg(masterLine(m), QFileInfo(m.path).fileName());
    for (const auto& [name, frames] : report.mastersUsed)
        lines << QStringLiteral("Master used: %1 by %2 frames").arg(name).arg(frames);
    const NightDiscoveries& found = report.discoveries;
    if (!found.candidates.empty())
        lines << QStringLiteral("Candidates: %1, to be judged by eye from their cut-outs (reference, new, "
                                "difference)")
                     .arg(found.candidates.size());
    for (const database::CandidateRecord& c : found.candidates) {
        lines << QStringLiteral("Candidate: ") + candidateLine(c, report.zone);
        if (!c.cutouts.isEmpty())
            lines << QStringLiteral("  cut-outs: %1-reference.png, -new.png, -difference.png").arg(c.cutouts);
    }
    if (!found.movers.empty())
        lines << QStringLiteral("Movers: %1, their observations in mpc.txt to check before sending")
                     .arg(found.movers.size());
    for (const database::MoverRecord& m : found.movers)
        lines << QStringLiteral("Mover: ") + moverLine(m, report.zone);
    for (const QString& message : report.messages)
        lines << QStringLiteral("Message: ") + message;
    return lines.join(u'\n') + u'\n';
}

QString policyLine(SelectionPolicy policy, const KindShares& shares)
{
    QString text = policyText(policy);
    QStringList items;
    for (const SurveyKind kind : {SurveyKind::SNe, SurveyKind::MPS, SurveyKind::MPF, SurveyKind::SLC})
        if (shares[slotOf(kind)] > 0)
            items << QStringLiteral("%1 %2").arg(kindText(kind), doubleText(shares[slotOf(kind)]));
    if (!items.isEmpty())
        text += QStringLiteral(", shares ") + items.join(QStringLiteral(", "));
    return text;
}

QString sharesLine(const KindTimes& times, const KindShares& shares)
{
    QStringList items;
    for (const SurveyKind kind : {SurveyKind::SNe, SurveyKind::MPS, SurveyKind::MPF, SurveyKind::SLC}) {
        const int k = slotOf(kind);
        if (!(times.available[k] > 0))
            continue;
        QString item = QStringLiteral("%1 %2 %").arg(kindText(kind),
                                                     fixed(100 * times.seconds[k] / times.available[k], 1));
        if (anyShare(shares))
            item += QStringLiteral(" (asked %1)").arg(fixed(100 * times.entitled[k] / times.available[k], 1));
        items << item;
    }
    return QStringLiteral("Share of the time in plans while each kind had a target: ") +
           (items.isEmpty() ? QStringLiteral("none") : items.join(QStringLiteral(", ")));
}

QString newDatedFolder(const QString& parent, const QDate& night)
{
    const QString base = QDir(parent).filePath(night.toString(Qt::ISODate));
    QString folder = base;
    for (int n = 2; QFileInfo::exists(folder); ++n)
        folder = base + u'-' + QString::number(n);
    if (!QDir().mkpath(folder))
        throw HostError(QStringLiteral("preview"), folder, QStringLiteral("cannot create the folder"));
    return folder;
}

} // namespace kestrove
