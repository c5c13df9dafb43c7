#include "app/frmMPSSetup.h"

#include "app/DialogBoxes.h"
#include "ui_frmMPSSetup.h"

#include <QShowEvent>

namespace kestrove {

using dialog::shortestText;

frmMPSSetup::frmMPSSetup(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::frmMPSSetup>())
{
    ui->setupUi(this);
    connect(ui->cmdOK, &QPushButton::clicked, this, &frmMPSSetup::accept);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &frmMPSSetup::reject);
}

frmMPSSetup::~frmMPSSetup() = default;

void frmMPSSetup::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        showCameraBoxes(*ui);
        ui->imageCountText->setText(integerText(m_imageCount));
        ui->intervalText->setText(integerText(m_interval));
        ui->cameraRAfovText->setText(shortestText(m_RAfov));
        ui->cameraDecfovText->setText(shortestText(m_Decfov));
        dialog::showError(ui->errorLabel, QString());
    }
    QDialog::showEvent(event);
}

void frmMPSSetup::accept()
{
    dialog::BoxReader reader(ui->errorLabel);
    const CameraBoxes camera = readCameraBoxes(reader, *ui);
    const auto imageCount = reader.int16(ui->imageCountText, ui->imageCountLabel);
    const auto interval = reader.int16(ui->intervalText, ui->intervalLabel);
    const auto RAfov = reader.number(ui->cameraRAfovText, ui->cameraRAfovLabel);
    const auto Decfov = reader.number(ui->cameraDecfovText, ui->cameraDecfovLabel);
    if (!reader.finish())
        return;

    takeCameraBoxes(camera);
    m_imageCount = *imageCount;
    m_interval = *interval;
    m_RAfov = *RAfov;
    m_Decfov = *Decfov;
    QDialog::accept();
}

} // namespace kestrove
