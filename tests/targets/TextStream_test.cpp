// The text streams that the targets files go through: line ends, long lines, lines across the
// stream's internal blocks, and the end of the file.

#include "host/LocalFileSystem.h"
#include "support/TestSupport.h"
#include "text/HostError.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrove {
namespace {

using test::readBytes;
using test::writeBytes;

QStringList readAll(FileSystem& fs, const QString& path)
{
    QStringList lines;
    auto in = fs.OpenTextFile(path, IOMode::ForReading);
    while (!in->AtEndOfStream())
        lines << in->ReadLine();
    EXPECT_THROW(in->ReadLine(), HostError);
    in->Close();
    return lines;
}

TEST(TextStream, ReadsLinesEndedByCrLfOrLf)
{
    QTemporaryDir dir;
    LocalFileSystem fs;
    const QString path = dir.filePath(QStringLiteral("t.txt"));
    struct Case
    {
        QByteArray bytes;
        QStringList lines;
    };
    const Case cases[] = {
        {"", {}},
        {"\r\n", {QString()}},
        {"a\r\nb\nc", {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}},
        {"a\r\n\r\n\nb\r\n", {QStringLiteral("a"), QString(), QString(), QStringLiteral("b")}},
        {"a\rb\r\n", {QStringLiteral("a\rb")}}, // a lone CR belongs to the line
        {"\xe9t\xe9\r\n", {QString::fromLatin1("\xe9t\xe9")}},
    };
    for (const Case& c : cases) {
        writeBytes(path, c.bytes);
        EXPECT_EQ(readAll(fs, path), c.lines) << c.bytes.toStdString();
    }
}

TEST(TextStream, LinesLongerThanAndAcrossInternalBlocksComeBackWhole)
{
    QTemporaryDir dir;
    LocalFileSystem fs;
    const QString path = dir.filePath(QStringLiteral("t.txt"));
    QStringList lines;
    for (int i = 0; i < 5000; ++i)
        lines << QStringLiteral("line %1 ").arg(i).repeated(1 + i % 7);
    lines << QString(200000, QLatin1Char('x')) << QStringLiteral("after the long line");
    {
        auto out = fs.CreateTextFile(path, true);
        for (const QString& line : lines)
            out->WriteLine(line);
        out->Close();
    }
    EXPECT_EQ(readBytes(path), test::crlfLines(lines));
    EXPECT_EQ(readAll(fs, path), lines);
}

TEST(TextStream, WritesLatin1WithCrLfAndAppends)
{
    QTemporaryDir dir;
    LocalFileSystem fs;
    const QString path = dir.filePath(QStringLiteral("t.txt"));
    {
        auto out = fs.CreateTextFile(path, true);
        out->Write(QStringLiteral("no end "));
        out->WriteLine(QString::fromUtf8("\xc3\xa9 \xe2\x82\xac"));
        out->Close();
        EXPECT_THROW(out->WriteLine(QStringLiteral("closed")), HostError);
    }
    {
        auto out = fs.OpenTextFile(path, IOMode::ForAppending, false);
        out->WriteLine(QStringLiteral("appended"));
    } // closed by its destructor
    EXPECT_EQ(readBytes(path), QByteArray("no end \xe9 ?\r\nappended\r\n"));
    EXPECT_THROW(fs.CreateTextFile(path, false), HostError);
    EXPECT_THROW(fs.OpenTextFile(dir.filePath(QStringLiteral("missing.txt")), IOMode::ForReading), HostError);
    EXPECT_THROW(fs.OpenTextFile(dir.filePath(QStringLiteral("missing.txt")), IOMode::ForAppending, false),
                 HostError);
}

} // namespace
} // namespace kestrove
