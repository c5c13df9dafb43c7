#include "app/frmPrefs.h"

#include "app/DialogBoxes.h"
#include "text/ValueText.h"
#include "ui_frmPrefs.h"

#include <QShowEvent>

namespace kestrove {

using dialog::shortestText;

frmPrefs::frmPrefs(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::frmPrefs>())
{
    ui->setupUi(this);
    connect(ui->cmdOK, &QPushButton::clicked, this, &frmPrefs::accept);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &frmPrefs::reject);
    // Shares are kept by the balanced policy only.
    connect(ui->policyCombo, &QComboBox::currentIndexChanged, this,
            [this](int index) { ui->sharesText->setEnabled(index == 1); });
}

frmPrefs::~frmPrefs() = default;

QString frmPrefs::getBaseDir() const
{
    if (m_baseDir.endsWith(QLatin1Char('/')))
        return m_baseDir;
    return m_baseDir + QLatin1Char('/');
}

void frmPrefs::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        ui->focusIntervalText->setText(integerText(m_focusInterval));
        ui->baseDirText->setText(m_baseDir);
        ui->slewRateText->setText(shortestText(m_slewRate));
        ui->flipTimeText->setText(shortestText(m_flipTime));
        ui->maxElevationText->setText(shortestText(m_maxElevation));
        ui->minAzimuthText->setText(shortestText(m_minAzimuth));
        ui->maxAzimuthText->setText(shortestText(m_maxAzimuth));
        ui->policyCombo->setCurrentIndex(m_selection.policy == SelectionPolicy::Balanced ? 1 : 0);
        ui->sharesText->setEnabled(m_selection.policy == SelectionPolicy::Balanced);
        ui->sharesText->setText(sharesText(m_selection.shares));
        dialog::showError(ui->errorLabel, QString());
    }
    QDialog::showEvent(event);
}

void frmPrefs::accept()
{
    dialog::BoxReader reader(ui->errorLabel);
    const auto focusInterval = reader.int16(ui->focusIntervalText, ui->focusIntervalLabel);
    const auto baseDir = reader.text(ui->baseDirText, ui->baseDirLabel);
    const auto slewRate = reader.single(ui->slewRateText, ui->slewRateLabel);
    const auto flipTime = reader.single(ui->flipTimeText, ui->flipTimeLabel);
    const auto maxElevation = reader.single(ui->maxElevationText, ui->maxElevationLabel);
    const auto minAzimuth = reader.single(ui->minAzimuthText, ui->minAzimuthLabel);
    const auto maxAzimuth = reader.single(ui->maxAzimuthText, ui->maxAzimuthLabel);
    const auto shares = parseShares(ui->sharesText->text());
    if (!shares)
        reader.fail(ui->sharesText, ui->sharesLabel,
                    QStringLiteral("kind:percent items such as SNe:50,SLC:30,MPS:20"));
    if (!reader.finish())
        return;

    m_focusInterval = *focusInterval;
    m_baseDir = *baseDir;
    m_slewRate = *slewRate;
    m_flipTime = *flipTime;
    m_maxElevation = *maxElevation;
    m_minAzimuth = *minAzimuth;
    m_maxAzimuth = *maxAzimuth;
    m_selection.policy =
        ui->policyCombo->currentIndex() == 1 ? SelectionPolicy::Balanced : SelectionPolicy::Specified;
    m_selection.shares = *shares;
    QDialog::accept();
}

} // namespace kestrove
