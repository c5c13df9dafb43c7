#include "host/indi/PlanExecutor.h"
#include "host/indi/steps/PropertyNames.h"

#include "config/NumberText.h"
#include "host/Clock.h"

namespace kestrove::indi {

void PlanExecutor::configureCamera(int binningValue, double subframe, Purpose purpose)
{
    m_purpose = purpose;
    const QString& camera = m_settings.indi.camera;
    const IndiProperty* info = m_client.property(camera, QStringLiteral("CCD_INFO"));
    const int width = info ? static_cast<int>(info->number(QStringLiteral("CCD_MAX_X")).value_or(0)) : 0;
    const int height = info ? static_cast<int>(info->number(QStringLiteral("CCD_MAX_Y")).value_or(0)) : 0;
    if (width <= 0 || height <= 0) {
        fail(QStringLiteral("the camera reports no chip size"));
        return;
    }
    // A driver answers each with an update; it may round the frame to what its chip can do.
    const IndiProperty* binning = m_client.property(camera, QStringLiteral("CCD_BINNING"));
    const IndiProperty* frame = m_client.property(camera, QStringLiteral("CCD_FRAME"));
    m_binningUpdates = binning ? binning->updates : 0;
    m_frameUpdates = frame ? frame->updates : 0;
    m_geometry.binning = binningValue;
    m_client.sendNumbers(camera, QStringLiteral("CCD_BINNING"),
                         {{QStringLiteral("HOR_BIN"), static_cast<double>(binningValue)},
                          {QStringLiteral("VER_BIN"), static_cast<double>(binningValue)}});
    const Frame f = centredFrame(width, height, subframe);
    m_client.sendNumbers(camera, QStringLiteral("CCD_FRAME"),
                         {{QStringLiteral("X"), static_cast<double>(f.x)},
                          {QStringLiteral("Y"), static_cast<double>(f.y)},
                          {QStringLiteral("WIDTH"), static_cast<double>(f.width)},
                          {QStringLiteral("HEIGHT"), static_cast<double>(f.height)}});
    enter(Step::Camera, m_settings.indi.connectTimeout,
          QStringLiteral("the camera did not take the binning and frame"));
}

PlanExecutor::CameraAnswer PlanExecutor::cameraAnswer() const
{
    const QString& camera = m_settings.indi.camera;
    const IndiProperty* binning = m_client.property(camera, QStringLiteral("CCD_BINNING"));
    const IndiProperty* frame = m_client.property(camera, QStringLiteral("CCD_FRAME"));
    if (!binning || !frame)
        return CameraAnswer::Waiting;
    if (binning->state == PropertyState::Alert || frame->state == PropertyState::Alert)
        return CameraAnswer::Refused;
    const bool answered = binning->updates > m_binningUpdates && frame->updates > m_frameUpdates;
    if (!answered || binning->state == PropertyState::Busy || frame->state == PropertyState::Busy)
        return CameraAnswer::Waiting;
    return CameraAnswer::Taken;
}

QString PlanExecutor::frameText() const
{
    const IndiProperty* frame = m_client.property(m_settings.indi.camera, QStringLiteral("CCD_FRAME"));
    if (!frame)
        return {};
    QStringList values;
    for (const char* element : {"X", "Y", "WIDTH", "HEIGHT"})
        values << doubleText(frame->number(QString::fromLatin1(element)).value_or(0));
    return QStringLiteral("frame ") + values.join(u' ');
}

void PlanExecutor::startExposure(double seconds)
{
    const QString& camera = m_settings.indi.camera;
    m_blobsBefore = m_client.blobCount(camera, mainChip);
    m_exposureStart = m_clock.utcNow();
    m_exposureSeconds = seconds;
    m_client.sendNumbers(camera, QStringLiteral("CCD_EXPOSURE"), {{QStringLiteral("CCD_EXPOSURE_VALUE"), seconds}});
    m_watch.sent(stateOf(camera, QStringLiteral("CCD_EXPOSURE")));
    enter(Step::Exposing, seconds + m_settings.indi.downloadMargin,
          m_purpose == Purpose::Plan ? QStringLiteral("exposure %1 did not arrive").arg(m_image + 1)
          : m_purpose == Purpose::Solve ? QStringLiteral("the solve exposure did not arrive")
                                        : QStringLiteral("the focus exposure did not arrive"));
}

} // namespace kestrove::indi
