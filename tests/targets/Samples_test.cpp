// The sample catalogues shipped for the demo program folder read without a single message.

#include "TargetsTestHost.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace kestrove {
namespace {

using test::readBytes;
using test::writeBytes;

QString samplePath(const QString& name)
{
    return QFileInfo(QStringLiteral(__FILE__)).dir().filePath(QStringLiteral("../../samples/") + name);
}

class Samples : public ::testing::Test, public test::TargetsFixture
{
};

TEST_F(Samples, CataloguesHoldWellFormedEntries)
{
    struct Case
    {
        const char* file;
        int minimumEntries;
    };
    for (const Case c : {Case{"SNeTargets.txt", 35}, Case{"SLCTargets.txt", 12}}) {
        const QByteArray bytes = readBytes(samplePath(QString::fromLatin1(c.file)));
        EXPECT_EQ(bytes.count("\r\n"), bytes.count('\n')) << c.file << ": CR LF line ends";
        EXPECT_TRUE(bytes.endsWith("\r\n")) << c.file;
        const QStringList lines =
            QString::fromLatin1(bytes).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size() % 2, 0) << c.file;
        EXPECT_GE(lines.size() / 2, c.minimumEntries) << c.file;
        for (qsizetype i = 0; i < lines.size(); i += 2) {
            QString name;
            float ra = -1, dec = -100;
            EXPECT_TRUE(core.parseTarget(lines[i], name, ra, dec)) << lines[i].toStdString();
            EXPECT_FALSE(name.isEmpty());
            EXPECT_TRUE(ra >= 0 && ra < 24 && dec >= -90 && dec <= 90) << lines[i].toStdString();
            EXPECT_TRUE(lines[i + 1].startsWith(QStringLiteral("**** "))) << lines[i + 1].toStdString();
            TargetConfig config;
            config.interval = 60;
            core.parseTargetConfig(lines[i + 1], config);
            EXPECT_GT(config.interval, 0);
        }
        EXPECT_TRUE(view.messages.isEmpty()) << view.messages.join(QLatin1Char('\n')).toStdString();
    }
}

TEST_F(Samples, TheSurveyAreaGivesTensOfFields)
{
    writeBytes(path(QStringLiteral("MPSTargets.txt")),
               readBytes(samplePath(QStringLiteral("MPSTargets.txt"))));
    ASSERT_EQ(core.createMPSFiles(), 1);
    const QByteArray fields = readBytes(path(QStringLiteral("MPSfov1.txt")));
    const qsizetype count = (fields.count('\n') - 1) / 2;
    EXPECT_GE(count, 10);
    EXPECT_LT(count, 100);
    EXPECT_TRUE(view.messages.isEmpty());
}

} // namespace
} // namespace kestrove
