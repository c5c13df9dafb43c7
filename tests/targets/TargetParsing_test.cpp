#include "TargetsTestHost.h"
#include "core/SurveyCore.h"

#include <gtest/gtest.h>

namespace kestrove {
namespace {

class TargetParsing : public ::testing::Test, public test::TargetsFixture
{
};

// ---- parseTarget / extractName ----

TEST_F(TargetParsing, SplitsTheThreeColumnsWholeAndConvertsThePositions)
{
    struct Case
    {
        const char* line;
        const char* name;
        float ra;
        float dec;
    };
    const Case cases[] = {
        {"M31\t00:42:44.3\t+41:16:09", "M31", static_cast<float>(0 + 42 / 60.0 + 44.3 / 3600.0),
         static_cast<float>(41 + 16 / 60.0 + 9 / 3600.0)},
        {"\t12:00:00\t-05:30:00", "", 12.0f, -5.5f}, // empty name
        {"1!01h00m00s!+10d00m00s\t1.234567\t-1.234568", "1!01h00m00s!+10d00m00s", 1.234567f, -1.234568f},
        {"NGC 1300 \t3:19:41\t-19:24:41", "NGC 1300 ", static_cast<float>(3 + 19 / 60.0 + 41 / 3600.0),
         static_cast<float>(-(19 + 24 / 60.0 + 41 / 3600.0))}, // nothing trimmed
    };
    for (const Case& c : cases) {
        QString name = QStringLiteral("unchanged");
        float ra = -1, dec = -1;
        ASSERT_TRUE(core.parseTarget(QString::fromLatin1(c.line), name, ra, dec)) << c.line;
        EXPECT_EQ(name, QString::fromLatin1(c.name));
        EXPECT_EQ(ra, c.ra) << c.line;
        EXPECT_EQ(dec, c.dec) << c.line;
    }
    EXPECT_TRUE(view.messages.isEmpty());
}

TEST_F(TargetParsing, APositionTheHostCannotConvertIsReportedAndAssignsNothing)
{
    struct Case
    {
        QString line;
        QString message;
    };
    const Case cases[] = {
        {QStringLiteral("Bad\tabc\t+45:16:49"),
         QStringLiteral("Invalid right ascension - not a sexagesimal number: \"Bad\\tabc\\t+45:16:49\"")},
        {QStringLiteral("Empty\t1:00:00\t"),
         QStringLiteral("Invalid declination - no number: \"Empty\\t1:00:00\\t\"")},
        // A further TAB belongs to the declination text, which is then no position.
        {QStringLiteral("A\t1:00:00\t+10:00:00\tx"),
         QStringLiteral("Invalid declination - more than three fields: \"A\\t1:00:00\\t+10:00:00\\tx\"")},
        {QStringLiteral("Huge\t1e39\t0"),
         QStringLiteral("Invalid right ascension - too large: \"Huge\\t1e39\\t0\"")},
        {QStringLiteral("Nul\t1\0\t2"),
         QStringLiteral("Invalid right ascension - unexpected character '\\x00': \"Nul\\t1\\x00\\t2\"")},
    };
    for (const Case& c : cases) {
        view.messages.clear();
        QString name = QStringLiteral("kept");
        float ra = 7, dec = 8;
        EXPECT_FALSE(core.parseTarget(c.line, name, ra, dec)) << c.line.toStdString();
        EXPECT_EQ(view.messages, QStringList{c.message});
        EXPECT_EQ(name, QStringLiteral("kept"));
        EXPECT_EQ(ra, 7);
        EXPECT_EQ(dec, 8);
    }
}

TEST_F(TargetParsing, MalformedTargetLinesAreReportedAndAssignNothing)
{
    struct Case
    {
        const char* line;
        const char* parseMessage;
        bool nameExtracted;
    };
    const Case cases[] = {
        {"M31 00:42:44 +41:16:09", "Parse error - First tab missing: \"M31 00:42:44 +41:16:09\"", false},
        {"", "Parse error - First tab missing: \"\"", false},
        {"M31\t00:42:44 +41:16:09", "Parse error - Second tab missing: \"M31\\t00:42:44 +41:16:09\"", true},
    };
    for (const Case& c : cases) {
        view.messages.clear();
        QString name = QStringLiteral("kept");
        float ra = 7, dec = 8;
        EXPECT_FALSE(core.parseTarget(QString::fromLatin1(c.line), name, ra, dec));
        EXPECT_EQ(view.messages, QStringList{QString::fromLatin1(c.parseMessage)}) << c.line;
        EXPECT_EQ(name, QStringLiteral("kept"));
        EXPECT_EQ(ra, 7);
        EXPECT_EQ(dec, 8);

        view.messages.clear();
        QString extracted = QStringLiteral("kept");
        EXPECT_EQ(core.extractName(QString::fromLatin1(c.line), extracted), c.nameExtracted);
        if (c.nameExtracted) {
            EXPECT_EQ(extracted, QStringLiteral("M31"));
            EXPECT_TRUE(view.messages.isEmpty());
        } else {
            EXPECT_EQ(extracted, QStringLiteral("kept"));
            EXPECT_EQ(view.messages, QStringList{QString::fromLatin1(c.parseMessage)});
        }
    }
}

// ---- parseTargetConfig ----

// Presets that differ from every value the cases below assign.
TargetConfig presets()
{
    TargetConfig c;
    c.lastImageJD = 11;
    c.reshoot = false;
    c.imageCount = 12;
    c.priority = 13;
    c.interval = 14;
    c.exposure = 15;
    c.binning = 16;
    c.filter = QStringLiteral("preset");
    return c;
}

bool sameConfig(const TargetConfig& a, const TargetConfig& b)
{
    return a.lastImageJD == b.lastImageJD && a.reshoot == b.reshoot && a.imageCount == b.imageCount &&
           a.priority == b.priority && a.interval == b.interval && a.exposure == b.exposure &&
           a.binning == b.binning && a.filter == b.filter;
}

struct ConfigCase
{
    const char* line;
    std::function<void(TargetConfig&)> expect; // applied to the presets
    QStringList messages;
};

TEST_F(TargetParsing, ReadsConfigItemsAsTheFileFormatDefinesThem)
{
    const ConfigCase cases[] = {
        {"**** ", [](TargetConfig&) {}, {}},
        {"****", [](TargetConfig&) {}, {}},
        {"", [](TargetConfig&) {}, {}},
        {"**** lastImageJD=2461016.12345679 reshoot=TRUE imageCount=3 priority=5.5 interval=45 exposure=120 "
         "binning=2 filter=R",
         [](TargetConfig& c) {
             c.lastImageJD = 2461016.12345679;
             c.reshoot = true;
             c.imageCount = 3;
             c.priority = 5.5f;
             c.interval = 45;
             c.exposure = 120;
             c.binning = 2;
             c.filter = QStringLiteral("R");
         },
         {}},
        // Any separator character is skipped; the first item starts at character 6.
        {"****xbinning=3", [](TargetConfig& c) { c.binning = 3; }, {}},
        // No separator: the first key loses its first letter; the rest is read.
        {"****lastImageJD=5 binning=3",
         [](TargetConfig& c) { c.binning = 3; },
         {QStringLiteral("Unknown item name astImageJD")}},
        // A double space ends the line, even with items after it.
        {"**** binning=3  interval=9", [](TargetConfig& c) { c.binning = 3; }, {}},
        {"****  binning=3", [](TargetConfig&) {}, {}},
        {"**** binning=3 ", [](TargetConfig& c) { c.binning = 3; }, {}},
        {"**** filter=", [](TargetConfig& c) { c.filter = QString(); }, {}},
        {"**** filter=a=b", [](TargetConfig& c) { c.filter = QStringLiteral("a=b"); }, {}},
        {"**** Binning=3 binning=4",
         [](TargetConfig& c) { c.binning = 4; },
         {QStringLiteral("Unknown item name Binning")}},
        {"**** =3 binning=4", [](TargetConfig& c) { c.binning = 4; }, {QStringLiteral("Unknown item name ")}},
        {"**** imageCount=2.5", [](TargetConfig& c) { c.imageCount = 2; }, {}},
        {"**** imageCount=3.5", [](TargetConfig& c) { c.imageCount = 4; }, {}},
        {"**** interval=-32768", [](TargetConfig& c) { c.interval = -32768; }, {}},
        {"**** reshoot=-1", [](TargetConfig& c) { c.reshoot = true; }, {}},
        {"**** reshoot=tRuE", [](TargetConfig& c) { c.reshoot = true; }, {}},
        {"**** reshoot=true reshoot=0", [](TargetConfig&) {}, {}},
        {"**** reshoot=1 reshoot=False", [](TargetConfig&) {}, {}},
        {"**** priority=1 priority=2", [](TargetConfig& c) { c.priority = 2; }, {}},
        // Numbers the program writes read back exactly.
        {"**** exposure=0.2833333 lastImageJD=-0.5",
         [](TargetConfig& c) {
             c.exposure = 0.2833333f;
             c.lastImageJD = -0.5;
         },
         {}},
    };
    for (const ConfigCase& c : cases) {
        view.messages.clear();
        TargetConfig config = presets();
        TargetConfig expected = presets();
        c.expect(expected);
        core.parseTargetConfig(QString::fromLatin1(c.line), config);
        EXPECT_TRUE(sameConfig(config, expected)) << c.line;
        QStringList messages;
        for (const QString& m : c.messages)
            messages << m + QStringLiteral(": \"") + QString::fromLatin1(c.line) + QLatin1Char('"');
        EXPECT_EQ(view.messages, messages) << c.line;
    }
}

TEST_F(TargetParsing, UnreadableItemsAreReportedSkippedAndTheRestIsRead)
{
    const ConfigCase cases[] = {
        {"**** binning imageCount=3",
         [](TargetConfig& c) { c.imageCount = 3; },
         {QStringLiteral("Invalid item binning - no \"=\" in it")}},
        {"**** imageCount=abc binning=2",
         [](TargetConfig& c) { c.binning = 2; },
         {QStringLiteral("Invalid item imageCount=abc - not a whole number from -32768 to 32767")}},
        {"**** imageCount=32768 binning=2",
         [](TargetConfig& c) { c.binning = 2; },
         {QStringLiteral("Invalid item imageCount=32768 - not a whole number from -32768 to 32767")}},
        {"**** interval=-32769 binning=2",
         [](TargetConfig& c) { c.binning = 2; },
         {QStringLiteral("Invalid item interval=-32769 - not a whole number from -32768 to 32767")}},
        {"**** binning= interval=2",
         [](TargetConfig& c) { c.interval = 2; },
         {QStringLiteral("Invalid item binning= - not a whole number from -32768 to 32767")}},
        {"**** lastImageJD=yesterday priority=1e40 exposure=0x10 reshoot=maybe filter=V",
         [](TargetConfig& c) { c.filter = QStringLiteral("V"); },
         {QStringLiteral("Invalid item lastImageJD=yesterday - not a number"),
          QStringLiteral("Invalid item priority=1e40 - too large"),
          QStringLiteral("Invalid item exposure=0x10 - not a number"),
          QStringLiteral("Invalid item reshoot=maybe - not true, false or a number")}},
        {"**** lastImageJD=nan lastImageJD=inf",
         [](TargetConfig&) {},
         {QStringLiteral("Invalid item lastImageJD=nan - not a number"),
          QStringLiteral("Invalid item lastImageJD=inf - not a number")}},
    };
    for (const ConfigCase& c : cases) {
        view.messages.clear();
        TargetConfig config = presets();
        TargetConfig expected = presets();
        c.expect(expected);
        core.parseTargetConfig(QString::fromLatin1(c.line), config);
        EXPECT_TRUE(sameConfig(config, expected)) << c.line;
        QStringList messages;
        for (const QString& m : c.messages)
            messages << m + QStringLiteral(": \"") + QString::fromLatin1(c.line) + QLatin1Char('"');
        EXPECT_EQ(view.messages, messages) << c.line;
    }
}

TEST_F(TargetParsing, ReadsATargetsOwnLimits)
{
    const auto limits = [](float minAltitude, float maxAirmass, int16_t start, int16_t end) {
        return TargetLimits{minAltitude, maxAirmass, start, end};
    };
    constexpr float none = TargetLimits::noMinAltitude;
    constexpr float noAirmass = TargetLimits::noMaxAirmass;
    const struct
    {
        const char* line;
        TargetLimits limits;
        QStringList messages;
    } cases[] = {
        {"**** binning=2", {}, {}},
        // A window may run past midnight.
        {"**** minAltitude=30 maxAirmass=1.8 window=22:30-02:00", limits(30, 1.8f, 22 * 60 + 30, 2 * 60), {}},
        {"**** minAltitude=-5 window=0:00-23:59", limits(-5, noAirmass, 0, 23 * 60 + 59), {}},
        {"**** minAltitude=91 maxAirmass=0.9 window=22:00 window=24:00-02:00 window=20:00-20:00 maxAirmass=2",
         limits(none, 2, -1, -1),
         {QStringLiteral("Invalid item minAltitude=91 - not an altitude from -90 to 90"),
          QStringLiteral("Invalid item maxAirmass=0.9 - not an airmass of 1 or more"),
          QStringLiteral("Invalid item window=22:00 - not a window of local time HH:MM-HH:MM"),
          QStringLiteral("Invalid item window=24:00-02:00 - not a window of local time HH:MM-HH:MM"),
          QStringLiteral("Invalid item window=20:00-20:00 - not a window of local time HH:MM-HH:MM")}},
        // The stars named for a lightcurve are places, a magnitude and a label optional.
        {"**** comp=22:29:40,+58:25:10,6.25,AB1 comp=22.5,58.2 check=1:00:00,-5,,000-BBC-123", {}, {}},
        {"**** comp=24:00:00,10 check=1,91 comp=1,2,bright comp=1",
         {},
         {QStringLiteral("Invalid item comp=24:00:00,10 - not a place RA,DEC[,MAG[,LABEL]]"),
          QStringLiteral("Invalid item check=1,91 - not a place RA,DEC[,MAG[,LABEL]]"),
          QStringLiteral("Invalid item comp=1,2,bright - not a place RA,DEC[,MAG[,LABEL]]"),
          QStringLiteral("Invalid item comp=1 - not a place RA,DEC[,MAG[,LABEL]]")}},
    };
    for (const auto& c : cases) {
        view.messages.clear();
        TargetConfig config = presets();
        TargetLimits read;
        core.parseTargetConfig(QString::fromLatin1(c.line), config, read);
        EXPECT_TRUE(read == c.limits) << c.line;
        QStringList messages;
        for (const QString& m : c.messages)
            messages << m + QStringLiteral(": \"") + QString::fromLatin1(c.line) + QLatin1Char('"');
        EXPECT_EQ(view.messages, messages) << c.line;
        // Read without limits the items are known all the same.
        view.messages.clear();
        core.parseTargetConfig(QString::fromLatin1(c.line), config);
        EXPECT_EQ(view.messages, messages) << c.line;
    }
}

} // namespace
} // namespace kestrove
