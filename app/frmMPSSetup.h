#pragma once

#include "app/CameraSetup.h"

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>

namespace Ui {
class frmMPSSetup;
}

namespace kestrove {

// Camera and field settings of the minor planet survey. Keeps its own copy of the values between
// openings; OK takes the boxes, Cancel leaves the values.
class frmMPSSetup : public QDialog, public CameraSetup
{
    Q_OBJECT

public:
    explicit frmMPSSetup(QWidget* parent = nullptr);
    ~frmMPSSetup() override;

    void setImageCount(int16_t images) { m_imageCount = images; }
    int16_t getImageCount() const { return m_imageCount; }
    void setInterval(int16_t minutes) { m_interval = minutes; }
    int16_t getInterval() const { return m_interval; }
    void setRAfov(double fov) { m_RAfov = fov; }
    double getRAfov() const { return m_RAfov; }
    void setDecfov(double fov) { m_Decfov = fov; }
    double getDecfov() const { return m_Decfov; }

    // OK: takes every box, or names the first one that is not a number and stays open.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::frmMPSSetup> ui;
    int16_t m_imageCount = 0;
    int16_t m_interval = 0;
    double m_RAfov = 0;
    double m_Decfov = 0;
};

} // namespace kestrove
