#include "config/frmSNeSetup.h"

#include "config/DialogBoxes.h"
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
        ui->exposureText->setText(shortestText(m_exposure));
        ui->cameraBinningText->setText(integerText(m_cameraBinning));
        ui->cameraFilterText->setText(m_cameraFilter);
        ui->cameraSubframeText->setText(shortestText(m_cameraSubframe));
        ui->errorLabel->clear();
    }
    QDialog::showEvent(event);
}

void frmSNeSetup::accept()
{
    dialog::BoxReader reader(ui->errorLabel);
    const auto exposure = reader.single(ui->exposureText, ui->exposureLabel);
    const auto cameraBinning = reader.int16(ui->cameraBinningText, ui->cameraBinningLabel);
    const auto cameraFilter = reader.text(ui->cameraFilterText, ui->cameraFilterLabel);
    const auto cameraSubframe = reader.single(ui->cameraSubframeText, ui->cameraSubframeLabel);
    if (!reader.finish())
        return;

    m_exposure = *exposure;
    m_cameraBinning = *cameraBinning;
    m_cameraFilter = *cameraFilter;
    m_cameraSubframe = *cameraSubframe;
    QDialog::accept();
}

} // namespace kestrove
