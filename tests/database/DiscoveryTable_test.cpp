#include "database/ObservationDb.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kestrove::database;

namespace {

QDateTime utc(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
}

qint64 acceptedFrame(ObservationDb& db, qint64 planId, const char* when)
{
    FrameRecord f;
    f.planId = planId;
    f.target = QStringLiteral("NGC 2903");
    f.kind = QStringLiteral("SNe");
    f.utc = utc(when);
    f.filter = QStringLiteral("L");
    f.exposure = 60;
    f.path = QStringLiteral("/images/NGC 2903.fits");
    f.measurement = {80, 2.3, 800, 20, std::nullopt};
    f.accepted = true;
    return db.addFrame(f);
}

} // namespace

// What the search finds is kept whole and read back by the night, by a reader too; a person's
// verdict on a candidate sticks to it.
TEST(DiscoveryTable, SourcesCandidatesAndMoversAreKeptAndReadByTheNight)
{
    QTemporaryDir dir;
    const QString path = observationsPath(dir.path());
    qint64 candidateId = 0;
    {
        ObservationDb db(path);
        const qint64 plan =
            db.startPlan(QStringLiteral("SNe"), QStringLiteral("NGC 2903"), utc("2026-12-09T01:00:00Z"));
        const qint64 first = acceptedFrame(db, plan, "2026-12-09T01:00:00Z");
        const qint64 second = acceptedFrame(db, plan, "2026-12-09T01:02:00Z");
        DetectionRecord star{first, 143.04, 21.5, 100.5, 200.25, 5000, 50,
                             100,   14.2,   3.1,  false, false,  true};
        DetectionRecord faint{first, 143.05,       21.51, 300,   310,  80,   20,
                              4,     std::nullopt, 2.9,   false, true, false};
        db.addDetections(first, {star, faint});

        CandidateRecord c;
        c.planId = plan;
        c.target = QStringLiteral("NGC 2903");
        c.utc = utc("2026-12-09T01:00:00Z");
        c.ra = 143.0421;
        c.dec = 21.5012;
        c.magnitude = 16.2;
        c.snr = 25;
        c.frameIds = {first, second};
        c.cutouts = QStringLiteral("/log/discovery/NGC 2903-1");
        candidateId = db.addCandidate(c);
        c.utc = utc("2026-12-10T01:00:00Z"); // the next night's
        c.magnitude.reset();
        db.addCandidate(c);

        MoverRecord m;
        m.planId = plan;
        m.target = QStringLiteral("MPS 12");
        m.utc = utc("2026-12-09T03:00:00Z");
        m.rate = 5.02;
        m.direction = 91.5;
        m.residual = 0.4;
        m.magnitude = 17.1;
        m.positions = {{utc("2026-12-09T03:00:00Z"), 50.1, 10.2, 17.0},
                       {utc("2026-12-09T03:01:00.5Z"), 50.1014, 10.2, std::nullopt}};
        m.designation = QStringLiteral("KV343A");
        m.mpcReport = QStringLiteral("COD 999\n");
        db.addMover(m);

        const std::vector<DetectionRecord> kept = db.detections(first);
        ASSERT_EQ(kept.size(), 2u);
        EXPECT_EQ(kept[0].y, 200.25);
        EXPECT_TRUE(kept[0].blended && !kept[0].atEdge);
        EXPECT_EQ(kept[0].magnitude, 14.2);
        EXPECT_FALSE(kept[1].magnitude);
        EXPECT_TRUE(kept[1].atEdge);
        EXPECT_TRUE(db.detections(second).empty());

        EXPECT_TRUE(db.markCandidate(candidateId, CandidateStatus::Bogus));
        EXPECT_FALSE(db.markCandidate(candidateId + 100, CandidateStatus::Real));
        EXPECT_EQ(db.candidatesOf(QStringLiteral("NGC 2903")).size(), 2u);
        EXPECT_TRUE(db.candidatesOf(QStringLiteral("NGC 4565")).empty());
    }
    const ObservationDb reader(path, ObservationDb::Access::Read);
    const std::vector<CandidateRecord> night =
        reader.candidates(utc("2026-12-08T12:00:00Z"), utc("2026-12-09T12:00:00Z"));
    ASSERT_EQ(night.size(), 1u);
    EXPECT_EQ(night[0].id, candidateId);
    EXPECT_EQ(night[0].status, CandidateStatus::Bogus);
    EXPECT_EQ(night[0].frameIds.size(), 2);
    EXPECT_EQ(night[0].magnitude, 16.2);
    EXPECT_EQ(night[0].cutouts, QStringLiteral("/log/discovery/NGC 2903-1"));
    const std::vector<MoverRecord> movers =
        reader.movers(utc("2026-12-08T12:00:00Z"), utc("2026-12-09T12:00:00Z"));
    ASSERT_EQ(movers.size(), 1u);
    ASSERT_EQ(movers[0].positions.size(), 2u);
    EXPECT_EQ(movers[0].positions[1].utc, utc("2026-12-09T03:01:00.5Z"));
    EXPECT_DOUBLE_EQ(movers[0].positions[1].ra, 50.1014);
    EXPECT_EQ(movers[0].positions[0].magnitude, 17.0);
    EXPECT_FALSE(movers[0].positions[1].magnitude);
    EXPECT_EQ(movers[0].rate, 5.02);
    EXPECT_EQ(movers[0].designation, QStringLiteral("KV343A"));
    EXPECT_EQ(movers[0].mpcReport, QStringLiteral("COD 999\n"));
}

TEST(DiscoveryTable, StatusesReadAsWritten)
{
    for (const CandidateStatus s : {CandidateStatus::New, CandidateStatus::Real, CandidateStatus::Bogus})
        EXPECT_EQ(statusOf(statusText(s)), s);
    EXPECT_EQ(statusOf(QStringLiteral(" Bogus ")), CandidateStatus::Bogus);
    EXPECT_FALSE(statusOf(QStringLiteral("maybe")));
}
