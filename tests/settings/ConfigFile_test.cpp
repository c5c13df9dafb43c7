#include "core/SimSurvey.h"
#include "core/SurveyCore.h"
#include "support/FakeHost.h"
#include "support/TestSupport.h"
#include "text/HostError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace kestrove {
namespace {

using test::crlfLines;
using test::readBytes;
using test::writeBytes;

// The file "config.ini" holds for a record of defaults.
QStringList defaultLines()
{
    return {
        "lastFocusJD,0",
        "focusInterval,30",
        "SNeEnabled,0",
        "MPSEnabled,0",
        "MPFEnabled,0",
        "SLCEnabled,0",
        "SNeWeight,100",
        "MPSWeight,100",
        "MPFWeight,100",
        "SLCWeight,100",
        "baseDir," + QDir::homePath() + "/Astronomy/Kestrove/",
        "slewRate,2.5",
        "flipTime,90",
        "maxElevation,90",
        "minAzimuth,0",
        "maxAzimuth,360",
        "exposureSNe,60",
        "cameraBinningSNe,1",
        "cameraFilterSNe,",
        "cameraSubframeSNe,1",
        "exposureMPS,60",
        "cameraBinningMPS,1",
        "cameraFilterMPS,",
        "intervalMPS,30",
        "imagesMPS,3",
        "fovRAMPS,47",
        "fovDecMPS,38",
        "exposureSLC,60",
        "cameraBinningSLC,1",
        "cameraFilterSLC,",
        "cameraSubframeSLC,1",
        "setSizeSLC,3",
        "minElevationSLC,0",
    };
}

// Every field compared, so that a test names the one that differs.
void expectSameSettings(const SurveySettings& a, const SurveySettings& b)
{
    EXPECT_EQ(a.lastFocusJD, b.lastFocusJD);
    EXPECT_EQ(a.focusInterval, b.focusInterval);
    EXPECT_EQ(a.SNeEnabled, b.SNeEnabled);
    EXPECT_EQ(a.MPSEnabled, b.MPSEnabled);
    EXPECT_EQ(a.MPFEnabled, b.MPFEnabled);
    EXPECT_EQ(a.SLCEnabled, b.SLCEnabled);
    EXPECT_EQ(a.SNeWeight, b.SNeWeight);
    EXPECT_EQ(a.MPSWeight, b.MPSWeight);
    EXPECT_EQ(a.MPFWeight, b.MPFWeight);
    EXPECT_EQ(a.SLCWeight, b.SLCWeight);
    EXPECT_EQ(a.baseDir, b.baseDir);
    EXPECT_EQ(a.slewRate, b.slewRate);
    EXPECT_EQ(a.flipTime, b.flipTime);
    EXPECT_EQ(a.maxElevation, b.maxElevation);
    EXPECT_EQ(a.minAzimuth, b.minAzimuth);
    EXPECT_EQ(a.maxAzimuth, b.maxAzimuth);
    EXPECT_EQ(a.exposureSNe, b.exposureSNe);
    EXPECT_EQ(a.cameraBinningSNe, b.cameraBinningSNe);
    EXPECT_EQ(a.cameraFilterSNe, b.cameraFilterSNe);
    EXPECT_EQ(a.cameraSubframeSNe, b.cameraSubframeSNe);
    EXPECT_EQ(a.exposureMPS, b.exposureMPS);
    EXPECT_EQ(a.cameraBinningMPS, b.cameraBinningMPS);
    EXPECT_EQ(a.cameraFilterMPS, b.cameraFilterMPS);
    EXPECT_EQ(a.intervalMPS, b.intervalMPS);
    EXPECT_EQ(a.imagesMPS, b.imagesMPS);
    EXPECT_EQ(a.fovRAMPS, b.fovRAMPS);
    EXPECT_EQ(a.fovDecMPS, b.fovDecMPS);
    EXPECT_EQ(a.exposureSLC, b.exposureSLC);
    EXPECT_EQ(a.cameraBinningSLC, b.cameraBinningSLC);
    EXPECT_EQ(a.cameraFilterSLC, b.cameraFilterSLC);
    EXPECT_EQ(a.cameraSubframeSLC, b.cameraSubframeSLC);
    EXPECT_EQ(a.setSizeSLC, b.setSizeSLC);
    EXPECT_EQ(a.minElevationSLC, b.minElevationSLC);
}

class ConfigFileTest : public ::testing::Test
{
protected:
    QString configPath() const { return folder.filePath("config.ini"); }
    QString badPath() const { return folder.filePath("config.ini.bad"); }

    QTemporaryDir folder;
    test::FakeHost host;
    test::RecordingView view;
    SurveyCore core{host, view, folder.path()};
};

TEST_F(ConfigFileTest, WithoutAFileLoadsTheDefaultsAndWritesNothing)
{
    core.settings.focusInterval = 7;
    core.settings.baseDir = "/elsewhere/";
    core.LoadConfig();

    expectSameSettings(core.settings, SurveySettings());
    EXPECT_EQ(core.settings.baseDir, QDir::homePath() + "/Astronomy/Kestrove/");
    EXPECT_TRUE(core.settings.cameraFilterSNe.isEmpty());
    EXPECT_FALSE(QFile::exists(configPath()));
    EXPECT_TRUE(view.messages.isEmpty());
}

TEST_F(ConfigFileTest, LoadCreatesTheHostObjectsInOrderThenReadsTheFile)
{
    writeBytes(configPath(), crlfLines(defaultLines()).replace("focusInterval,30", "focusInterval,45"));
    core.load();

    EXPECT_EQ(host.created, QStringList({"FileSystem", "Util", "Telescope", "Application"}));
    EXPECT_EQ(core.settings.focusInterval, 45);
}

TEST_F(ConfigFileTest, SavingTheDefaultsWritesThe33LinesExactly)
{
    core.LoadConfig();
    core.SaveConfig();

    const QByteArray bytes = readBytes(configPath());
    EXPECT_EQ(bytes, crlfLines(defaultLines()));
    EXPECT_EQ(bytes.count("\r\n"), 33);
}

TEST_F(ConfigFileTest, KeysAreNotComparedOnlyPositionsCount)
{
    QStringList lines = defaultLines();
    lines[2] = "somethingElse,1";
    lines[11] = "slewRateWrong,4.25";
    writeBytes(configPath(), crlfLines(lines));
    core.LoadConfig();

    EXPECT_EQ(core.settings.SNeEnabled, 1);
    EXPECT_EQ(core.settings.slewRate, 4.25f);
    EXPECT_TRUE(view.messages.isEmpty());
}

TEST_F(ConfigFileTest, AMissingLineShiftsEveryLaterValueUp)
{
    QStringList lines = defaultLines();
    lines.removeAt(31); // setSizeSLC
    lines[31] = "minElevationSLC,0.25";
    lines << "extra,9";
    writeBytes(configPath(), crlfLines(lines));
    core.LoadConfig();

    EXPECT_EQ(core.settings.setSizeSLC, 0.25f); // from the minElevationSLC line
    EXPECT_EQ(core.settings.minElevationSLC, 9);
    EXPECT_TRUE(view.messages.isEmpty());
}

TEST_F(ConfigFileTest, FieldsAreSeparatedByCommasAsWellAsLineEnds)
{
    // Two settings on one line still take their two fields each.
    QStringList lines = defaultLines();
    lines[0] = "lastFocusJD,2460000.25,focusInterval,12";
    lines.removeAt(1);
    writeBytes(configPath(), crlfLines(lines));
    core.LoadConfig();

    EXPECT_EQ(core.settings.lastFocusJD, 2460000.25);
    EXPECT_EQ(core.settings.focusInterval, 12);
    EXPECT_TRUE(view.messages.isEmpty());
}

TEST_F(ConfigFileTest, LineFeedOnlyFilesAreRead)
{
    QByteArray bytes = crlfLines(defaultLines());
    bytes.replace("\r\n", "\n");
    bytes.replace("imagesMPS,3", "imagesMPS,5");
    writeBytes(configPath(), bytes);
    core.LoadConfig();

    EXPECT_EQ(core.settings.imagesMPS, 5);
    EXPECT_EQ(core.settings.baseDir, QDir::homePath() + "/Astronomy/Kestrove/");
}

TEST_F(ConfigFileTest, EveryFieldSurvivesASaveAndALoad)
{
    SurveySettings s;
    s.lastFocusJD = 2460371.4166666;
    s.focusInterval = -12;
    s.SNeEnabled = 1;
    s.MPSEnabled = 1;
    s.MPFEnabled = 1;
    s.SLCEnabled = 1;
    s.SNeWeight = 250;
    s.MPSWeight = -32768;
    s.MPFWeight = 32767;
    s.SLCWeight = 0;
    s.baseDir = "/data/images/";
    s.slewRate = 1.234567f;
    s.flipTime = 45.5f;
    s.maxElevation = 85.25f;
    s.minAzimuth = 10.1f;
    s.maxAzimuth = 350.9f;
    s.exposureSNe = 0.001f;
    s.cameraBinningSNe = 2;
    s.cameraFilterSNe = "Luminance";
    s.cameraSubframeSNe = 0.5f;
    s.exposureMPS = 120;
    s.cameraBinningMPS = 3;
    s.cameraFilterMPS = "R";
    s.intervalMPS = 15;
    s.imagesMPS = 4;
    s.fovRAMPS = 0.25;
    s.fovDecMPS = 0.125;
    s.exposureSLC = 30;
    s.cameraBinningSLC = 4;
    s.cameraFilterSLC = "V band";
    s.cameraSubframeSLC = 0.75f;
    s.setSizeSLC = 5;
    s.minElevationSLC = 0.8f;

    core.settings = s;
    core.SaveConfig();
    core.settings = SurveySettings();
    core.LoadConfig();

    expectSameSettings(core.settings, s);
    EXPECT_TRUE(view.messages.isEmpty());
}

TEST_F(ConfigFileTest, NumbersAreWrittenWithTheirStatedPrecision)
{
    core.settings.lastFocusJD = 2460371.41666666666; // 15 significant digits kept
    core.settings.slewRate = 1.0f / 3.0f;            // 7 kept
    core.settings.fovRAMPS = 0.2833333333333333;
    core.SaveConfig();

    const QList<QByteArray> lines = readBytes(configPath()).split('\n');
    EXPECT_EQ(lines[0], "lastFocusJD,2460371.41666667\r");
    EXPECT_EQ(lines[11], "slewRate,0.3333333\r");
    EXPECT_EQ(lines[25], "fovRAMPS,0.283333333333333\r");
}

TEST_F(ConfigFileTest, ABaseDirWithItsTrailingSeparatorIsKeptAsItStands)
{
    core.settings.baseDir = "/srv/images/";
    core.SaveConfig();
    EXPECT_TRUE(readBytes(configPath()).contains("\r\nbaseDir,/srv/images/\r\n"));

    core.settings.baseDir.clear();
    core.LoadConfig();
    EXPECT_EQ(core.settings.baseDir, "/srv/images/");
}

TEST_F(ConfigFileTest, SavingReplacesTheWholeFile)
{
    writeBytes(configPath(), QByteArray(5000, 'x'));
    core.settings = SurveySettings();
    core.SaveConfig();
    EXPECT_EQ(readBytes(configPath()), crlfLines(defaultLines()));
}

TEST_F(ConfigFileTest, ASaveIntoAMissingFolderReportsThePath)
{
    SurveyCore lost(host, view, folder.filePath("missing/deeper"));
    try {
        lost.SaveConfig();
        FAIL() << "SaveConfig succeeded";
    } catch (const std::exception& error) {
        EXPECT_TRUE(QString::fromUtf8(error.what()).contains("missing/deeper/config.ini")) << error.what();
    }
}

struct BadFileCase
{
    const char* name;
    int lineIndex;        // 0-based line replaced
    const char* lineText; // its new text
    const char* expected; // the message's first line
};

class ConfigFileBadValueTest : public ConfigFileTest, public ::testing::WithParamInterface<BadFileCase>
{
};

TEST_P(ConfigFileBadValueTest, ShowsOneMessageKeepsEarlierValuesDefaultsTheRestAndKeepsACopy)
{
    const BadFileCase& c = GetParam();
    QStringList lines = defaultLines();
    // Non-default values everywhere, so that "kept" and "defaulted" can be told apart.
    lines[1] = "focusInterval,44";
    lines[25] = "fovRAMPS,1.5";
    lines[32] = "minElevationSLC,0.5";
    lines[c.lineIndex] = c.lineText;
    const QByteArray bytes = crlfLines(lines);
    writeBytes(configPath(), bytes);
    core.settings.minElevationSLC = 0.9f; // a value held before the load does not survive it

    core.LoadConfig();

    ASSERT_EQ(view.messages.size(), 1);
    const QString message = view.messages.first();
    EXPECT_EQ(message.section(QLatin1Char('\n'), 0, 0), QString::fromLatin1(c.expected));
    EXPECT_TRUE(message.contains("config.ini.bad")) << message.toStdString();
    EXPECT_EQ(readBytes(badPath()), bytes);
    EXPECT_EQ(core.settings.focusInterval, c.lineIndex > 1 ? 44 : 30);
    EXPECT_EQ(core.settings.fovRAMPS, c.lineIndex > 25 ? 1.5 : 47);
    EXPECT_EQ(core.settings.minElevationSLC, 0);

    // The next save replaces the file but not the copy.
    core.SaveConfig();
    EXPECT_EQ(readBytes(badPath()), bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ConfigFileBadValueTest,
    ::testing::Values(
        BadFileCase{
            "LetterInAnInteger", 0, "lastFocusJD,abc",
            "config.ini line 1: the value \"abc\" cannot be read as lastFocusJD: \"lastFocusJD,abc\""},
        BadFileCase{
            "IntegerBeyond16Bits", 6, "SNeWeight,40000",
            "config.ini line 7: the value \"40000\" cannot be read as SNeWeight: \"SNeWeight,40000\""},
        BadFileCase{
            "NegativeBeyond16Bits", 7, "MPSWeight,-32769",
            "config.ini line 8: the value \"-32769\" cannot be read as MPSWeight: \"MPSWeight,-32769\""},
        BadFileCase{"LetterInASingle", 11, "slewRate,2.5x",
                    "config.ini line 12: the value \"2.5x\" cannot be read as slewRate: \"slewRate,2.5x\""},
        BadFileCase{"SingleBeyondItsRange", 12, "flipTime,1e39",
                    "config.ini line 13: the value \"1e39\" cannot be read as flipTime: \"flipTime,1e39\""},
        BadFileCase{"EmptyInteger", 23, "intervalMPS,",
                    "config.ini line 24: the value \"\" cannot be read as intervalMPS: \"intervalMPS,\""},
        BadFileCase{"LetterInADouble", 26, "fovDecMPS,x38",
                    "config.ini line 27: the value \"x38\" cannot be read as fovDecMPS: \"fovDecMPS,x38\""},
        BadFileCase{
            "HexIsNotANumber", 27, "exposureSLC,0x10",
            "config.ini line 28: the value \"0x10\" cannot be read as exposureSLC: \"exposureSLC,0x10\""},
        BadFileCase{"ControlCharacter", 13, "maxElevation,9\x01",
                    "config.ini line 14: the value \"9\\x01\" cannot be read as maxElevation: "
                    "\"maxElevation,9\\x01\""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConfigFileTest, AFileThatEndsEarlyNamesWhereItEndsAndDefaultsTheRest)
{
    QStringList lines = defaultLines().mid(0, 20);
    lines[1] = "focusInterval,44";
    lines[19] = "cameraSubframeSNe,0.5";
    const QByteArray bytes = crlfLines(lines);
    writeBytes(configPath(), bytes);

    core.LoadConfig();

    ASSERT_EQ(view.messages.size(), 1);
    EXPECT_EQ(view.messages.first().section(QLatin1Char('\n'), 0, 0),
              QStringLiteral("config.ini line 20: the file ends before exposureMPS, setting 21 of 33: "
                             "\"cameraSubframeSNe,0.5\""));
    EXPECT_EQ(readBytes(badPath()), bytes);
    EXPECT_EQ(core.settings.focusInterval, 44);
    EXPECT_EQ(core.settings.cameraSubframeSNe, 0.5f);
    EXPECT_EQ(core.settings.exposureMPS, 60);
    EXPECT_EQ(core.settings.fovDecMPS, 38);
}

TEST_F(ConfigFileTest, AnEmptyFileIsReportedAndGivesTheDefaults)
{
    writeBytes(configPath(), QByteArray());
    core.settings.SNeWeight = 5;
    core.LoadConfig();

    ASSERT_EQ(view.messages.size(), 1);
    expectSameSettings(core.settings, SurveySettings());
    EXPECT_TRUE(QFile::exists(badPath()));
}

TEST_F(ConfigFileTest, IntegersAreRoundedHalvesToEven)
{
    QStringList lines = defaultLines();
    lines[6] = "SNeWeight,2.5";
    lines[7] = "MPSWeight,3.5";
    writeBytes(configPath(), crlfLines(lines));
    core.LoadConfig();

    EXPECT_EQ(core.settings.SNeWeight, 2);
    EXPECT_EQ(core.settings.MPSWeight, 4);
}

TEST_F(ConfigFileTest, TextsKeepTheirBlanksAndLatin1Characters)
{
    core.settings.cameraFilterSLC = QString::fromLatin1(" H\xe9lium ");
    core.SaveConfig();
    EXPECT_TRUE(readBytes(configPath()).contains("\r\ncameraFilterSLC, H\xe9lium \r\n"));

    core.settings.cameraFilterSLC.clear();
    core.LoadConfig();
    EXPECT_EQ(core.settings.cameraFilterSLC, QString::fromLatin1(" H\xe9lium "));
}

} // namespace
} // namespace kestrove

namespace kestrove::test {
namespace {

// When the bad file cannot be kept as "config.ini.bad", nothing may save over it: the user's values
// after the bad one would be lost for good. The run ends with the error before any save.
TEST(ConfigFileBadCopy, AFileThatCannotBeKeptIsNeverSavedOver)
{
    SimSurvey sim;
    QStringList lines = defaultLines();
    lines[2] = "SNeEnabled,x";
    lines[16] = "exposureSNe,12.5";
    lines[26] = "fovDecMPS,21";
    const QByteArray bytes = crlfLines(lines);
    const QString config = sim.programFile("config.ini");
    writeBytes(config, bytes);
    ASSERT_TRUE(QDir().mkpath(sim.programFile("config.ini.bad")));
    // A pass that plans an autofocus would save the settings.
    sim.writeProgramFile("SNeTargets.txt", {"SN2024abc\t" + sim.onMeridian(20), "**** "});
    sim.enable(SurveyKind::SNe);

    const struct
    {
        const char* what;
        std::function<void()> act;
        bool throws;
    } cases[] = {
        {"a pass", [&] { sim.run(1); }, true},
        {"a load", [&] { sim.core->LoadConfig(); }, true},
        {"a save after it", [&] { sim.core->SaveConfig(); }, true},
        {"the window's unload", [&] { sim.core->unload(); }, false},
    };
    for (const auto& c : cases) {
        sim.view.messages.clear();
        if (c.throws) {
            try {
                c.act();
                ADD_FAILURE() << c.what << ": no error";
            } catch (const HostError& e) {
                EXPECT_TRUE(e.message().contains("config.ini.bad"))
                    << c.what << ": " << e.message().toStdString();
            }
        } else {
            EXPECT_NO_THROW(c.act()) << c.what;
        }
        EXPECT_EQ(readBytes(config), bytes) << c.what;
        EXPECT_TRUE(sim.view.messages.isEmpty()) << c.what;
    }
    EXPECT_FALSE(QFile::exists(sim.planPath())); // the pass ended before its plan

    // Once the file is mended, saving works again.
    lines[2] = "SNeEnabled,1";
    writeBytes(config, crlfLines(lines));
    sim.core->LoadConfig();
    sim.core->settings.focusInterval = 45;
    sim.core->SaveConfig();
    EXPECT_TRUE(readBytes(config).contains("focusInterval,45\r\n"));
}

} // namespace
} // namespace kestrove::test
