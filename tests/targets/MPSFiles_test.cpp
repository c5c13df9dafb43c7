#include "FaultyFileSystem.h"
#include "TargetsTestHost.h"
#include "core/SurveyCore.h"
#include "support/TestSupport.h"
#include "text/NumberText.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>

namespace kestrove {
namespace {

using test::crlfLines;
using test::readBytes;
using test::writeBytes;

class MPSFiles : public ::testing::Test, public test::TargetsFixture
{
protected:
    MPSFiles()
    {
        core.settings.fovRAMPS = 47;
        core.settings.fovDecMPS = 38;
    }

    QString fieldPath(int k) const { return core.programFile(QStringLiteral("MPSfov%1.txt").arg(k)); }
    QByteArray field(int k) const { return readBytes(fieldPath(k)); }
    void writeAreas(const QStringList& lines)
    {
        writeBytes(core.programFile(QStringLiteral("MPSTargets.txt")), crlfLines(lines));
    }
    QStringList fieldLines(int k) const
    {
        QStringList lines = QString::fromLatin1(field(k)).split(QStringLiteral("\r\n"));
        lines.removeLast(); // after the last line end
        return lines;
    }
};

TEST_F(MPSFiles, LaysOutColumnsOfRightAscensionFromLowToHighDeclination)
{
    // Default field of view: 47/900 hour by 38/60 degree.
    const QString area = QStringLiteral("1:00:00 +10:00:00 1:06:00 +11:00:00");
    writeAreas({area});
    EXPECT_EQ(core.createMPSFiles(), 1);
    EXPECT_EQ(
        field(1),
        crlfLines({area, QStringLiteral("1!01h00m00.00s!+10d00m00.00s\t1\t10"), QStringLiteral("**** "),
                   QStringLiteral("1!01h00m00.00s!+10d38m00.00s\t1\t10.633333"), QStringLiteral("**** "),
                   QStringLiteral("1!01h03m08.00s!+10d00m00.00s\t1.052222\t10"), QStringLiteral("**** "),
                   QStringLiteral("1!01h03m08.00s!+10d38m00.00s\t1.052222\t10.633333"),
                   QStringLiteral("**** ")}));
    EXPECT_EQ(view.statuses, QStringList{QStringLiteral("Creating MPS files")});
    EXPECT_TRUE(view.messages.isEmpty());
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(MPSFiles, GridEdgeCases)
{
    struct Case
    {
        const char* area;
        double fovDec;
        QStringList fields; // target lines after the area line
    };
    const Case cases[] = {
        // Start and end corners the same: one field, exactly there.
        {"2:00:00 -5:00:00 2:00:00 -5:00:00", 38, {QStringLiteral("1!02h00m00.00s!-05d00m00.00s\t2\t-5")}},
        // No wrap at 0 hours; no field when an end lies before its start.
        {"23:50:00 +0:00:00 0:10:00 +1:00:00", 38, {}},
        {"1:00:00 +1:00:00 1:10:00 +0:00:00", 38, {}},
        // Positions are rounded to 6 decimals, halves up.
        {"1.23456749 -1.23456751 1.23456749 -1.23456751",
         38,
         {QStringLiteral("1!01h14m04.44s!-01d14m04.44s\t1.234567\t-1.234568")}},
        {"1.23456751 0 1.23456751 0", 38, {QStringLiteral("1!01h14m04.44s!+00d00m00.00s\t1.234568\t0")}},
        // The end test uses the accumulated position: six additions of 0.1 stay below 0.6, so a
        // seventh row lies at 0.6 (counting 6 × 0.1 would give only six rows).
        {"3:00:00 0 3:00:00 0.6",
         6,
         {QStringLiteral("1!03h00m00.00s!+00d00m00.00s\t3\t0"),
          QStringLiteral("1!03h00m00.00s!+00d06m00.00s\t3\t0.1"),
          QStringLiteral("1!03h00m00.00s!+00d12m00.00s\t3\t0.2"),
          QStringLiteral("1!03h00m00.00s!+00d18m00.00s\t3\t0.3"),
          QStringLiteral("1!03h00m00.00s!+00d24m00.00s\t3\t0.4"),
          QStringLiteral("1!03h00m00.00s!+00d30m00.00s\t3\t0.5"),
          QStringLiteral("1!03h00m00.00s!+00d36m00.00s\t3\t0.6")}},
    };
    for (const Case& c : cases) {
        QFile::remove(fieldPath(1));
        core.settings.fovDecMPS = c.fovDec;
        writeAreas({QString::fromLatin1(c.area)});
        EXPECT_EQ(core.createMPSFiles(), 1);
        QStringList expected{QString::fromLatin1(c.area)};
        for (const QString& f : c.fields)
            expected << f << QStringLiteral("**** ");
        EXPECT_EQ(fieldLines(1), expected) << c.area;
    }
    EXPECT_TRUE(view.messages.isEmpty());
}

TEST_F(MPSFiles, EveryColumnOfATallGridHasTheSameRows)
{
    // 5001 rows of 0.01 degree in two columns: more rows than are kept from column to column.
    core.settings.fovDecMPS = 0.6;
    const QString area = QStringLiteral("1:00:00 0 1:06:00 50");
    writeAreas({area});
    ASSERT_EQ(core.createMPSFiles(), 1);
    const QStringList lines = fieldLines(1);
    const int rows = 5001;
    ASSERT_EQ(lines.size(), 1 + 2 * 2 * rows);
    EXPECT_EQ(lines[1], QStringLiteral("1!01h00m00.00s!+00d00m00.00s\t1\t0"));
    EXPECT_EQ(lines[2 * rows - 1], QStringLiteral("1!01h00m00.00s!+50d00m00.00s\t1\t50"));
    for (int row = 0; row < rows; ++row) {
        QString second = lines[1 + 2 * row];
        second.replace(QStringLiteral("01h00m00.00s"), QStringLiteral("01h03m08.00s"))
            .replace(QStringLiteral("\t1\t"), QStringLiteral("\t1.052222\t"));
        ASSERT_EQ(lines[1 + 2 * (rows + row)], second) << "row " << row;
    }
}

TEST_F(MPSFiles, AnUnchangedAreaKeepsItsFieldFileAndItsHistory)
{
    const QStringList areas{QStringLiteral("1:00:00 +10:00:00 1:06:00 +11:00:00"),
                            QStringLiteral("5:00:00 +20:00:00 5:03:00 +20:30:00"),
                            QStringLiteral("8:00:00 +15:00:00 8:03:00 +15:30:00")};
    writeAreas(areas);
    ASSERT_EQ(core.createMPSFiles(), 3);

    // Observations recorded in every file since.
    for (int k = 1; k <= 3; ++k) {
        QStringList lines = fieldLines(k);
        lines[2] = QStringLiteral("**** lastImageJD=2461000.5 imageCount=2");
        writeBytes(fieldPath(k), crlfLines(lines));
    }
    const QByteArray before1 = field(1), before2 = field(2), before3 = field(3);

    EXPECT_EQ(core.createMPSFiles(), 3);
    EXPECT_EQ(field(1), before1);
    EXPECT_EQ(field(2), before2);
    EXPECT_EQ(field(3), before3);

    // Editing area 2 regenerates it and every later area, and leaves area 1 alone.
    QStringList edited = areas;
    edited[1] = QStringLiteral("5:00:00 +20:00:00 5:03:00 +20:40:00");
    writeAreas(edited);
    EXPECT_EQ(core.createMPSFiles(), 3);
    EXPECT_EQ(field(1), before1);
    EXPECT_EQ(fieldLines(2).first(), edited[1]);
    EXPECT_EQ(fieldLines(2).at(2), QStringLiteral("**** "));
    EXPECT_EQ(fieldLines(3).first(), areas[2]);
    EXPECT_EQ(fieldLines(3).at(2), QStringLiteral("**** "));

    // Removing the last area: one fewer, its file stays on disk.
    const QByteArray file3 = field(3);
    writeAreas(edited.mid(0, 2));
    EXPECT_EQ(core.createMPSFiles(), 2);
    EXPECT_EQ(field(3), file3);
}

TEST_F(MPSFiles, AnEmptyFieldFileIsMadeAnew)
{
    const QString area = QStringLiteral("2:00:00 -5:00:00 2:00:00 -5:00:00");
    writeAreas({area});
    writeBytes(fieldPath(1), QByteArray());
    EXPECT_EQ(core.createMPSFiles(), 1);
    EXPECT_EQ(fieldLines(1), QStringList({area, QStringLiteral("1!02h00m00.00s!-05d00m00.00s\t2\t-5"),
                                          QStringLiteral("**** ")}));
}

TEST_F(MPSFiles, AStopRequestEndsTheCallBeforeTheNextArea)
{
    writeAreas({QStringLiteral("1 10 1 10"), QStringLiteral("2 10 2 10"), QStringLiteral("3 10 3 10")});
    view.onProcessEvents = [&] {
        if (view.eventDispatches == 2)
            core.stopRequested = true;
    };
    EXPECT_EQ(core.createMPSFiles(), 2);
    EXPECT_TRUE(QFile::exists(fieldPath(2)));
    EXPECT_FALSE(QFile::exists(fieldPath(3)));
}

TEST_F(MPSFiles, AreaLinesWithoutFourFieldsAreReportedAndKeepTheirNumbers)
{
    const QStringList areas{QStringLiteral("1:00:00 +10:00:00 1:00:00"), QString(),
                            QStringLiteral("2 10 2 10")};
    writeAreas(areas);
    EXPECT_EQ(core.createMPSFiles(), 3);
    EXPECT_EQ(field(1), crlfLines({areas[0]}));
    EXPECT_EQ(field(2), QByteArray("\r\n"));
    EXPECT_EQ(fieldLines(3), QStringList({areas[2], QStringLiteral("3!02h00m00.00s!+10d00m00.00s\t2\t10"),
                                          QStringLiteral("**** ")}));
    ASSERT_EQ(view.messages.size(), 2);
    EXPECT_TRUE(view.messages[0].contains(QStringLiteral("area 1 ")) && view.messages[0].contains(areas[0]))
        << view.messages[0].toStdString();
    EXPECT_TRUE(view.messages[1].contains(QStringLiteral("area 2 "))) << view.messages[1].toStdString();

    // Unchanged on the next call: nothing regenerated, nothing reported again.
    view.messages.clear();
    EXPECT_EQ(core.createMPSFiles(), 3);
    EXPECT_TRUE(view.messages.isEmpty());
}

TEST_F(MPSFiles, AFieldOfViewThatCannotAdvanceMakesNoGridAndDoesNotHang)
{
    struct Case
    {
        double fovRA, fovDec;
        int fieldsPerArea; // -1: the area line alone and one message
    };
    const Case cases[] = {{0, 38, -1}, {47, 0, -1}, {-47, 38, -1}, {47, -1, -1}, {1e-300, 1e-300, 1}};
    const QStringList areas{QStringLiteral("1:00:00 +10:00:00 2:00:00 +12:00:00"),
                            QStringLiteral("3:00:00 +10:00:00 4:00:00 +12:00:00")};
    for (const Case& c : cases) {
        QFile::remove(fieldPath(1));
        QFile::remove(fieldPath(2));
        view.messages.clear();
        core.settings.fovRAMPS = c.fovRA;
        core.settings.fovDecMPS = c.fovDec;
        writeAreas(areas);
        EXPECT_EQ(core.createMPSFiles(), 2);
        for (int k = 1; k <= 2; ++k) {
            const qsizetype lines = fieldLines(k).size();
            EXPECT_EQ(lines, c.fieldsPerArea < 0 ? 1 : 1 + 2 * c.fieldsPerArea) << c.fovRA << " " << c.fovDec;
        }
        EXPECT_EQ(view.messages.size(), c.fieldsPerArea < 0 ? 1 : 0) << c.fovRA << " " << c.fovDec;
    }
}

// What a kill -9 at any point of the generation leaves on the disk, and what the next call makes of
// it: no field file may start with its area line and lack fields.
TEST_F(MPSFiles, AFieldFileIsWholeWhereverTheProgramIsKilled)
{
    // 2001 rows: more than the stream's buffer holds, so a plain write reaches the disk half done.
    core.settings.fovDecMPS = 0.6;
    const QStringList areas{QStringLiteral("1:00:00 0 1:00:00 20"), QStringLiteral("2 10 2 10")};
    writeAreas(areas);
    ASSERT_EQ(core.createMPSFiles(), 2);
    const QByteArray whole1 = field(1), whole2 = field(2);
    ASSERT_GT(whole1.size(), 1 << 16);
    // The state before: field files of other areas, with history.
    const QByteArray old1 = crlfLines({QStringLiteral("1 1 1 1"), QStringLiteral("1!x\t1\t1"),
                                       QStringLiteral("**** lastImageJD=2461000.5 imageCount=2")});
    const QDir folder(core.GetEXEPath());

    auto disk = host.createFileSystem();
    int points = 0;
    for (int failAt = 1;; failAt += failAt < 40 ? 1 : 97) {
        ASSERT_LT(failAt, 100000);
        for (const QString& name : folder.entryList(QDir::Files))
            QFile::remove(folder.filePath(name));
        writeAreas(areas);
        writeBytes(fieldPath(1), old1);

        test::FaultyFileSystem faulty(*disk, failAt, test::FaultyFileSystem::When::Before);
        std::map<QString, QByteArray> killed; // the folder as the killed program left it
        faulty.onFailure = [&] {
            for (const QString& name : folder.entryList(QDir::Files))
                killed[name] = readBytes(folder.filePath(name));
        };
        std::unique_ptr<FileSystem> real = std::move(core.fileSystem);
        core.fileSystem = std::unique_ptr<FileSystem>(&faulty);
        try {
            core.createMPSFiles();
        } catch (const HostError&) {
        }
        core.fileSystem.release();
        core.fileSystem = std::move(real);
        if (!faulty.failed())
            break;
        ++points;

        // The restart: the folder as it was left, then a call as usual.
        for (const QString& name : folder.entryList(QDir::Files))
            QFile::remove(folder.filePath(name));
        for (const auto& [name, bytes] : killed) {
            writeBytes(folder.filePath(name), bytes);
            // A field file is either the old one or the whole new one.
            if (name == QStringLiteral("MPSfov1.txt")) {
                EXPECT_TRUE(bytes == old1 || bytes == whole1) << "killed at call " << failAt;
            } else if (name == QStringLiteral("MPSfov2.txt")) {
                EXPECT_EQ(bytes, whole2) << "killed at call " << failAt;
            }
        }
        ASSERT_EQ(core.createMPSFiles(), 2);
        ASSERT_EQ(field(1), whole1) << "killed at call " << failAt;
        ASSERT_EQ(field(2), whole2) << "killed at call " << failAt;
    }
    EXPECT_GT(points, 60);
}

// An area line whose positions the host cannot read is reported like a malformed line, with its text
// made printable; the area has no fields, and the call and every later area go on.
TEST_F(MPSFiles, AnAreaLineTheHostCannotReadIsReportedAndHasNoFields)
{
    const struct
    {
        QByteArray line;
        const char* shown; // the text as the message gives it
    } cases[] = {
        {"1:00:00 abc 1:06:00 +11:00:00", "1:00:00 abc 1:06:00 +11:00:00"},
        {"1:00:00 +10:00:00\tx 1:06:00 +11:00:00", "1:00:00 +10:00:00\\tx 1:06:00 +11:00:00"},
        {QByteArray("1:00:00 +10 1:0\r6 +11\x00z", 23), "1:00:00 +10 1:0\\r6 +11\\x00z"},
        {"1:00:00 +10 1:06:00 north", "1:00:00 +10 1:06:00 north"},
    };
    for (const auto& c : cases) {
        view.messages.clear();
        QFile::remove(fieldPath(1));
        QFile::remove(fieldPath(2));
        writeBytes(core.programFile(QStringLiteral("MPSTargets.txt")), c.line + "\r\n2 10 2 10\r\n");
        int16_t count = 0;
        ASSERT_NO_THROW(count = core.createMPSFiles()) << c.shown;
        EXPECT_EQ(count, 2);
        EXPECT_EQ(field(1), c.line + "\r\n") << c.shown;
        EXPECT_EQ(fieldLines(2).size(), 3) << c.shown;
        ASSERT_EQ(view.messages.size(), 1) << c.shown;
        const QString& message = view.messages[0];
        EXPECT_TRUE(message.contains(QStringLiteral("MPSTargets.txt")) &&
                    message.contains(QStringLiteral("line 1")) && message.contains(QLatin1String(c.shown)))
            << message.toStdString();
    }
}

// Corners off the sky or a grid too large to be meant are reported, and the area gets no fields:
// the grid is counted before a line of it is written.
TEST_F(MPSFiles, AnAbsurdAreaIsReportedAndHasNoFields)
{
    const QString huge = QStringLiteral("1") + QString(300, QLatin1Char('0'));
    const struct
    {
        QString area;
        double fovRA, fovDec;
        const char* why;
    } cases[] = {
        {QStringLiteral("25 10 26 11"), 47, 38, "0 to 24 hours"},
        {QStringLiteral("1 -91 1 10"), 47, 38, "-90 to 90 degrees"},
        {QStringLiteral("1 10 1 90.5"), 47, 38, "-90 to 90 degrees"},
        {QStringLiteral("-0.5 10 1 11"), 47, 38, "0 to 24 hours"},
        {QStringLiteral("1 10 ") + huge + QStringLiteral(" 11"), 47, 38, "0 to 24 hours"},
        // 12 hours by 90 degrees of 1' fields: 10,800 columns of 5,401 rows.
        {QStringLiteral("0 0 12 90"), 1, 1, "more than 1000000 fields"},
        // No rows at all, yet 21.6 million columns to pass through.
        {QStringLiteral("0 10 24 -10"), 0.001, 38, "more than 1000000 columns"},
    };
    for (const auto& c : cases) {
        view.messages.clear();
        QFile::remove(fieldPath(1));
        QFile::remove(fieldPath(2));
        core.settings.fovRAMPS = c.fovRA;
        core.settings.fovDecMPS = c.fovDec;
        writeAreas({c.area, QStringLiteral("2 10 2 10")});
        EXPECT_EQ(core.createMPSFiles(), 2);
        // Stops at the first case the call gets wrong, before the ones that would fill the disk.
        ASSERT_EQ(view.messages.size(), 1) << c.area.left(40).toStdString();
        ASSERT_EQ(field(1), crlfLines({c.area})) << c.area.left(40).toStdString();
        EXPECT_EQ(fieldLines(2).size(), 3);
        const QString& message = view.messages[0];
        EXPECT_TRUE(message.contains(QStringLiteral("MPSTargets.txt line 1")) && message.contains(c.area) &&
                    message.contains(QLatin1String(c.why)) && message.contains(QStringLiteral("area 1 ")))
            << message.toStdString();
    }
}

// A field file the user made read-only is kept as it is, and the call says so.
TEST_F(MPSFiles, AReadOnlyFieldFileIsNotLaidOutAnew)
{
    const QByteArray old = crlfLines({QStringLiteral("1 10 1 10"), QStringLiteral("1!x\t1\t10"),
                                      QStringLiteral("**** lastImageJD=2461000.5 imageCount=2")});
    writeBytes(fieldPath(1), old);
    ASSERT_TRUE(QFile::setPermissions(fieldPath(1), QFile::ReadOwner | QFile::ReadGroup));
    writeAreas({QStringLiteral("1 10 1 11")});
    EXPECT_EQ(core.createMPSFiles(), 1);
    EXPECT_EQ(field(1), old);
    ASSERT_EQ(view.messages.size(), 1);
    EXPECT_TRUE(view.messages[0].startsWith(QStringLiteral("MPSTargets.txt line 1: ")) &&
                view.messages[0].endsWith(QStringLiteral(": \"1 10 1 11\"")) &&
                view.messages[0].contains(QStringLiteral("read-only")))
        << view.messages[0].toStdString();
    EXPECT_FALSE(QFile::exists(core.programFile(QStringLiteral("newtargets.txt"))));
}

TEST_F(MPSFiles, AFieldIsUpdatedInTheFileOfItsArea)
{
    writeAreas({QStringLiteral("1 10 1 10"), QStringLiteral("2 10 2 11")});
    ASSERT_EQ(core.createMPSFiles(), 2);
    const QStringList before = fieldLines(2);
    ASSERT_EQ(before.size(), 5);
    const QByteArray file1 = field(1);

    core.updateMPS(before[3]);
    const QString jd = doubleText(core.acpUtil->Date_Julian(core.now()));
    EXPECT_EQ(fieldLines(2),
              QStringList({before[0], before[1], before[2], before[3],
                           QStringLiteral("**** lastImageJD=") + jd + QStringLiteral(" imageCount=1")}));
    EXPECT_EQ(field(1), file1);
    EXPECT_TRUE(log.contains(QStringLiteral("Resetting image count on this target")));
}

} // namespace
} // namespace kestrove
