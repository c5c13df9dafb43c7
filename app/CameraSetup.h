#pragma once

#include "app/DialogBoxes.h"

#include <QLabel>
#include <QString>
#include <cstdint>
#include <optional>

namespace kestrove {

// The camera values that every survey setup dialog holds, with their set/get pairs, and the showing
// and reading of their three boxes (exposureText, cameraBinningText, cameraFilterText).
class CameraSetup
{
public:
    void setExposure(float seconds) { m_exposure = seconds; }
    float getExposure() const { return m_exposure; }
    void setCameraBinning(int16_t binning) { m_cameraBinning = binning; }
    int16_t getCameraBinning() const { return m_cameraBinning; }
    void setCameraFilter(const QString& filter) { m_cameraFilter = filter; }
    QString getCameraFilter() const { return m_cameraFilter; }

protected:
    // What OK read from the camera boxes; each is empty when its box could not be converted.
    struct CameraBoxes
    {
        std::optional<float> exposure;
        std::optional<int16_t> cameraBinning;
        std::optional<QString> cameraFilter;
    };

    template <typename Form> void showCameraBoxes(Form& ui) const
    {
        ui.exposureText->setText(dialog::shortestText(m_exposure));
        ui.cameraBinningText->setText(integerText(m_cameraBinning));
        ui.cameraFilterText->setText(m_cameraFilter);
    }

    template <typename Form> static CameraBoxes readCameraBoxes(dialog::BoxReader& reader, Form& ui)
    {
        CameraBoxes boxes;
        boxes.exposure = reader.single(ui.exposureText, ui.exposureLabel);
        boxes.cameraBinning = reader.int16(ui.cameraBinningText, ui.cameraBinningLabel);
        boxes.cameraFilter = reader.text(ui.cameraFilterText, ui.cameraFilterLabel);
        return boxes;
    }

    // Only after BoxReader::finish() said every box was read.
    void takeCameraBoxes(const CameraBoxes& boxes)
    {
        m_exposure = *boxes.exposure;
        m_cameraBinning = *boxes.cameraBinning;
        m_cameraFilter = *boxes.cameraFilter;
    }

private:
    float m_exposure = 0;
    int16_t m_cameraBinning = 0;
    QString m_cameraFilter;
};

} // namespace kestrove
