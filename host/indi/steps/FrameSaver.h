#pragma once

#include "host/indi/steps/PlanStep.h"
#include "imaging/FitsFile.h"

#include <QList>

namespace kestrove::indi {

class CameraControl;

// Keeps the plan's images: each frame the camera sent goes to a new file in the plan's folder,
// never over an existing one, and a FITS file gets Kestrove's header cards and the WCS of the
// plan's last solve.
class FrameSaver
{
public:
    FrameSaver(StepContext& context, const CameraControl& camera) : m_context(context), m_camera(camera) {}

    // Saves `frame` as the plan's next image; its path, or empty with `error` set.
    QString save(const IndiBlob& frame, QString& error);

private:
    void writeHeader(const QString& path);
    QList<imaging::HeaderCard> targetCards() const;
    QList<imaging::HeaderCard> exposureCards() const;
    // The filter the frame was taken through, as frameFilter says; its file name carries it too.
    QString filter() const;
    QList<imaging::HeaderCard> filterCards() const;
    QList<imaging::HeaderCard> siteCards() const;
    QList<imaging::HeaderCard> deviceCards() const;
    QList<imaging::HeaderCard> originCards() const;

    StepContext& m_context;
    const CameraControl& m_camera;
};

} // namespace kestrove::indi
