#include "core/History.h"
#include "core/SimSurvey.h"
#include "host/LocalFileSystem.h"
#include "report/NightReasons.h"
#include "text/NumberText.h"

#include <QDir>
#include <QFile>
#include <functional>
#include <gtest/gtest.h>

namespace kestrove::test {
namespace {

// After each plan the survey appends a line to "history.csv" beside its log and keeps the plan in
// the night's folder; what the host says of a failed plan goes into the line.
TEST(RunLoopRecords, EachPlanLeavesAHistoryLineAndACopyOfThePlan)
{
    const struct
    {
        double failureRate;
        const char* result;
    } cases[] = {{0, "completed"}, {1, "failed: failed (simulated fault)"}};
    for (const auto& c : cases) {
        SimSurvey sim([&c](ObservatorySettings& s) { s.failureRate = c.failureRate; });
        const QString target = QStringLiteral("SN 2024/abc\t") + sim.onMeridian(20);
        sim.writeProgramFile(QStringLiteral("SNeTargets.txt"), {target, QStringLiteral("**** ")});
        sim.enable(SurveyKind::SNe, QStringLiteral("50"));
        const QDateTime start = sim.utc();

        sim.run(1);

        const QString logDir = sim.core->acpUtil->Prefs().LocalUser().DefaultLogDir();
        const History history = readHistory(historyPath(logDir));
        ASSERT_EQ(history.entries.size(), 1);
        const HistoryEntry& entry = history.entries[0];
        EXPECT_EQ(entry.kind, SurveyKind::SNe);
        EXPECT_EQ(entry.target, QStringLiteral("SN 2024/abc"));
        EXPECT_EQ(entry.result, QString::fromLatin1(c.result));
        EXPECT_EQ(entry.startUtc, start);
        EXPECT_GT(entry.endUtc, entry.startUtc);
        EXPECT_NEAR(entry.declination, 20, 1e-4);
        EXPECT_NEAR(entry.score, 50 * 70 * 100 / 90.0, 10); // weight 50, elevation about 70
        // 03:10 local on 14 April belongs to the night of the 13th.
        EXPECT_EQ(entry.planFile,
                  sim.planDir() + QStringLiteral("/2024-04-13/20240414T091000Z-SNe-SN_2024_abc.txt"));
        EXPECT_EQ(readBytes(entry.planFile), readBytes(sim.planPath()));
    }
}

// An observer sees the selection without changing a line of the log, a file or a choice.
TEST(RunLoopRecords, AnObserverChangesNothing)
{
    QList<QStringList> logs;
    QList<QByteArray> targets;
    for (const bool watched : {false, true}) {
        SimSurvey sim;
        QStringList sne;
        for (int i = 0; i < 12; ++i)
            sne << QStringLiteral("SN%1\t%2\t%3")
                       .arg(i)
                       .arg(sim.siderealTime() - 6 + i, 0, 'f', 4)
                       .arg(10 + 5 * i)
                << (i % 4 == 0 ? QStringLiteral("**** lastImageJD=%1").arg(sim.jdNow() - 0.1, 0, 'f', 6)
                               : QStringLiteral("**** "));
        sim.writeProgramFile(QStringLiteral("SNeTargets.txt"), sne);
        sim.enable(SurveyKind::SNe);
        NightReasons reasons;
        if (watched)
            sim.core->observer = &reasons;
        sim.run(3);
        logs << sim.logLines();
        targets << readBytes(sim.programFile(QStringLiteral("SNeTargets.txt")));
        if (watched) {
            EXPECT_EQ(reasons.passes(), 3);
            EXPECT_EQ(reasons.choices().size(), 3);
        }
    }
    // Only the banners' date and time may differ: the two runs start at the same instant.
    EXPECT_EQ(logs[0], logs[1]);
    EXPECT_EQ(targets[0], targets[1]);
}

// Someone following the log sees what a pass wrote before the pass ends.
TEST(RunLoopRecords, AFlushedLogIsReadableWhileItStaysOpen)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Kestrove.log"));
    LocalFileSystem fs;
    auto log = fs.OpenTextFile(path, IOMode::ForAppending, true);
    log->WriteLine(QStringLiteral("first"));
    EXPECT_EQ(readBytes(path), QByteArray());
    log->Flush();
    EXPECT_EQ(readBytes(path), QByteArray("first\r\n"));
    log->WriteLine(QStringLiteral("second"));
    log->Close();
    EXPECT_EQ(readBytes(path), QByteArray("first\r\nsecond\r\n"));
}

// A catalogue that cannot be written does not hold the night on one target: its records wait,
// where the selection sees them and a restart finds them, and land once the file can be written.
TEST(RunLoopRecords, TheRecordsOfAReadOnlyCatalogueWaitAndLandLater)
{
    SimSurvey sim;
    QStringList sne;
    for (int i = 0; i < 3; ++i)
        sne << QStringLiteral("SN%1\t").arg(i) + sim.onMeridian(10 + 15 * i) << QStringLiteral("**** ");
    sim.writeProgramFile(QStringLiteral("SNeTargets.txt"), sne);
    const QString catalogue = sim.programFile(QStringLiteral("SNeTargets.txt"));
    ASSERT_TRUE(QFile::setPermissions(catalogue, QFile::ReadOwner | QFile::ReadGroup));
    sim.enable(SurveyKind::SNe);
    const QString logDir = sim.core->acpUtil->Prefs().LocalUser().DefaultLogDir();

    sim.run(8);

    QStringList observed;
    for (const HistoryEntry& entry : readHistory(historyPath(logDir)).entries) {
        observed << entry.target;
        EXPECT_EQ(entry.result, QStringLiteral("completed; record pending: SNeTargets.txt is read-only"));
    }
    observed.sort();
    // Each once: the 12-hour rule sees the pending records.
    EXPECT_EQ(observed, QStringList({QStringLiteral("SN0"), QStringLiteral("SN1"), QStringLiteral("SN2")}));
    EXPECT_EQ(sim.programLines(QStringLiteral("SNeTargets.txt")), sne);

    // A new start on a catalogue made writable.
    ASSERT_TRUE(QFile::setPermissions(catalogue, QFile::ReadOwner | QFile::WriteOwner));
    sim.core = std::make_unique<SurveyCore>(*sim.host, sim.view, sim.programFolder);
    sim.core->eventPumpIntervalMs = 0;
    sim.core->load();
    sim.run(1);

    const QStringList written = sim.programLines(QStringLiteral("SNeTargets.txt"));
    ASSERT_EQ(written.size(), sne.size());
    for (qsizetype i = 1; i < written.size(); i += 2)
        EXPECT_TRUE(written[i].startsWith(QStringLiteral("**** lastImageJD="))) << written[i].toStdString();
    const History history = readHistory(historyPath(logDir));
    ASSERT_EQ(history.entries.size(), 3);
    for (const HistoryEntry& entry : history.entries)
        EXPECT_TRUE(entry.result.startsWith(
            QStringLiteral("completed; record pending: SNeTargets.txt is read-only; record written ")))
            << entry.result.toStdString();
    const QStringList log = sim.logLines();
    EXPECT_EQ(log.filter(QStringLiteral(" kept pending - SNeTargets.txt is read-only")).size(), 3);
    EXPECT_EQ(log.filter(QStringLiteral(" written to SNeTargets.txt")).size(), 3);
    EXPECT_FALSE(QFile::exists(logDir + QStringLiteral("/pending.txt")));
}

// An editor that saves by deleting the file and writing it anew: a completed plan whose file
// vanished during the rewrite still has its line of history, saying why its record waits, and the
// record lands once the file is back.
TEST(RunLoopRecords, ACatalogueThatVanishesDuringTheRewriteKeepsThePlansHistory)
{
    SimSurvey sim;
    const QString target = QStringLiteral("SN2024abc\t") + sim.onMeridian(20);
    sim.writeProgramFile(QStringLiteral("SNeTargets.txt"), {target, QStringLiteral("**** ")});
    const QString catalogue = sim.programFile(QStringLiteral("SNeTargets.txt"));
    sim.enable(SurveyKind::SNe);
    sim.view.onProcessEvents = [&] {
        if (sim.view.status() == QStringLiteral("Updating SNe targets file"))
            QFile::remove(catalogue);
    };

    EXPECT_NO_THROW(sim.run(1));

    const QString logDir = sim.core->acpUtil->Prefs().LocalUser().DefaultLogDir();
    const History history = readHistory(historyPath(logDir));
    ASSERT_EQ(history.entries.size(), 1);
    EXPECT_TRUE(history.entries[0].result.startsWith(QStringLiteral("completed; record pending: ")) &&
                history.entries[0].result.contains(catalogue))
        << history.entries[0].result.toStdString();

    sim.view.onProcessEvents = nullptr;
    sim.writeProgramFile(QStringLiteral("SNeTargets.txt"), {target, QStringLiteral("**** ")});
    sim.run(1);
    EXPECT_TRUE(sim.programLines(QStringLiteral("SNeTargets.txt"))
                    .value(1)
                    .startsWith(QStringLiteral("**** lastImageJD=")));
}

// A log or plan folder removed during a night is made again: the run, its log and its history go on.
TEST(RunLoopRecords, AFolderRemovedDuringTheNightIsMadeAgain)
{
    for (const bool logFolder : {true, false}) {
        SimSurvey sim;
        sim.writeProgramFile(QStringLiteral("SNeTargets.txt"),
                             {QStringLiteral("SN1\t") + sim.onMeridian(20), QStringLiteral("**** "),
                              QStringLiteral("SN2\t") + sim.onMeridian(30), QStringLiteral("**** ")});
        sim.enable(SurveyKind::SNe);
        const QString logDir = sim.core->acpUtil->Prefs().LocalUser().DefaultLogDir();
        const QString folder = logFolder ? logDir : sim.planDir();
        bool removed = false;
        sim.view.onProcessEvents = [&] {
            if (!removed && sim.view.status().startsWith(QStringLiteral("Running ACP plan")))
                removed = QDir(folder).removeRecursively();
        };

        EXPECT_NO_THROW(sim.run(2)) << folder.toStdString();

        EXPECT_TRUE(removed);
        EXPECT_EQ(readHistory(historyPath(logDir)).entries.size(), 2) << folder.toStdString();
        EXPECT_EQ(sim.logLines().filter(QStringLiteral("Running ACP plan for selected target:")).size(),
                  logFolder ? 1 : 2)
            << folder.toStdString();
        EXPECT_EQ(sim.view.status(), QStringLiteral("Survey stopped"));
    }
}

// A kill, as an exception nothing catches, right after a chosen file operation: what is on the
// disk then is what a kill at that point leaves.
struct Killed
{
};

class KillingFileSystem : public FileSystem
{
public:
    // Asked after each rename over a file and each text written to a stream, with the file and text.
    std::function<bool(const QString& file, const QString& text)> killAfter;

    bool FileExists(const QString& path) override { return m_disk.FileExists(path); }
    std::unique_ptr<File> GetFile(const QString& path) override
    {
        return std::make_unique<KilledFile>(*this, m_disk.GetFile(path));
    }
    std::unique_ptr<TextStream> OpenTextFile(const QString& path, IOMode mode, bool create) override
    {
        return std::make_unique<KilledStream>(*this, path, m_disk.OpenTextFile(path, mode, create));
    }
    std::unique_ptr<TextStream> CreateTextFile(const QString& path, bool overwrite) override
    {
        return std::make_unique<KilledStream>(*this, path, m_disk.CreateTextFile(path, overwrite));
    }
    std::optional<FileStatus> Status(const QString& path) override { return m_disk.Status(path); }
    QString ResolvedPath(const QString& path) override { return m_disk.ResolvedPath(path); }
    void SetPermissions(const QString& path, unsigned permissions) override
    {
        m_disk.SetPermissions(path, permissions);
    }
    std::optional<FileWriter> writerOf(const QString& path) override { return m_disk.writerOf(path); }

private:
    void after(const QString& file, const QString& text)
    {
        if (killAfter && killAfter(file, text))
            throw Killed();
    }

    class KilledFile : public File
    {
    public:
        KilledFile(KillingFileSystem& fs, std::unique_ptr<File> inner) : m_fs(fs), m_inner(std::move(inner))
        {
        }
        void Delete() override { m_inner->Delete(); }
        void Move(const QString& destination) override { m_inner->Move(destination); }
        void Replace(const QString& destination) override
        {
            m_inner->Replace(destination);
            m_fs.after(destination, QString());
        }
        void ReplaceUnsynced(const QString& destination) override
        {
            m_inner->ReplaceUnsynced(destination);
            m_fs.after(destination, QString());
        }

    private:
        KillingFileSystem& m_fs;
        std::unique_ptr<File> m_inner;
    };

    class KilledStream : public TextStream
    {
    public:
        KilledStream(KillingFileSystem& fs, QString path, std::unique_ptr<TextStream> inner)
            : m_fs(fs), m_path(std::move(path)), m_inner(std::move(inner))
        {
        }
        bool AtEndOfStream() override { return m_inner->AtEndOfStream(); }
        QString ReadLine() override { return m_inner->ReadLine(); }
        void Write(const QString& text) override
        {
            m_inner->Write(text);
            // What a kill finds written is what reached the file.
            m_inner->Flush();
            m_fs.after(m_path, text);
        }
        void WriteLine(const QString& text) override { m_inner->WriteLine(text); }
        void Flush() override { m_inner->Flush(); }
        void Close() override { m_inner->Close(); }

    private:
        KillingFileSystem& m_fs;
        QString m_path;
        std::unique_ptr<TextStream> m_inner;
    };

    LocalFileSystem m_disk;
};

// A run killed after it wrote a field's pending records and before it took them off the journal:
// the next start finds them in the file, and neither counts them again (two images of a set of
// three read as four would end the set) nor says a second time that they were written.
TEST(RunLoopRecords, RecordsWrittenBeforeAKillAreNotWrittenAgain)
{
    const QString area = QStringLiteral("02:00:00 -80:00:00 02:04:00 -79:54:00");
    const QString field = QStringLiteral("1!02h00m00s!-80d00m00s\t2\t-80");
    const struct
    {
        const char* killedAfter;
        std::function<bool(const QString&, const QString&)> kill;
    } cases[] = {
        {"the rename over the field file",
         [](const QString& file, const QString&) { return file.endsWith(QLatin1String("/MPSfov1.txt")); }},
        {"the second history line",
         [written = 0](const QString& file, const QString& text) mutable {
             return file.endsWith(QLatin1String("/history.csv")) &&
                    text.contains(QLatin1String(",record written ")) && ++written == 2;
         }},
    };
    for (const auto& c : cases) {
        SimSurvey sim;
        sim.writeProgramFile(QStringLiteral("MPSTargets.txt"), {area});
        sim.writeProgramFile(QStringLiteral("MPSfov1.txt"), {area, field, QStringLiteral("**** ")});
        const QString fieldFile = sim.programFile(QStringLiteral("MPSfov1.txt"));
        sim.enable(SurveyKind::MPS);
        const QString logDir = sim.core->acpUtil->Prefs().LocalUser().DefaultLogDir();

        // Two images of the field wait while the file is read-only.
        ASSERT_TRUE(QFile::setPermissions(fieldFile, QFile::ReadOwner));
        QStringList observedJD;
        for (int image = 0; image < 2; ++image) {
            HistoryEntry plan;
            plan.startUtc = sim.utc();
            plan.endUtc = plan.startUtc.addSecs(600);
            plan.kind = SurveyKind::MPS;
            plan.target = QStringLiteral("1!02h00m00s!-80d00m00s");
            sim.core->recordObservation(SurveyKind::MPS, field, &plan);
            observedJD << doubleText(sim.jdNow());
            sim.host->clock().sleepSeconds(30 * 60);
        }
        ASSERT_TRUE(QFile::exists(logDir + QStringLiteral("/pending.txt")));
        ASSERT_TRUE(QFile::setPermissions(fieldFile, QFile::ReadOwner | QFile::WriteOwner));

        const auto restart = [&] {
            sim.core = std::make_unique<SurveyCore>(*sim.host, sim.view, sim.programFolder);
            sim.core->eventPumpIntervalMs = 0;
            sim.core->load();
        };
        restart();
        auto killing = std::make_unique<KillingFileSystem>();
        killing->killAfter = c.kill;
        sim.core->fileSystem = std::move(killing);
        EXPECT_THROW(sim.run(1), Killed) << c.killedAfter;
        restart();
        sim.run(1);

        EXPECT_EQ(
            sim.programLines(QStringLiteral("MPSfov1.txt")),
            QStringList({area, field, QStringLiteral("**** lastImageJD=%1 imageCount=2").arg(observedJD[1])}))
            << c.killedAfter;
        EXPECT_EQ(SimSurvey::readLines(historyPath(logDir)).filter(QStringLiteral(",record written ")).size(),
                  2)
            << c.killedAfter;
        EXPECT_FALSE(QFile::exists(logDir + QStringLiteral("/pending.txt"))) << c.killedAfter;
    }
}

} // namespace
} // namespace kestrove::test
