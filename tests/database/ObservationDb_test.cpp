#include "database/DatabaseError.h"
#include "database/ObservationDb.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

using namespace kestrove::database;
using kestrove::imaging::FrameMeasurement;
using kestrove::imaging::SolvedCentre;

namespace {

QDateTime utc(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
}

FrameRecord frame(qint64 planId, const QString& target, const QString& filter, const char* when,
                  bool accepted, int stars = 80)
{
    FrameRecord f;
    f.planId = planId;
    f.target = target;
    f.kind = QStringLiteral("SNe");
    f.utc = utc(when);
    f.filter = filter;
    f.exposure = 60;
    f.path = QStringLiteral("/images/%1.fits").arg(target);
    f.measurement = {stars, 2.3, 800, 20, std::nullopt};
    f.accepted = accepted;
    f.reason = accepted ? QString() : QStringLiteral("3 stars where 80 expected");
    return f;
}

// Runs a pragma or query through a connection of the test's own; its first value, if any.
QVariant scalar(const QString& path, const QString& sql)
{
    QVariant value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("test-probe"));
        db.setDatabaseName(path);
        EXPECT_TRUE(db.open());
        QSqlQuery q(db);
        EXPECT_TRUE(q.exec(sql)) << sql.toStdString();
        if (q.next())
            value = q.value(0);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("test-probe"));
    return value;
}

} // namespace

TEST(ObservationDb, FramesAndPlansComeBackAsWritten)
{
    QTemporaryDir dir;
    ObservationDb db(observationsPath(dir.filePath(QStringLiteral("Logs"))));
    const qint64 plan =
        db.startPlan(QStringLiteral("SNe"), QStringLiteral("NGC 2403"), utc("2024-04-14T21:10:00Z"));

    FrameRecord solved =
        frame(plan, QStringLiteral("NGC 2403"), QStringLiteral("L"), "2024-04-14T21:11:02.250Z", true);
    solved.measurement.solved = SolvedCentre{114.2142, 65.6026, 41.5};
    solved.binning = 2;
    solved.exposure = 12.5;
    FrameRecord rejected =
        frame(plan, QStringLiteral("NGC 2403"), QStringLiteral("L"), "2024-04-14T21:12:10Z", false, 3);
    rejected.measurement.medianHfr = 0;
    FrameRecord outside =
        frame(0, QStringLiteral("SN 2024ggi – Ω"), QStringLiteral("R"), "2024-04-14T21:20:00Z", true);
    outside.kind = QStringLiteral("test");
    outside.path = QStringLiteral("/images/it's, \"quoted\".fits");
    // Given in another zone, kept as the same instant.
    outside.utc = utc("2024-04-14T21:20:00Z").toTimeZone(QTimeZone("Europe/Helsinki"));

    const std::vector<FrameRecord> written = {solved, rejected, outside};
    for (const FrameRecord& f : written)
        EXPECT_GT(db.addFrame(f), 0);

    const std::vector<FrameRecord> read = db.frames(utc("2024-04-14T12:00:00Z"), utc("2024-04-15T12:00:00Z"));
    ASSERT_EQ(read.size(), written.size());
    for (size_t i = 0; i < read.size(); ++i) {
        const FrameRecord &w = written[i], &r = read[i];
        EXPECT_EQ(r.planId, w.planId) << i;
        EXPECT_EQ(r.target, w.target) << i;
        EXPECT_EQ(r.kind, w.kind) << i;
        EXPECT_EQ(r.utc, w.utc) << i;
        EXPECT_EQ(r.utc.timeSpec(), Qt::UTC) << i;
        EXPECT_EQ(r.filter, w.filter) << i;
        EXPECT_EQ(r.exposure, w.exposure) << i;
        EXPECT_EQ(r.binning, w.binning) << i;
        EXPECT_EQ(r.path, w.path) << i;
        EXPECT_EQ(r.measurement.stars, w.measurement.stars) << i;
        EXPECT_EQ(r.measurement.medianHfr, w.measurement.medianHfr) << i;
        EXPECT_EQ(r.measurement.background, w.measurement.background) << i;
        EXPECT_EQ(r.measurement.noise, w.measurement.noise) << i;
        EXPECT_EQ(r.accepted, w.accepted) << i;
        EXPECT_EQ(r.reason, w.reason) << i;
        ASSERT_EQ(r.measurement.solved.has_value(), w.measurement.solved.has_value()) << i;
        if (w.measurement.solved) {
            EXPECT_EQ(r.measurement.solved->rightAscension, w.measurement.solved->rightAscension);
            EXPECT_EQ(r.measurement.solved->declination, w.measurement.solved->declination);
            EXPECT_EQ(r.measurement.solved->pointingError, w.measurement.solved->pointingError);
        }
    }

    // The plan counts its frames as they come; finishing it sets its end and result.
    EXPECT_EQ(db.plan(plan)->frames, 2);
    EXPECT_EQ(db.plan(plan)->accepted, 1);
    EXPECT_FALSE(db.plan(plan)->endUtc.isValid());
    const PlanRecord finished = db.finishPlan(plan, utc("2024-04-14T21:13:00Z"), QStringLiteral("completed"));
    EXPECT_EQ(finished.kind, QStringLiteral("SNe"));
    EXPECT_EQ(finished.target, QStringLiteral("NGC 2403"));
    EXPECT_EQ(finished.startUtc, utc("2024-04-14T21:10:00Z"));
    EXPECT_EQ(finished.endUtc, utc("2024-04-14T21:13:00Z"));
    EXPECT_EQ(finished.result, QStringLiteral("completed"));
    EXPECT_EQ(finished.frames, 2);
    EXPECT_EQ(finished.accepted, 1);
    EXPECT_FALSE(db.plan(plan + 100));
}

TEST(ObservationDb, NightQueriesTakeTheirRangeOnly)
{
    QTemporaryDir dir;
    ObservationDb db(dir.filePath(QStringLiteral("observations.sqlite")));
    const char* starts[] = {"2024-04-14T11:59:59.999Z", "2024-04-14T12:00:00Z", "2024-04-15T03:00:00Z",
                            "2024-04-15T12:00:00Z"};
    for (const char* start : starts) {
        const qint64 plan = db.startPlan(QStringLiteral("MPS"), QStringLiteral("field"), utc(start));
        db.addFrame(frame(plan, QStringLiteral("field"), QStringLiteral("L"), start, true));
    }
    const auto frames = db.frames(utc("2024-04-14T12:00:00Z"), utc("2024-04-15T12:00:00Z"));
    const auto plans = db.plans(utc("2024-04-14T12:00:00Z"), utc("2024-04-15T12:00:00Z"));
    ASSERT_EQ(frames.size(), 2u);
    ASSERT_EQ(plans.size(), 2u);
    EXPECT_EQ(frames[0].utc, utc(starts[1]));
    EXPECT_EQ(frames[1].utc, utc(starts[2]));
    EXPECT_EQ(plans[0].startUtc, utc(starts[1]));
    EXPECT_EQ(plans[1].startUtc, utc(starts[2]));
}

TEST(ObservationDb, ReferenceIsTheTargetsLatestAcceptedFramesInTheFilter)
{
    QTemporaryDir dir;
    ObservationDb db(dir.filePath(QStringLiteral("observations.sqlite")));
    const QString target = QStringLiteral("M 101");
    // Written out of time order: the reference is ordered by when they were taken. The star count
    // tells them apart.
    const struct
    {
        const char* target;
        const char* filter;
        const char* utc;
        bool accepted;
        int stars;
    } rows[] = {
        {"M 101", "L", "2024-04-12T22:00:00Z", true, 12}, {"M 101", "L", "2024-04-14T22:00:00Z", true, 14},
        {"M 101", "L", "2024-04-14T22:05:00Z", false, 3}, {"M 101", "R", "2024-04-14T22:10:00Z", true, 99},
        {"M 51", "L", "2024-04-14T22:20:00Z", true, 98},  {"M 101", "L", "2024-04-13T22:00:00Z", true, 13},
        {"M 101", "L", "2024-04-11T22:00:00Z", true, 11},
    };
    for (const auto& r : rows)
        db.addFrame(frame(0, QString::fromLatin1(r.target), QString::fromLatin1(r.filter), r.utc, r.accepted,
                          r.stars));
    // A pause's test frame where the telescope last pointed: shorter, binned otherwise, no reference.
    FrameRecord test = frame(0, target, QStringLiteral("L"), "2024-04-15T00:00:00Z", true, 40);
    test.kind = QStringLiteral("test");
    db.addFrame(test);

    const auto starsOf = [](const std::vector<FrameMeasurement>& ms) {
        std::vector<int> stars;
        for (const auto& m : ms)
            stars.push_back(m.stars);
        return stars;
    };
    EXPECT_EQ(starsOf(db.acceptedFrames(target, QStringLiteral("L"), 3)), (std::vector<int>{14, 13, 12}));
    EXPECT_EQ(starsOf(db.acceptedFrames(target, QStringLiteral("L"), 10)),
              (std::vector<int>{14, 13, 12, 11}));
    EXPECT_EQ(starsOf(db.acceptedFrames(target, QStringLiteral("R"), 10)), (std::vector<int>{99}));
    EXPECT_TRUE(db.acceptedFrames(target, QStringLiteral("B"), 10).empty());
    EXPECT_TRUE(db.acceptedFrames(target, QStringLiteral("L"), 0).empty());
}

TEST(ObservationDb, AKilledWriterLosesNothingCommitted)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("observations.sqlite"));
    qint64 plan = 0;
    {
        ObservationDb db(path);
        plan = db.startPlan(QStringLiteral("SNe"), QStringLiteral("NGC 2403"), utc("2024-04-14T21:10:00Z"));
    }
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Writes frames until killed, telling the parent each one committed.
        close(pipeFds[0]);
        try {
            ObservationDb db(path);
            for (int n = 1;; ++n) {
                db.addFrame(frame(plan, QStringLiteral("NGC 2403"), QStringLiteral("L"),
                                  "2024-04-14T21:11:00Z", n % 3 != 0));
                if (write(pipeFds[1], &n, sizeof n) != sizeof n)
                    _exit(2);
            }
        } catch (...) {
            _exit(1);
        }
    }
    close(pipeFds[1]);
    int committed = 0;
    while (committed < 25)
        ASSERT_EQ(read(pipeFds[0], &committed, sizeof committed), static_cast<ssize_t>(sizeof committed))
            << "the writer ended early";
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    for (int n = 0; read(pipeFds[0], &n, sizeof n) == sizeof n;)
        committed = n;
    close(pipeFds[0]);

    ObservationDb db(path);
    const auto frames = db.frames(utc("2024-04-14T00:00:00Z"), utc("2024-04-15T00:00:00Z"));
    // Every frame reported committed is there; at most the one written at the kill is added.
    EXPECT_GE(static_cast<int>(frames.size()), committed);
    EXPECT_LE(static_cast<int>(frames.size()), committed + 1);
    const PlanRecord counted = *db.plan(plan);
    EXPECT_EQ(counted.frames, static_cast<int>(frames.size()));
    EXPECT_EQ(counted.accepted,
              static_cast<int>(std::count_if(frames.begin(), frames.end(),
                                             [](const FrameRecord& f) { return f.accepted; })));
    EXPECT_EQ(scalar(path, QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
}

TEST(ObservationDb, SchemaIsVersionedAndFailuresNameTheFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("observations.sqlite"));
    {
        ObservationDb db(path);
        db.startPlan(QStringLiteral("SLC"), QStringLiteral("RR Lyr"), utc("2024-04-14T21:10:00Z"));
    }
    EXPECT_EQ(scalar(path, QStringLiteral("PRAGMA user_version")).toInt(), ObservationDb::schemaVersion);
    EXPECT_EQ(scalar(path, QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("wal"));
    // Opened again, it keeps what it holds.
    EXPECT_EQ(ObservationDb(path).plans(utc("2024-04-14T00:00:00Z"), utc("2024-04-15T00:00:00Z")).size(), 1u);

    const auto failure = [](const QString& file) {
        try {
            ObservationDb db(file);
        } catch (const DatabaseError& e) {
            return e.message();
        }
        return QString();
    };
    scalar(path, QStringLiteral("PRAGMA user_version = 99"));
    const QString newer = failure(path);
    EXPECT_TRUE(newer.startsWith(path)) << newer.toStdString();
    EXPECT_TRUE(newer.contains(QStringLiteral("version 99"))) << newer.toStdString();

    const QString text = dir.filePath(QStringLiteral("text.sqlite"));
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    const QString notDatabase = failure(text);
    EXPECT_TRUE(notDatabase.startsWith(text)) << notDatabase.toStdString();
    EXPECT_TRUE(notDatabase.contains(QStringLiteral("not a database"))) << notDatabase.toStdString();

    const QString underFile = dir.filePath(QStringLiteral("text.sqlite/observations.sqlite"));
    EXPECT_TRUE(failure(underFile).startsWith(underFile));

    ObservationDb db(dir.filePath(QStringLiteral("other.sqlite")));
    try {
        db.finishPlan(42, utc("2024-04-14T21:10:00Z"), QStringLiteral("completed"));
        ADD_FAILURE() << "finished a plan that is not there";
    } catch (const DatabaseError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("no plan 42"))) << e.message().toStdString();
    }
    try {
        db.addFrame(frame(42, QStringLiteral("x"), QStringLiteral("L"), "2024-04-14T21:10:00Z", true));
        ADD_FAILURE() << "recorded a frame of a plan that is not there";
    } catch (const DatabaseError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("cannot record a frame")))
            << e.message().toStdString();
    }
    EXPECT_TRUE(db.frames(utc("2024-04-14T00:00:00Z"), utc("2024-04-15T00:00:00Z")).empty());
}

// A reader (the report, the web page, the window) sees what the writer committed while the writer
// goes on, and can neither write nor create a file.
TEST(ObservationDb, ReadersOnlyRead)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("observations.sqlite"));
    const auto failure = [](const std::function<void()>& action) {
        try {
            action();
        } catch (const DatabaseError& e) {
            return e.message();
        }
        return QString();
    };
    EXPECT_TRUE(failure([&] { ObservationDb(path, ObservationDb::Access::Read); }).startsWith(path));
    EXPECT_FALSE(QFile::exists(path));

    ObservationDb writer(path);
    const qint64 plan =
        writer.startPlan(QStringLiteral("SNe"), QStringLiteral("M51"), utc("2024-04-14T21:00:00Z"));
    writer.addFrame(frame(plan, QStringLiteral("M51"), QStringLiteral("L"), "2024-04-14T21:01:00Z", true));
    ObservationDb reader(path, ObservationDb::Access::Read);
    writer.addFrame(frame(plan, QStringLiteral("M51"), QStringLiteral("L"), "2024-04-14T21:02:00Z", false));
    const auto frames = reader.frames(utc("2024-04-14T00:00:00Z"), utc("2024-04-15T00:00:00Z"));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_FALSE(frames[1].accepted);
    EXPECT_FALSE(failure([&] {
                     reader.addFrame(frame(plan, QStringLiteral("M51"), QStringLiteral("L"),
                                           "2024-04-14T21:03:00Z", true));
                 }).isEmpty());
    EXPECT_EQ(writer.plan(plan)->frames, 2);
}

TEST(ObservationDb, TheNewestMasterOfTheSettingWithinItsAgeIsFound)
{
    using kestrove::imaging::MasterKind;
    using kestrove::imaging::MasterSetting;
    QTemporaryDir dir;
    ObservationDb db(dir.filePath(QStringLiteral("observations.sqlite")));
    const auto add = [&](const MasterSetting& s, const char* when) {
        db.addMaster({0, s, utc(when), 10, QStringLiteral("/lib/%1").arg(QString::fromLatin1(when))});
    };
    add({MasterKind::Dark, 60, 2, -10.0, {}}, "2026-11-01T05:00:00Z");
    add({MasterKind::Dark, 60, 2, -10.0, {}}, "2026-12-08T05:00:00Z");
    add({MasterKind::Dark, 60, 2, -10.0, {}}, "2026-12-09T05:00:00Z");
    add({MasterKind::Dark, 30, 2, -10.0, {}}, "2026-12-09T05:10:00Z");
    add({MasterKind::Dark, 60, 1, -10.0, {}}, "2026-12-09T05:20:00Z");
    add({MasterKind::Dark, 60, 2, std::nullopt, {}}, "2026-12-09T05:30:00Z");
    add({MasterKind::Bias, 0, 2, -10.0, {}}, "2026-12-09T05:40:00Z");
    add({MasterKind::Flat, 3, 2, -10.0, QStringLiteral("Green")}, "2026-12-07T17:00:00Z");

    const struct
    {
        const char* what;
        MasterSetting wanted;
        const char* from;
        const char* to;
        const char* found; // the master's time; empty: none
    } cases[] = {
        {"the newest dark of the exposure, binning and temperature",
         {MasterKind::Dark, 60, 2, -10.0, {}},
         "2026-11-09T12:00:00Z",
         "2026-12-09T12:00:00Z",
         "2026-12-09T05:00:00Z"},
        {"a master made later than the frame is not used",
         {MasterKind::Dark, 60, 2, -10.0, {}},
         "2026-11-09T12:00:00Z",
         "2026-12-08T23:00:00Z",
         "2026-12-08T05:00:00Z"},
        {"older than its age: none",
         {MasterKind::Dark, 60, 2, -10.0, {}},
         "2026-12-10T00:00:00Z",
         "2026-12-11T00:00:00Z",
         ""},
        {"half a degree off is the same temperature",
         {MasterKind::Dark, 60, 2, -9.5, {}},
         "2026-11-09T12:00:00Z",
         "2026-12-09T12:00:00Z",
         "2026-12-09T05:00:00Z"},
        {"five degrees off is not",
         {MasterKind::Dark, 60, 2, -5.0, {}},
         "2026-11-09T12:00:00Z",
         "2026-12-09T12:00:00Z",
         ""},
        {"an uncooled camera's dark",
         {MasterKind::Dark, 60, 2, std::nullopt, {}},
         "2026-11-09T12:00:00Z",
         "2026-12-09T12:00:00Z",
         "2026-12-09T05:30:00Z"},
        {"another exposure: none",
         {MasterKind::Dark, 120, 2, -10.0, {}},
         "2026-11-09T12:00:00Z",
         "2026-12-09T12:00:00Z",
         ""},
        {"a bias of the binning",
         {MasterKind::Bias, 60, 2, -10.0, {}},
         "2026-11-09T12:00:00Z",
         "2026-12-09T12:00:00Z",
         "2026-12-09T05:40:00Z"},
        {"a flat of the filter, whatever its exposure",
         {MasterKind::Flat, 60, 2, -10.0, QStringLiteral("Green")},
         "2026-11-09T12:00:00Z",
         "2026-12-09T12:00:00Z",
         "2026-12-07T17:00:00Z"},
        {"no flat of another filter",
         {MasterKind::Flat, 60, 2, -10.0, QStringLiteral("Red")},
         "2026-11-09T12:00:00Z",
         "2026-12-09T12:00:00Z",
         ""},
    };
    for (const auto& c : cases) {
        const std::optional<MasterRecord> m = db.newestMaster(c.wanted, utc(c.from), utc(c.to));
        if (*c.found == 0) {
            EXPECT_FALSE(m) << c.what;
            continue;
        }
        ASSERT_TRUE(m) << c.what;
        EXPECT_EQ(m->utc, utc(c.found)) << c.what;
        EXPECT_EQ(m->setting.kind, c.wanted.kind) << c.what;
    }
    EXPECT_EQ(db.masters(utc("2026-12-09T00:00:00Z"), utc("2026-12-10T00:00:00Z")).size(), 5u);
}

// A file of the first schema gains the lightcurve table and keeps its frames, also when a reader
// opens it first; the points come back
// as written, of one target or all, and a reader sees them.
TEST(ObservationDb, LightcurvePointsComeBackAsWrittenAndOlderFilesGainTheirTable)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("observations.sqlite"));
    {
        ObservationDb db(path);
        db.addFrame(frame(0, QStringLiteral("RR Lyr"), QStringLiteral("V"), "2024-04-14T21:00:00Z", true));
    }
    // A file of the first schema: the tables of every later step go.
    for (const char* table : {"lightcurve_stars", "lightcurve", "masters", "detections", "candidates", "movers"})
        scalar(path, QStringLiteral("DROP TABLE %1").arg(QLatin1String(table)));
    scalar(path, QStringLiteral("PRAGMA user_version = 1"));
    // The morning's report may be the first to open last night's file after an upgrade.
    EXPECT_TRUE(ObservationDb(path, ObservationDb::Access::Read)
                    .lightcurvePoints(utc("2024-04-14T00:00:00Z"), utc("2024-04-15T00:00:00Z"))
                    .empty());
    EXPECT_EQ(scalar(path, QStringLiteral("PRAGMA user_version")).toInt(), ObservationDb::schemaVersion);

    ObservationDb db(path);
    const auto frames = db.frames(utc("2024-04-14T00:00:00Z"), utc("2024-04-15T00:00:00Z"));
    ASSERT_EQ(frames.size(), 1u);
    LightcurvePoint p;
    p.frameId = frames[0].id;
    p.target = QStringLiteral("RR Lyr");
    p.filter = QStringLiteral("V");
    p.utc = utc("2024-04-14T21:00:30Z");
    p.bjdTdb = 2460415.3800123456;
    p.magnitude = 0.4321;
    p.error = 0.0123;
    p.airmass = 1.234;
    p.comparisons = QStringLiteral("J192540.00+424700.0;J192600.00+424800.0");
    p.check = QStringLiteral("J192500.00+424600.0");
    p.checkMagnitude = -0.25;
    p.checkError = 0.01;
    using Role = InstrumentalMagnitude::Role;
    p.instrumental = {{Role::Target, p.target, -8.125, 0.004, {}},
                      {Role::Check, p.check, -9.5, 0.003, {}},
                      {Role::Comparison, QStringLiteral("J192540.00+424700.0"), -9.25, 0.003, 0.125},
                      {Role::Comparison, QStringLiteral("J192600.00+424800.0"), {}, {}, -0.125}};
    LightcurvePoint other = p;
    other.instrumental.clear();
    other.frameId = 0;
    other.target = QStringLiteral("SZ Lyn");
    other.utc = utc("2024-04-14T22:00:00Z");
    other.airmass = std::nullopt;
    other.standard = true;
    other.check.clear();
    other.checkMagnitude = std::nullopt;
    other.checkError = std::nullopt;
    p.id = db.addLightcurvePoint(p);
    other.id = db.addLightcurvePoint(other);

    ObservationDb reader(path, ObservationDb::Access::Read);
    const auto all = reader.lightcurvePoints(utc("2024-04-14T12:00:00Z"), utc("2024-04-15T12:00:00Z"));
    ASSERT_EQ(all.size(), 2u);
    const auto same = [](const LightcurvePoint& a, const LightcurvePoint& b) {
        return a.id == b.id && a.frameId == b.frameId && a.target == b.target && a.filter == b.filter &&
               a.utc == b.utc && a.bjdTdb == b.bjdTdb && a.magnitude == b.magnitude && a.error == b.error &&
               a.airmass == b.airmass && a.standard == b.standard && a.comparisons == b.comparisons &&
               a.check == b.check && a.checkMagnitude == b.checkMagnitude && a.checkError == b.checkError;
    };
    EXPECT_TRUE(same(all[0], p));
    EXPECT_TRUE(same(all[1], other));
    auto stars = all;
    reader.instrumentalMagnitudes(stars);
    EXPECT_EQ(stars[0].instrumental, p.instrumental);
    EXPECT_TRUE(stars[1].instrumental.empty());
    const auto one = reader.lightcurvePoints(utc("2024-04-14T12:00:00Z"), utc("2024-04-15T12:00:00Z"),
                                             QStringLiteral("SZ Lyn"));
    ASSERT_EQ(one.size(), 1u);
    EXPECT_TRUE(same(one[0], other));
    EXPECT_TRUE(reader.lightcurvePoints(utc("2024-04-14T21:00:31Z"), utc("2024-04-14T22:00:00Z")).empty());
}
