#pragma once

#include <QString>
#include <cstdint>

namespace kestrove {

// Every persistent setting, in the order "config.ini" stores them.
struct SurveySettings
{
    double lastFocusJD = 0;
    int16_t focusInterval = 30;
    int16_t SNeEnabled = 0;
    int16_t MPSEnabled = 0;
    int16_t MPFEnabled = 0;
    int16_t SLCEnabled = 0;
    int16_t SNeWeight = 100;
    int16_t MPSWeight = 100;
    int16_t MPFWeight = 100;
    int16_t SLCWeight = 100;
    QString baseDir = defaultBaseDir();
    float slewRate = 2.5f;
    float flipTime = 90;
    float maxElevation = 90;
    float minAzimuth = 0;
    float maxAzimuth = 360;
    float exposureSNe = 60;
    int16_t cameraBinningSNe = 1;
    QString cameraFilterSNe;
    float cameraSubframeSNe = 1;
    float exposureMPS = 60;
    int16_t cameraBinningMPS = 1;
    QString cameraFilterMPS;
    int16_t intervalMPS = 30;
    int16_t imagesMPS = 3;
    double fovRAMPS = 47;
    double fovDecMPS = 38;
    float exposureSLC = 60;
    int16_t cameraBinningSLC = 1;
    QString cameraFilterSLC;
    float cameraSubframeSLC = 1;
    float setSizeSLC = 3;
    float minElevationSLC = 0;

    // The user's home folder followed by "/Astronomy/Kestrove/".
    static QString defaultBaseDir();
};

} // namespace kestrove
