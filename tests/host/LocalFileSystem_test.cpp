#include "support/TestSupport.h"

#include "host/LocalFileSystem.h"
#include "text/HostError.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace kestrove;

class LocalFileSystemTest : public ::testing::Test
{
protected:
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir dir;
    LocalFileSystem fs;
};

TEST_F(LocalFileSystemTest, WritesCrLfAndReadsLfOrCrLf)
{
    auto out = fs.CreateTextFile(path("a.txt"), true);
    out->WriteLine(QStringLiteral("one"));
    out->Write(QStringLiteral("t"));
    out->WriteLine(QStringLiteral("w\xe9o")); // Latin-1 stays one byte
    out->Close();
    EXPECT_EQ(test::readBytes(path("a.txt")), QByteArray("one\r\ntw\xe9o\r\n"));

    test::writeBytes(path("b.txt"), QByteArray("x\ny\r\n\nlast"));
    auto in = fs.OpenTextFile(path("b.txt"), IOMode::ForReading);
    QStringList lines;
    while (!in->AtEndOfStream())
        lines << in->ReadLine();
    EXPECT_EQ(lines,
              (QStringList{QStringLiteral("x"), QStringLiteral("y"), QString(), QStringLiteral("last")}));
    EXPECT_THROW(in->ReadLine(), HostError);
}

TEST_F(LocalFileSystemTest, ReadingIntoAStringReusesItWithoutTouchingCopiesOfIt)
{
    // Longer and shorter than the line before, Latin-1 beyond ASCII, empty, and one across the end
    // of a read block.
    const QStringList lines{QStringLiteral("a fairly long first line of a catalogue \xe9\xff"),
                            QStringLiteral("short"),
                            QString(),
                            QString(70000, QLatin1Char('x')) + QStringLiteral("\xb0"),
                            QStringLiteral("****"),
                            QStringLiteral("z")};
    test::writeBytes(path("r.txt"), lines.join(QStringLiteral("\r\n")).toLatin1() + "\n");
    auto in = fs.OpenTextFile(path("r.txt"), IOMode::ForReading);
    QString previous, current;
    QStringList kept;
    while (!in->AtEndOfStream()) {
        std::swap(previous, current);
        in->readLineInto(current);
        kept << current; // shared: the next read into this string must not change the copy
        EXPECT_FALSE(current.isNull());
    }
    EXPECT_EQ(kept, lines);
}

TEST_F(LocalFileSystemTest, WritesCharactersBeyondLatin1AsQuestionMarks)
{
    // Long enough to be converted in blocks, with the odd character at the start, inside and at the end.
    const QString latin = QStringLiteral("Score=0.283 Elev=47.5 slewTime=1.5 \xe9\xff");
    for (const qsizetype at : {qsizetype(0), qsizetype(9), latin.size() - 1}) {
        QString line = latin;
        line[at] = QChar(0x2212);
        auto out = fs.CreateTextFile(path("c.txt"), true);
        out->WriteLine(line);
        out->Close();
        EXPECT_EQ(test::readBytes(path("c.txt")), line.toLatin1() + "\r\n") << at;
    }
}

TEST_F(LocalFileSystemTest, AppendsAndCreates)
{
    auto a = fs.OpenTextFile(path("log.txt"), IOMode::ForAppending, true);
    a->WriteLine(QStringLiteral("1"));
    a->Close();
    a = fs.OpenTextFile(path("log.txt"), IOMode::ForAppending, true);
    a->WriteLine(QStringLiteral("2"));
    a.reset(); // closes on destruction
    EXPECT_EQ(test::readBytes(path("log.txt")), QByteArray("1\r\n2\r\n"));
    EXPECT_THROW(fs.OpenTextFile(path("none.txt"), IOMode::ForAppending, false), HostError);
    EXPECT_THROW(fs.OpenTextFile(path("missing/dir.txt"), IOMode::ForAppending, true), HostError);
}

TEST_F(LocalFileSystemTest, FileExistsOnlyForFiles)
{
    test::writeBytes(path("f.txt"), "x");
    QDir(dir.path()).mkdir(QStringLiteral("sub"));
    EXPECT_TRUE(fs.FileExists(path("f.txt")));
    EXPECT_FALSE(fs.FileExists(path("sub")));
    EXPECT_FALSE(fs.FileExists(QString()));
    EXPECT_FALSE(fs.FileExists(path("missing.txt")));
    EXPECT_FALSE(fs.FileExists(QStringLiteral("/no/such/drive/file.txt")));
}

TEST_F(LocalFileSystemTest, ReplaceRenamesOverAndMoveRefuses)
{
    test::writeBytes(path("new.txt"), "new");
    test::writeBytes(path("old.txt"), "old");
    test::writeBytes(path("other.txt"), "other");
    EXPECT_THROW(fs.GetFile(path("other.txt"))->Move(path("old.txt")), HostError);
    fs.GetFile(path("new.txt"))->Replace(path("old.txt"));
    EXPECT_EQ(test::readBytes(path("old.txt")), QByteArray("new"));
    EXPECT_FALSE(fs.FileExists(path("new.txt")));
    fs.GetFile(path("other.txt"))->Move(path("moved.txt"));
    EXPECT_TRUE(fs.FileExists(path("moved.txt")));
    fs.GetFile(path("moved.txt"))->Delete();
    EXPECT_FALSE(fs.FileExists(path("moved.txt")));
}

TEST_F(LocalFileSystemTest, ReadingAMissingFileNamesThePath)
{
    try {
        fs.OpenTextFile(path("missing.txt"), IOMode::ForReading);
        FAIL() << "no error";
    } catch (const HostError& e) {
        EXPECT_TRUE(e.message().contains(path("missing.txt")));
    }
    EXPECT_THROW(fs.GetFile(path("missing.txt")), HostError);
    test::writeBytes(path("exists.txt"), "keep");
    EXPECT_THROW(fs.CreateTextFile(path("exists.txt"), false), HostError);
    EXPECT_EQ(test::readBytes(path("exists.txt")), QByteArray("keep"));
}

// A file is being written while a program holds it open for writing and has not closed it since it
// last wrote: one that began before the first question or after it, in this process or in another,
// through a link or not.
TEST_F(LocalFileSystemTest, TellsWhichProgramIsWritingAFile)
{
    const qint64 self = QCoreApplication::applicationPid();
    const auto writerPid = [&](const char* name) {
        return fs.writerOf(path(name)).value_or(FileWriter()).pid;
    };
    test::writeBytes(path("early.txt"), "entry\r\n");
    test::writeBytes(path("late.txt"), "entry\r\n");
    ASSERT_TRUE(QFile::link(path("late.txt"), path("link.txt")));
    QFile early(path("early.txt"));
    ASSERT_TRUE(early.open(QIODevice::Append));
    QFile reader(path("late.txt"));
    ASSERT_TRUE(reader.open(QIODevice::ReadOnly));

    EXPECT_EQ(writerPid("early.txt"), self);
    EXPECT_FALSE(fs.writerOf(path("late.txt")));
    EXPECT_FALSE(fs.writerOf(path("missing.txt")));

    QFile late(path("late.txt"));
    ASSERT_TRUE(late.open(QIODevice::WriteOnly | QIODevice::Truncate));
    late.write("ent");
    late.flush();
    EXPECT_EQ(writerPid("late.txt"), self);
    EXPECT_EQ(writerPid("link.txt"), self);
    late.close();
    early.close();
    for (const char* name : {"early.txt", "late.txt", "link.txt"})
        EXPECT_FALSE(fs.writerOf(path(name))) << name;

    // Another program, as the system names it: dd appends what it is given and waits for more.
    // Killed, it writes no more.
    QProcess dd;
    dd.start(QStringLiteral("dd"),
             {QStringLiteral("of=") + path("late.txt"), QStringLiteral("oflag=append"),
              QStringLiteral("conv=notrunc"), QStringLiteral("bs=512"), QStringLiteral("status=none")});
    ASSERT_TRUE(dd.waitForStarted(10000));
    dd.write("more\n");
    ASSERT_TRUE(dd.waitForBytesWritten(10000));
    const QDeadlineTimer limit(10000);
    while (QFileInfo(path("late.txt")).size() < 8 && !limit.hasExpired())
        QThread::msleep(10);
    const std::optional<FileWriter> other = fs.writerOf(path("late.txt"));
    ASSERT_TRUE(other);
    EXPECT_EQ(other->pid, dd.processId());
    EXPECT_EQ(other->program, QStringLiteral("dd"));
    dd.kill();
    ASSERT_TRUE(dd.waitForFinished(10000));
    EXPECT_FALSE(fs.writerOf(path("late.txt")));
}
