#include "host/indi/steps/CameraControl.h"

#include "host/indi/steps/PropertyNames.h"
#include "sky/Clock.h"
#include "text/NumberText.h"

#include <cmath>

namespace kestrove::indi {

void CameraControl::configure(int binningValue, double subframe, User& user)
{
    m_user = &user;
    const QString& camera = m_context.settings.indi.camera;
    IndiClient& client = m_context.client;
    const IndiProperty* info = client.property(camera, QStringLiteral("CCD_INFO"));
    const int width = info ? static_cast<int>(info->number(QStringLiteral("CCD_MAX_X")).value_or(0)) : 0;
    const int height = info ? static_cast<int>(info->number(QStringLiteral("CCD_MAX_Y")).value_or(0)) : 0;
    if (width <= 0 || height <= 0) {
        m_context.fail(QStringLiteral("the camera reports no chip size"));
        return;
    }
    // A driver answers each with an update; it may round the frame to what its chip can do.
    const IndiProperty* binning = client.property(camera, QStringLiteral("CCD_BINNING"));
    const IndiProperty* frame = client.property(camera, QStringLiteral("CCD_FRAME"));
    m_binningUpdates = binning ? binning->updates : 0;
    m_frameUpdates = frame ? frame->updates : 0;
    m_geometry.binning = binningValue;
    client.sendNumbers(camera, QStringLiteral("CCD_BINNING"),
                       {{QStringLiteral("HOR_BIN"), static_cast<double>(binningValue)},
                        {QStringLiteral("VER_BIN"), static_cast<double>(binningValue)}});
    const Frame f = centredFrame(width, height, subframe);
    client.sendNumbers(camera, QStringLiteral("CCD_FRAME"),
                       {{QStringLiteral("X"), static_cast<double>(f.x)},
                        {QStringLiteral("Y"), static_cast<double>(f.y)},
                        {QStringLiteral("WIDTH"), static_cast<double>(f.width)},
                        {QStringLiteral("HEIGHT"), static_cast<double>(f.height)}});
    m_phase = Phase::Configuring;
    m_context.waitOn(*this, m_context.settings.indi.connectTimeout,
                     QStringLiteral("the camera did not take the binning and frame"));
}

CameraControl::Answer CameraControl::answer() const
{
    const QString& camera = m_context.settings.indi.camera;
    const IndiProperty* binning = m_context.client.property(camera, QStringLiteral("CCD_BINNING"));
    const IndiProperty* frame = m_context.client.property(camera, QStringLiteral("CCD_FRAME"));
    if (!binning || !frame)
        return Answer::Waiting;
    if (binning->state == PropertyState::Alert || frame->state == PropertyState::Alert)
        return Answer::Refused;
    const bool answered = binning->updates > m_binningUpdates && frame->updates > m_frameUpdates;
    if (!answered || binning->state == PropertyState::Busy || frame->state == PropertyState::Busy)
        return Answer::Waiting;
    return Answer::Taken;
}

// The camera's own binning and frame, which may differ from those asked.
void CameraControl::taken()
{
    const QString& camera = m_context.settings.indi.camera;
    const IndiProperty* frame = m_context.client.property(camera, QStringLiteral("CCD_FRAME"));
    const IndiProperty* binning = m_context.client.property(camera, QStringLiteral("CCD_BINNING"));
    m_geometry.x = static_cast<int>(std::lround(frame->number(QStringLiteral("X")).value_or(0)));
    m_geometry.y = static_cast<int>(std::lround(frame->number(QStringLiteral("Y")).value_or(0)));
    m_geometry.binning =
        std::max(1, static_cast<int>(std::lround(
                        binning->number(QStringLiteral("HOR_BIN")).value_or(m_geometry.binning))));
    m_user->cameraReady();
}

QString CameraControl::frameText() const
{
    const IndiProperty* frame =
        m_context.client.property(m_context.settings.indi.camera, QStringLiteral("CCD_FRAME"));
    if (!frame)
        return {};
    QStringList values;
    for (const char* element : {"X", "Y", "WIDTH", "HEIGHT"})
        values << doubleText(frame->number(QString::fromLatin1(element)).value_or(0));
    return QStringLiteral("frame ") + values.join(u' ');
}

void CameraControl::expose(double seconds, const QString& what)
{
    if (m_before)
        m_before([this, seconds, what] { startExposure(seconds, what); });
    else
        startExposure(seconds, what);
}

void CameraControl::startExposure(double seconds, const QString& what)
{
    const QString& camera = m_context.settings.indi.camera;
    m_blobsBefore = m_context.client.blobCount(camera, mainChip);
    m_exposureStart = m_context.clock.utcNow();
    m_exposureSeconds = seconds;
    m_what = what;
    m_context.client.sendNumbers(camera, QStringLiteral("CCD_EXPOSURE"),
                                 {{QStringLiteral("CCD_EXPOSURE_VALUE"), seconds}});
    m_watch.sent(m_context.stateOf(camera, QStringLiteral("CCD_EXPOSURE")));
    m_phase = Phase::Exposing;
    m_context.waitOn(*this, seconds + m_context.settings.indi.downloadMargin,
                     what + QStringLiteral(" did not arrive"));
}

void CameraControl::poll()
{
    const QString& camera = m_context.settings.indi.camera;
    if (m_phase == Phase::Exposing) {
        if (m_context.client.blobCount(camera, mainChip) > m_blobsBefore)
            m_user->frameArrived(m_context.client.lastBlob(camera, mainChip));
        return;
    }
    switch (answer()) {
    case Answer::Waiting:
        break;
    case Answer::Refused:
        m_context.fail(
            QStringLiteral("the camera refused the binning %1 or the frame").arg(m_geometry.binning));
        break;
    case Answer::Taken:
        taken();
        break;
    }
}

void CameraControl::propertyChanged(const QString& device, const QString& name, const IndiProperty& property)
{
    if (m_phase == Phase::Exposing && device == m_context.settings.indi.camera &&
        name == QStringLiteral("CCD_EXPOSURE") &&
        m_watch.update(property.state) == CommandWatch::Result::Failed)
        m_context.fail(m_what + QStringLiteral(" failed: the camera reported Alert"));
}

bool CameraControl::exposing() const
{
    return m_context.waitingOn(*this) && m_phase == Phase::Exposing;
}

void CameraControl::abortExposure()
{
    if (exposing())
        m_context.client.sendSwitch(m_context.settings.indi.camera, QStringLiteral("CCD_ABORT_EXPOSURE"),
                                    QStringLiteral("ABORT"));
}

void CameraControl::stop()
{
    if (m_context.client.serverConnected())
        abortExposure();
}

} // namespace kestrove::indi
