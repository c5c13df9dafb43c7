#include "core/History.h"
#include "host/LocalFileSystem.h"
#include "report/NightFiles.h"
#include "settings/ObservatorySettings.h"
#include "support/TestSupport.h"
#include "targets/PendingRecords.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <functional>

using namespace kestrove;

namespace {

// What `sed 's/^from$/to/'` does: whole lines without their LF are compared.
QByteArray sedLine(const QByteArray& text, const QByteArray& from, const QByteArray& to)
{
    QList<QByteArray> lines = text.split('\n');
    for (QByteArray& line : lines)
        if (line == from)
            line = to;
    return lines.join('\n');
}

QByteArray crlf(QByteArray text)
{
    return text.replace("\n", "\r\n");
}

// Kestrove's own files are Linux text, so that line tools see whole lines; what Kestrove reads of
// them it reads with either line end, an older file's CR LF included.
TEST(OwnFiles, AreWrittenWithLineFeedsAndReadWithEither)
{
    QTemporaryDir dir;
    LocalFileSystem fs;
    HistoryEntry entry;
    entry.startUtc = QDateTime(QDate(2024, 4, 14), QTime(3, 10), QTimeZone::utc());
    entry.endUtc = entry.startUtc.addSecs(125);
    entry.target = QStringLiteral("M51 Whirlpool \u00b7 arm");
    entry.result = QStringLiteral("completed");
    NightReport report;
    report.zone = QTimeZone::utc();
    report.plans << ObservedPlan{entry, {}, {}, {}};
    report.reasons << TargetReasons{
        SurveyKind::SNe, QStringLiteral("M51 \u00b0"), QStringLiteral("M51 \u00b0\t1\t2"), 1, {}};
    PendingRecord pending;
    pending.file = QStringLiteral("/program/SNeTargets.txt");
    pending.targetLine = QStringLiteral("M51 \u00b0\t1\t2");
    pending.plan = entry;

    const QString observatory = dir.filePath(QStringLiteral("observatory"));
    const QString history = historyPath(dir.path());
    struct Case
    {
        const char* name;
        std::function<QByteArray()> write;
        QByteArray line; // a whole line the file holds
    };
    // What Python's csv module and every Linux tool read: UTF-8.
    const QByteArray degree = "\xc2\xb0";
    const Case cases[] = {
        {"observatory.ini",
         [&] {
             writeObservatorySettings(observatory, observatoryDefaults(observatory));
             return test::readBytes(observatory + QStringLiteral("/observatory.ini"));
         },
         "speed=1"},
        {"history.csv",
         [&] {
             appendHistory(fs, history, entry);
             appendObservatoryEvent(fs, history, entry.endUtc,
                                    QStringLiteral("Closing: Sun above -12\u00b0"));
             return test::readBytes(history);
         },
         "startUtc,endUtc,kind,target,ra,dec,score,planFile,result"},
        {"history.csv", [&] { return test::readBytes(history); },
         "2024-04-14T03:12:05Z,2024-04-14T03:12:05Z,Observatory,Closing: Sun above -12" + degree + ","},
        {"plans.csv", [&] { return plansCsv(report); },
         "2024-04-14T03:10:00Z,2024-04-14T03:12:05Z,2024-04-14 03:10:00,2024-04-14 03:12:05,SNe,M51 "
         "Whirlpool "
         "\xc2\xb7 arm,"},
        {"reasons.csv", [&] { return reasonsCsv(report); },
         "SNe,M51 " + degree + ",1,0,0,0,0,0,0,0,0,0,0,0,0"},
        {"pending.txt",
         [&] {
             const QString path = dir.filePath(QStringLiteral("pending.txt"));
             writePendingJournal(path, {pending}, {});
             QStringList others;
             const QList<PendingRecord> back = readPendingJournal(path, QStringLiteral("/program/"), others);
             EXPECT_EQ(back.value(0).targetLine, pending.targetLine);
             return test::readBytes(path);
         },
         "0,/program/SNeTargets.txt,M51 " + degree + "\t1\t2,"},
    };
    for (const Case& c : cases) {
        const QByteArray text = c.write();
        EXPECT_TRUE(QString::fromUtf8(text).toUtf8() == text) << c.name << ": not UTF-8";
        EXPECT_FALSE(text.contains('\r')) << c.name;
        EXPECT_TRUE(text.endsWith('\n')) << c.name;
        const QList<QByteArray> lines = text.split('\n');
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                [&](const QByteArray& line) { return line.startsWith(c.line); }))
            << c.name << "\n"
            << text.toStdString();
    }

    // An edit by line reaches the reader, in either line end.
    const QByteArray ini = test::readBytes(observatory + QStringLiteral("/observatory.ini"));
    for (const QByteArray& edited :
         {sedLine(ini, "speed=1", "speed=30"), crlf(sedLine(ini, "speed=1", "speed=30"))}) {
        test::writeBytes(observatory + QStringLiteral("/observatory.ini"), edited);
        EXPECT_EQ(readObservatorySettings(observatory).clockSpeed, 30);
    }
    // A history begun in CR LF goes on in LF and reads whole.
    test::writeBytes(history, crlf(test::readBytes(history)));
    appendHistory(fs, history, entry);
    EXPECT_EQ(readHistory(history).entries.size(), 2);
    EXPECT_EQ(readHistory(history).unreadable, 0);

    // A history an older version wrote in Latin-1 reads as it was meant, and goes on in UTF-8.
    test::writeBytes(
        history, "startUtc,endUtc,kind,target,ra,dec,score,planFile,result\n"
                 "2024-04-14T05:00:00Z,2024-04-14T05:00:00Z,Observatory,Closing: Sun above -12\xb0,,,,,\n");
    appendObservatoryEvent(fs, history, entry.endUtc, QStringLiteral("Closing: Sun above -12\u00b0"));
    const History mixed = readHistory(history);
    ASSERT_EQ(mixed.events.size(), 2);
    for (const ObservatoryEvent& event : mixed.events)
        EXPECT_EQ(event.text, QStringLiteral("Closing: Sun above -12\u00b0"));
}

} // namespace
