#include "SelectionFixture.h"

namespace kestrove::test {
namespace {

const double minuteDays = 0.0006944444;

class SelectMPSTest : public SelectionTest
{
protected:
    SelectMPSTest()
    {
        core.firstPass = true;
        core.settings.imagesMPS = 3;
        core.settings.intervalMPS = 30;
        sky.siderealTime = 23.5;
    }

    bool select() { return core.selectMPS(bestScore, bestTarget); }

    // Field files that createMPSFiles finds up to date, one per list of entry lines.
    void writeFields(const std::vector<QStringList>& files)
    {
        QStringList areas;
        for (size_t k = 1; k <= files.size(); ++k) {
            const QString area = QStringLiteral("%1 0 %1 0").arg(k);
            areas << area;
            writeProgramFile(QStringLiteral("MPSfov%1.txt").arg(k), QStringList{area} + files[k - 1]);
        }
        writeProgramFile(QStringLiteral("MPSTargets.txt"), areas);
    }

    QString lastImage(double daysAgo) const
    {
        return QStringLiteral(" lastImageJD=") + doubleText(nowJD() - daysAgo);
    }
};

TEST_F(SelectMPSTest, NoAreasChooseNothing)
{
    writeProgramFile(QStringLiteral("MPSTargets.txt"), {});
    bestScore = 7;
    EXPECT_FALSE(select());
    EXPECT_EQ(bestScore, -10000);
    EXPECT_EQ(bestTarget, QStringLiteral("untouched"));
    EXPECT_EQ(view.statuses, QStringList({"Creating MPS files", "Selecting MPS target"}));
}

TEST_F(SelectMPSTest, NewFieldIsDueWithTheFactorForLongAgo)
{
    writeFields({{targetLine("1!f", 1, 0), "**** "}});
    EXPECT_TRUE(select());
    EXPECT_EQ(bestScore, 55);
    EXPECT_EQ(logText(),
              crlfText({"MPS Target: 1!f RA=1, DEC=0", "  Score=55 Elev=45 slewTime=0 minsSinceLast=30",
                        "  >>> New bestscore = 55"}));
}

TEST_F(SelectMPSTest, NewFieldIsJudgedAtTheEndOfItsSetTooOnTheUnreducedSiderealTime)
{
    writeFields({{targetLine("1!f", 1, 0), "**** "}});
    select();
    ASSERT_EQ(sky.newCTAsked.size(), 1u);
    EXPECT_EQ(sky.newCTAsked[0].first, 40);
    // 23.5 h + (3 − 1) × 30 / 60 h + 5 / 60 h, beyond 24 h.
    EXPECT_DOUBLE_EQ(sky.newCTAsked[0].second, 23.5 + 1 + 5.0 / 60);
    // The transform for now is made after it and is the one left.
    EXPECT_EQ(static_cast<FakeTransform&>(*core.coordTransform).origin, QStringLiteral("now"));
}

TEST_F(SelectMPSTest, SingleImageSetsNeedFiveMinutes)
{
    core.settings.imagesMPS = 1;
    writeFields({{targetLine("1!f", 1, 0), "**** "}});
    select();
    ASSERT_EQ(sky.newCTAsked.size(), 1u);
    EXPECT_DOUBLE_EQ(sky.newCTAsked[0].second, 23.5 + 5.0 / 60);
}

TEST_F(SelectMPSTest, NewFieldThatSetsBeforeItsSetEndsIsRejectedButAStartedOneIsNot)
{
    sky.later[1] = {3, 250};
    sky.later[2] = {3, 250};
    sky.now[1] = {45, 200};
    sky.now[2] = {45, 200};
    writeFields({{targetLine("1!new", 1, 0), "**** ", targetLine("1!started", 2, 0),
                  QStringLiteral("**** imageCount=1") + lastImage(31 * minuteDays)}});
    EXPECT_TRUE(select());
    EXPECT_EQ(bestTarget, targetLine("1!started", 2, 0));
    EXPECT_EQ(sky.newCTAsked.size(), 1u); // only for the new field
    EXPECT_EQ(sky.hereAndNowTransforms, 2);
    EXPECT_EQ(logText().find("1!new"), std::string::npos);
}

TEST_F(SelectMPSTest, NewFieldNotObservableNowIsRejected)
{
    sky.now[1] = {3, 200};
    writeFields({{targetLine("1!f", 1, 0), "**** "}});
    EXPECT_FALSE(select());
    EXPECT_EQ(logText(), "");
}

struct SetCase
{
    const char* what;
    int imageCount;
    double daysAgo;
    float score; // before pointing, elevation 45 (50 points)
};

class SetLogicTest : public SelectMPSTest, public ::testing::WithParamInterface<SetCase>
{
};

TEST_P(SetLogicTest, Factors)
{
    const SetCase c = GetParam();
    writeFields({{targetLine("1!f", 1, 0),
                  QStringLiteral("**** imageCount=%1").arg(c.imageCount) + lastImage(c.daysAgo)}});
    const bool chosen = select();
    EXPECT_EQ(chosen, c.score > -10000) << c.what;
    // As the file holds it: 15 significant digits.
    const double lastJD = *parseNumber(doubleText(nowJD() - c.daysAgo));
    const double minutes = c.daysAgo > 0.5 ? 30 : (nowJD() - lastJD) / minuteDays;
    EXPECT_EQ(
        logText(),
        crlfText(QStringList{"MPS Target: 1!f RA=1, DEC=0",
                             "  Score=" + singleText(c.score) +
                                 " Elev=45 slewTime=0 minsSinceLast=" + doubleText(minutes)} +
                 (chosen ? QStringList{"  >>> New bestscore = " + singleText(c.score)} : QStringList{})))
        << c.what;
}

INSTANTIATE_TEST_SUITE_P(MPS, SetLogicTest,
                         ::testing::Values(SetCase{"second image due", 1, 30.0001 * minuteDays, 150},
                                           SetCase{"second image a minute early", 1, 29 * minuteDays, -10000},
                                           SetCase{"third image due", 2, 45 * minuteDays, 75},
                                           SetCase{"third image early", 2, 10 * minuteDays, -10000},
                                           SetCase{"second image after 13 hours", 1, 13 / 24.0, 150},
                                           SetCase{"second image after two days", 1, 2, 165},
                                           SetCase{"new field after two days", 0, 2, 55},
                                           SetCase{"new field imaged an hour ago", 0, 1 / 24.0, 50}));

TEST_F(SelectMPSTest, CompleteSetsAreRejectedSilently)
{
    writeFields({{targetLine("1!done", 1, 0), "**** imageCount=3" + lastImage(5), targetLine("1!over", 2, 0),
                  "**** imageCount=4"}});
    EXPECT_FALSE(select());
    EXPECT_EQ(logText(), "");
}

TEST_F(SelectMPSTest, SingleImageSetsNeverChooseAFieldAgain)
{
    core.settings.imagesMPS = 1;
    writeFields({{targetLine("1!f", 1, 0), "**** imageCount=1" + lastImage(5)}});
    EXPECT_FALSE(select());
}

TEST_F(SelectMPSTest, BestComesFromAnyFileAndTheAreaLineIsNeverScored)
{
    sky.now[2] = {72, 180};
    writeFields({{targetLine("1!a", 1, 0), "**** "}, {targetLine("2!b", 2, 0), "**** "}});
    EXPECT_TRUE(select());
    EXPECT_EQ(bestTarget, targetLine("2!b", 2, 0));
    EXPECT_EQ(bestScore, 88);
    EXPECT_TRUE(view.messages.isEmpty());
}

TEST_F(SelectMPSTest, StopEndsTheFileAndTheRestAreOpenedButNotRead)
{
    writeFields({{targetLine("1!a", 1, 0), "**** ", targetLine("1!b", 2, 0), "**** "},
                 {targetLine("2!c", 3, 0), "**** "},
                 {targetLine("3!d", 4, 0), "**** "}});
    view.onProcessEvents = [&] {
        // Dispatches: 3 while createMPSFiles reads its areas, then one per line of file 1.
        if (view.eventDispatches == 3 + 4)
            core.stopRequested = true;
    };
    EXPECT_TRUE(select());
    EXPECT_EQ(bestTarget, targetLine("1!a", 1, 0));
    const auto first = usesOf(QStringLiteral("MPSfov1.txt"));
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.back().linesRead, 3);
    for (const char* name : {"MPSfov2.txt", "MPSfov3.txt"}) {
        const auto uses = usesOf(QString::fromLatin1(name));
        ASSERT_FALSE(uses.empty()) << name;
        EXPECT_EQ(uses.back().linesRead, 0) << name;
        EXPECT_TRUE(uses.back().closed) << name;
    }
}

TEST_F(SelectMPSTest, PointingAdjustmentComesBeforeTheNotDueFloor)
{
    core.firstPass = false;
    sky.mountRA = 6;
    writeFields({{targetLine("1!a", 0, 0), "**** imageCount=1" + lastImage(31 * minuteDays)}});
    EXPECT_TRUE(select());
    EXPECT_EQ(bestScore, 150 - 23);
}

} // namespace
} // namespace kestrove::test
