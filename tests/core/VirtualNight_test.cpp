#include "core/SimSurvey.h"

#include "core/History.h"
#include "sky/Astronomy.h"
#include "support/TestSite.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <map>

namespace kestrove::test {
namespace {

// Every target line of a targets file, in order: what must survive every rewrite.
QStringList targetLines(const QStringList& file)
{
    QStringList lines;
    for (const QString& line : file)
        if (!line.startsWith(QStringLiteral("****")))
            lines << line;
    return lines;
}

// The config line after the target line whose name is `name`.
QString configOf(const QStringList& file, const QString& name)
{
    for (qsizetype i = 0; i + 1 < file.size(); ++i)
        if (file[i].section(QLatin1Char('\t'), 0, 0) == name)
            return file[i + 1];
    return {};
}

// A whole night on the simulated observatory with every kind enabled and one plan in five failing:
// each plan that ran to its end is recorded exactly once in its targets file, and no target is lost.
TEST(VirtualNight, EveryCompletedPlanIsRecordedExactlyOnce)
{
    SimSurvey sim([](ObservatorySettings& s) {
        s.clockStart = QStringLiteral("2024-04-14T02:30:00Z"); // 20:30 local
        s.failureRate = 0.2;
        s.failureSeed = 7;
        s.alignmentMode = 2;
    });

    QRandomGenerator random(42);
    QStringList sne;
    for (int i = 0; i < 30; ++i)
        sne << QStringLiteral("SN2024n%1\t%2\t%3")
                   .arg(i)
                   .arg(random.bounded(24.0), 0, 'f', 4)
                   .arg(-10 + random.bounded(80.0), 0, 'f', 3)
            << (i % 3 == 0 ? QStringLiteral("**** reshoot=true imageCount=2") : QStringLiteral("**** "));
    sim.writeProgramFile(QStringLiteral("SNeTargets.txt"), sne);
    QStringList slc;
    for (int i = 0; i < 6; ++i)
        slc << QStringLiteral("Star%1\t%2\t%3").arg(i).arg(8 + 2 * i).arg(10 + 8 * i)
            << QStringLiteral("**** priority=%1 interval=%2 filter=V").arg(20 + 10 * i).arg(30 + 15 * i);
    sim.writeProgramFile(QStringLiteral("SLCTargets.txt"), slc);
    sim.writeProgramFile(QStringLiteral("MPSTargets.txt"), {QStringLiteral("12.0 20.0 12.2 21.3")});
    sim.saveSettings([](SurveySettings& s) {
        s.exposureSNe = 90;
        s.imagesMPS = 3;
        s.intervalMPS = 20;
    });
    sim.enable(SurveyKind::SNe);
    sim.enable(SurveyKind::MPS);
    sim.enable(SurveyKind::SLC);
    sim.core->runLimits.untilUtc = sim.utc().addSecs(11 * 3600);

    sim.run(0);

    // What the survey log says happened to each plan.
    const QStringList log = sim.logLines();
    std::map<QString, int> recorded;
    std::map<QString, QString> lastJD;
    int plans = 0, failures = 0;
    QString current;
    for (const QString& line : log) {
        static const QString running = QStringLiteral("Running ACP plan for selected target:");
        if (line.startsWith(running)) {
            ASSERT_TRUE(current.isEmpty()) << "a plan without an outcome: " << current.toStdString();
            current = line.mid(running.size());
            ++plans;
        } else if (line.startsWith(QStringLiteral("Last obs time for best "))) {
            ASSERT_FALSE(current.isEmpty());
            ++recorded[current];
            lastJD[current] = line.section(QStringLiteral(" = "), 1);
            current.clear();
        } else if (line ==
                   QStringLiteral("ACP did not successfully complete the plan - not updating targets file")) {
            ASSERT_FALSE(current.isEmpty());
            ++failures;
            current.clear();
        }
    }
    ASSERT_GT(plans, 50);
    ASSERT_GT(failures, 0);

    // What the observatory says: a plan ran to its end when it logged "end" and its chain script ran.
    std::map<QString, int> completed;
    int started = 0;
    for (const QString& line : SimSurvey::readLines(sim.host->acquisitionLogPath())) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        ASSERT_GE(fields.size(), 2) << line.toStdString();
        if (fields[1] == QStringLiteral("start"))
            ++started;
        else if (fields[1] == QStringLiteral("end"))
            ++completed[fields[2]];
        else
            ASSERT_NE(fields[1], QStringLiteral("error")) << line.toStdString();
    }
    EXPECT_EQ(started, plans);
    EXPECT_EQ(recorded, completed);
    EXPECT_EQ(
        SimSurvey::readLines(sim.host->acquisitionLogPath()).filter(QStringLiteral("\tchainscript\t")).size(),
        plans - failures);

    // The targets files hold exactly that, and every target is still there.
    const QStringList sneAfter = sim.programLines(QStringLiteral("SNeTargets.txt"));
    const QStringList slcAfter = sim.programLines(QStringLiteral("SLCTargets.txt"));
    const QStringList mpsAfter = sim.programLines(QStringLiteral("MPSfov1.txt"));
    EXPECT_EQ(sneAfter.size(), sne.size());
    EXPECT_EQ(targetLines(sneAfter), targetLines(sne));
    EXPECT_EQ(slcAfter.size(), slc.size());
    EXPECT_EQ(targetLines(slcAfter), targetLines(slc));
    EXPECT_EQ(mpsAfter.size(), 1 + 2 * 12);
    EXPECT_FALSE(QFile::exists(sim.programFile(QStringLiteral("newtargets.txt"))));
    for (qsizetype i = 0; i < sne.size(); i += 2) {
        const QString name = sne[i].section(QLatin1Char('\t'), 0, 0);
        const QString expected =
            recorded.count(name) ? QStringLiteral("**** lastImageJD=") + lastJD[name] : sne[i + 1];
        EXPECT_EQ(configOf(sneAfter, name), expected) << name.toStdString();
    }
    for (qsizetype i = 0; i < slc.size(); i += 2) {
        const QString name = slc[i].section(QLatin1Char('\t'), 0, 0);
        const QString config = configOf(slcAfter, name);
        if (recorded.count(name))
            EXPECT_TRUE(
                config.startsWith(QStringLiteral("**** lastImageJD=") + lastJD[name] + QLatin1Char(' ')))
                << config.toStdString();
        else
            EXPECT_EQ(config, slc[i + 1]);
    }
    int fieldsImaged = 0;
    for (qsizetype i = 1; i + 1 < mpsAfter.size(); i += 2) {
        const QString name = mpsAfter[i].section(QLatin1Char('\t'), 0, 0);
        const int times = recorded.count(name) ? recorded[name] : 0;
        fieldsImaged += times > 0;
        // One night is shorter than the half day after which a field's count starts again.
        const QString expected = times == 0 ? QStringLiteral("**** ")
                                            : QStringLiteral("**** lastImageJD=") + lastJD[name] +
                                                  QStringLiteral(" imageCount=") + QString::number(times);
        EXPECT_EQ(mpsAfter[i + 1], expected) << name.toStdString();
    }
    EXPECT_GT(fieldsImaged, 0);
    EXPECT_EQ(sim.view.status(), QStringLiteral("Survey stopped"));
}

// Started in the afternoon, a survey waits for darkness and images nothing while the Sun stands
// above the limit, at dusk or at dawn.
TEST(VirtualNight, NoImageWhileTheSunIsUp)
{
    SimSurvey sim([](ObservatorySettings& s) {
        s.clockStart = QStringLiteral("2024-04-14T22:00:00Z"); // 16:00 local
        s.sunAltitude = -12;
    });
    QStringList sne;
    for (int i = 0; i < 24; ++i)
        sne << QStringLiteral("SN%1\t%2\t+30").arg(i).arg(i) << QStringLiteral("**** ");
    sim.writeProgramFile(QStringLiteral("SNeTargets.txt"), sne);
    sim.enable(SurveyKind::SNe);
    sim.core->runLimits.untilUtc = sim.utc().addSecs(20 * 3600);
    sim.run(0);

    EXPECT_TRUE(sim.view.showed(QStringLiteral("Waiting for weather to be safe")));
    EXPECT_TRUE(sim.view.showed(QStringLiteral("Observatory: Closing: Sun above -12\u00b0")));
    const Site site{sim.simSettings.latitude, sim.simSettings.longitude, sim.simSettings.elevation};
    int images = 0;
    for (const QString& line : SimSurvey::readLines(sim.host->acquisitionLogPath())) {
        if (line.section(QLatin1Char('\t'), 1, 1) != QStringLiteral("image"))
            continue;
        ++images;
        const auto at = QDateTime::fromString(line.section(QLatin1Char('\t'), 0, 0), Qt::ISODate);
        EXPECT_LE(sunAltitude(at, site), -12) << line.toStdString();
    }
    EXPECT_GT(images, 20);
}

// A shower in the night on a roof and a mount that take their time: the survey waits while they
// move, closing parks before the roof moves, reopening waits for the dry spell, and no plan starts
// while the roof is not open.
TEST(VirtualNight, TheRoofSpendsItsTimeAndNoPlanStartsWhileItIsShut)
{
    const QDateTime rain = utc("2024-04-14T05:00:00Z");
    const QDateTime dry = utc("2024-04-14T05:30:00Z");
    SimSurvey sim([&](ObservatorySettings& s) {
        s.clockStart = QStringLiteral("2024-04-14T03:30:00Z"); // 21:30 local
        s.weatherConnected = true;
        s.unsafe = {{rain, dry}};
        s.roofOpenSeconds = 60;
        s.roofCloseSeconds = 90;
        s.parkSeconds = 30;
        s.safety.closeDelay = 0;
        s.safety.reopenDelay = 600;
        s.safety.closeAtEnd = true;
    });
    QStringList sne;
    for (int i = 0; i < 150; ++i)
        sne << QStringLiteral("SN%1\t%2\t%3").arg(i).arg(8 + i * 0.05, 0, 'f', 2).arg(10 + i % 40)
            << QStringLiteral("**** ");
    sim.writeProgramFile(QStringLiteral("SNeTargets.txt"), sne);
    sim.enable(SurveyKind::SNe);
    const QDateTime start = sim.utc();
    sim.core->runLimits.untilUtc = utc("2024-04-14T07:00:00Z");
    sim.run(0);

    // Each event of the acquisition log: its instant and its words.
    std::vector<std::pair<QDateTime, QString>> events;
    for (const QString& line : SimSurvey::readLines(sim.host->acquisitionLogPath()))
        events.emplace_back(QDateTime::fromString(line.section(u'\t', 0, 0), Qt::ISODate),
                            line.section(u'\t', 1, 2));
    const auto first = [&](const QString& words, const QDateTime& from) {
        for (const auto& [at, text] : events)
            if (at >= from && text.startsWith(words))
                return at;
        return QDateTime();
    };
    const QDateTime opened = first(QStringLiteral("done\tRoof open"), start);
    EXPECT_EQ(start.secsTo(opened), 60);
    EXPECT_GE(first(QStringLiteral("start"), start), opened);

    const QDateTime parkStart = first(QStringLiteral("park"), rain);
    const QDateTime closeStart = first(QStringLiteral("close"), rain);
    const QDateTime closed = first(QStringLiteral("done\tRoof closed"), rain);
    const QDateTime reopened = first(QStringLiteral("done\tRoof open"), rain);
    EXPECT_LE(rain.secsTo(parkStart), 1);
    EXPECT_EQ(parkStart.secsTo(closeStart), 30) << "the roof waits for the mount to park";
    EXPECT_EQ(closeStart.secsTo(closed), 90);
    // The last unsafe reading is the second before the dry spell.
    EXPECT_GE(dry.secsTo(reopened), 600 + 60 - 1);
    EXPECT_LE(dry.secsTo(reopened), 600 + 60 + 1);
    for (const auto& [at, text] : events) {
        if (text.startsWith(QStringLiteral("start\t"))) {
            EXPECT_TRUE(at < rain || at >= reopened) << qPrintable(at.toString(Qt::ISODate));
        }
    }
    EXPECT_TRUE(first(QStringLiteral("start\t"), reopened).isValid()) << "the survey goes on by itself";
    EXPECT_TRUE(first(QStringLiteral("done\tRoof closed"), sim.core->runLimits.untilUtc).isValid())
        << "shut at the end of the run";
    const QStringList observatory = sim.observatoryLines();
    EXPECT_TRUE(std::any_of(observatory.begin(), observatory.end(), [](const QString& line) {
        return line.startsWith(
            QStringLiteral("Observatory: Closed: weather unsafe; reopens 10 min after it turns safe"));
    })) << qPrintable(observatory.join(u'\n'));
    // Each has its status line too: a headless run prints nothing else.
    for (const QString& line : observatory)
        EXPECT_TRUE(sim.view.statuses.contains(line.left(line.lastIndexOf(QStringLiteral(" (")))))
            << qPrintable(line);
}

// With sky flats on, the simulated roof opens in the evening twilight for them and stays open into
// the dark; the plans start only once the Sun is below the limit. At dawn the roof stays open until
// the Sun reaches the flats' window, takes them, and only then parks and closes.
TEST(VirtualNight, SkyFlatsTakeTheTwilightsNotTheDark)
{
    SimSurvey sim([&](ObservatorySettings& s) {
        s.clockStart = QStringLiteral("2024-04-14T01:30:00Z"); // 19:30 local, before sunset
        s.calibration.skyFlats = true;
    });
    QStringList sne;
    for (int i = 0; i < 20; ++i)
        sne << QStringLiteral("SN%1\t%2\t%3").arg(i).arg(8 + i * 0.5, 0, 'f', 2).arg(10 + i)
            << QStringLiteral("**** ");
    sim.writeProgramFile(QStringLiteral("SNeTargets.txt"), sne);
    sim.enable(SurveyKind::SNe);
    sim.core->runLimits.untilUtc = utc("2024-04-14T13:00:00Z");
    sim.run(0);

    const Site site{40, -105, 1600};
    QList<QDateTime> flats;
    QList<QDateTime> plans;
    QDateTime parked;
    for (const QString& line : SimSurvey::readLines(sim.host->acquisitionLogPath())) {
        const QDateTime at = QDateTime::fromString(line.section(u'\t', 0, 0), Qt::ISODate);
        const QString words = line.section(u'\t', 1, 1);
        if (words == QStringLiteral("sky flats"))
            flats << at;
        else if (words == QStringLiteral("start"))
            plans << at;
        else if (line.section(u'\t', 1, 2) == QStringLiteral("done\tMount parked"))
            parked = at;
    }
    ASSERT_EQ(flats.size(), 2) << "one at dusk, one at dawn";
    ASSERT_FALSE(plans.isEmpty());
    for (const QDateTime& at : flats) {
        EXPECT_LE(sunAltitude(at, site), -2) << qPrintable(at.toString(Qt::ISODate));
        EXPECT_GE(sunAltitude(at, site), -10.01) << qPrintable(at.toString(Qt::ISODate));
    }
    EXPECT_LT(flats.first(), plans.first());
    EXPECT_LT(plans.last(), flats.last());
    EXPECT_LE(sunAltitude(plans.first(), site), -12) << "the plans keep to the dark";
    EXPECT_GT(parked, flats.last()) << "the mount parks after the morning's flats";
}

// A real roof with nothing to close it should Kestrove crash or hang is said at every start: in
// the status, the survey log and history.csv, where the notifier hears of it.
TEST(VirtualNight, EveryStartSaysWhenNoWatchdogGuardsAnIndiRoof)
{
    struct Case
    {
        const char* name;
        HostKind kind;
        const char* roof;
        const char* watchdog;
        bool warned;
    };
    const Case cases[] = {
        {"an INDI roof without a watchdog", HostKind::Indi, "RollOff Simulator", "", true},
        {"an INDI roof with a watchdog", HostKind::Indi, "RollOff Simulator", "WatchDog", false},
        {"no roof", HostKind::Indi, "", "", false},
        {"the simulator", HostKind::Sim, "", "", false},
    };
    for (const Case& c : cases) {
        SimSurvey sim([&](ObservatorySettings& s) {
            s.kind = c.kind;
            s.indi.roof = QString::fromLatin1(c.roof);
            s.indi.watchdog = QString::fromLatin1(c.watchdog);
        });
        for (int start = 1; start <= 2; ++start) {
            sim.view.statuses.clear();
            sim.run(1);

            const QStringList said = sim.view.statuses.filter(QStringLiteral("[indi] watchdog"));
            const QStringList logged = sim.observatoryLines().filter(QStringLiteral("[indi] watchdog"));
            QStringList recorded;
            for (const ObservatoryEvent& event :
                 readHistory(historyPath(sim.core->acpUtil->Prefs().LocalUser().DefaultLogDir())).events)
                if (event.text.startsWith(QStringLiteral("Warning: ")))
                    recorded << event.text;
            ASSERT_EQ(said.size(), c.warned ? 1 : 0) << c.name;
            EXPECT_EQ(logged.size(), c.warned ? start : 0) << c.name;
            ASSERT_EQ(recorded.size(), c.warned ? start : 0) << c.name;
            if (c.warned) {
                EXPECT_EQ(recorded.last(), said[0]) << c.name;
                EXPECT_TRUE(said[0].contains(QStringLiteral("\"RollOff Simulator\"")))
                    << said[0].toStdString();
            }
        }
    }
}

} // namespace
} // namespace kestrove::test
