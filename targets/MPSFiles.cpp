#include "app/SurveyCore.h"
#include "config/NumberText.h"

#include <cmath>
#include <exception>
#include <limits>
#include <vector>

namespace kestrove {

namespace {

double roundTo6(double x)
{
    return std::floor(x * 1000000.0 + 0.5) / 1000000.0;
}

// Writes the fields of one survey area: columns of right ascension from raStart, each from low to
// high declination. Positions accumulate by addition; the end tests use the accumulated values.
void writeGrid(SurveyCore& core, TextStream& out, const QString& areaNumber, const QString& areaLine,
               double raStep, double decStep)
{
    const QChar sp = QLatin1Char(' ');
    const qsizetype p1 = areaLine.indexOf(sp);
    const qsizetype p2 = p1 < 0 ? -1 : areaLine.indexOf(sp, p1 + 1);
    const qsizetype p3 = p2 < 0 ? -1 : areaLine.indexOf(sp, p2 + 1);
    if (p3 < 0) {
        core.view().showMessage(QStringLiteral("MPSTargets.txt line ") + areaNumber +
                                QStringLiteral(" needs four fields separated by spaces, so survey area ") +
                                areaNumber + QStringLiteral(" has no fields: \"") + areaLine +
                                QStringLiteral("\""));
        return;
    }
    AcpUtil& util = *core.acpUtil;
    const double raStart = util.HMS_Hours(areaLine.left(p1));
    const double decStart = util.DMS_Degrees(areaLine.mid(p1 + 1, p2 - p1 - 1));
    const double raEnd = util.HMS_Hours(areaLine.mid(p2 + 1, p3 - p2 - 1));
    const double decEnd = util.DMS_Degrees(areaLine.mid(p3 + 1));

    const QString h = QStringLiteral("h"), d = QStringLiteral("d"), m = QStringLiteral("m"),
                  s = QStringLiteral("s");
    const QString bang = QStringLiteral("!");
    const QString tab = QStringLiteral("\t");
    const QString emptyConfig = QStringLiteral("**** ");
    const QString prefix = areaNumber + bang;
    // Every column has the same rows, so the declination texts of the first column serve all the
    // others; the cache is capped so that memory stays bounded whatever the grid.
    struct Row
    {
        QString name;   // the host's text of the declination
        QString column; // the declination column
    };
    constexpr size_t maxCachedRows = 4096;
    std::vector<Row> rows;
    QString line;
    for (double ra = raStart; ra <= raEnd; ra += raStep) {
        const double ra6 = roundTo6(ra);
        const QString raName = prefix + util.Hours_HMS(ra6, h, m, s) + bang;
        const QString raColumn = tab + doubleText(ra6) + tab;
        size_t index = 0;
        for (double dec = decStart; dec <= decEnd; dec += decStep, ++index) {
            Row row;
            if (index < rows.size()) {
                row = rows[index];
            } else {
                const double dec6 = roundTo6(dec);
                row = {util.Degrees_DMS(dec6, d, m, s), doubleText(dec6)};
                if (index < maxCachedRows)
                    rows.push_back(row);
            }
            line.clear();
            line += raName;
            line += row.name;
            line += raColumn;
            line += row.column;
            out.WriteLine(line);
            out.WriteLine(emptyConfig);
            // A step too small to move the position would never end the grid.
            if (dec + decStep == dec)
                break;
        }
        if (ra + raStep == ra)
            break;
    }
}

} // namespace

int16_t SurveyCore::createMPSFiles()
{
    setStatus(QStringLiteral("Creating MPS files"));
    int count = 0;
    bool changeSeen = false;

    const double raStep = settings.fovRAMPS / 60 * 24 / 360;
    const double decStep = settings.fovDecMPS / 60;
    // Without a positive field of view the grid would never advance.
    const bool gridPossible = settings.fovRAMPS > 0 && settings.fovDecMPS > 0;
    bool fovReported = false;

    auto areas = fileSystem->OpenTextFile(programFile(QStringLiteral("MPSTargets.txt")), IOMode::ForReading);
    while (!areas->AtEndOfStream() && !stopRequested && count < std::numeric_limits<int16_t>::max()) {
        pumpEvents();
        ++count;
        const QString areaLine = areas->ReadLine();
        const QString areaNumber = integerText(count);
        const QString fieldPath = programFile(QStringLiteral("MPSfov") + areaNumber + QStringLiteral(".txt"));

        const bool exists = fileSystem->FileExists(fieldPath);
        if (exists) {
            auto existing = fileSystem->OpenTextFile(fieldPath, IOMode::ForReading);
            // An empty field file has no area line, so it cannot match.
            if (existing->AtEndOfStream() || existing->ReadLine() != areaLine)
                changeSeen = true;
            existing->Close();
            if (!changeSeen)
                continue;
        }

        auto out = fileSystem->CreateTextFile(fieldPath, true);
        try {
            out->WriteLine(areaLine);
            if (gridPossible) {
                writeGrid(*this, *out, areaNumber, areaLine, raStep, decStep);
            } else if (!fovReported) {
                fovReported = true;
                view().showMessage(
                    QStringLiteral("The MPS field of view must be greater than zero (fovRAMPS=") +
                    doubleText(settings.fovRAMPS) + QStringLiteral(", fovDecMPS=") +
                    doubleText(settings.fovDecMPS) + QStringLiteral("); the MPS field files hold no fields"));
            }
            out->Close();
        } catch (...) {
            // A half-written file starts with the area line and would pass for a finished one on every
            // later call, its missing fields never generated; without it the next call tries again.
            out.reset();
            try {
                if (fileSystem->FileExists(fieldPath))
                    fileSystem->GetFile(fieldPath)->Delete();
            } catch (const std::exception&) {
                // The error that stopped the area is the one to report.
            }
            throw;
        }
    }
    areas->Close();
    return static_cast<int16_t>(count);
}

} // namespace kestrove
