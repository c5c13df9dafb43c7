#pragma once

#include "app/CameraSetup.h"

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
class frmSLCSetup : public QDialog, public CameraSetup
{
    Q_OBJECT

public:
    explicit frmSLCSetup(QWidget* parent = nullptr);
    ~frmSLCSetup() override;

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
    float m_cameraSubframe = 0;
    int16_t m_setSize = 0;
    float m_minElevation = 0;
};

} // namespace kestrove
