#pragma once

#include "imaging/FrameGrade.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace kestrove {

class IniReader;

// The grading of each frame of an INDI plan (imaging/FrameGrade) and the pause that frames
// without stars call for.
struct GradingSettings
{
    bool enabled = true; // false: frames are measured and recorded, never rejected
    imaging::GradeThresholds thresholds;
    int cloudFrames = 3;     // frames without stars in a row, one per plan, that pause imaging
    double cloudPause = 10;  // minutes before a test frame looks at the sky again
    double testExposure = 5; // seconds of that test frame

    bool operator==(const GradingSettings&) const = default;
};

// The keys of [grading], as section/key.
QStringList gradingKeys();

// The section as a new "observatory.ini" holds it, with its comments.
QStringList gradingFileLines(const GradingSettings& grading);

// Reads [grading]; a value that cannot be taken is a HostError naming the key.
void readGrading(IniReader& ini, GradingSettings& grading);

// Each key's text, as section/key and value.
QList<QPair<QString, QString>> gradingValues(const GradingSettings& grading);

} // namespace kestrove
