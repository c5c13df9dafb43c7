#include "core/Csv.h"
#include "core/History.h"
#include "host/LocalFileSystem.h"
#include "report/LogTail.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

using namespace kestrove;

namespace {

QDateTime utc(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate).toUTC();
}

TEST(History, EntriesComeBackAsTheyWereAppended)
{
    QTemporaryDir dir;
    LocalFileSystem fs;
    const QString path = historyPath(dir.path());
    HistoryEntry a;
    a.startUtc = utc("2024-04-14T03:10:00Z");
    a.endUtc = utc("2024-04-14T03:12:05Z");
    a.kind = SurveyKind::SLC;
    a.target = QStringLiteral("V \"odd\", name");
    a.rightAscension = 12.5;
    a.declination = -30.25;
    a.score = 1234.5f;
    a.planFile = QStringLiteral("/plans/2024-04-13/x.txt");
    a.result = QStringLiteral("failed: aborted, weather unsafe");
    HistoryEntry b = a;
    b.kind = SurveyKind::MPS;
    b.target = QStringLiteral("1!3");
    b.result = QStringLiteral("completed");
    appendHistory(fs, path, a);
    appendHistory(fs, path, b);
    // A line that is no history line is counted, not taken.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("not,a,history,line\r\n");
    file.close();

    const History history = readHistory(path);
    ASSERT_EQ(history.entries.size(), 2);
    EXPECT_EQ(history.unreadable, 1);
    for (const auto& [got, want] : {std::pair{history.entries[0], a}, std::pair{history.entries[1], b}}) {
        EXPECT_EQ(got.startUtc, want.startUtc);
        EXPECT_EQ(got.endUtc, want.endUtc);
        EXPECT_EQ(got.kind, want.kind);
        EXPECT_EQ(got.target, want.target);
        EXPECT_EQ(got.rightAscension, want.rightAscension);
        EXPECT_EQ(got.declination, want.declination);
        EXPECT_EQ(got.score, want.score);
        EXPECT_EQ(got.planFile, want.planFile);
        EXPECT_EQ(got.result, want.result);
    }
    EXPECT_TRUE(readHistory(dir.filePath(QStringLiteral("missing.csv"))).entries.isEmpty());
    QFile written(path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(written.readLine().endsWith(",result\n")); // the header, in LF text
}

TEST(History, NightsRunFromNoonToNoonAndNamePlanFolders)
{
    const QTimeZone denver("America/Denver");
    const struct
    {
        QDateTime local;
        QDate night;
    } cases[] = {
        {QDateTime(QDate(2024, 4, 14), QTime(3, 10), denver), QDate(2024, 4, 13)},
        {QDateTime(QDate(2024, 4, 14), QTime(11, 59), denver), QDate(2024, 4, 13)},
        {QDateTime(QDate(2024, 4, 14), QTime(12, 0), denver), QDate(2024, 4, 14)},
        {QDateTime(QDate(2024, 4, 14), QTime(23, 30), denver), QDate(2024, 4, 14)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(nightDateOf(c.local), c.night) << c.local.toString().toStdString();

    EXPECT_EQ(archivedPlanPath(QStringLiteral("/obs/Plans"), cases[0].local, cases[0].local.toUTC(),
                               SurveyKind::MPS, QStringLiteral("1!3 a/b")),
              QStringLiteral("/obs/Plans/2024-04-13/20240414T091000Z-MPS-1_3_a_b.txt"));

    HistoryEntry evening, morning, nextEvening;
    evening.startUtc = QDateTime(QDate(2024, 4, 13), QTime(21, 0), denver).toUTC();
    morning.startUtc = QDateTime(QDate(2024, 4, 14), QTime(5, 0), denver).toUTC();
    nextEvening.startUtc = QDateTime(QDate(2024, 4, 14), QTime(21, 0), denver).toUTC();
    EXPECT_EQ(entriesOfNight({evening, morning, nextEvening}, QDate(2024, 4, 13), denver).size(), 2);
}

TEST(History, AResultSaysWhatTheHostSaid)
{
    const struct
    {
        bool completed;
        const char* host;
        bool stopped;
        const char* result;
    } cases[] = {
        {true, "failed (simulated fault)", false, "completed"},
        {false, "failed (simulated fault)", false, "failed: failed (simulated fault)"},
        {false, "", false, "failed"},
        {false, "completed", false, "failed: the plan ended but left no completion marker"},
        {false, "running", true, "failed: the survey stopped while the plan ran"},
        {false, "aborted (AbortScript)", true, "failed: aborted (AbortScript) (survey stopped)"},
        {false, "rejected: 3 stars where 80 expected", false, "rejected: 3 stars where 80 expected"},
        {false, "rejected: HFR 4.1 px where 2.0 expected", true,
         "rejected: HFR 4.1 px where 2.0 expected (survey stopped)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(planResult(c.completed, QString::fromLatin1(c.host), c.stopped),
                  QString::fromLatin1(c.result));
}

TEST(Csv, FieldsSurviveQuotingAndSplitting)
{
    const QStringList fields{QStringLiteral("plain"), QStringLiteral("with, comma"),
                             QStringLiteral("say \"hi\""), QString(), QStringLiteral("two\nlines")};
    EXPECT_EQ(splitCsvLine(csvLine(fields)), fields);
    EXPECT_EQ(csvLine(fields.mid(0, 3)), QStringLiteral("plain,\"with, comma\",\"say \"\"hi\"\"\""));
}

TEST(LogTail, FollowsWholeLinesAndStaysBounded)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Kestrove.log"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const auto write = [&file](const QByteArray& bytes) {
        file.write(bytes);
        file.flush();
    };
    LogTail tail(100);
    tail.follow(path);
    EXPECT_TRUE(tail.poll().isEmpty());
    write("first\r\nsec");
    EXPECT_EQ(tail.poll(), QStringList{QStringLiteral("first")});
    write("ond\r\n");
    EXPECT_EQ(tail.poll(), QStringList{QStringLiteral("second")});
    // Far more than the bound at once: only the newest whole lines.
    QByteArray many;
    for (int i = 0; i < 1000; ++i)
        many += "line " + QByteArray::number(i) + "\r\n";
    write(many);
    const QStringList newest = tail.poll();
    ASSERT_FALSE(newest.isEmpty());
    EXPECT_LT(newest.size(), 15);
    EXPECT_EQ(newest.last(), QStringLiteral("line 999"));
    EXPECT_TRUE(newest.first().startsWith(QStringLiteral("line "))) << newest.first().toStdString();
    // A file replaced by a shorter one is read afresh.
    file.close();
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    write("new\r\n");
    EXPECT_EQ(tail.poll(), QStringList{QStringLiteral("new")});
}

} // namespace
