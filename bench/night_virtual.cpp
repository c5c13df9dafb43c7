// A 12-hour night in virtual time on the simulated observatory, with 10,000 supernova targets,
// 1,000 lightcurve targets and one 500-field minor planet survey area enabled together. Reports
// wall time, peak memory, and the resident memory at every pass to show that it stays flat.

#include "core/SurveyCore.h"
#include "host/sim/SimObservatory.h"
#include "sky/Clock.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

using namespace kestrove;

namespace {

long residentKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void writeLines(const QString& path, const QStringList& lines)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    for (const QString& line : lines)
        file.write(line.toLatin1() + "\r\n");
}

// Enables every kind; samples memory at the start of each pass.
class BenchView : public SurveyView
{
public:
    void showStatus(const QString& text) override
    {
        if (text == QLatin1String("Selecting SNe target"))
            rssPerPass.append(residentKiB());
        if (text.startsWith(QLatin1String("Running ACP plan")))
            ++plans;
    }
    void showMessage(const QString& text) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    bool isKindChecked(SurveyKind kind) override { return kind != SurveyKind::MPF; }
    QString weightText(SurveyKind) override { return QStringLiteral("100"); }
    void processEvents() override {}
    void showRunning(bool) override {}

    QList<long> rssPerPass;
    int plans = 0;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString programFolder = dir.path() + QStringLiteral("/program/");
    QDir().mkpath(programFolder);

    // Targets spread over the sky; a fixed seed makes every run the same night.
    QRandomGenerator random(20240414);
    QStringList sne;
    for (int i = 0; i < 10000; ++i) {
        const double ra = random.bounded(24.0);
        const double dec = -30 + random.bounded(110.0);
        sne << QStringLiteral("SN%1\t%2\t%3").arg(i).arg(ra, 0, 'f', 5).arg(dec, 0, 'f', 4)
            << QStringLiteral("**** ");
    }
    writeLines(programFolder + QStringLiteral("SNeTargets.txt"), sne);
    QStringList slc;
    for (int i = 0; i < 1000; ++i) {
        const double ra = random.bounded(24.0);
        const double dec = -20 + random.bounded(100.0);
        slc << QStringLiteral("Star%1\t%2\t%3").arg(i).arg(ra, 0, 'f', 5).arg(dec, 0, 'f', 4)
            << QStringLiteral("**** priority=%1 interval=%2")
                   .arg(1 + random.bounded(100))
                   .arg(30 + random.bounded(120));
    }
    writeLines(programFolder + QStringLiteral("SLCTargets.txt"), slc);
    // 25 columns of 47' by 20 rows of 38': 500 fields.
    writeLines(programFolder + QStringLiteral("MPSTargets.txt"), {QStringLiteral("10.0 10.0 11.2534 22.04")});

    const QString observatoryFolder = dir.path() + QStringLiteral("/observatory");
    ObservatorySettings settings = observatoryDefaults(observatoryFolder);
    settings.latitude = 40;
    settings.longitude = -105;
    settings.elevation = 1600;
    settings.timeZone = QStringLiteral("America/Denver");
    settings.clockStart = QStringLiteral("2024-04-14T02:00:00Z"); // 20:00 local
    settings.clockSpeed = 0;
    sim::SimObservatory host(observatoryFolder, settings);

    BenchView view;
    SurveyCore core(host, view, programFolder);
    core.load();
    core.settings.SNeEnabled = core.settings.MPSEnabled = core.settings.SLCEnabled = 1;
    core.SaveConfig();
    const QDateTime start = host.clock().utcNow();
    core.runLimits.untilUtc = start.addSecs(12 * 3600);

    const long before = residentKiB();
    QElapsedTimer wall;
    wall.start();
    core.startSurvey();
    const qint64 elapsedMs = wall.elapsed();

    std::printf("night_virtual: 12-hour night, 10000 SNe + 1000 SLC targets + 500 MPS fields\n");
    std::printf("  simulated     %lld s\n", static_cast<long long>(start.secsTo(host.clock().utcNow())));
    std::printf("  passes        %lld, plans run %d\n", static_cast<long long>(view.rssPerPass.size()),
                view.plans);
    std::printf("  wall time     %.2f s\n", elapsedMs / 1000.0);
    std::printf("  peak memory   %ld KiB (resident before the run %ld KiB)\n", peakKiB(), before);
    if (!view.rssPerPass.isEmpty()) {
        long low = view.rssPerPass.first(), high = low;
        for (long kib : view.rssPerPass) {
            low = std::min(low, kib);
            high = std::max(high, kib);
        }
        std::printf("  resident per pass: first %ld KiB, last %ld KiB, min %ld KiB, max %ld KiB\n",
                    view.rssPerPass.first(), view.rssPerPass.last(), low, high);
        const qsizetype step = std::max<qsizetype>(1, view.rssPerPass.size() / 10);
        std::printf("  every %lld passes:", static_cast<long long>(step));
        for (qsizetype i = 0; i < view.rssPerPass.size(); i += step)
            std::printf(" %ld", view.rssPerPass[i]);
        std::printf(" KiB\n");
    }
    return 0;
}
