#include "app/CommandLine.h"

#include <QTimeZone>
#include <gtest/gtest.h>

namespace kestrove {
namespace {

std::optional<CommandLine> parse(const QStringList& arguments, QString* error = nullptr)
{
    QString message;
    auto result = parseCommandLine(arguments, message);
    if (error)
        *error = message;
    return result;
}

TEST(CommandLineTest, NoArgumentsLeaveEverythingToTheDefaults)
{
    const auto commandLine = parse({});
    ASSERT_TRUE(commandLine);
    EXPECT_TRUE(commandLine->folder.isEmpty());
    EXPECT_TRUE(commandLine->observatory.isEmpty());
    EXPECT_FALSE(commandLine->headless);
    EXPECT_FALSE(commandLine->start);
    EXPECT_EQ(commandLine->limits.passes, 0);
    EXPECT_FALSE(commandLine->limits.untilUtc.isValid());
}

TEST(CommandLineTest, CalibratingIsTheCloseThatTakesTheFrames)
{
    for (const char* kind : {"darks", "flats"}) {
        const auto commandLine = parse({"--calibrate", kind, "--folder", "/srv/kestrove"});
        ASSERT_TRUE(commandLine) << kind;
        EXPECT_TRUE(commandLine->close);
        EXPECT_EQ(commandLine->calibrate, QString::fromLatin1(kind));
    }
}

TEST(CommandLineTest, EveryOptionIsRead)
{
    const auto commandLine = parse({"--folder", "/srv/kestrove", "--observatory=/srv/sim", "--headless",
                                    "--start", "--passes", "5", "--until", "2024-03-02T05:30:00Z"});
    ASSERT_TRUE(commandLine);
    EXPECT_EQ(commandLine->folder, "/srv/kestrove");
    EXPECT_EQ(commandLine->observatory, "/srv/sim");
    EXPECT_TRUE(commandLine->headless);
    EXPECT_TRUE(commandLine->start);
    EXPECT_EQ(commandLine->limits.passes, 5);
    EXPECT_EQ(commandLine->limits.untilUtc, QDateTime(QDate(2024, 3, 2), QTime(5, 30), QTimeZone::utc()));
}

TEST(CommandLineTest, AnInstantIsUtcUnlessItNamesAnOffset)
{
    auto commandLine = parse({"--until", "2024-03-02T05:30:00"});
    ASSERT_TRUE(commandLine);
    EXPECT_EQ(commandLine->limits.untilUtc, QDateTime(QDate(2024, 3, 2), QTime(5, 30), QTimeZone::utc()));

    commandLine = parse({"--until=2024-03-02T07:30:00+02:00"});
    ASSERT_TRUE(commandLine);
    EXPECT_EQ(commandLine->limits.untilUtc, QDateTime(QDate(2024, 3, 2), QTime(5, 30), QTimeZone::utc()));
}

TEST(CommandLineTest, ToolkitOptionsPassThrough)
{
    const auto commandLine = parse({"-platform", "offscreen", "--start", "-reverse", "--passes", "2"});
    ASSERT_TRUE(commandLine);
    EXPECT_TRUE(commandLine->start);
    EXPECT_EQ(commandLine->limits.passes, 2);
}

TEST(CommandLineTest, PreviewAndReportTakeTheirNightAndFolder)
{
    auto commandLine = parse(
        {"--preview", "--from", "2024-12-07T19:10:00Z", "--to=2024-12-08T06:57:00Z", "--out", "/tmp/night"});
    ASSERT_TRUE(commandLine);
    EXPECT_TRUE(commandLine->preview);
    EXPECT_FALSE(commandLine->report);
    EXPECT_EQ(commandLine->fromUtc, QDateTime(QDate(2024, 12, 7), QTime(19, 10), QTimeZone::utc()));
    EXPECT_EQ(commandLine->toUtc, QDateTime(QDate(2024, 12, 8), QTime(6, 57), QTimeZone::utc()));
    EXPECT_EQ(commandLine->out, "/tmp/night");

    commandLine = parse({"--report", "--night", "2024-12-07"});
    ASSERT_TRUE(commandLine);
    EXPECT_TRUE(commandLine->report);
    EXPECT_EQ(commandLine->night, QDate(2024, 12, 7));

    commandLine = parse({"--preview", "--nights", "30", "--clear-fraction", "0.6", "--seed", "7"});
    ASSERT_TRUE(commandLine);
    EXPECT_EQ(commandLine->nights, 30);
    EXPECT_EQ(commandLine->clearFraction, 0.6);
    EXPECT_EQ(commandLine->seed, 7u);
}

struct BadArguments
{
    const char* name;
    QStringList arguments;
    const char* mentions;
};

class CommandLineBadTest : public ::testing::TestWithParam<BadArguments>
{
};

TEST_P(CommandLineBadTest, IsRefusedWithAReason)
{
    QString error;
    EXPECT_FALSE(parse(GetParam().arguments, &error));
    EXPECT_TRUE(error.contains(GetParam().mentions)) << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLineBadTest,
    ::testing::Values(
        BadArguments{"UnknownOption", {"--fast"}, "--fast"},
        BadArguments{"StrayArgument", {"folder"}, "folder"},
        BadArguments{"FolderWithoutValue", {"--folder"}, "--folder"},
        BadArguments{"EmptyFolder", {"--folder="}, "--folder"},
        BadArguments{"PassesNotANumber", {"--passes", "many"}, "many"},
        BadArguments{"PassesZero", {"--passes", "0"}, "--passes"},
        BadArguments{"UntilNotAnInstant", {"--until", "tomorrow"}, "tomorrow"},
        BadArguments{"ValueForAFlag", {"--start=yes"}, "--start"},
        BadArguments{"PreviewAndReport", {"--preview", "--report"}, "--report"},
        BadArguments{"PreviewWithPasses", {"--preview", "--passes", "2"}, "--passes"},
        BadArguments{"NightWithoutMode", {"--night", "2024-12-07"}, "--night"},
        BadArguments{"NotADate", {"--preview", "--night", "7 Dec"}, "7 Dec"},
        BadArguments{"FromWithoutTo", {"--preview", "--from", "2024-12-07T19:00:00Z"}, "--to"},
        BadArguments{"ToBeforeFrom",
                     {"--preview", "--from", "2024-12-08T01:00:00Z", "--to", "2024-12-07T23:00:00Z"},
                     "after"},
        BadArguments{"NightAndSpan",
                     {"--preview", "--night", "2024-12-07", "--from", "2024-12-07T19:00:00Z", "--to",
                      "2024-12-08T01:00:00Z"},
                     "--night"},
        BadArguments{"CloseWithPreview", {"--close", "--preview"}, "--close"},
        BadArguments{"NoNights", {"--preview", "--nights", "0"}, "--nights"},
        BadArguments{"NightsWithoutPreview", {"--report", "--nights", "3"}, "--nights"},
        BadArguments{
            "ClearFractionAboveOne", {"--preview", "--nights", "3", "--clear-fraction", "1.5"}, "1.5"},
        BadArguments{
            "NightsOverASpan",
            {"--preview", "--nights", "3", "--from", "2024-12-07T19:00:00Z", "--to", "2024-12-08T01:00:00Z"},
            "--night"},
        BadArguments{"CloseWithPasses", {"--close", "--passes", "2"}, "--close"},
        BadArguments{"CalibrateSkyFlats", {"--calibrate", "sky"}, "darks or flats"},
        BadArguments{"CalibrateWithPreview", {"--calibrate", "darks", "--preview"}, "--calibrate"},
        BadArguments{"ReportWithSpan",
                     {"--report", "--from", "2024-12-07T19:00:00Z", "--to", "2024-12-08T01:00:00Z"},
                     "--preview"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace kestrove
