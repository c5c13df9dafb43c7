#include "core/SimSurvey.h"
#include "report/PolicyComparison.h"

#include <gtest/gtest.h>

namespace kestrove::test {
namespace {

QString samplesFolder()
{
    return QFileInfo(QStringLiteral(__FILE__)).dir().filePath(QStringLiteral("../../samples"));
}

// The samples' month from 7 December 2024 at the default site of a new observatory.ini, every kind
// enabled at weight 100.
class PolicyMonth : public ::testing::Test
{
protected:
    PolicyMonth()
    {
        for (const QString& name : QDir(samplesFolder()).entryList(QDir::Files))
            QFile::copy(QDir(samplesFolder()).filePath(name), sim.programFile(name));
        sim.saveSettings([](SurveySettings& s) { s.SNeEnabled = s.MPSEnabled = s.SLCEnabled = 1; });
        observatoryFolder = sim.programFolder + QStringLiteral("observatory");
    }

    PolicyFigures month(const SelectionSettings& selection)
    {
        ObservatorySettings settings = readObservatorySettings(observatoryFolder);
        settings.selection = selection;
        writeObservatorySettings(observatoryFolder, settings);
        MonthRequest request;
        request.first.programFolder = sim.programFolder;
        request.first.observatoryFolder = observatoryFolder;
        request.first.night = QDate(2024, 12, 7);
        request.nights = 30;
        return policyFigures(runMonthPreview(request));
    }

    SimSurvey sim;
    QString observatoryFolder;
};

const SurveyKind enabled[] = {SurveyKind::SNe, SurveyKind::MPS, SurveyKind::SLC};

TEST_F(PolicyMonth, TheBalancedPolicyGivesEveryKindItsDueAtEqualWeights)
{
    const PolicyFigures balanced = month({SelectionPolicy::Balanced, {}});
    ASSERT_EQ(balanced.policy, SelectionPolicy::Balanced);
    for (const SurveyKind kind : enabled) {
        ASSERT_TRUE(balanced.shareGot(kind)) << kindText(kind).toStdString();
        EXPECT_GE(*balanced.shareGot(kind), 15) << kindText(kind).toStdString();
    }
    EXPECT_EQ(balanced.earlyVisits, 0);
    EXPECT_EQ(balanced.negativePlans, 0);
    ASSERT_TRUE(balanced.medianAirmass[slotOf(SurveyKind::SNe)]);
    EXPECT_LT(*balanced.medianAirmass[slotOf(SurveyKind::SNe)], 1.6);
}

TEST_F(PolicyMonth, SharesAreKeptWithinFivePoints)
{
    const PolicyFigures shared = month({SelectionPolicy::Balanced, {{"SNe", 50}, {"SLC", 30}, {"MPS", 20}}});
    for (const SurveyKind kind : enabled) {
        ASSERT_TRUE(shared.shareGot(kind) && shared.shareAsked(kind)) << kindText(kind).toStdString();
        EXPECT_NEAR(*shared.shareGot(kind), *shared.shareAsked(kind), 5) << kindText(kind).toStdString();
    }
    EXPECT_EQ(shared.earlyVisits, 0);
}

} // namespace
} // namespace kestrove::test
