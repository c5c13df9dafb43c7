#include "report/NightFiles.h"
#include "report/NightReasons.h"

#include <QTimeZone>
#include <gtest/gtest.h>

#include <vector>

using namespace kestrove;

namespace {

// The preview's summary gives each kind's typical winning score, so that weights can be set from
// it: the median of the best score a kind offered, over the passes it offered one.
TEST(KindScores, TheSummaryGivesEachKindsMedianBest)
{
    struct Offer
    {
        SurveyKind kind;
        float score;
        float weight;
    };
    struct Case
    {
        const char* name;
        std::vector<Offer> offers; // one a pass and kind, in order
        QString line;              // expected in the summary; empty: no such line
    };
    const Case cases[] = {
        {"nothing offered", {}, {}},
        {"an odd count",
         {{SurveyKind::SNe, 70, 100}, {SurveyKind::SNe, 90, 100}, {SurveyKind::SNe, 75.5, 100}},
         "Typical winning score per kind (the median of its best target's score): SNe 75.5 (weighted 7550, 3 "
         "passes)"},
        {"two kinds, an even count",
         {{SurveyKind::SLC, 0.8f, 100},
          {SurveyKind::SNe, 60, 1},
          {SurveyKind::SLC, 0.9f, 100},
          {SurveyKind::SNe, 62, 1}},
         "Typical winning score per kind (the median of its best target's score): SNe 61.0 (weighted 61.0, 2 "
         "passes), SLC 0.850 (weighted 85.0, 2 passes)"},
    };
    for (const Case& c : cases) {
        NightReasons reasons;
        for (const Offer& offer : c.offers)
            reasons.kindBest(offer.kind, QStringLiteral("T\t1\t2"), offer.score, offer.score * offer.weight);
        NightReport report;
        report.zone = QTimeZone::utc();
        report.kindScores = reasons.kindScores();

        const QStringList summary = nightSummary(report).split(u'\n');
        const QStringList typical = summary.filter(QStringLiteral("Typical winning score"));
        EXPECT_EQ(typical, c.line.isEmpty() ? QStringList() : QStringList{c.line}) << c.name;
    }
}

} // namespace
