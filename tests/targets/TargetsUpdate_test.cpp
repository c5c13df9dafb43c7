#include "FaultyFileSystem.h"
#include "TargetsTestHost.h"
#include "core/History.h"
#include "core/SimSurvey.h"
#include "core/SurveyCore.h"
#include "host/LocalFileSystem.h"
#include "support/TestSupport.h"
#include "text/NumberText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>

namespace kestrove {
namespace {

using test::crlfLines;
using test::readBytes;
using test::writeBytes;

const QString sneFile = QStringLiteral("SNeTargets.txt");
const QString slcFile = QStringLiteral("SLCTargets.txt");

class TargetsUpdate : public ::testing::Test, public test::TargetsFixture
{
protected:
    QString lastObs(const char* kind)
    {
        return QStringLiteral("Last obs time for best %1 target = ").arg(QLatin1String(kind)) + jd();
    }
};

TEST_F(TargetsUpdate, SNeReplacesTheChosenConfigLineWithTheDateAlone)
{
    // LF-only lines read fine; the new file is written with CR LF throughout.
    writeBytes(path(sneFile), "M31\t00:42:44\t+41:16:09\n"
                              "**** lastImageJD=2461000.5 reshoot=true imageCount=5\n"
                              "M33\t01:33:51\t+30:39:37\n"
                              "**** reshoot=1\n");
    core.updateSNe(QStringLiteral("M31\t00:42:44\t+41:16:09"));

    EXPECT_EQ(
        readBytes(path(sneFile)),
        crlfLines({QStringLiteral("M31\t00:42:44\t+41:16:09"), QStringLiteral("**** lastImageJD=") + jd(),
                   QStringLiteral("M33\t01:33:51\t+30:39:37"), QStringLiteral("**** reshoot=1")}));
    EXPECT_EQ(log, QStringList({QStringLiteral("Updating targets file"), lastObs("SNe")}));
    EXPECT_EQ(view.statuses, QStringList{QStringLiteral("Updating SNe targets file")});
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("newtargets.txt"))));
    EXPECT_GE(view.eventDispatches, 4); // once before each line
    EXPECT_TRUE(view.messages.isEmpty());
}

TEST_F(TargetsUpdate, SNeKeepsTheTargetsOwnLimits)
{
    writeBytes(path(sneFile), crlfLines({QStringLiteral("M31\t00:42:44\t+41:16:09"),
                                         QStringLiteral("**** reshoot=1 maxAirmass=1.5 minAltitude=35")}));
    core.updateSNe(QStringLiteral("M31\t00:42:44\t+41:16:09"));
    EXPECT_EQ(readBytes(path(sneFile)), crlfLines({QStringLiteral("M31\t00:42:44\t+41:16:09"),
                                                   QStringLiteral("**** lastImageJD=") + jd() +
                                                       QStringLiteral(" maxAirmass=1.5 minAltitude=35")}));
}

TEST_F(TargetsUpdate, AFileWithoutTheChosenLineComesOutIdentical)
{
    const QByteArray cases[] = {
        crlfLines({QStringLiteral("M31\t00:42:44\t+41:16:09"), QStringLiteral("**** lastImageJD=5")}),
        // Matching needs the whole line: same name, other position.
        crlfLines({QStringLiteral("M51\t13:29:52\t+47:11:43 "), QStringLiteral("**** lastImageJD=5")}),
        // The chosen line is the last line: there is nothing after it to replace.
        crlfLines({QStringLiteral("M31\t00:42:44\t+41:16:09"), QStringLiteral("**** "),
                   QStringLiteral("M51\t13:29:52\t+47:11:43")}),
        QByteArray(),
    };
    for (const QByteArray& bytes : cases) {
        log.clear();
        writeBytes(path(sneFile), bytes);
        core.updateSNe(QStringLiteral("M51\t13:29:52\t+47:11:43"));
        EXPECT_EQ(readBytes(path(sneFile)), bytes);
        // The record waits for a file that holds its entry.
        EXPECT_EQ(log, QStringList({QStringLiteral("Updating targets file"),
                                    QStringLiteral("Observation of M51 kept pending - SNeTargets.txt lacks "
                                                   "the entry of M51")}));
    }
}

TEST_F(TargetsUpdate, NoLineOfTheUsersFileIsLost)
{
    const QString t = QStringLiteral("NGC 891\t02:22:33\t+42:20:57");
    const QString u = QStringLiteral("NGC 253\t00:47:33\t-25:17:18");
    // The same target line twice, the first without a config line, then a regular entry.
    writeBytes(path(sneFile),
               crlfLines({t, t, QStringLiteral("**** lastImageJD=1"), u, QStringLiteral("**** ")}));
    core.updateSNe(t);
    const QString fresh = QStringLiteral("**** lastImageJD=") + jd();
    EXPECT_EQ(readBytes(path(sneFile)), crlfLines({t, fresh, t, fresh, u, QStringLiteral("**** ")}));
    EXPECT_EQ(log, QStringList({QStringLiteral("Updating targets file"), lastObs("SNe"), lastObs("SNe")}));
}

TEST_F(TargetsUpdate, EveryMatchingEntryIsUpdatedFromItsOwnValues)
{
    core.settings.exposureSLC = 60;
    const QString t = QStringLiteral("RR Lyr\t19:25:27.9\t+42:47:04");
    writeBytes(path(slcFile), crlfLines({t, QStringLiteral("**** priority=5"), t,
                                         QStringLiteral("**** priority=7 filter=V")}));
    core.updateSLC(t);
    const QString head = QStringLiteral("**** lastImageJD=") + jd();
    EXPECT_EQ(readBytes(path(slcFile)),
              crlfLines({t, head + QStringLiteral(" priority=5 interval=60 exposure=60 binning=1 filter="), t,
                         head + QStringLiteral(" priority=7 interval=60 exposure=60 binning=1 filter=V")}));
    EXPECT_EQ(log.count(lastObs("SLC")), 2);
}

TEST_F(TargetsUpdate, SLCWritesTheTargetsOwnSettingsOrTheSLCDefaults)
{
    core.settings.exposureSLC = 12.5f;
    core.settings.cameraBinningSLC = 2;
    struct Case
    {
        const char* filterSetting;
        const char* oldLine;
        const char* tail;
    };
    const Case cases[] = {
        {"", "**** ", " priority=100 interval=60 exposure=12.5 binning=2 filter="},
        {"B", "****", " priority=100 interval=60 exposure=12.5 binning=2 filter=B"},
        {"", "**** priority=5 filter=R imageCount=4 reshoot=true",
         " priority=5 interval=60 exposure=12.5 binning=2 filter=R"},
        {"V", "**** lastImageJD=2461000 priority=0.2833333 interval=-5 exposure=300 binning=3 filter=",
         " priority=0.2833333 interval=-5 exposure=300 binning=3 filter="},
        // The target's own limits stay, as written.
        {"", "**** minAltitude=30 priority=5 window=22:00-02:00",
         " priority=5 interval=60 exposure=12.5 binning=2 filter= minAltitude=30 window=22:00-02:00"},
        // So do the stars named for its lightcurve.
        {"", "**** comp=22:29:40,+58:25:10,6.25,AB1 check=22.5,58.2",
         " priority=100 interval=60 exposure=12.5 binning=2 filter= comp=22:29:40,+58:25:10,6.25,AB1 "
         "check=22.5,58.2"},
    };
    const QString t = QStringLiteral("delta Cep\t22:29:10.3\t+58:24:55");
    for (const Case& c : cases) {
        core.settings.cameraFilterSLC = QString::fromLatin1(c.filterSetting);
        writeBytes(path(slcFile), crlfLines({t, QString::fromLatin1(c.oldLine)}));
        core.updateSLC(t);
        EXPECT_EQ(readBytes(path(slcFile)),
                  crlfLines({t, QStringLiteral("**** lastImageJD=") + jd() + QString::fromLatin1(c.tail)}))
            << c.oldLine;
    }
    EXPECT_EQ(view.status(), QStringLiteral("Updating SLC targets file"));
}

TEST_F(TargetsUpdate, MPSCountsImagesAndRestartsAfterHalfADay)
{
    struct Case
    {
        const char* oldItems; // after "lastImageJD=<now - age>"; null: the config line is "**** "
        double ageDays;
        int count;
        bool restart;
    };
    const Case cases[] = {
        {" imageCount=2", 0.4, 3, false},
        {" imageCount=2", 0.6, 1, true},
        {" imageCount=2", 0.5, 3, false}, // only strictly more than half a day restarts
        {nullptr, 0, 1, true},            // a new field has no lastImageJD
        {" imageCount=32767", 0.1, 32767, false},
        {" imageCount=-3", 0.1, -2, false},
    };
    const QString field = QStringLiteral("2!05h30m00s!+20d00m00s\t5.5\t20");
    for (const Case& c : cases) {
        log.clear();
        const QString oldConfig = c.oldItems
                                      ? QStringLiteral("**** lastImageJD=") +
                                            doubleText(jdValue() - c.ageDays) + QLatin1String(c.oldItems)
                                      : QStringLiteral("**** ");
        const QByteArray area1 =
            crlfLines({QStringLiteral("1 2 3 4"), QStringLiteral("1!x\t1\t2"), QStringLiteral("**** ")});
        writeBytes(path(QStringLiteral("MPSfov1.txt")), area1);
        writeBytes(path(QStringLiteral("MPSfov2.txt")),
                   crlfLines({QStringLiteral("5:30:00 20 5:40:00 21"), field, oldConfig}));

        core.updateMPS(field);

        EXPECT_EQ(readBytes(path(QStringLiteral("MPSfov2.txt"))),
                  crlfLines({QStringLiteral("5:30:00 20 5:40:00 21"), field,
                             QStringLiteral("**** lastImageJD=") + jd() + QStringLiteral(" imageCount=") +
                                 QString::number(c.count)}))
            << oldConfig.toStdString();
        EXPECT_EQ(readBytes(path(QStringLiteral("MPSfov1.txt"))), area1);
        QStringList expectedLog{QStringLiteral("Updating targets file")};
        if (c.restart)
            expectedLog << QStringLiteral("Resetting image count on this target");
        expectedLog << lastObs("MPS");
        EXPECT_EQ(log, expectedLog) << oldConfig.toStdString();
    }
    EXPECT_EQ(view.status(), QStringLiteral("Updating MPS targets file"));
}

TEST_F(TargetsUpdate, MPFTouchesNothing)
{
    core.updateMPF(QStringLiteral("anything"));
    EXPECT_TRUE(QDir(core.GetEXEPath()).isEmpty());
    EXPECT_TRUE(log.isEmpty());
    EXPECT_TRUE(view.statuses.isEmpty());
}

TEST_F(TargetsUpdate, AMissingTargetsFileIsAnErrorAndCreatesNothingInItsPlace)
{
    EXPECT_THROW(core.updateSNe(QStringLiteral("M31\t00:42:44\t+41:16:09")), HostError);
    EXPECT_FALSE(QFile::exists(path(sneFile)));
}

// An observer saves an entry while the update copies the file (the update dispatches events between
// lines, so this really happens): both the edit and the observation are kept.
TEST_F(TargetsUpdate, AnEditSavedDuringTheRewriteIsKeptWithTheObservation)
{
    QStringList lines;
    for (int i = 0; i < 40; ++i)
        lines << QStringLiteral("SN%1\t%2:00:00\t+10:00:00").arg(i).arg(i % 24)
              << QStringLiteral("**** lastImageJD=2461000.%1").arg(i % 10);
    const QString chosen = lines[20];
    const QString added = QStringLiteral("SN2026new\t03:00:00\t+20:00:00");

    // Editors save either over the file in place or through a copy renamed over it.
    const auto saveInPlace = [&](const QStringList& content) {
        writeBytes(path(sneFile), crlfLines(content));
    };
    const auto saveByRename = [&](const QStringList& content) {
        writeBytes(path(QStringLiteral("edit.tmp")), crlfLines(content));
        ASSERT_TRUE(::rename(QFile::encodeName(path(QStringLiteral("edit.tmp"))).constData(),
                             QFile::encodeName(path(sneFile)).constData()) == 0);
    };
    QStringList sameSize = lines; // an edit that only the modification time shows
    sameSize[3] = QStringLiteral("**** lastImageJD=2461000.9");
    QStringList withEntry = lines;
    withEntry << added << QStringLiteral("**** ");

    const struct
    {
        const char* what;
        int atDispatch; // the edit is saved while the update dispatches events for the nth time
        bool inPlace;
        QStringList edited;
    } cases[] = {
        {"an entry added in place before the first line", 1, true, withEntry},
        {"an entry added through a rename in the middle", 41, false, withEntry},
        {"a value changed in place at the last line", 80, true, sameSize},
        {"a value changed through a rename at the last line", 80, false, sameSize},
    };
    for (const auto& c : cases) {
        log.clear();
        view.messages.clear();
        writeBytes(path(sneFile), crlfLines(lines));
        {
            // A minute in the past: a same-size edit in place must show by its time even where
            // the file system keeps coarse times.
            QFile file(path(sneFile));
            ASSERT_TRUE(file.open(QIODevice::ReadWrite) &&
                        file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-60),
                                         QFileDevice::FileModificationTime));
        }
        int dispatches = 0;
        view.onProcessEvents = [&] {
            if (++dispatches == c.atDispatch)
                c.inPlace ? saveInPlace(c.edited) : saveByRename(c.edited);
        };
        core.updateSNe(chosen);
        view.onProcessEvents = nullptr;

        QStringList expected = c.edited;
        expected[21] = QStringLiteral("**** lastImageJD=") + jd();
        EXPECT_EQ(readBytes(path(sneFile)), crlfLines(expected)) << c.what;
        EXPECT_EQ(log, QStringList({QStringLiteral("Updating targets file"), lastObs("SNe")})) << c.what;
        EXPECT_TRUE(view.messages.isEmpty()) << c.what;
        EXPECT_FALSE(QFile::exists(path(QStringLiteral("newtargets.txt")))) << c.what;
    }

    // A file that changes during every copy is left to the observer, and the update says so.
    log.clear();
    writeBytes(path(sneFile), crlfLines(lines));
    QStringList growing = lines;
    int dispatches = 0;
    view.onProcessEvents = [&] {
        if (++dispatches % 20 == 0)
            saveInPlace(growing << QStringLiteral("E%1\t1\t2").arg(dispatches) << QStringLiteral("**** "));
    };
    core.updateSNe(chosen);
    view.onProcessEvents = nullptr;
    EXPECT_EQ(readBytes(path(sneFile)), crlfLines(growing));
    EXPECT_FALSE(log.contains(lastObs("SNe")));
    ASSERT_EQ(view.messages.size(), 1);
    EXPECT_TRUE(view.messages[0].contains(path(sneFile)) && view.messages[0].contains(QStringLiteral("SN10")))
        << view.messages[0].toStdString();
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("newtargets.txt"))));
}

// The rewrite keeps what makes the file the user's: its permissions, and a link stays a link to the
// file it names. A file made read-only is not rewritten; the update says so and returns.
TEST_F(TargetsUpdate, TheRewriteKeepsTheFilesPermissionsAndLinks)
{
    const QString t = QStringLiteral("M31\t00:42:44\t+41:16:09");
    const QByteArray old = crlfLines({t, QStringLiteral("**** reshoot=1")});
    const QByteArray updated = crlfLines({t, QStringLiteral("**** lastImageJD=") + jd()});
    const QString elsewhere =
        test::madeFolder(dir.filePath(QStringLiteral("catalogues"))) + QStringLiteral("/sne.txt");
    const struct
    {
        const char* what;
        bool link; // SNeTargets.txt is a symbolic link to a file in another folder
        QFile::Permissions permissions;
        bool readOnly;
    } cases[] = {
        {"owner only", false, QFile::ReadOwner | QFile::WriteOwner, false},
        {"group readable", false, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup, false},
        {"read-only", false, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther, true},
        {"a link", true, QFile::ReadOwner | QFile::WriteOwner, false},
        {"a link to a read-only file", true, QFile::ReadOwner, true},
    };
    for (const auto& c : cases) {
        view.messages.clear();
        for (const QString& f : {path(sneFile), elsewhere}) {
            QFile::setPermissions(f, QFile::ReadOwner | QFile::WriteOwner);
            QFile::remove(f);
        }
        const QString file = c.link ? elsewhere : path(sneFile);
        writeBytes(file, old);
        ASSERT_TRUE(QFile::setPermissions(file, c.permissions));
        if (c.link) {
            ASSERT_TRUE(QFile::link(elsewhere, path(sneFile)));
        }

        EXPECT_NO_THROW(core.updateSNe(t)) << c.what;
        if (c.readOnly) {
            // Said once: a night is not held by a message box after every plan.
            EXPECT_NO_THROW(core.updateSNe(t)) << c.what;
        }

        EXPECT_EQ(readBytes(file), c.readOnly ? old : updated) << c.what;
        // Without the flags of the user running the test.
        const QFile::Permissions user = QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;
        EXPECT_EQ(QFile::permissions(file) & ~user, c.permissions) << c.what;
        EXPECT_EQ(QFileInfo(path(sneFile)).isSymLink(), c.link) << c.what;
        if (c.link) {
            EXPECT_EQ(QFileInfo(path(sneFile)).symLinkTarget(), elsewhere) << c.what;
        }
        EXPECT_EQ(view.messages.size(), c.readOnly ? 1 : 0) << c.what;
        if (c.readOnly && !view.messages.isEmpty()) {
            EXPECT_TRUE(view.messages[0].contains(sneFile) &&
                        view.messages[0].contains(QStringLiteral("read-only")))
                << view.messages[0].toStdString();
        }
        EXPECT_FALSE(QFile::exists(path(QStringLiteral("newtargets.txt")))) << c.what;
        EXPECT_FALSE(QFile::exists(QFileInfo(elsewhere).path() + QStringLiteral("/newtargets.txt")))
            << c.what;
    }
}

// A failure at any file operation, before or after it reached the disk, leaves the targets file
// whole: the old content before the new copy took its place, the new content after.
TEST_F(TargetsUpdate, TheTargetsFileIsWholeAfterAFailureAtAnyStep)
{
    QStringList lines;
    for (int i = 0; i < 15; ++i) {
        lines << QStringLiteral("SN%1\t%2:00:00\t+10:00:00").arg(i).arg(i % 24)
              << QStringLiteral("**** lastImageJD=2461000.%1").arg(i);
    }
    const QByteArray oldBytes = crlfLines(lines);
    const QString chosen = lines[20];
    auto disk = host.createFileSystem();

    writeBytes(path(sneFile), oldBytes);
    core.updateSNe(chosen);
    const QByteArray newBytes = readBytes(path(sneFile));
    ASSERT_NE(newBytes, oldBytes);

    for (auto when : {test::FaultyFileSystem::When::Before, test::FaultyFileSystem::When::After}) {
        int sawOld = 0, sawNew = 0;
        for (int failAt = 1;; ++failAt) {
            ASSERT_LT(failAt, 1000);
            writeBytes(path(sneFile), oldBytes);
            auto faulty = std::make_unique<test::FaultyFileSystem>(*disk, failAt, when);
            auto* fs = faulty.get();
            core.fileSystem = std::move(faulty);
            try {
                core.updateSNe(chosen);
            } catch (const HostError& e) {
                EXPECT_EQ(e.reason(), QStringLiteral("injected failure"));
            }
            ASSERT_TRUE(QFile::exists(path(sneFile))) << "failure at call " << failAt;
            const QByteArray now = readBytes(path(sneFile));
            EXPECT_TRUE(now == oldBytes || now == newBytes) << "failure at call " << failAt;
            if (!fs->failed()) {
                EXPECT_EQ(now, newBytes);
                break;
            }
            (now == oldBytes ? sawOld : sawNew)++;
            core.fileSystem.reset();
        }
        EXPECT_GT(sawOld, 60); // every line read and written is a point of failure
        // Only a failure reported after the rename has already happened leaves the new file.
        EXPECT_EQ(sawNew, when == test::FaultyFileSystem::When::After ? 1 : 0);
    }
}

// The disk, with a hook called before every file is opened for reading.
class HookedFileSystem : public FileSystem
{
public:
    std::function<void(const QString& path)> beforeReading;

    bool FileExists(const QString& path) override { return m_disk.FileExists(path); }
    std::unique_ptr<File> GetFile(const QString& path) override { return m_disk.GetFile(path); }
    std::unique_ptr<TextStream> OpenTextFile(const QString& path, IOMode mode, bool create) override
    {
        if (mode == IOMode::ForReading && beforeReading)
            beforeReading(path);
        return m_disk.OpenTextFile(path, mode, create);
    }
    std::unique_ptr<TextStream> CreateTextFile(const QString& path, bool overwrite) override
    {
        return m_disk.CreateTextFile(path, overwrite);
    }
    std::optional<FileStatus> Status(const QString& path) override { return m_disk.Status(path); }
    QString ResolvedPath(const QString& path) override { return m_disk.ResolvedPath(path); }
    void SetPermissions(const QString& path, unsigned permissions) override
    {
        m_disk.SetPermissions(path, permissions);
    }
    std::optional<FileWriter> writerOf(const QString& path) override { return m_disk.writerOf(path); }

private:
    LocalFileSystem m_disk;
};

// Shell redirection, sort -o and most editors truncate a catalogue and then write it anew. A plan
// recorded in between must not build its rewrite from what the writer has written so far: the rest
// would go into the file the rewrite replaced. The writer stops at a share of the file just as the
// update opens it; once it has finished, every entry is there, and the next pass writes the record.
TEST(TargetsUpdateWithAWriter, AWriterInPlaceLosesNoEntry)
{
    constexpr int entries = 20000;
    const auto targetLines = [](const QStringList& lines) {
        return std::count_if(lines.begin(), lines.end(),
                             [](const QString& l) { return !l.startsWith(QLatin1String("****")); });
    };
    for (const int percent : {0, 50, 90}) {
        test::SimSurvey sim;
        // One target on the meridian; the others never rise.
        QByteArray catalogue =
            test::crlfLines({QStringLiteral("SN0\t") + sim.onMeridian(20), QStringLiteral("**** ")});
        for (int i = 1; i < entries; ++i)
            catalogue += QStringLiteral("SN%1\t%2\t-80\r\n**** \r\n").arg(i).arg(i % 24).toLatin1();
        const QString path = sim.programFile(sneFile);
        writeBytes(path, catalogue);
        sim.enable(SurveyKind::SNe);

        QFile writer(path);
        const qsizetype stop = catalogue.size() * percent / 100;
        auto hooked = std::make_unique<HookedFileSystem>();
        hooked->beforeReading = [&](const QString& opened) {
            // The plan has ended (its marker is there) and the update opens the file.
            if (opened != path || writer.isOpen() ||
                !QFile::exists(sim.programFile(QStringLiteral("completed.txt"))))
                return;
            ASSERT_TRUE(writer.open(QIODevice::WriteOnly | QIODevice::Truncate));
            writer.write(catalogue.left(stop));
            writer.flush();
        };
        sim.core->fileSystem = std::move(hooked);

        sim.run(1);
        ASSERT_TRUE(writer.isOpen()) << percent;
        writer.write(catalogue.mid(stop));
        writer.close();
        EXPECT_EQ(targetLines(sim.programLines(sneFile)), entries)
            << "entries lost, writer at " << percent << "%";
        EXPECT_EQ(sim.logLines().filter(QStringLiteral("Observation of SN0 kept pending - ")).size(), 1)
            << percent;

        sim.core->fileSystem = std::make_unique<LocalFileSystem>();
        sim.run(1);
        const QStringList after = sim.programLines(sneFile);
        EXPECT_EQ(targetLines(after), entries) << percent;
        EXPECT_TRUE(after.value(1).startsWith(QStringLiteral("**** lastImageJD="))) << percent;
    }
}

// A writer may pause for minutes with the file half written, and the next pass comes while it does.
// That pass must neither take the half for the catalogue (dropping the record of an entry it lacks)
// nor put a copy of it in place: it scores from the last complete read and keeps its own record
// pending, saying why. Once the writer has finished, every entry is there and both records land.
TEST(TargetsUpdateWithAWriter, APassWhileTheWriterPausesLosesNothing)
{
    constexpr int entries = 2000;
    test::SimSurvey sim;
    // A target high in the sky at each end of the file, the higher one last; the others never rise.
    QByteArray catalogue;
    for (int i = 0; i < entries; ++i) {
        const QString position = i == 0             ? sim.onMeridian(20)
                                 : i == entries - 1 ? sim.onMeridian(30)
                                                    : QStringLiteral("%1\t-80").arg(i % 24);
        catalogue +=
            (QStringLiteral("SN%1\t").arg(i) + position + QStringLiteral("\r\n**** \r\n")).toLatin1();
    }
    const QString path = sim.programFile(sneFile);
    writeBytes(path, catalogue);
    sim.enable(SurveyKind::SNe);

    // Once the first plan has ended, the writer truncates the file and stops halfway.
    QFile writer(path);
    bool started = false;
    auto hooked = std::make_unique<HookedFileSystem>();
    hooked->beforeReading = [&](const QString& opened) {
        if (opened != path || started || !QFile::exists(sim.programFile(QStringLiteral("completed.txt"))))
            return;
        started = true;
        ASSERT_TRUE(writer.open(QIODevice::WriteOnly | QIODevice::Truncate));
        writer.write(catalogue.left(catalogue.size() / 2));
        writer.flush();
    };
    sim.core->fileSystem = std::move(hooked);

    sim.run(1); // SN1999 is observed
    ASSERT_TRUE(writer.isOpen());
    sim.run(1); // SN0 is observed while the writer still pauses
    writer.write(catalogue.mid(catalogue.size() / 2));
    writer.close();
    sim.run(1);

    const QStringList lines = sim.programLines(sneFile);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const QString& l) { return !l.startsWith(QLatin1String("****")); }),
              entries);
    for (const int observed : {0, entries - 1})
        EXPECT_TRUE(lines.value(2 * observed + 1).startsWith(QStringLiteral("**** lastImageJD=")))
            << observed;
    const QStringList log = sim.logLines();
    EXPECT_EQ(log.filter(QStringLiteral(" dropped - ")), QStringList());
    EXPECT_EQ(log.filter(QStringLiteral("SNeTargets.txt is being written by another program (pid %1, ")
                             .arg(QCoreApplication::applicationPid()))
                  .filter(QStringLiteral("): using the last complete read"))
                  .size(),
              1);
    const QString logDir = sim.core->acpUtil->Prefs().LocalUser().DefaultLogDir();
    EXPECT_EQ(
        test::SimSurvey::readLines(historyPath(logDir)).filter(QStringLiteral(",record written ")).size(), 2);
}

} // namespace
} // namespace kestrove
