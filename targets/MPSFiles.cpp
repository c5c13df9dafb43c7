#include "core/SurveyCore.h"
#include "targets/FileReplacement.h"
#include "targets/TargetTable.h"
#include "text/FileMessage.h"
#include "text/HostError.h"
#include "text/HostText.h"
#include "text/NumberText.h"

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace kestrove {

namespace {

// Larger grids are taken for typing errors: a million fields already make a 50 MB field file, and
// each column is passed through even when it has no rows.
constexpr qint64 kMaxGridFields = 1000000;
constexpr qint64 kMaxGridColumns = 1000000;

double roundTo6(double x)
{
    return std::floor(x * 1000000.0 + 0.5) / 1000000.0;
}

// A message about line k of "MPSTargets.txt" in the form of every message about a file's line.
QString areaMessage(const QString& areaNumber, const QString& areaLine, const QString& problem)
{
    return lineMessage(QStringLiteral("MPSTargets.txt"), areaNumber.toLongLong(),
                       QStringLiteral("Survey area %1 %2, so it has no fields").arg(areaNumber, problem),
                       areaLine);
}

// A survey area: the corners of its grid.
struct Area
{
    double raStart = 0, decStart = 0, raEnd = 0, decEnd = 0;
};

// How many positions a grid loop passes from start to end, counted up to one past `limit`. Like the
// loop, it stops where the step no longer moves the position.
qint64 gridSteps(double start, double end, double step, qint64 limit)
{
    qint64 n = 0;
    for (double x = start; x <= end && n <= limit; x += step) {
        ++n;
        if (x + step == x)
            break;
    }
    return n;
}

// Reads area line k and checks that its grid can be meant; otherwise says why and gives nothing.
std::optional<Area> readArea(SurveyCore& core, const QString& areaNumber, const QString& areaLine,
                             double raStep, double decStep)
{
    const auto refuse = [&](const QString& problem) {
        core.view().showMessage(areaMessage(areaNumber, areaLine, problem));
        return std::nullopt;
    };
    const QChar sp = QLatin1Char(' ');
    const qsizetype p1 = areaLine.indexOf(sp);
    const qsizetype p2 = p1 < 0 ? -1 : areaLine.indexOf(sp, p1 + 1);
    const qsizetype p3 = p2 < 0 ? -1 : areaLine.indexOf(sp, p2 + 1);
    if (p3 < 0)
        return refuse(QStringLiteral("needs four fields separated by spaces"));

    const struct
    {
        QString text;
        bool rightAscension;
        const char* name;
    } fields[] = {
        {areaLine.left(p1), true, "start right ascension"},
        {areaLine.mid(p1 + 1, p2 - p1 - 1), false, "start declination"},
        {areaLine.mid(p2 + 1, p3 - p2 - 1), true, "end right ascension"},
        {areaLine.mid(p3 + 1), false, "end declination"},
    };
    double values[4];
    AcpUtil& util = *core.acpUtil;
    for (int i = 0; i < 4; ++i) {
        const auto& f = fields[i];
        const QString named = QStringLiteral("has the %1 \"%2\"").arg(QLatin1String(f.name), f.text);
        try {
            values[i] = f.rightAscension ? util.HMS_Hours(f.text) : util.DMS_Degrees(f.text);
        } catch (const HostError& e) {
            return refuse(named + QStringLiteral(", which cannot be read (") + e.reason() + QLatin1Char(')'));
        }
        // Written so that a NaN fails as well.
        if (f.rightAscension && !(values[i] >= 0 && values[i] <= 24))
            return refuse(named + QStringLiteral(", outside 0 to 24 hours"));
        if (!f.rightAscension && !(values[i] >= -90 && values[i] <= 90))
            return refuse(named + QStringLiteral(", outside -90 to 90 degrees"));
    }
    const Area area{values[0], values[1], values[2], values[3]};

    const qint64 columns = gridSteps(area.raStart, area.raEnd, raStep, kMaxGridColumns);
    if (columns > kMaxGridColumns)
        return refuse(QStringLiteral("would make a grid of more than %1 columns").arg(kMaxGridColumns));
    const qint64 rows = gridSteps(area.decStart, area.decEnd, decStep, kMaxGridFields);
    if (columns * rows > kMaxGridFields)
        return refuse(QStringLiteral("would make a grid of more than %1 fields (%2 columns by %3 rows)")
                          .arg(kMaxGridFields)
                          .arg(columns)
                          .arg(rows > kMaxGridFields ? QStringLiteral("more than %1").arg(kMaxGridFields)
                                                     : QString::number(rows)));
    return area;
}

// Writes the fields of one survey area: columns of right ascension from raStart, each from low to
// high declination. Positions accumulate by addition; the end tests use the accumulated values.
void writeGrid(SurveyCore& core, TextStream& out, const QString& areaNumber, const Area& area, double raStep,
               double decStep)
{
    AcpUtil& util = *core.acpUtil;
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
    for (double ra = area.raStart; ra <= area.raEnd; ra += raStep) {
        const double ra6 = roundTo6(ra);
        const QString raName = prefix + util.Hours_HMS(ra6, h, m, s) + bang;
        const QString raColumn = tab + doubleText(ra6) + tab;
        size_t index = 0;
        for (double dec = area.decStart; dec <= area.decEnd; dec += decStep, ++index) {
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

qint64 mpsAreaFields(const QString& areaLine, double raStep, double decStep, QString& problem)
{
    const QStringList parts = areaLine.split(QLatin1Char(' '));
    if (parts.size() < 4) {
        problem = QStringLiteral("needs four fields separated by spaces");
        return 0;
    }
    double v[4];
    for (int i = 0; i < 4; ++i) {
        const bool ra = i % 2 == 0;
        const QString text = i < 3 ? parts[i] : parts.mid(3).join(QLatin1Char(' '));
        try {
            v[i] = parseSexagesimal(ra ? QStringLiteral("HMS_Hours") : QStringLiteral("DMS_Degrees"), text,
                                    ra ? u'h' : u'd');
        } catch (const HostError& e) {
            problem = QStringLiteral("\"%1\" cannot be read (%2)").arg(text, e.reason());
            return 0;
        }
        problem = positionRangeProblem(ra ? u'h' : u'd', v[i], text);
        if (!problem.isEmpty())
            return 0;
    }
    if (!(raStep > 0 && decStep > 0)) {
        problem = QStringLiteral("the field of view is not set");
        return 0;
    }
    const qint64 columns = gridSteps(v[0], v[2], raStep, kMaxGridColumns);
    const qint64 rows = gridSteps(v[1], v[3], decStep, kMaxGridFields);
    if (columns > kMaxGridColumns || columns * rows > kMaxGridFields) {
        problem = QStringLiteral("would make more than %1 fields").arg(kMaxGridFields);
        return 0;
    }
    problem.clear();
    return columns * rows;
}

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

        // Everything about the area is checked, and said, before its file is touched.
        std::optional<Area> area;
        if (gridPossible) {
            area = readArea(*this, areaNumber, areaLine, raStep, decStep);
        } else if (!fovReported) {
            fovReported = true;
            view().showMessage(QStringLiteral("The MPS field of view must be greater than zero (fovRAMPS=") +
                               doubleText(settings.fovRAMPS) + QStringLiteral(", fovDecMPS=") +
                               doubleText(settings.fovDecMPS) +
                               QStringLiteral("); the MPS field files hold no fields"));
        }

        // Written whole under another name first: a field file cut short would start with its area
        // line and pass for a finished one on every later call.
        FileReplacement replacement(*fileSystem, fieldPath, programFile(QStringLiteral("newtargets.txt")));
        if (replacement.readOnly()) {
            reportOnce(
                fieldPath,
                lineMessage(
                    QStringLiteral("MPSTargets.txt"), count,
                    QStringLiteral(
                        "Survey area %1 is not laid out anew, because its field file \"%2\" is read-only")
                        .arg(areaNumber, fieldPath),
                    areaLine));
            continue;
        }
        auto out = fileSystem->CreateTextFile(replacement.newPath(), true);
        out->WriteLine(areaLine);
        if (area)
            writeGrid(*this, *out, areaNumber, *area, raStep, decStep);
        // Close flushes the content to the disk first. A rename lost in a crash leaves the old file,
        // which is whole too; waiting for each rename would slow a regeneration for nothing.
        out->Close();
        replacement.commit(false);
    }
    areas->Close();
    return static_cast<int16_t>(count);
}

} // namespace kestrove
