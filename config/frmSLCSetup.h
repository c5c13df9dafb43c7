#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>

namespace Ui {
class frmSLCSetup;
}

namespace kestrove {

// Camera and set settings of the stellar lightcurves. Keeps its own copy of the values between
// openings; OK takes the boxes, Cancel leaves the values.
class frmSLCSetup : public QDialog
{
    Q_OBJECT

public:
    explicit frmSLCSetup(QWidget* parent = nullptr);
    ~frmSLCSetup() override;

    void setExposure(float seconds) { m_exposure = seconds; }
    float getExposure() const { return m_exposure; }
    void setCameraBinning(int16_t binning) { m_cameraBinning = binning; }
    int16_t getCameraBinning() const { return m_cameraBinning; }
    void setCameraFilter(const QString& filter) { m_cameraFilter = filter; }
    QString getCameraFilter() const { return m_cameraFilter; }
    void setCameraSubframe(float fraction) { m_cameraSubframe = fraction; }
    float getCameraSubframe() const { return m_cameraSubframe; }
    // The set size is a whole number here: writing rounds it, halves to even.
    void setSetSize(float exposures);
    float getSetSize() const { return m_setSize; }
    void setMinElevation(float fraction) { m_minElevation = fraction; }
    float getMinElevation() const { return m_minElevation; }

    // OK: takes every box, or names the first one that is not a number and stays open.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::frmSLCSetup> ui;
    float m_exposure = 0;
    int16_t m_cameraBinning = 0;
    QString m_cameraFilter;
    float m_cameraSubframe = 0;
    int16_t m_setSize = 0;
    float m_minElevation = 0;
};

} // namespace kestrove
