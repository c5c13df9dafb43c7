#pragma once

#include "app/CameraSetup.h"

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
class frmSNeSetup : public QDialog, public CameraSetup
{
    Q_OBJECT

public:
    explicit frmSNeSetup(QWidget* parent = nullptr);
    ~frmSNeSetup() override;

    void setCameraSubframe(float fraction) { m_cameraSubframe = fraction; }
    float getCameraSubframe() const { return m_cameraSubframe; }

    // OK: takes every box, or names the first one that is not a number and stays open.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::frmSNeSetup> ui;
    float m_cameraSubframe = 0;
};

} // namespace kestrove
