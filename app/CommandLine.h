#pragma once

#include "core/SurveyCore.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

namespace kestrove {

// What the command line asks for. Qt's own options (-platform and the like) are left to Qt.
struct CommandLine
{
    QString folder;      // program folder; empty: the executable's folder
    QString observatory; // simulated observatory folder; empty: "observatory/" in the program folder
    bool headless = false;
    bool start = false;   // press "Start Survey" once the window is shown
    RunLimits limits;     // --passes N, --until INSTANT (ISO 8601 UTC)
    bool preview = false; // --preview: a night in virtual time, no window
    bool report = false;  // --report: what a night did, no window
    QDate night;          // --night YYYY-MM-DD
    QDateTime fromUtc;    // --from INSTANT --to INSTANT
    QDateTime toUtc;
    QString out;              // --out DIR
    int nights = 1;           // --nights N: with --preview, N nights from --night on
    double clearFraction = 1; // --clear-fraction F --seed S: the share of those nights that are clear
    quint32 seed = 0;
    bool comparePolicies = false; // --compare-policies: with --preview, each policy on the same nights
    bool help = false;            // --help: print the options and exit
    bool version = false;         // --version: print the version and exit
    bool close = false;           // --close: park, close and warm the observatory at once, then end
    int webPort = 0;              // --web PORT: serve the web page on that port; 0: as observatory.ini says
};

// Parses the arguments after the program name; on a bad argument returns nothing and sets `error`.
// Needs no application object, so it can decide which one to make.
std::optional<CommandLine> parseCommandLine(const QStringList& arguments, QString& error);

// What --help prints: the usage and a line for every option.
QString helpText();

} // namespace kestrove
