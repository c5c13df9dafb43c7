// Crash trials: headless virtual nights on large catalogues, killed with SIGKILL at random instants.
// After every kill each targets and field file must be whole (the same entries, every line ended,
// every config line a config line), "config.ini" must have its 33 lines, and the next start must
// carry the survey on. Any loss is a failure.
//
//   crash_trials --kestrove PATH [--trials N] [--seed S] [--folder DIR] [--max-ms M]

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <map>

namespace {

constexpr int sneCount = 20000;
constexpr int slcCount = 1000;
// One survey area of about 400 columns by 200 rows at 6 arcminutes: some 80,000 fields.
const QByteArray areaLine = "02:00:00 +10:00:00 04:40:00 +30:00:00";

struct Failure
{
    QString what;
};

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure{QStringLiteral("cannot read %1").arg(path)};
    return file.readAll();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw Failure{QStringLiteral("cannot write %1").arg(path)};
}

// The target lines of a targets file, in order; throws when a line is torn or not a target or
// config line.
QList<QByteArray> entriesOf(const QString& path, const QByteArray& bytes)
{
    if (!bytes.isEmpty() && !bytes.endsWith("\r\n"))
        throw Failure{QStringLiteral("%1: the last line is torn").arg(path)};
    QList<QByteArray> entries;
    const QList<QByteArray> lines = bytes.split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        if (!line.endsWith('\r'))
            throw Failure{QStringLiteral("%1 line %2 does not end with CR LF").arg(path).arg(i + 1)};
        const QByteArray text = line.chopped(1);
        if (text.startsWith("****")) {
            if (text.size() > 4 && !text.startsWith("**** "))
                throw Failure{QStringLiteral("%1 line %2 is a torn config line").arg(path).arg(i + 1)};
            continue;
        }
        if (text.count('\t') != 2)
            throw Failure{
                QStringLiteral("%1 line %2 is neither target nor config line").arg(path).arg(i + 1)};
        entries << text;
    }
    return entries;
}

class Trials
{
public:
    Trials(const QString& kestrove, const QString& root, quint32 seed, int maxMs)
        : m_kestrove(kestrove), m_program(root + QStringLiteral("/program/")),
          m_observatory(root + QStringLiteral("/observatory")), m_random(seed), m_maxMs(maxMs)
    {
    }

    void prepare()
    {
        QDir().mkpath(m_program);
        QDir().mkpath(m_observatory);
        QByteArray sne;
        for (int i = 0; i < sneCount; ++i)
            sne += QStringLiteral("SN%1\t%2\t%3\r\n**** \r\n")
                       .arg(i)
                       .arg(m_random.bounded(24.0), 0, 'f', 5)
                       .arg(-20 + m_random.bounded(100.0), 0, 'f', 4)
                       .toLatin1();
        writeAll(m_program + QStringLiteral("SNeTargets.txt"), sne);
        QByteArray slc;
        for (int i = 0; i < slcCount; ++i)
            slc += QStringLiteral("Star%1\t%2\t%3\r\n**** priority=%4 interval=%5\r\n")
                       .arg(i)
                       .arg(m_random.bounded(24.0), 0, 'f', 5)
                       .arg(-10 + m_random.bounded(80.0), 0, 'f', 4)
                       .arg(10 + m_random.bounded(90))
                       .arg(20 + m_random.bounded(100))
                       .toLatin1();
        writeAll(m_program + QStringLiteral("SLCTargets.txt"), slc);
        writeAll(m_program + QStringLiteral("MPSTargets.txt"), areaLine + "\r\n");

        writeConfig(0);
        // A virtual night of many nights: the clock runs as fast as the program works.
        writeAll(m_observatory + QStringLiteral("/observatory.ini"),
                 "[clock]\r\nstart=2026-12-07T22:00:00Z\r\nspeed=0\r\n"
                 "[limits]\r\nminimumElevation=10\r\nsunAltitude=\r\n"
                 "[acquisition]\r\nfailureRate=0.2\r\n");
        for (const char* name : {"SNeTargets.txt", "SLCTargets.txt"})
            m_entries[QString::fromLatin1(name)] =
                entriesOf(QString::fromLatin1(name), readAll(m_program + QString::fromLatin1(name)));
        // One clean pass lays out the field file that every later version must match.
        finish(1);
        m_fields = fieldsOf(readAll(fieldFile()));
        std::printf("%d SNe, %d SLC, %lld MPS fields\n", sneCount, slcCount,
                    static_cast<long long>(m_fields.size()));
    }

    // One start killed after a random time; then the checks. Returns the passes the start began.
    int trial()
    {
        // Each start favours one kind, so that kills fall into the rewrite of every kind of file.
        writeConfig(m_random.bounded(3));
        // Now and then the field file must be laid out again at start, so that kills fall into it.
        if (m_random.bounded(4) == 0)
            QFile::remove(fieldFile());
        // A start that finds no field file lays it out; killed before the rename, it leaves none.
        m_fieldFileMayBeMissing = !QFileInfo::exists(fieldFile());
        // The survey log gains some ten megabytes a pass here; each start gets a fresh one.
        QFile::remove(logFile());
        QProcess process;
        process.setProgram(m_kestrove);
        process.setArguments({QStringLiteral("--headless"), QStringLiteral("--folder"), m_program,
                              QStringLiteral("--observatory"), m_observatory});
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(m_program + QStringLiteral("../stderr.txt"), QIODevice::Append);
        process.start();
        if (!process.waitForStarted(10000))
            throw Failure{QStringLiteral("kestrove did not start: %1").arg(process.errorString())};
        // Half the kills fall into the start (configuration, field files, first pass).
        QThread::msleep(m_random.bounded(m_random.bounded(2) == 0 ? std::min(m_maxMs, 400) : m_maxMs));
        if (process.state() != QProcess::Running)
            throw Failure{QStringLiteral("kestrove ended by itself (status %1); see stderr.txt")
                              .arg(process.exitCode())};
        // A pid of 0 would signal this whole process group, the harness with it.
        const qint64 pid = process.processId();
        if (pid <= 0)
            throw Failure{QStringLiteral("kestrove ended by itself; see stderr.txt")};
        ::kill(static_cast<pid_t>(pid), SIGKILL);
        process.waitForFinished(10000);
        check();
        return banners();
    }

    // A start that is left to end by itself must run its passes and exit cleanly.
    void finish(int passes)
    {
        QFile::remove(logFile());
        QProcess process;
        process.start(m_kestrove, {QStringLiteral("--headless"), QStringLiteral("--folder"), m_program,
                                   QStringLiteral("--observatory"), m_observatory, QStringLiteral("--passes"),
                                   QString::number(passes)});
        if (!process.waitForFinished(600000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0)
            throw Failure{QStringLiteral("a start did not end cleanly: %1")
                              .arg(QString::fromLocal8Bit(process.readAllStandardError()))};
        if (banners() != passes)
            throw Failure{QStringLiteral("a start ran %1 passes, not %2").arg(banners()).arg(passes)};
        m_fieldFileMayBeMissing = false;
        if (!m_fields.isEmpty())
            check();
    }

private:
    // SNe, MPS and SLC enabled, the favoured one (0, 1, 2) weighted far above the others; 6 arcminute
    // fields; everything else at its default.
    void writeConfig(int favoured)
    {
        const auto weight = [&](int kind) { return QByteArray(kind == favoured ? "1000" : "1"); };
        const QList<QByteArray> config = {
            "lastFocusJD,0",
            "focusInterval,120",
            "SNeEnabled,1",
            "MPSEnabled,1",
            "MPFEnabled,0",
            "SLCEnabled,1",
            "SNeWeight," + weight(0),
            "MPSWeight," + weight(1),
            "MPFWeight,100",
            "SLCWeight," + weight(2),
            "baseDir,/tmp/",
            "slewRate,2",
            "flipTime,60",
            "maxElevation,90",
            "minAzimuth,0",
            "maxAzimuth,360",
            "exposureSNe,30",
            "cameraBinningSNe,1",
            "cameraFilterSNe,",
            "cameraSubframeSNe,1",
            "exposureMPS,30",
            "cameraBinningMPS,1",
            "cameraFilterMPS,",
            "intervalMPS,10",
            "imagesMPS,3",
            "fovRAMPS,6",
            "fovDecMPS,6",
            "exposureSLC,30",
            "cameraBinningSLC,1",
            "cameraFilterSLC,",
            "cameraSubframeSLC,1",
            "setSizeSLC,1",
            "minElevationSLC,0.3",
        };
        writeAll(m_program + QStringLiteral("config.ini"), config.join("\r\n") + "\r\n");
    }

    void check()
    {
        for (const auto& [name, entries] : m_entries) {
            const QString path = m_program + name;
            if (entriesOf(path, readAll(path)) != entries)
                throw Failure{QStringLiteral("%1 lost or changed entries").arg(path)};
        }
        if (QFileInfo::exists(fieldFile())) {
            const QList<QByteArray> fields = fieldsOf(readAll(fieldFile()));
            if (fields != m_fields)
                throw Failure{QStringLiteral("%1 holds %2 of %3 fields")
                                  .arg(fieldFile())
                                  .arg(fields.size())
                                  .arg(m_fields.size())};
        } else if (!m_fieldFileMayBeMissing) {
            throw Failure{QStringLiteral("%1 is gone").arg(fieldFile())};
        }
        const QByteArray config = readAll(m_program + QStringLiteral("config.ini"));
        if (config.count("\r\n") != 33 || !config.endsWith("\r\n"))
            throw Failure{QStringLiteral("config.ini does not hold 33 lines")};
    }

    QString logFile() const { return m_observatory + QStringLiteral("/Logs/Kestrove.log"); }
    QString fieldFile() const { return m_program + QStringLiteral("MPSfov1.txt"); }

    QList<QByteArray> fieldsOf(const QByteArray& bytes) const
    {
        if (!bytes.startsWith(areaLine + "\r\n"))
            throw Failure{QStringLiteral("%1 does not start with its area line").arg(fieldFile())};
        return entriesOf(fieldFile(), bytes.mid(areaLine.size() + 2));
    }

    int banners() const
    {
        QFile log(logFile());
        if (!log.open(QIODevice::ReadOnly))
            return 0;
        int count = 0;
        while (!log.atEnd())
            count += log.readLine().startsWith("**** Searching for new target ") ? 1 : 0;
        return count;
    }

    QString m_kestrove;
    QString m_program;
    QString m_observatory;
    QRandomGenerator m_random;
    int m_maxMs;
    std::map<QString, QList<QByteArray>> m_entries;
    QList<QByteArray> m_fields;
    bool m_fieldFileMayBeMissing = false;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // Progress must reach a log file line by line, whatever ends the harness.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QCommandLineParser parser;
    parser.addOptions(
        {{QStringLiteral("kestrove"), QStringLiteral("The program."), QStringLiteral("PATH")},
         {QStringLiteral("trials"), QStringLiteral("Kills."), QStringLiteral("N"), QStringLiteral("20")},
         {QStringLiteral("seed"), QStringLiteral("Seed."), QStringLiteral("S"), QStringLiteral("1")},
         {QStringLiteral("max-ms"), QStringLiteral("Longest run before a kill."), QStringLiteral("M"),
          QStringLiteral("3000")},
         {QStringLiteral("folder"), QStringLiteral("Keep the files here."), QStringLiteral("DIR")}});
    parser.process(app);
    const int trials = parser.value(QStringLiteral("trials")).toInt();
    QTemporaryDir scratch;
    const QString root =
        parser.isSet(QStringLiteral("folder")) ? parser.value(QStringLiteral("folder")) : scratch.path();
    Trials run(parser.value(QStringLiteral("kestrove")), root, parser.value(QStringLiteral("seed")).toUInt(),
               parser.value(QStringLiteral("max-ms")).toInt());
    QElapsedTimer timer;
    timer.start();
    int passes = 0;
    try {
        run.prepare();
        for (int i = 0; i < trials; ++i) {
            passes += run.trial();
            std::printf("trial %d of %d: whole\n", i + 1, trials);
        }
        run.finish(3);
    } catch (const Failure& failure) {
        std::fprintf(stderr, "LOSS: %s\n", qPrintable(failure.what));
        return 1;
    }
    std::printf("%d trials, %d passes begun, 0 losses, %.1f s\n", trials, passes, timer.elapsed() / 1000.0);
    return 0;
}
