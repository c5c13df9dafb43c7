#include "app/ProgramFolder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace kestrove::test {
namespace {

TEST(ProgramFolder, InstalledOrReadOnlyProgramsKeepTheirFilesInTheDataFolder)
{
    const struct
    {
        bool installed;
        bool writable;
        bool dataFolder;
    } cases[] = {
        {false, true, false}, // a build tree: files beside the executable, as always
        {false, false, true},
        {true, true, true},
        {true, false, true},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const QString bin = dir.filePath(QStringLiteral("usr/bin"));
        const QString data = dir.filePath(QStringLiteral("home/.local/share/kestrove"));
        QDir().mkpath(bin);
        if (c.installed) {
            const QString samples = installedSamplesFolder(bin);
            QDir().mkpath(samples);
            writeBytes(samples + QStringLiteral("/SNeTargets.txt"), "NGC1\t1\t2\r\n**** \r\n");
        }
        const QString folder = defaultProgramFolder(bin, data, c.writable);
        EXPECT_EQ(folder, c.dataFolder ? QDir::cleanPath(data) : QDir::cleanPath(bin))
            << c.installed << c.writable;
        EXPECT_EQ(QFileInfo(data + QStringLiteral("/SNeTargets.txt")).isFile(), c.installed)
            << c.installed << c.writable;
    }
}

TEST(ProgramFolder, SeedingNeverOverwritesTheUsersFiles)
{
    QTemporaryDir dir;
    const QString samples = dir.filePath(QStringLiteral("samples"));
    const QString folder = dir.filePath(QStringLiteral("program"));
    QDir().mkpath(samples);
    QDir().mkpath(folder + QStringLiteral("/MPSTargets.txt")); // a folder of a sample's name
    for (const char* name : {"SNeTargets.txt", "SLCTargets.txt", "MPSTargets.txt"})
        writeBytes(samples + u'/' + QLatin1String(name), "sample\r\n");
    writeBytes(folder + QStringLiteral("/SNeTargets.txt"), "edited\r\n");

    EXPECT_EQ(seedMissingFiles(samples, folder), 1);
    EXPECT_EQ(readBytes(folder + QStringLiteral("/SNeTargets.txt")), "edited\r\n");
    EXPECT_EQ(readBytes(folder + QStringLiteral("/SLCTargets.txt")), "sample\r\n");
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/MPSTargets.txt")).isDir());
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/SLCTargets.txt")).isWritable());
    EXPECT_EQ(seedMissingFiles(samples, folder), 0);
}

} // namespace
} // namespace kestrove::test
