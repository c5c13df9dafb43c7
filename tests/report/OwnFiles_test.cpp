#include "core/History.h"
#include "host/LocalFileSystem.h"
#include "report/NightFiles.h"
#include "settings/ObservatorySettings.h"
#include "support/TestSupport.h"

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
    entry.target = QStringLiteral("M51");
    entry.result = QStringLiteral("completed");
    NightReport report;
    report.zone = QTimeZone::utc();
    report.plans << ObservedPlan{entry, {}, {}};
    report.reasons << TargetReasons{
        SurveyKind::SNe, QStringLiteral("M51"), QStringLiteral("M51\t1\t2"), 1, {}};

    const QString observatory = dir.filePath(QStringLiteral("observatory"));
    const QString history = historyPath(dir.path());
    struct Case
    {
        const char* name;
        std::function<QByteArray()> write;
        QByteArray line; // a whole line the file holds
    };
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
             return test::readBytes(history);
         },
         "startUtc,endUtc,kind,target,ra,dec,score,planFile,result"},
        {"plans.csv", [&] { return plansCsv(report); }, "2024-04-14T03:10:00Z,2024-04-14T03:12:05Z,"},
        {"reasons.csv", [&] { return reasonsCsv(report); }, "SNe,M51,1,0,0,0,0,0,0,0,0,0,0,0,0"},
    };
    for (const Case& c : cases) {
        const QByteArray text = c.write();
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
}

} // namespace
