// Time of one selection pass over synthetic catalogues of 1,000 to 100,000 entries, on the
// simulated observatory in virtual time, against a floor that only reads the same file and
// computes the same elevations with ERFA, with the preview's reasons observer attached, and under
// the balanced selection policy.
// Run from a Release build on an idle machine.

#include "BenchSupport.h"
#include "core/SurveyCore.h"
#include "core/VectorState.h"
#include "host/sim/SimObservatory.h"
#include "report/NightReasons.h"
#include "text/NumberText.h"

#include <QDir>
#include <QTemporaryDir>

#include <erfa.h>
#include <erfam.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <sys/resource.h>

using namespace kestrove;
using namespace kestrove::bench;

namespace {

ObservatorySettings site(const QString& folder)
{
    ObservatorySettings s = observatoryDefaults(folder);
    s.latitude = 28.7606;
    s.longitude = -17.8816;
    s.elevation = 2396;
    s.timeZone = QStringLiteral("Atlantic/Canary");
    s.clockStart = QStringLiteral("2022-03-15T22:30:00Z");
    s.clockSpeed = 0;
    s.alignmentMode = 2;
    return s;
}

enum class Kind
{
    SNe,
    MPS,
    SLC
};

// Entries spread evenly over the sky north of −40 degrees; config lines vary by kind.
void writeCatalogue(const QString& path, Kind kind, int n, double nowJD, const QString& firstLine)
{
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!file)
        std::exit(1);
    if (!firstLine.isEmpty())
        std::fprintf(file, "%s\r\n", firstLine.toLatin1().constData());
    std::mt19937 random(12345);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int i = 0; i < n; ++i) {
        const double ra = 24 * unit(random);
        const double dec = std::asin(-0.6428 + 1.6428 * unit(random)) * 180 / M_PI;
        const char* prefix = kind == Kind::MPS ? "1!" : (kind == Kind::SNe ? "SN " : "V");
        std::fprintf(file, "%s%d\t%.6f\t%.6f\r\n", prefix, i, ra, dec);
        const double r = unit(random);
        switch (kind) {
        case Kind::SNe:
            // One in ten imaged within the last 12 hours, one in twenty to reshoot.
            std::fprintf(file, "**** lastImageJD=%.8f%s\r\n", nowJD - (r < 0.1 ? 0.2 : 3 + 10 * r),
                         r > 0.95 ? " reshoot=true" : "");
            break;
        case Kind::MPS:
            if (r < 0.5)
                std::fprintf(file, "**** \r\n");
            else
                std::fprintf(file, "**** lastImageJD=%.8f imageCount=%d\r\n", nowJD - 0.03 * r,
                             1 + int(r * 3) % 3);
            break;
        case Kind::SLC:
            std::fprintf(file, "**** lastImageJD=%.8f interval=%d priority=%d\r\n", nowJD - 0.1 * r,
                         30 + int(r * 90), 50 + int(r * 100));
            break;
        }
    }
    std::fclose(file);
}

// The floor: read every line, split the target lines and compute the elevation as the host does.
double floorPass(const QString& path, const eraASTROM& instant, long& counted)
{
    eraASTROM astrom = instant;
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "rb");
    char previous[512] = "";
    char current[512];
    double sum = 0;
    counted = 0;
    while (std::fgets(current, sizeof current, file)) {
        if (std::strncmp(current, "****", 4) == 0) {
            const char* tab1 = std::strchr(previous, '\t');
            const char* tab2 = tab1 ? std::strchr(tab1 + 1, '\t') : nullptr;
            if (tab2) {
                const float ra = static_cast<float>(std::strtod(tab1 + 1, nullptr));
                const float dec = static_cast<float>(std::strtod(tab2 + 1, nullptr));
                double ri, di, aob, zob, hob, dob, rob;
                eraAtciqz(ra * ERFA_D2PI / 24, dec * ERFA_DD2R, &astrom, &ri, &di);
                eraAtioq(ri, di, &astrom, &aob, &zob, &hob, &dob, &rob);
                sum += 90 - zob * ERFA_DR2D;
                ++counted;
            }
        }
        std::memcpy(previous, current, sizeof previous);
        // As a pass does: where glibc copies with AVX-512, the copy above would otherwise slow every
        // ERFA call after it several times over, and the floor would flatter the pass.
        clearUpperVectorHalves();
    }
    std::fclose(file);
    return sum;
}

double seconds(const std::function<void()>& run, int repeats)
{
    double best = 1e30;
    for (int i = 0; i < repeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        best =
            std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    // selection_pass [repeats [kind [N [plain|observed|balanced]]]]: a single kind and size, and only
    // the pass without or with the observer, or under the balanced policy, is handy under a profiler
    // (callgrind counts instructions where a shared machine makes the clock useless).
    const int repeats = argc > 1 ? std::atoi(argv[1]) : 3;
    const QString onlyKind = argc > 2 ? QString::fromLatin1(argv[2]) : QString();
    const int onlyN = argc > 3 ? std::atoi(argv[3]) : 0;
    const QString passes = argc > 4 ? QString::fromLatin1(argv[4]) : QString();
    const bool plain = passes.isEmpty() || passes == QLatin1String("plain");
    const bool watched = passes.isEmpty() || passes == QLatin1String("observed");
    const bool balancedToo = passes.isEmpty() || passes == QLatin1String("balanced");
    QTemporaryDir dir;
    const QString observatoryFolder = dir.filePath(QStringLiteral("observatory"));
    sim::SimObservatory observatory(observatoryFolder, site(observatoryFolder));
    QuietView view(true);
    SurveyCore core(observatory, view, dir.path());
    core.fileSystem = observatory.createFileSystem();
    core.acpUtil = observatory.createUtil();
    core.acpTelescope = observatory.createTelescope();
    core.firstPass = false;
    observatory.pointMount(8, 30);
    const double nowJD = core.acpUtil->Date_Julian(core.now());
    const QString logPath = observatory.settings().logDir + QStringLiteral("/Kestrove.log");

    // The instant's astrometry context, built once as the simulator does.
    const QDateTime utc = observatory.clock().utcNow();
    double utc1, utc2;
    const QDate d = utc.date();
    const QTime t = utc.time();
    eraDtf2d("UTC", d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second() + t.msec() / 1000.0, &utc1,
             &utc2);
    eraASTROM astrom;
    double eo;
    const ObservatorySettings& s = observatory.settings();
    eraApco13(utc1, utc2, 0, s.longitude * ERFA_DD2R, s.latitude * ERFA_DD2R, s.elevation, 0, 0, 0, 0, 0, 0,
              &astrom, &eo);

    std::printf("%-4s %8s %12s %12s %8s %10s %12s %14s %14s\n", "kind", "N", "pass (s)", "us/entry",
                "floor x", "entries", "peak RSS kB", "observed (s)", "balanced (s)");
    const QString area = QStringLiteral("0 0 0 0");
    for (const int n : {1000, 10000, 100000}) {
        if (onlyN && n != onlyN)
            continue;
        for (const Kind kind : {Kind::SNe, Kind::MPS, Kind::SLC}) {
            const char* name = kind == Kind::SNe ? "SNe" : (kind == Kind::MPS ? "MPS" : "SLC");
            if (!onlyKind.isEmpty() && onlyKind != QLatin1String(name))
                continue;
            QString file;
            std::function<bool(float&, QString&)> select;
            switch (kind) {
            case Kind::SNe:
                file = core.programFile(QStringLiteral("SNeTargets.txt"));
                writeCatalogue(file, kind, n, nowJD, QString());
                select = [&](float& b, QString& t) { return core.selectSNe(b, t); };
                break;
            case Kind::MPS: {
                file = core.programFile(QStringLiteral("MPSfov1.txt"));
                writeCatalogue(file, kind, n, nowJD, area);
                std::FILE* areas =
                    std::fopen(QFile::encodeName(core.programFile("MPSTargets.txt")).constData(), "wb");
                std::fprintf(areas, "%s\r\n", area.toLatin1().constData());
                std::fclose(areas);
                select = [&](float& b, QString& t) { return core.selectMPS(b, t); };
                break;
            }
            case Kind::SLC:
                file = core.programFile(QStringLiteral("SLCTargets.txt"));
                writeCatalogue(file, kind, n, nowJD, QString());
                select = [&](float& b, QString& t) { return core.selectSLC(b, t); };
                break;
            }

            float bestScore = 0;
            QString bestTarget;
            const double pass = !plain ? 0
                                       : seconds(
                                             [&] {
                                                 QFile::remove(logPath);
                                                 core.surveyLog = core.fileSystem->OpenTextFile(
                                                     logPath, IOMode::ForAppending, true);
                                                 select(bestScore, bestTarget);
                                                 core.surveyLog->Close();
                                                 core.surveyLog.reset();
                                             },
                                             repeats);
            // The same pass under the balanced policy.
            core.selection.policy = SelectionPolicy::Balanced;
            const double balanced = !balancedToo ? 0
                                                 : seconds(
                                                       [&] {
                                                           QFile::remove(logPath);
                                                           core.surveyLog = core.fileSystem->OpenTextFile(
                                                               logPath, IOMode::ForAppending, true);
                                                           select(bestScore, bestTarget);
                                                           core.surveyLog->Close();
                                                           core.surveyLog.reset();
                                                       },
                                                       repeats);
            core.selection.policy = SelectionPolicy::Specified;
            // The same pass told to the reasons observer of a preview.
            NightReasons reasons;
            const double observed =
                !watched ? 0
                         : seconds(
                               [&] {
                                   QFile::remove(logPath);
                                   core.surveyLog =
                                       core.fileSystem->OpenTextFile(logPath, IOMode::ForAppending, true);
                                   core.observer = &reasons;
                                   reasons.passStarted(observatory.clock().utcNow());
                                   select(bestScore, bestTarget);
                                   reasons.passChosen(false, SurveyKind::SNe, QString(), 0);
                                   core.observer = nullptr;
                                   core.surveyLog->Close();
                                   core.surveyLog.reset();
                               },
                               repeats);
            long counted = 0;
            double checksum = 0;
            const double floor = seconds([&] { checksum += floorPass(file, astrom, counted); }, repeats);
            std::printf("%-4s %8d %12.4f %12.3f %8.2f %10ld %12ld %14.4f %14.4f   floor %.3f us/entry, best "
                        "%s (%s)\n",
                        name, n, pass, pass / n * 1e6, pass / floor, counted, peakKiB(), observed, balanced,
                        floor / n * 1e6, qPrintable(singleText(bestScore)),
                        qPrintable(bestTarget.section(QLatin1Char('\t'), 0, 0)));
            if (checksum == 12345.678)
                std::printf("\n");
            QFile::remove(file);
        }
    }
    return 0;
}
