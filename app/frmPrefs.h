#pragma once

#include "settings/ObservatorySettings.h"

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>

namespace Ui {
class frmPrefs;
}

namespace kestrove {

// The Preferences dialog: autofocus interval, image base folder, slew model, observation window, and
// how a pass chooses between the survey kinds (observatory.ini [selection]).
// It keeps its own copy of the values between openings; OK takes the boxes, Cancel leaves the values.
class frmPrefs : public QDialog
{
    Q_OBJECT

public:
    explicit frmPrefs(QWidget* parent = nullptr);
    ~frmPrefs() override;

    void setFocusInterval(int16_t minutes) { m_focusInterval = minutes; }
    int16_t getFocusInterval() const { return m_focusInterval; }
    void setBaseDir(const QString& folder) { m_baseDir = folder; }
    // The base folder, always with a trailing "/".
    QString getBaseDir() const;
    void setSlewRate(float degreesPerSecond) { m_slewRate = degreesPerSecond; }
    float getSlewRate() const { return m_slewRate; }
    void setFlipTime(float seconds) { m_flipTime = seconds; }
    float getFlipTime() const { return m_flipTime; }
    void setMaxElevation(float degrees) { m_maxElevation = degrees; }
    float getMaxElevation() const { return m_maxElevation; }
    void setMinAzimuth(float degrees) { m_minAzimuth = degrees; }
    float getMinAzimuth() const { return m_minAzimuth; }
    void setMaxAzimuth(float degrees) { m_maxAzimuth = degrees; }
    float getMaxAzimuth() const { return m_maxAzimuth; }
    void setSelection(const SelectionSettings& selection) { m_selection = selection; }
    const SelectionSettings& getSelection() const { return m_selection; }

    // OK: takes every box, or names the first one that is not a number and stays open.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::frmPrefs> ui;
    int16_t m_focusInterval = 0;
    QString m_baseDir;
    float m_slewRate = 0;
    float m_flipTime = 0;
    float m_maxElevation = 0;
    float m_minAzimuth = 0;
    float m_maxAzimuth = 0;
    SelectionSettings m_selection;
};

} // namespace kestrove
