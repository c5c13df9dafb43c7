#include "app/frmSNeSetup.h"

#include "app/DialogBoxes.h"
#include "ui_frmSNeSetup.h"

#include <QShowEvent>

namespace kestrove {

using dialog::shortestText;

frmSNeSetup::frmSNeSetup(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::frmSNeSetup>())
{
    ui->setupUi(this);
    connect(ui->cmdOK, &QPushButton::clicked, this, &frmSNeSetup::accept);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &frmSNeSetup::reject);
}

frmSNeSetup::~frmSNeSetup() = default;

void frmSNeSetup::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        showCameraBoxes(*ui);
        ui->cameraSubframeText->setText(shortestText(m_cameraSubframe));
        dialog::showError(ui->errorLabel, QString());
    }
    QDialog::showEvent(event);
}

void frmSNeSetup::accept()
{
    dialog::BoxReader reader(ui->errorLabel);
    const CameraBoxes camera = readCameraBoxes(reader, *ui);
    const auto cameraSubframe = reader.single(ui->cameraSubframeText, ui->cameraSubframeLabel);
    if (!reader.finish())
        return;

    takeCameraBoxes(camera);
    m_cameraSubframe = *cameraSubframe;
    QDialog::accept();
}

} // namespace kestrove
