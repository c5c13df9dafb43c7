// updateSNe on a 100,000-entry targets file against copying the same file, in the same run.

#include "BenchSupport.h"
#include "core/SurveyCore.h"
#include "host/sim/SimObservatory.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include <ctime>
#include <unistd.h>

using namespace kestrove;
using namespace kestrove::bench;

namespace {

} // namespace

int main()
{
    const int entries = 100000;
    QTemporaryDir dir;
    ObservatorySettings site = observatoryDefaults(dir.filePath(QStringLiteral("observatory")));
    site.clockStart = QStringLiteral("2022-03-15T22:30:00Z");
    site.clockSpeed = 0;
    sim::SimObservatory host(dir.filePath(QStringLiteral("observatory")), site);
    QuietView view;
    SurveyCore core(host, view, dir.path());
    core.fileSystem = host.createFileSystem();
    core.acpUtil = host.createUtil();

    const QString targets = core.programFile(QStringLiteral("SNeTargets.txt"));
    QByteArray bytes;
    for (int i = 0; i < entries; ++i) {
        bytes += QStringLiteral("NGC %1\t%2:%3:17.5\t+%4:12:44\r\n")
                     .arg(i)
                     .arg(i % 24)
                     .arg(i % 60)
                     .arg(i % 80)
                     .toLatin1();
        bytes += QByteArrayLiteral("**** lastImageJD=2461012.3456789 reshoot=true imageCount=3\r\n");
    }
    const QString chosen = QStringLiteral("NGC %1\t%2:%3:17.5\t+%4:12:44")
                               .arg(entries / 2)
                               .arg((entries / 2) % 24)
                               .arg((entries / 2) % 60)
                               .arg((entries / 2) % 80);
    // Each run starts from the same file, already on the disk as a user's file would be.
    auto reset = [&] {
        QFile f(targets);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
        f.flush();
        ::fsync(f.handle());
    };

    const int runs = 5;
    const Timing update = bestOf(runs, reset, [&] { core.updateSNe(chosen); });

    // A plain copy: the whole file read and written to a new file, flushed to the disk as the
    // update's copy is.
    const QString copyPath = core.programFile(QStringLiteral("copy.txt"));
    const auto removeCopy = [&] { QFile::remove(copyPath); };
    const Timing copy = bestOf(runs, removeCopy, [&] {
        QFile in(targets);
        in.open(QIODevice::ReadOnly);
        const QByteArray all = in.readAll();
        QFile out(copyPath);
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        out.write(all);
        out.flush();
        ::fsync(out.handle());
    });
    // The same copy line by line through the text streams.
    const Timing streamCopy = bestOf(runs, removeCopy, [&] {
        auto in = core.fileSystem->OpenTextFile(targets, IOMode::ForReading);
        auto out = core.fileSystem->CreateTextFile(copyPath, true);
        while (!in->AtEndOfStream())
            out->WriteLine(in->ReadLine());
        in->Close();
        out->Close();
    });

    std::printf("targets file: %d entries, %.1f MB\n", entries, bytes.size() / 1e6);
    std::printf("best of %d runs           wall        cpu\n", runs);
    std::printf("updateSNe              %8.1f ms %8.1f ms\n", update.wall, update.cpu);
    std::printf("plain copy (fsync)     %8.1f ms %8.1f ms   update / copy      = %.2f\n", copy.wall, copy.cpu,
                update.wall / copy.wall);
    std::printf("stream line copy       %8.1f ms %8.1f ms   update / line copy = %.2f\n", streamCopy.wall,
                streamCopy.cpu, update.wall / streamCopy.wall);
    return 0;
}
