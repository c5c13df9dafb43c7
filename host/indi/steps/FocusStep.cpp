#include "host/indi/steps/FocusStep.h"

#include "host/indi/IndiLink.h"
#include "host/indi/steps/PropertyNames.h"
#include "imaging/FitsFile.h"
#include "imaging/ImagingError.h"
#include "imaging/Stars.h"
#include "sky/Clock.h"
#include "text/NumberText.h"

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

bool FocusStep::runsVCurve() const
{
    const IndiSettings& indi = m_context.settings.indi;
    return m_context.plan.autofocus && indi.autofocusCommand.isEmpty() && !indi.focuser.isEmpty();
}

void FocusStep::start()
{
    m_run.reset();
    if (!m_context.plan.autofocus) {
        m_context.stepDone();
        return;
    }
    if (runsVCurve()) {
        startVCurve();
        return;
    }
    const QString command = m_context.settings.indi.autofocusCommand;
    if (command.isEmpty()) {
        m_context.log({QStringLiteral("autofocus"), m_context.plan.target,
                       QStringLiteral("skipped: no [indi] autofocusCommand or focuser configured")});
        m_context.stepDone();
        return;
    }
    runCommand(command);
}

void FocusStep::runCommand(const QString& command)
{
    const AcquisitionPlan& plan = m_context.plan;
    const IndiSettings& indi = m_context.settings.indi;
    m_process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KESTROVE_INDI_SERVER"), m_context.link.serverText());
    env.insert(QStringLiteral("KESTROVE_FOCUSER"), indi.focuser);
    env.insert(QStringLiteral("KESTROVE_CAMERA"), indi.camera);
    env.insert(QStringLiteral("KESTROVE_TARGET"), plan.target);
    env.insert(QStringLiteral("KESTROVE_FILTER"), plan.filter);
    m_process->setProcessEnvironment(env);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_processFinished = QObject::connect(
        m_process.get(), &QProcess::finished, m_process.get(), [this](int code, QProcess::ExitStatus status) {
            if (!m_context.waitingOn(*this) || m_phase != Phase::Command)
                return;
            const bool ok = status == QProcess::NormalExit && code == 0;
            // A failed autofocus leaves the focus where it was; the images are still worth taking.
            m_context.log(
                {QStringLiteral("autofocus"), m_context.plan.target,
                 ok ? QStringLiteral("done")
                    : QStringLiteral("failed (exit %1), the plan goes on at the current focus").arg(code)});
            m_process.release()->deleteLater();
            try {
                m_context.stepDone();
            } catch (const std::exception& e) {
                m_context.fail(QString::fromUtf8(e.what()));
            }
        });
    m_context.log({QStringLiteral("autofocus"), plan.target, command});
    m_phase = Phase::Command;
    m_context.waitOn(*this, indi.autofocusTimeout, QStringLiteral("the autofocus command did not end"));
    m_process->start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
}

void FocusStep::startVCurve()
{
    const QString& focuser = m_context.settings.indi.focuser;
    const IndiProperty* p = m_context.client.property(focuser, absFocus);
    const auto position = p ? p->number(absFocusValue) : std::nullopt;
    if (!position) {
        m_context.log({QStringLiteral("autofocus"), m_context.plan.target,
                       QStringLiteral("skipped: the focuser reports no position")});
        m_context.stepDone();
        return;
    }
    int highest = 1 << 30;
    if (const IndiProperty* max = m_context.client.property(focuser, QStringLiteral("FOCUS_MAX")))
        if (const auto v = max->number(QStringLiteral("FOCUS_MAX_VALUE")); v && *v > 0)
            highest = static_cast<int>(std::lround(*v));
    const FocusSettings& f = m_context.settings.focus;
    const int start = static_cast<int>(std::lround(*position));
    m_run = std::make_unique<Run>(Run{imaging::FocusSweep(start, f.step, f.stepsOut, f.maxTravel, 0, highest),
                                      {},
                                      m_context.clock.utcNow(),
                                      RunPhase::Point,
                                      start,
                                      0,
                                      false,
                                      {}});
    m_context.log({QStringLiteral("autofocus"), m_context.plan.target,
                   QStringLiteral("V-curve from %1: %2 steps of %3 out, then in; %4 s at binning %5")
                       .arg(start)
                       .arg(f.stepsOut)
                       .arg(f.step)
                       .arg(doubleText(f.exposure))
                       .arg(f.binning)});
    m_camera.configure(f.binning, 1.0, *this);
}

void FocusStep::next()
{
    if (const auto next = m_run->sweep.next())
        moveFocuser(*next, RunPhase::Point);
    else
        fitted();
}

void FocusStep::moveFocuser(int position, RunPhase phase)
{
    m_run->phase = phase;
    m_run->moving = position;
    m_context.client.sendNumbers(m_context.settings.indi.focuser, absFocus,
                                 {{absFocusValue, static_cast<double>(position)}});
    m_phase = Phase::Moving;
    m_context.waitOn(*this, kFocuserLimitSeconds,
                     QStringLiteral("the focuser did not reach %1").arg(position));
}

void FocusStep::arrived()
{
    Run& run = *m_run;
    switch (run.phase) {
    case RunPhase::Point:
    case RunPhase::Best:
        m_camera.expose(m_context.settings.focus.exposure, QStringLiteral("the focus exposure"));
        break;
    case RunPhase::Overshoot:
        moveFocuser(run.best, RunPhase::Best);
        break;
    case RunPhase::Back:
        moveFocuser(run.sweep.start(), RunPhase::Start);
        break;
    case RunPhase::Start:
        done();
        break;
    }
}

void FocusStep::measure(const IndiBlob* blob)
{
    Run& run = *m_run;
    imaging::FocusPoint point{run.moving, 0, 0};
    try {
        const imaging::StarField field = imaging::detectStars(imaging::readFitsImage(blob->data));
        point.stars = static_cast<int>(field.stars.size());
        if (point.stars >= kFocusMinimumStars)
            point.hfr = field.medianHfr;
    } catch (const imaging::ImagingError& e) {
        m_context.log({QStringLiteral("autofocus"), m_context.plan.target,
                       QStringLiteral("frame not measured: ") + e.message()});
    }
    m_context.log(
        {QStringLiteral("focus"), m_context.plan.target, QStringLiteral("position %1").arg(point.position),
         QStringLiteral("HFR %1").arg(point.hfr, 0, 'f', 3), QStringLiteral("%1 stars").arg(point.stars)});
    const int step = m_context.settings.focus.step;
    if (run.phase == RunPhase::Point) {
        run.sweep.add(point);
        next();
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
        done();
        return;
    }
    run.outcome = QStringLiteral("rejected: HFR %1 at %2 is more than 10 % above the fitted minimum %3; "
                                 "back to %4")
                      .arg(point.hfr, 0, 'f', 3)
                      .arg(run.best)
                      .arg(run.fit.minimumHfr, 0, 'f', 3)
                      .arg(run.sweep.start());
    moveFocuser(run.sweep.start() + step, RunPhase::Back);
}

void FocusStep::fitted()
{
    Run& run = *m_run;
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
    m_context.log({QStringLiteral("focus curve"), m_context.plan.target, points.join(u' '),
                   run.fit.fitted ? QStringLiteral("fitted minimum %1 HFR %2")
                                        .arg(std::lround(run.fit.bestPosition))
                                        .arg(run.fit.minimumHfr, 0, 'f', 3)
                                  : QStringLiteral("no fit"),
                   QStringLiteral("R2 %1").arg(run.fit.r2, 0, 'f', 3)});
    const int step = m_context.settings.focus.step;
    if (why.isEmpty()) {
        run.best = static_cast<int>(std::lround(run.fit.bestPosition));
        // Approached from above, as every point of the sweep was: the gear's play stays on one side.
        moveFocuser(run.best + step, RunPhase::Overshoot);
        return;
    }
    run.outcome = QStringLiteral("rejected: %1; back to %2").arg(why).arg(run.sweep.start());
    moveFocuser(run.sweep.start() + step, RunPhase::Back);
}

void FocusStep::done()
{
    Run& run = *m_run;
    QString chart;
    const QString folder = m_context.imageFolder();
    if (QDir().mkpath(folder)) {
        QString name = m_context.plan.target;
        for (QChar& c : name)
            if (!c.isLetterOrNumber() && c != u'-')
                c = u'_';
        chart = folder + QStringLiteral("/focus-%1-%2.svg")
                             .arg(name, m_context.clock.utcNow().toString(QStringLiteral("yyyyMMdd-HHmmss")));
        QFile file(chart);
        const QByteArray svg = imaging::focusChartSvg(run.sweep.points(), run.fit,
                                                      QStringLiteral("%1: focus %2")
                                                          .arg(m_context.plan.target,
                                                               run.accepted ? QString::number(run.best)
                                                                            : QStringLiteral("not found")))
                                   .toUtf8();
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(svg) != svg.size())
            chart.clear();
    }
    const double seconds = static_cast<double>(run.started.msecsTo(m_context.clock.utcNow())) / 1000.0;
    QStringList fields{QStringLiteral("autofocus"), m_context.plan.target, run.outcome,
                       QStringLiteral("%1 s").arg(seconds, 0, 'f', 1)};
    if (!chart.isEmpty())
        fields << chart;
    m_context.log(fields);
    m_run.reset();
    m_context.stepDone();
}

bool FocusStep::giveUpWhenOverdue()
{
    const double timeout = m_context.settings.focus.timeout;
    if (!m_run || m_run->started.msecsTo(m_context.clock.utcNow()) <= timeout * 1000)
        return false;
    m_context.log(
        {QStringLiteral("autofocus"), m_context.plan.target,
         QStringLiteral("failed: the run took more than %1 s; the plan goes on at the current focus")
             .arg(doubleText(timeout))});
    m_camera.abortExposure();
    m_run.reset();
    m_context.stepDone();
    return true;
}

void FocusStep::cameraReady()
{
    next();
}

void FocusStep::frameArrived(const IndiBlob* frame)
{
    measure(frame);
}

void FocusStep::poll()
{
    if (m_phase != Phase::Moving)
        return;
    const IndiProperty* p = m_context.client.property(m_context.settings.indi.focuser, absFocus);
    if (!p)
        return;
    if (p->state == PropertyState::Alert) {
        m_context.log(
            {QStringLiteral("autofocus"), m_context.plan.target,
             QStringLiteral("failed: the focuser reported Alert; the plan goes on at the current focus")});
        m_run.reset();
        m_context.stepDone();
        return;
    }
    const double at = p->number(absFocusValue).value_or(-1e9);
    if (p->state != PropertyState::Busy && std::abs(at - m_run->moving) < 1)
        arrived();
}

void FocusStep::stop()
{
    if (m_context.waitingOn(*this) && m_phase == Phase::Moving && m_context.client.serverConnected())
        m_context.client.sendSwitch(m_context.settings.indi.focuser, QStringLiteral("FOCUS_ABORT_MOTION"),
                                    QStringLiteral("ABORT"));
    m_run.reset();
    if (m_process) {
        QObject::disconnect(m_processFinished);
        m_process->kill();
        m_process->waitForFinished(1000);
        m_process.reset();
    }
}

} // namespace kestrove::indi
