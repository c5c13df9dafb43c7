#pragma once

#include "text/NamedStar.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace kestrove {

// One observing plan as the acquisition script reads it.
struct AcquisitionPlan
{
    bool autofocus = false;
    bool calibrate = false;
    QString dir;
    QString filter;
    double subframe = 1;
    int binning = 1;
    int count = 1;
    double interval = 0; // exposure, seconds
    QString target;
    double rightAscension = 0; // J2000 hours
    double declination = 0;    // J2000 degrees
    QString chainScript;
    // A lightcurve's comparison and check stars, named by the user; from "; comp=" and "; check="
    // comment lines, which the acquisition script reads past.
    std::vector<NamedStar> comparisons;
    std::optional<NamedStar> check;
    // A minor planet field's image of its set, from "; set=K/N"; 0: not one of a set.
    int setImage = 0;
    int setSize = 0;
};

// Reads a plan's lines; throws HostError naming the plan and the line for anything it cannot take.
AcquisitionPlan parsePlan(const QString& planPath, const QStringList& lines);

class HandOver;

// The plan that "runplanonce.txt" in the plan folder names, read as the acquisition script reads
// it; `planPath` gets its path. Throws HostError for a hand-over or a plan it cannot take.
AcquisitionPlan readHandedOverPlan(const QString& planDir, QString& planPath);
// The same from a hand-over already taken (see HandOver.h), so that the plan read is the one the
// executor later checks its chain script against.
AcquisitionPlan readHandedOverPlan(const HandOver& handOver, QString& planPath);

// The lines of a text file; throws HostError when it cannot be read.
QStringList readTextLines(const QString& path);

} // namespace kestrove
