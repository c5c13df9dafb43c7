#include "host/indi/PlanExecutor.h"
#include "host/indi/steps/PropertyNames.h"

#include "config/NumberText.h"
#include "host/Clock.h"
#include "imaging/FitsFile.h"
#include "imaging/ImagingError.h"
#include "imaging/Stars.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>

#include <cmath>

namespace kestrove::indi {

namespace {

// A focuser reaches any position within this; the simulator moves at a few thousand units a second.
constexpr double kFocuserLimitSeconds = 180;
// Fewer stars than this make a focus point without a measure.
constexpr int kFocusMinimumStars = 3;
// The fit must explain this much of the curve, and the final HFR lie this close to its minimum.
constexpr double kFocusMinimumR2 = 0.8;
constexpr double kFocusFinalTolerance = 1.10;

} // namespace

void PlanExecutor::startFocus()
{
    if (!m_plan.autofocus) {
        startCamera();
        return;
    }
    const QString command = m_settings.indi.autofocusCommand;
    if (command.isEmpty() && !m_settings.indi.focuser.isEmpty()) {
        startBuiltInFocus();
        return;
    }
    if (command.isEmpty()) {
        log({QStringLiteral("autofocus"), m_plan.target,
             QStringLiteral("skipped: no [indi] autofocusCommand or focuser configured")});
        startCamera();
        return;
    }
    m_focus = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KESTROVE_INDI_SERVER"), m_link.serverText());
    env.insert(QStringLiteral("KESTROVE_FOCUSER"), m_settings.indi.focuser);
    env.insert(QStringLiteral("KESTROVE_CAMERA"), m_settings.indi.camera);
    env.insert(QStringLiteral("KESTROVE_TARGET"), m_plan.target);
    env.insert(QStringLiteral("KESTROVE_FILTER"), m_plan.filter);
    m_focus->setProcessEnvironment(env);
    m_focus->setProcessChannelMode(QProcess::MergedChannels);
    connect(m_focus.get(), &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        if (m_step != Step::Focusing)
            return;
        const bool ok = status == QProcess::NormalExit && code == 0;
        // A failed autofocus leaves the focus where it was; the images are still worth taking.
        log({QStringLiteral("autofocus"), m_plan.target,
             ok ? QStringLiteral("done")
                : QStringLiteral("failed (exit %1), the plan goes on at the current focus").arg(code)});
        m_focus.release()->deleteLater();
        try {
            startCamera();
        } catch (const std::exception& e) {
            fail(QString::fromUtf8(e.what()));
        }
    });
    log({QStringLiteral("autofocus"), m_plan.target, command});
    enter(Step::Focusing, m_settings.indi.autofocusTimeout,
          QStringLiteral("the autofocus command did not end"));
    m_focus->start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
}

void PlanExecutor::startBuiltInFocus()
{
    const QString& focuser = m_settings.indi.focuser;
    const IndiProperty* p = m_client.property(focuser, absFocus);
    const auto position = p ? p->number(absFocusValue) : std::nullopt;
    if (!position) {
        log({QStringLiteral("autofocus"), m_plan.target, QStringLiteral("skipped: the focuser reports no position")});
        startCamera();
        return;
    }
    int highest = 1 << 30;
    if (const IndiProperty* max = m_client.property(focuser, QStringLiteral("FOCUS_MAX")))
        if (const auto v = max->number(QStringLiteral("FOCUS_MAX_VALUE")); v && *v > 0)
            highest = static_cast<int>(std::lround(*v));
    const FocusSettings& f = m_settings.focus;
    const int start = static_cast<int>(std::lround(*position));
    m_focusRun = std::make_unique<FocusRun>(
        FocusRun{imaging::FocusSweep(start, f.step, f.stepsOut, f.maxTravel, 0, highest), {}, m_clock.utcNow(),
                 FocusPhase::Point, start, 0, false, {}});
    log({QStringLiteral("autofocus"), m_plan.target,
         QStringLiteral("V-curve from %1: %2 steps of %3 out, then in; %4 s at binning %5")
             .arg(start)
             .arg(f.stepsOut)
             .arg(f.step)
             .arg(doubleText(f.exposure))
             .arg(f.binning)});
    configureCamera(f.binning, 1.0, Purpose::Focus);
}

void PlanExecutor::focusNext()
{
    if (const auto next = m_focusRun->sweep.next())
        moveFocuser(*next, FocusPhase::Point);
    else
        focusFitted();
}

void PlanExecutor::moveFocuser(int position, FocusPhase phase)
{
    m_focusRun->phase = phase;
    m_focusRun->moving = position;
    m_client.sendNumbers(m_settings.indi.focuser, absFocus, {{absFocusValue, static_cast<double>(position)}});
    enter(Step::FocusMoving, kFocuserLimitSeconds, QStringLiteral("the focuser did not reach %1").arg(position));
}

void PlanExecutor::focuserArrived()
{
    FocusRun& run = *m_focusRun;
    switch (run.phase) {
    case FocusPhase::Point:
    case FocusPhase::Best:
        m_purpose = Purpose::Focus;
        startExposure(m_settings.focus.exposure);
        break;
    case FocusPhase::Overshoot:
        moveFocuser(run.best, FocusPhase::Best);
        break;
    case FocusPhase::Back:
        moveFocuser(run.sweep.start(), FocusPhase::Start);
        break;
    case FocusPhase::Start:
        focusDone();
        break;
    }
}

void PlanExecutor::measureFocus()
{
    FocusRun& run = *m_focusRun;
    const IndiBlob* blob = m_client.lastBlob(m_settings.indi.camera, mainChip);
    imaging::FocusPoint point{run.moving, 0, 0};
    try {
        const imaging::StarField field = imaging::detectStars(imaging::readFitsImage(blob->data));
        point.stars = static_cast<int>(field.stars.size());
        if (point.stars >= kFocusMinimumStars)
            point.hfr = field.medianHfr;
    } catch (const imaging::ImagingError& e) {
        log({QStringLiteral("autofocus"), m_plan.target, QStringLiteral("frame not measured: ") + e.message()});
    }
    log({QStringLiteral("focus"), m_plan.target, QStringLiteral("position %1").arg(point.position),
         QStringLiteral("HFR %1").arg(point.hfr, 0, 'f', 3), QStringLiteral("%1 stars").arg(point.stars)});
    const int step = m_settings.focus.step;
    if (run.phase == FocusPhase::Point) {
        run.sweep.add(point);
        focusNext();
        return;
    }
    // The verifying frame at the best position.
    if (point.valid() && point.hfr <= run.fit.minimumHfr * kFocusFinalTolerance) {
        run.accepted = true;
        run.outcome = QStringLiteral("accepted: focus %1, HFR %2 (fitted minimum %3), R2 %4")
                          .arg(run.best)
                          .arg(point.hfr, 0, 'f', 3)
                          .arg(run.fit.minimumHfr, 0, 'f', 3)
                          .arg(run.fit.r2, 0, 'f', 3);
        focusDone();
        return;
    }
    run.outcome = QStringLiteral("rejected: HFR %1 at %2 is more than 10 % above the fitted minimum %3; "
                                 "back to %4")
                      .arg(point.hfr, 0, 'f', 3)
                      .arg(run.best)
                      .arg(run.fit.minimumHfr, 0, 'f', 3)
                      .arg(run.sweep.start());
    moveFocuser(run.sweep.start() + step, FocusPhase::Back);
}

void PlanExecutor::focusFitted()
{
    FocusRun& run = *m_focusRun;
    run.fit = imaging::fitFocusCurve(run.sweep.window());
    QString why;
    if (!run.sweep.bracketed())
        why = run.sweep.unbracketedReason();
    else if (!run.fit.fitted)
        why = run.fit.why;
    else if (run.fit.r2 < kFocusMinimumR2)
        why = QStringLiteral("the fit's R2 %1 is below %2").arg(run.fit.r2, 0, 'f', 3).arg(kFocusMinimumR2);
    QStringList points;
    for (const imaging::FocusPoint& p : run.sweep.sorted())
        points << QStringLiteral("%1:%2/%3").arg(p.position).arg(p.hfr, 0, 'f', 3).arg(p.stars);
    log({QStringLiteral("focus curve"), m_plan.target, points.join(u' '),
         run.fit.fitted ? QStringLiteral("fitted minimum %1 HFR %2").arg(std::lround(run.fit.bestPosition))
                              .arg(run.fit.minimumHfr, 0, 'f', 3)
                        : QStringLiteral("no fit"),
         QStringLiteral("R2 %1").arg(run.fit.r2, 0, 'f', 3)});
    const int step = m_settings.focus.step;
    if (why.isEmpty()) {
        run.best = static_cast<int>(std::lround(run.fit.bestPosition));
        // Approached from above, as every point of the sweep was: the gear's play stays on one side.
        moveFocuser(run.best + step, FocusPhase::Overshoot);
        return;
    }
    run.outcome = QStringLiteral("rejected: %1; back to %2").arg(why).arg(run.sweep.start());
    moveFocuser(run.sweep.start() + step, FocusPhase::Back);
}

void PlanExecutor::focusDone()
{
    FocusRun& run = *m_focusRun;
    QString chart;
    const QString folder = imageFolder();
    if (QDir().mkpath(folder)) {
        QString name = m_plan.target;
        for (QChar& c : name)
            if (!c.isLetterOrNumber() && c != u'-')
                c = u'_';
        chart = folder + QStringLiteral("/focus-%1-%2.svg")
                             .arg(name, m_clock.utcNow().toString(QStringLiteral("yyyyMMdd-HHmmss")));
        QFile file(chart);
        const QByteArray svg =
            imaging::focusChartSvg(run.sweep.points(), run.fit,
                                   QStringLiteral("%1: focus %2").arg(m_plan.target, run.accepted
                                                                                          ? QString::number(run.best)
                                                                                          : QStringLiteral("not found")))
                .toUtf8();
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(svg) != svg.size())
            chart.clear();
    }
    const double seconds = static_cast<double>(run.started.msecsTo(m_clock.utcNow())) / 1000.0;
    QStringList fields{QStringLiteral("autofocus"), m_plan.target, run.outcome,
                       QStringLiteral("%1 s").arg(seconds, 0, 'f', 1)};
    if (!chart.isEmpty())
        fields << chart;
    log(fields);
    m_focusRun.reset();
    m_purpose = Purpose::Plan;
    startCamera();
}

} // namespace kestrove::indi
