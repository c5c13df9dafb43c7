#pragma once

#include "report/NightWindow.h"
#include "settings/CalibrationSettings.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTimeZone>

namespace kestrove {

// One exposure, binning and filter the night's plans use.
struct UsedSetting
{
    double exposure = 0;
    int binning = 1;
    QString filter;

    bool operator==(const UsedSetting&) const = default;
};

// What a night's calibration costs, as the preview tells it: the sky flats in the evening twilight
// and the morning's (the morning's take what the evening's missed), and the darks and bias (and
// panel flats with `panel`) after the close. One line each for dusk and dawn.
QStringList calibrationLines(const CalibrationSettings& calibration, bool panel, const Site& site,
                             const QTimeZone& zone, const QDate& night, const QList<UsedSetting>& used,
                             double downloadSeconds);

} // namespace kestrove
