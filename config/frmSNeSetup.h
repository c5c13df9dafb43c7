#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>

namespace Ui {
class frmSNeSetup;
}

namespace kestrove {

// Camera settings of the supernova search. Keeps its own copy of the values between openings; OK
// takes the boxes, Cancel leaves the values.
class frmSNeSetup : public QDialog
{
    Q_OBJECT

public:
    explicit frmSNeSetup(QWidget* parent = nullptr);
    ~frmSNeSetup() override;

    void setExposure(float seconds) { m_exposure = seconds; }
    float getExposure() const { return m_exposure; }
    void setCameraBinning(int16_t binning) { m_cameraBinning = binning; }
    int16_t getCameraBinning() const { return m_cameraBinning; }
    void setCameraFilter(const QString& filter) { m_cameraFilter = filter; }
    QString getCameraFilter() const { return m_cameraFilter; }
    void setCameraSubframe(float fraction) { m_cameraSubframe = fraction; }
    float getCameraSubframe() const { return m_cameraSubframe; }

    // OK: takes every box, or names the first one that is not a number and stays open.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::frmSNeSetup> ui;
    float m_exposure = 0;
    int16_t m_cameraBinning = 0;
    QString m_cameraFilter;
    float m_cameraSubframe = 0;
};

} // namespace kestrove
