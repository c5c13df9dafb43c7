#include "app/frmSLCSetup.h"

#include "app/DialogBoxes.h"
#include "ui_frmSLCSetup.h"

#include <QShowEvent>
#include <algorithm>

namespace kestrove {

using dialog::shortestText;

frmSLCSetup::frmSLCSetup(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::frmSLCSetup>())
{
    ui->setupUi(this);
    connect(ui->cmdOK, &QPushButton::clicked, this, &frmSLCSetup::accept);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &frmSLCSetup::reject);
}

frmSLCSetup::~frmSLCSetup() = default;

void frmSLCSetup::setSetSize(float exposures)
{
    // A size beyond the 16-bit range (only a hand-edited file holds one) is held at its limit.
    const double limited =
        std::isnan(exposures) ? 0.0 : std::clamp(static_cast<double>(exposures), -32768.0, 32767.0);
    m_setSize = roundToInt16(limited).value_or(0);
}

void frmSLCSetup::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        showCameraBoxes(*ui);
        ui->cameraSubframeText->setText(shortestText(m_cameraSubframe));
        ui->setSizeText->setText(integerText(m_setSize));
        ui->minElevationText->setText(shortestText(m_minElevation));
        dialog::showError(ui->errorLabel, QString());
    }
    QDialog::showEvent(event);
}

void frmSLCSetup::accept()
{
    dialog::BoxReader reader(ui->errorLabel);
    const CameraBoxes camera = readCameraBoxes(reader, *ui);
    const auto cameraSubframe = reader.single(ui->cameraSubframeText, ui->cameraSubframeLabel);
    const auto setSize = reader.int16(ui->setSizeText, ui->setSizeLabel);
    const auto minElevation = reader.single(ui->minElevationText, ui->minElevationLabel);
    if (!reader.finish())
        return;

    takeCameraBoxes(camera);
    m_cameraSubframe = *cameraSubframe;
    m_setSize = *setSize;
    m_minElevation = *minElevation;
    QDialog::accept();
}

} // namespace kestrove
