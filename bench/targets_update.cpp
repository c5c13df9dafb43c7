// updateSNe on a 100,000-entry targets file against copying the same file, in the same run.

#include "app/SurveyCore.h"
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

namespace {

class QuietView : public SurveyView
{
public:
    void showStatus(const QString&) override {}
    void showMessage(const QString&) override {}
    bool isKindChecked(SurveyKind) override { return false; }
    QString weightText(SurveyKind) override { return QStringLiteral("100"); }
    void processEvents() override {}
    void showRunning(bool) override {}
};

// The best of several runs, milliseconds.
double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// The best of several runs, wall-clock milliseconds; `cpu` gets the processor time of that run.
// `prepare` runs untimed before each run.
double bestOf(int runs, const std::function<void()>& prepare, const std::function<void()>& work, double* cpu)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        prepare();
        QElapsedTimer timer;
        const double cpuStart = cpuMs();
        timer.start();
        work();
        const double wall = timer.nsecsElapsed() / 1e6;
        if (wall < best) {
            best = wall;
            if (cpu)
                *cpu = cpuMs() - cpuStart;
        }
    }
    return best;
}

} // namespace

int main()
{
    const int entries = 100000;
    QTemporaryDir dir;
    sim::SimSettings site = sim::SimObservatory::defaults(dir.filePath(QStringLiteral("observatory")));
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
    auto reset = [&] {
        QFile f(targets);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
    };

    const int runs = 5;
    double updateCpu = 0, copyCpu = 0, streamCpu = 0;
    const double update = bestOf(
        runs, reset, [&] { core.updateSNe(chosen); }, &updateCpu);

    // A plain copy: the whole file read and written to a new file, flushed to the disk as the
    // update's copy is.
    const QString copyPath = core.programFile(QStringLiteral("copy.txt"));
    const auto removeCopy = [&] { QFile::remove(copyPath); };
    const double copy = bestOf(
        runs, removeCopy,
        [&] {
            QFile in(targets);
            in.open(QIODevice::ReadOnly);
            const QByteArray all = in.readAll();
            QFile out(copyPath);
            out.open(QIODevice::WriteOnly | QIODevice::Truncate);
            out.write(all);
            out.flush();
            ::fsync(out.handle());
        },
        &copyCpu);
    // The same copy line by line through the text streams.
    const double streamCopy = bestOf(
        runs, removeCopy,
        [&] {
            auto in = core.fileSystem->OpenTextFile(targets, IOMode::ForReading);
            auto out = core.fileSystem->CreateTextFile(copyPath, true);
            while (!in->AtEndOfStream())
                out->WriteLine(in->ReadLine());
            in->Close();
            out->Close();
        },
        &streamCpu);

    std::printf("targets file: %d entries, %.1f MB\n", entries, bytes.size() / 1e6);
    std::printf("best of %d runs           wall        cpu\n", runs);
    std::printf("updateSNe              %8.1f ms %8.1f ms\n", update, updateCpu);
    std::printf("plain copy (fsync)     %8.1f ms %8.1f ms   update / copy      = %.2f\n", copy, copyCpu,
                update / copy);
    std::printf("stream line copy       %8.1f ms %8.1f ms   update / line copy = %.2f\n", streamCopy,
                streamCpu, update / streamCopy);
    return 0;
}
