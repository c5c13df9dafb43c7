#include "database/ObservationDb.h"
#include "imaging/FitsFile.h"
#include "imaging/MasterFrame.h"
#include "report/AavsoReport.h"
#include "report/Discoveries.h"
#include "report/FrameLines.h"
#include "report/NightFiles.h"
#include "report/Preview.h"

#include <QTemporaryDir>

#include <cmath>
#include <gtest/gtest.h>

namespace kestrove::test {
namespace {

database::FrameRecord frame(const QDateTime& utc, int stars, double hfr, const QString& rejected = {})
{
    database::FrameRecord f;
    f.target = QStringLiteral("M51");
    f.kind = QStringLiteral("SNe");
    f.utc = utc;
    f.filter = QStringLiteral("R");
    f.exposure = 60;
    f.measurement.stars = stars;
    f.measurement.medianHfr = hfr;
    f.measurement.background = 812;
    f.accepted = rejected.isEmpty();
    f.reason = rejected;
    return f;
}

// The morning report reads the night's frames, noon to noon at the site, from the database the
// observatory keeps, and says how many were accepted and why the others were not.
TEST(MorningReport, HasTheNightsFramesWithTheirGrades)
{
    QTemporaryDir dir;
    ObservatorySettings settings = observatoryDefaults(dir.path());
    settings.timeZone = QStringLiteral("UTC");
    settings.logDir = dir.filePath(QStringLiteral("Logs"));
    const ResolvedObservatory observatory = resolveObservatory(settings);
    const QDate night(2024, 4, 13);

    // No database yet: a report without frames, and no file made by reading.
    NightReport report = observedNight(observatory, night);
    EXPECT_TRUE(report.frames.empty());
    EXPECT_FALSE(QFile::exists(database::observationsPath(settings.logDir)));

    const auto utc = [](int day, int hour, int minute) {
        return QDateTime(QDate(2024, 4, day), QTime(hour, minute), QTimeZone::utc());
    };
    {
        database::ObservationDb db(database::observationsPath(settings.logDir));
        for (const database::FrameRecord& f :
             {frame(utc(13, 11, 0), 90, 2.5), // the night before, ended at noon
              frame(utc(13, 21, 0), 200, 2.0), frame(utc(13, 21, 2), 210, 2.2),
              frame(utc(13, 23, 41), 3, 0, QStringLiteral("3 stars where 80 expected")),
              frame(utc(14, 2, 0), 190, 2.4), frame(utc(14, 12, 0), 90, 2.5)}) // the next night
            db.addFrame(f);
    }
    report = observedNight(observatory, night);
    ASSERT_EQ(report.frames.size(), 4u);
    EXPECT_EQ(report.frames.front().utc, utc(13, 21, 0));

    const QStringList summary = nightSummary(report).split(u'\n');
    EXPECT_TRUE(summary.contains(QStringLiteral(
        "Frames: 4 taken, 3 accepted, 1 rejected; accepted frames' median: 200 stars, HFR 2.20 px")))
        << summary.join(u'\n').toStdString();
    EXPECT_TRUE(summary.contains(QStringLiteral("Rejected: M51 R 60 s at 23:41: 3 stars, HFR 0.00 px, "
                                                "background 812, rejected: 3 stars where 80 expected")))
        << summary.join(u'\n').toStdString();
    const QStringList csv = QString::fromUtf8(framesCsv(report.frames, report.zone)).split(u'\n');
    ASSERT_EQ(csv.size(), 1 + 4 + 1); // the header, the frames, the final line end
    EXPECT_TRUE(csv[3].contains(QStringLiteral(",rejected,3 stars where 80 expected,")))
        << csv[3].toStdString();
    EXPECT_TRUE(csv[1].contains(QStringLiteral(",accepted,,"))) << csv[1].toStdString();
}

// The masters made in the night and those its calibrated frames name in their headers, with how
// many frames each calibrated; a frame without a calibrated copy names none.
TEST(MorningReport, ListsTheMastersMadeAndUsed)
{
    QTemporaryDir dir;
    ObservatorySettings settings = observatoryDefaults(dir.path());
    settings.timeZone = QStringLiteral("UTC");
    settings.logDir = dir.filePath(QStringLiteral("Logs"));
    const ResolvedObservatory observatory = resolveObservatory(settings);
    const auto utc = [](int hour) { return QDateTime(QDate(2024, 4, 14), QTime(hour, 0), QTimeZone::utc()); };
    {
        database::ObservationDb db(database::observationsPath(settings.logDir));
        for (int i = 0; i < 3; ++i) {
            database::FrameRecord f = frame(utc(1 + i), 200, 2.0);
            f.path = dir.filePath(QStringLiteral("M51-%1.fits").arg(i));
            db.addFrame(f);
            if (i == 2)
                continue;
            imaging::writeFitsImage(
                imaging::calibratedPath(f.path), {2, 2, std::vector<float>(4, 1.0f), std::nullopt},
                {{QStringLiteral("DARKFILE"), QStringLiteral("dark-60s-bin1.fits"), QString()},
                 {QStringLiteral("FLATFILE"), QStringLiteral("flat-bin1-R.fits"), QString()}});
        }
        database::MasterRecord dark;
        dark.setting = {imaging::MasterKind::Dark, 60, 1, -10.0, {}};
        dark.utc = utc(5);
        dark.frames = 10;
        dark.path = dir.filePath(QStringLiteral("Calibration/dark-60s-bin1.fits"));
        db.addMaster(dark);
    }
    const QStringList summary = nightSummary(observedNight(observatory, QDate(2024, 4, 13))).split(u'\n');
    for (const char* line :
         {"Master made: dark 60 s bin 1 at -10 C, 10 frames: dark-60s-bin1.fits",
          "Master used: dark-60s-bin1.fits by 2 frames", "Master used: flat-bin1-R.fits by 2 frames"})
        EXPECT_TRUE(summary.contains(QString::fromLatin1(line))) << line << "\n"
                                                                 << summary.join(u'\n').toStdString();
}

// The night's lightcurve points, noon to noon, come to the morning report, and its AAVSO extended
// file is made out to the observer code of the settings.
TEST(MorningReport, HasTheNightsAavsoFile)
{
    QTemporaryDir dir;
    ObservatorySettings settings = observatoryDefaults(dir.path());
    settings.timeZone = QStringLiteral("UTC");
    settings.logDir = dir.filePath(QStringLiteral("Logs"));
    settings.aavsoCode = QStringLiteral("XYZA");
    const ResolvedObservatory observatory = resolveObservatory(settings);
    {
        database::ObservationDb db(database::observationsPath(settings.logDir));
        for (const char* when : {"2024-04-13T11:00:00Z", "2024-04-13T21:00:30Z", "2024-04-14T02:00:30Z"}) {
            database::LightcurvePoint p;
            p.target = QStringLiteral("RR Lyr");
            p.filter = QStringLiteral("Green");
            p.utc = QDateTime::fromString(QString::fromLatin1(when), Qt::ISODate);
            p.bjdTdb = 2460414.3800;
            p.magnitude = 0.123;
            p.error = 0.004;
            p.airmass = 1.2;
            p.comparisons = QStringLiteral("J192540.00+424700.0;J192600.00+424800.0");
            p.check = QStringLiteral("J192500.00+424600.0");
            p.checkMagnitude = -0.25;
            db.addLightcurvePoint(p);
        }
    }
    const QDate night(2024, 4, 13);
    const NightReport report = observedNight(observatory, night);
    ASSERT_EQ(report.lightcurve.size(), 2u);
    const QList<QByteArray> lines = nightAavsoFile(report.lightcurve, report.aavsoCode).split('\n');
    EXPECT_TRUE(lines.contains("#TYPE=EXTENDED"));
    EXPECT_TRUE(lines.contains("#OBSCODE=XYZA"));
    int observations = 0;
    for (const QByteArray& line : lines)
        if (line.startsWith("RR Lyr,")) {
            ++observations;
            EXPECT_TRUE(line.contains(",DIF,ENSEMBLE,na,J192500.00+424600.0,-0.250,1.200,"))
                << line.constData();
        }
    EXPECT_EQ(observations, 2);

    EXPECT_TRUE(observedNight(observatory, night.addDays(2)).lightcurve.empty());
}

// The report solves the night again from each star's instrumental magnitudes: the comparison that
// brightened over the night is dropped and the target, steady against the others, comes out steady.
TEST(MorningReport, SolvesTheNightAgainWithoutTheComparisonThatVaried)
{
    QTemporaryDir dir;
    ObservatorySettings settings = observatoryDefaults(dir.path());
    settings.timeZone = QStringLiteral("UTC");
    settings.logDir = dir.filePath(QStringLiteral("Logs"));
    const ResolvedObservatory observatory = resolveObservatory(settings);
    using Role = database::InstrumentalMagnitude::Role;
    {
        database::ObservationDb db(database::observationsPath(settings.logDir));
        for (int f = 0; f < 30; ++f) {
            database::LightcurvePoint p;
            p.target = QStringLiteral("RR Lyr");
            p.filter = QStringLiteral("V");
            p.utc = QDateTime(QDate(2024, 4, 13), QTime(21, 0), QTimeZone::utc()).addSecs(300 * f);
            p.bjdTdb = 2460414.38 + f / 288.0;
            const double zero = 0.1 * std::sin(f / 4.0) + 0.001 * ((f * 7) % 5); // cloud
            p.instrumental.push_back({Role::Target, p.target, -8 + zero, 0.003, {}});
            for (int c = 0; c < 4; ++c)
                p.instrumental.push_back({Role::Comparison, QStringLiteral("C%1").arg(c),
                                          -8.5 + 0.2 * c + zero - (c == 2 ? 0.3 * f / 29 : 0), 0.003, 0.0});
            // As the frame saw it: against every comparison, the varying one too.
            p.magnitude = 0.5 - 0.3 * f / 29 / 4;
            p.error = 0.004;
            db.addLightcurvePoint(p);
        }
    }
    const NightReport report = observedNight(observatory, QDate(2024, 4, 13));
    ASSERT_EQ(report.lightcurve.size(), 30u);
    EXPECT_TRUE(report.messages.filter(QStringLiteral("comparison C2 dropped")).size() == 1)
        << report.messages.join(u'\n').toStdString();
    for (const database::LightcurvePoint& p : report.lightcurve) {
        EXPECT_NEAR(p.magnitude, report.lightcurve.front().magnitude, 0.01);
        EXPECT_EQ(p.comparisons, QStringLiteral("C0;C1;C3"));
    }
}

// The night's candidates and movers come to the morning report with where their cut-outs are, and
// the movers' observations make one block for the Minor Planet Center under one header.
TEST(MorningReport, ListsTheNightsCandidatesAndMovers)
{
    QTemporaryDir dir;
    ObservatorySettings settings = observatoryDefaults(dir.path());
    settings.timeZone = QStringLiteral("UTC");
    settings.logDir = dir.filePath(QStringLiteral("Logs"));
    const ResolvedObservatory observatory = resolveObservatory(settings);
    const auto utc = [](const char* text) {
        return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
    };
    {
        database::ObservationDb db(database::observationsPath(settings.logDir));
        database::CandidateRecord c;
        c.target = QStringLiteral("NGC 4414");
        c.utc = utc("2024-04-13T23:41:00Z");
        c.ra = 186.612917;
        c.dec = 31.223333;
        c.magnitude = 15.214;
        c.snr = 12.34;
        c.frameIds = {4, 5, 6};
        c.cutouts = dir.filePath(QStringLiteral("Logs/discoveries/NGC4414-1"));
        db.addCandidate(c);
        c.utc = utc("2024-04-15T00:00:00Z"); // another night's
        db.addCandidate(c);
        for (const char* designation : {"KV10401", "KV10402"}) {
            database::MoverRecord m;
            m.target = QStringLiteral("MPS field 7");
            m.utc = utc("2024-04-14T01:12:00Z");
            m.rate = 5.021;
            m.direction = 92.14;
            m.magnitude = 17.4;
            m.designation = QString::fromLatin1(designation);
            m.positions = {{m.utc, 63.038792, 20.184806, 17.4}, {m.utc.addSecs(60), 63.04, 20.18, 17.5}};
            m.mpcReport = QStringLiteral("COD 500\nNET Tycho-2\n%1\n%2\n")
                              .arg(QString(designation).leftJustified(80, u'1'),
                                   QString(designation).leftJustified(80, u'2'));
            db.addMover(m);
        }
    }
    const NightReport report = observedNight(observatory, QDate(2024, 4, 13));
    const QString summary = nightSummary(report);
    for (const QString& line :
         {QStringLiteral(
              "Candidate: NGC 4414 at 23:41: 12:26:27.10 +31:13:24.00, magnitude 15.21, S/N 12.3, in 3 "
              "frames, new"),
          QStringLiteral("  cut-outs: %1-reference.png, -new.png, -difference.png")
              .arg(report.discoveries.candidates[0].cutouts),
          QStringLiteral("Movers: 2, their observations in mpc.txt to check before sending"),
          QStringLiteral(
              "Mover: KV10401 in MPS field 7 at 01:12: 5.02\"/min towards 92.1 degrees, magnitude 17.40, 2 "
              "positions from 04:12:09.31 +20:11:05.30")})
        EXPECT_TRUE(summary.split(u'\n').contains(line)) << line.toStdString() << "\nin\n"
                                                         << summary.toStdString();
    EXPECT_EQ(report.discoveries.candidates.size(), 1u);
    const QList<QByteArray> mpc = mpcFile(report.discoveries.movers).split('\n');
    ASSERT_EQ(mpc.size(), 2 + 4 + 1) << mpcFile(report.discoveries.movers).constData();
    EXPECT_EQ(mpc[0], "COD 500");
    EXPECT_TRUE(mpc[5].startsWith("KV10402")) << mpc[5].constData();
}

} // namespace
} // namespace kestrove::test
