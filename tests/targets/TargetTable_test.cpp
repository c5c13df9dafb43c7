#include "TargetsTestHost.h"
#include "support/TestSupport.h"
#include "targets/TargetTable.h"

#include <QFile>
#include <gtest/gtest.h>

namespace kestrove {
namespace {

using test::crlfLines;
using test::readBytes;
using test::writeBytes;

const QString sneFile = QStringLiteral("SNeTargets.txt");

TargetEntry entry(const QString& name, const QString& ra, const QString& dec, const QString& config = {})
{
    TargetEntry e;
    e.name = name;
    e.ra = ra;
    e.dec = dec;
    e.items = configItems(config);
    e.configLine = config;
    return e;
}

TEST(TargetTable, TheEditorRefusesWhatTheSurveyCannotRead)
{
    const struct
    {
        TargetEntry e;
        const char* reason; // empty: accepted
    } cases[] = {
        {entry("M31", "00:42:44", "+41:16:09"), ""},
        {entry("M31", "10.5", "-5.25"), ""},
        {entry("M31", "00:42:xx", "+41"), "Invalid right ascension"},
        {entry("M31", "1", "north"), "Invalid declination"},
        {entry("", "1", "2"), "name is empty"},
        {entry("M31", "1", "2", "**** priority=high"), "Invalid item priority=high - not a number"},
        {entry("M31", "1", "2", "**** imageCount=40000"), "Invalid item imageCount=40000"},
        {entry("M31", "1", "2", "**** colour=red"), "unknown item name"},
        {entry("Pole", "24", "-90"), ""},
        {entry("Far", "25:00:00", "+95"),
         "Invalid right ascension - \"25:00:00\" is outside 0 to 24 hours; Invalid declination - \"+95\" is "
         "outside -90 to 90 degrees"},
        {entry("West", "-0:00:01", "0"), "is outside 0 to 24 hours"},
        {entry("V\u00e9ga", "1", "2"), ""},
        {entry("\u03c9 Cen", "1", "2"), "outside Latin-1"}, // a single-byte file cannot hold it
        {entry("", "1", "-90.5", "**** binning=x"),
         "the name is empty; Invalid declination - \"-90.5\" is outside -90 to 90 degrees; Invalid item "
         "binning=x"},
    };
    for (const auto& c : cases) {
        const QString problem = entryProblem(c.e);
        if (*c.reason == 0)
            EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
        else
            EXPECT_TRUE(problem.contains(QLatin1String(c.reason))) << problem.toStdString();
    }
}

// Import: a header names the columns, either delimiter; bad lines are listed by number and only the
// good ones are offered; a name already in the table is a duplicate.
TEST(TargetTable, AnImportOffersTheGoodLinesAndListsTheBad)
{
    const QList<TargetEntry> existing{entry("M31", "00:42:44", "+41:16:09")};
    const struct
    {
        const char* what;
        QString csv;
        QStringList added;
        QStringList duplicates;
        QList<int> rejectedLines;
    } cases[] = {
        {"commas, header, decimal degrees",
         "name,ra,dec,priority\r\nNGC1,15,-10.5,50\r\nM31,10.68,41.27\r\nbad,xx,10\r\n",
         {"NGC1"},
         {"M31"},
         {4}},
        {"semicolons, no header, sexagesimal",
         "A;01:00:00;+10:00:00\nB;02:00:00\nC;03:00:00;-05:00:00;;;;;;;;;x\nD;25:00:00;+95:00:00\n",
         {"A"},
         {},
         {2, 3, 4}},
        {"reordered header with a bad item",
         "Dec;Name;RA;exposure\n10;X;30;60\n10;Y;30;long\n",
         {"X"},
         {},
         {3}},
    };
    for (const auto& c : cases) {
        const TargetsImport import = importTargetsCsv(c.csv, existing);
        QStringList added, duplicates;
        QList<int> rejected;
        for (const auto& e : import.added)
            added << e.name;
        for (const auto& e : import.duplicates)
            duplicates << e.name;
        for (const auto& r : import.rejected)
            rejected << r.line;
        EXPECT_EQ(added, c.added) << c.what;
        EXPECT_EQ(duplicates, c.duplicates) << c.what;
        EXPECT_EQ(rejected, c.rejectedLines) << c.what;
    }
    // Decimal RA is degrees: 15 degrees is one hour.
    const TargetsImport one = importTargetsCsv(QStringLiteral("N,15,-10.5\n"), {});
    ASSERT_EQ(one.added.size(), 1);
    EXPECT_EQ(one.added[0].ra, QStringLiteral("01:00:00.00"));
    EXPECT_EQ(one.added[0].dec, QStringLiteral("-10:30:00.00"));
}

TEST(TargetTable, AnExportImportsBackUnchanged)
{
    const QList<TargetEntry> entries{entry("M31", "00:42:44", "+41:16:09", "**** reshoot=true priority=5"),
                                     entry("Comma, Name", "10:00:00", "-05:00:00", "**** filter=R")};
    const TargetsImport back = importTargetsCsv(exportTargetsCsv(entries), {});
    ASSERT_EQ(back.added.size(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(back.added[i].targetLine(), entries[i].targetLine());
        EXPECT_EQ(back.added[i].items, entries[i].items);
    }
}

// Edits saved with the survey's replace: untouched entries and lines go back byte for byte, and an
// update the survey wrote since the editor read the file is kept with the edit.
TEST(TargetTable, SavingMergesWithTheFileAsItIsNow)
{
    test::TargetsFixture f;
    const QString path = f.path(sneFile);
    const QString newPath = f.path(QStringLiteral("newtargets.txt"));
    const QStringList lines{
        "; my list", "M31\t00:42:44\t+41:16:09", "**** reshoot=1",    "M33\t01:33:50\t+30:39:37",
        "**** ",     "M74\t01:36:41\t+15:47:01", "**** lastImageJD=1"};
    const struct
    {
        const char* what;
        QStringList survey; // the file as the survey left it meanwhile; empty: unchanged
        std::function<void(TargetsFile&)> edit;
        QStringList expected;
    } cases[] = {
        {"no edit", {}, [](TargetsFile&) {}, lines},
        // A line that is no entry (none follows it) stays where it was.
        {"delete and add",
         {},
         [](TargetsFile& t) {
             t.entries.removeAt(0);
             t.entries << entry("SN1", "1", "2", "**** ");
         },
         {"; my list", "M33\t01:33:50\t+30:39:37", "**** ", "M74\t01:36:41\t+15:47:01", "**** lastImageJD=1",
          "SN1\t1\t2", "**** "}},
        {"survey updated the entry edited",
         {"; my list", "M31\t00:42:44\t+41:16:09", "**** lastImageJD=2461000.5", "M33\t01:33:50\t+30:39:37",
          "**** ", "M74\t01:36:41\t+15:47:01", "**** lastImageJD=1"},
         [](TargetsFile& t) { t.entries[0].setItem(QStringLiteral("priority"), QStringLiteral("7")); },
         {"; my list", "M31\t00:42:44\t+41:16:09", "**** lastImageJD=2461000.5 priority=7",
          "M33\t01:33:50\t+30:39:37", "**** ", "M74\t01:36:41\t+15:47:01", "**** lastImageJD=1"}},
    };
    for (const auto& c : cases) {
        writeBytes(path, crlfLines(lines));
        const TargetsFile opened = readTargetsFile(*f.core.fileSystem, path);
        TargetsFile edited = opened;
        c.edit(edited);
        if (!c.survey.isEmpty())
            writeBytes(path, crlfLines(c.survey));
        EXPECT_EQ(saveTargetsFile(*f.core.fileSystem, path, newPath, opened, edited), QString()) << c.what;
        EXPECT_EQ(readBytes(path), crlfLines(c.expected)) << c.what;
        EXPECT_FALSE(QFile::exists(newPath)) << c.what;
    }

    // A read-only file is reported and left as it is.
    writeBytes(path, crlfLines(lines));
    QFile::setPermissions(path, QFile::ReadOwner);
    const TargetsFile opened = readTargetsFile(*f.core.fileSystem, path);
    TargetsFile edited = opened;
    edited.entries.clear();
    EXPECT_TRUE(saveTargetsFile(*f.core.fileSystem, path, newPath, opened, edited).contains(u"read-only"));
    EXPECT_EQ(readBytes(path), crlfLines(lines));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}

// The editor saves while the survey's update copies the file (it dispatches events between lines):
// both the edit and the observation are kept.
TEST(TargetTable, AnEditSavedDuringTheSurveysRewriteIsKept)
{
    // The update dispatches once a line, so these fall before the first, the second and the last.
    for (const int atDispatch : {1, 2, 4}) {
        test::TargetsFixture f;
        const QString path = f.path(sneFile);
        const QStringList lines{"M31\t00:42:44\t+41:16:09", "**** ", "M33\t01:33:50\t+30:39:37", "**** "};
        writeBytes(path, crlfLines(lines));
        {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadWrite) &&
                        file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-60),
                                         QFileDevice::FileModificationTime));
        }
        const TargetsFile opened = readTargetsFile(*f.core.fileSystem, path);
        TargetsFile edited = opened;
        edited.entries[1].setItem(QStringLiteral("priority"), QStringLiteral("3"));
        edited.entries << entry("SN2026a", "03:00:00", "+20:00:00", "**** ");
        int dispatches = 0;
        f.view.onProcessEvents = [&] {
            if (++dispatches == atDispatch) {
                EXPECT_EQ(saveTargetsFile(*f.core.fileSystem, path, f.path(QStringLiteral("edit.txt")),
                                          opened, edited),
                          QString());
            }
        };
        f.core.updateSNe(lines[0]);
        f.view.onProcessEvents = nullptr;
        ASSERT_GE(dispatches, atDispatch);
        EXPECT_EQ(readBytes(path),
                  crlfLines({lines[0], QStringLiteral("**** lastImageJD=") + f.jd(), lines[2],
                             QStringLiteral("**** priority=3"), "SN2026a\t03:00:00\t+20:00:00", "**** "}))
            << atDispatch;
    }
}

} // namespace
} // namespace kestrove
