// createMPSFiles generating 100,000 fields against writing the same bytes, and an unchanged second
// call over 100 survey areas.

#include "BenchSupport.h"
#include "core/SurveyCore.h"
#include "host/sim/SimObservatory.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>
#include <functional>
#include <unistd.h>

using namespace kestrove;
using namespace kestrove::bench;

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
}

} // namespace

int main()
{
    QTemporaryDir dir;
    ObservatorySettings site = observatoryDefaults(dir.filePath(QStringLiteral("observatory")));
    site.clockStart = QStringLiteral("2022-03-15T22:30:00Z");
    site.clockSpeed = 0;
    sim::SimObservatory host(dir.filePath(QStringLiteral("observatory")), site);
    QuietView view;
    SurveyCore core(host, view, dir.path());
    core.fileSystem = host.createFileSystem();
    core.acpUtil = host.createUtil();
    const int runs = 5;
    const QString areasPath = core.programFile(QStringLiteral("MPSTargets.txt"));

    // One area of 250 columns by 400 rows: a 6' by 6' field over 1.67 hours by 40 degrees.
    core.settings.fovRAMPS = 6;
    core.settings.fovDecMPS = 6;
    const double raStep = 6.0 / 60 * 24 / 360;
    const QByteArray bigArea =
        QStringLiteral("2 0 %1 39.95\r\n").arg(2 + 249.5 * raStep, 0, 'f', 6).toLatin1();
    const QString field1 = core.programFile(QStringLiteral("MPSfov1.txt"));
    int16_t count = 0;
    const Timing generate = bestOf(
        runs,
        [&] {
            writeFile(areasPath, bigArea);
            QFile::remove(field1);
        },
        [&] { count = core.createMPSFiles(); });
    QFile produced(field1);
    produced.open(QIODevice::ReadOnly);
    const QByteArray bytes = produced.readAll();
    const long fields = (bytes.count('\n') - 1) / 2;

    // The same bytes written to a new file and flushed to the disk, as the field file is.
    const QString copyPath = core.programFile(QStringLiteral("same-bytes.txt"));
    const Timing write = bestOf(
        runs, [&] { QFile::remove(copyPath); },
        [&] {
            QFile out(copyPath);
            out.open(QIODevice::WriteOnly | QIODevice::Truncate);
            out.write(bytes);
            out.flush();
            ::fsync(out.handle());
        });

    // 100 areas, generated once; then the call that finds nothing changed.
    core.settings.fovRAMPS = 47;
    core.settings.fovDecMPS = 38;
    QByteArray areas;
    for (int i = 0; i < 100; ++i)
        areas += QStringLiteral("%1:00:00 +%2:00:00 %1:30:00 +%3:00:00\r\n")
                     .arg(i % 24)
                     .arg(i % 60)
                     .arg(i % 60 + 3)
                     .toLatin1();
    writeFile(areasPath, areas);
    const int16_t areaCount = core.createMPSFiles();
    const Timing unchanged = bestOf(
        runs, [] {}, [&] { core.createMPSFiles(); });

    std::printf("best of %d runs                        wall        cpu\n", runs);
    std::printf("createMPSFiles, %ld fields     %8.1f ms %8.1f ms   (%d area, %.1f MB)\n", fields,
                generate.wall, generate.cpu, count, bytes.size() / 1e6);
    std::printf("writing the same bytes (fsync)     %8.1f ms %8.1f ms   generate / write = %.2f\n",
                write.wall, write.cpu, generate.wall / write.wall);
    std::printf("unchanged call over %d areas      %8.2f ms %8.2f ms   (%.1f us per area)\n", areaCount,
                unchanged.wall, unchanged.cpu, unchanged.wall * 1000 / areaCount);
    return 0;
}
