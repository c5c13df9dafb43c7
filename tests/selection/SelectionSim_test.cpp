// Selection on the simulated observatory in virtual time: real elevations for a fixed site, clock
// and mount. Expected scores come from the elevations the same host reports.

#include "support/TestSupport.h"

#include "core/SurveyCore.h"
#include "host/sim/SimObservatory.h"
#include "selection/SelectionSkeleton.h"
#include "text/NumberText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace kestrove::test {
namespace {

class SelectionSimTest : public ::testing::Test
{
protected:
    static ObservatorySettings site(const QString& folder)
    {
        ObservatorySettings s = observatoryDefaults(folder);
        s.latitude = 28.7606;
        s.longitude = -17.8816;
        s.elevation = 2396;
        s.timeZone = QStringLiteral("Atlantic/Canary");
        s.clockStart = QStringLiteral("2022-03-15T22:30:00Z");
        s.clockSpeed = 0;
        s.alignmentMode = 1;
        s.settleTime = 10;
        s.slewRate = 2.5;
        return s;
    }

    SelectionSimTest()
        : observatory(dir.filePath(QStringLiteral("observatory")), site(dir.filePath("observatory"))),
          core(observatory, view, dir.path())
    {
        core.fileSystem = observatory.createFileSystem();
        core.acpUtil = observatory.createUtil();
        core.acpTelescope = observatory.createTelescope();
        core.eventPumpIntervalMs = 0;
        core.surveyLog = core.fileSystem->OpenTextFile(logPath(), IOMode::ForAppending, true);
        siderealTime = core.acpTelescope->SiderealTime();
        // Right ascensions on a quarter-hour grid, so that × 15 is exact in 32 bits.
        meridian = std::round(siderealTime * 4) / 4;
    }

    QString logPath() const { return dir.filePath(QStringLiteral("Kestrove.log")); }

    QStringList logLines()
    {
        core.surveyLog->Close();
        core.surveyLog.reset();
        QStringList lines = QString::fromLatin1(readBytes(logPath())).split(QStringLiteral("\r\n"));
        lines.removeLast();
        return lines;
    }

    // Where the host places a target now, as selection will see it.
    double elevationNow(float ra, float dec)
    {
        auto transform = core.acpUtil->NewCTHereAndNow();
        transform->setRightAscension(ra);
        transform->setDeclination(dec);
        return transform->Elevation();
    }

    static double hourAngleRA(double ra) { return std::fmod(ra + 48, 24); }

    static QString line(const QString& name, double ra, double dec)
    {
        return name + QLatin1Char('\t') + doubleText(ra) + QLatin1Char('\t') + doubleText(dec);
    }

    QTemporaryDir dir;
    sim::SimObservatory observatory;
    RecordingView view;
    SurveyCore core;
    double siderealTime = 0;
    double meridian = 0;
    float bestScore = 0;
    QString bestTarget;
};

TEST_F(SelectionSimTest, SupernovaScoresFollowTheHostsElevationsAndTheSlew)
{
    const float ra0 = static_cast<float>(hourAngleRA(meridian));
    const float ra1 = static_cast<float>(hourAngleRA(meridian - 2));
    const float ra2 = static_cast<float>(hourAngleRA(meridian + 10)); // far below the horizon
    writeBytes(dir.filePath(QStringLiteral("SNeTargets.txt")),
               crlfLines({line("Zenith", ra0, 30), "****", line("West", ra1, 30), "****",
                          line("Down", ra2, 30), "****"}));
    observatory.pointMount(ra0, 30);
    core.firstPass = false;

    EXPECT_TRUE(core.selectSNe(bestScore, bestTarget));

    const double e0 = elevationNow(ra0, 30);
    const double e1 = elevationNow(ra1, 30);
    ASSERT_GT(e0, 85);
    ASSERT_GT(e1, 40);
    ASSERT_LT(elevationNow(ra2, 30), 0);
    // The mount already points at the first target: only the settling time is charged.
    const float score0 = static_cast<float>(e0) * 100.0f / 90.0f - 5.0f;
    EXPECT_EQ(bestScore, score0);
    EXPECT_EQ(bestTarget, line("Zenith", ra0, 30));

    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[1], "  Score=" + singleText(score0) + " Elev=" + doubleText(e0) + " slewTime=10");
    EXPECT_TRUE(lines[3].startsWith("SNe Target: West RA="));
    const QRegularExpressionMatch west =
        QRegularExpression(QStringLiteral("^  Score=(\\S+) Elev=(\\S+) slewTime=(\\S+)$")).match(lines[4]);
    ASSERT_TRUE(west.hasMatch()) << lines[4].toStdString();
    EXPECT_EQ(west.captured(2), doubleText(e1));
    // Two hours of right ascension at declination 30: 25.96 degrees, 10.38 s at 2.5 degrees/s.
    const double slewTime = west.captured(3).toDouble();
    const double degrees = 2 * std::asin(std::cos(30 * M_PI / 180) * std::sin(15 * M_PI / 180)) * 180 / M_PI;
    EXPECT_NEAR(slewTime, 10 + degrees / 2.5, 1e-4);
    EXPECT_NEAR(west.captured(1).toDouble(), e1 * 100 / 90 - slewTime / 2, 1e-4);
}

TEST_F(SelectionSimTest, MinorPlanetFieldThatSetsDuringItsSetWaitsUnlessStarted)
{
    core.firstPass = true;
    core.settings.imagesMPS = 3;
    core.settings.intervalMPS = 30;
    // A field low in the west: above 5 degrees now, below it 65 minutes on.
    float ra = 0;
    for (double hourAngle = 4; hourAngle < 8; hourAngle += 0.05) {
        ra = static_cast<float>(hourAngleRA(siderealTime - hourAngle));
        if (elevationNow(ra, 0) < 9)
            break;
    }
    const double now = elevationNow(ra, 0);
    auto later = core.acpUtil->NewCT(core.acpTelescope->SiteLatitude(), siderealTime + 65.0 / 60);
    later->setRightAscension(ra);
    later->setDeclination(0);
    ASSERT_GT(now, 6);
    ASSERT_LT(later->Elevation(), 5);

    const QString area = QStringLiteral("0 0 0 0");
    writeBytes(dir.filePath(QStringLiteral("MPSTargets.txt")), crlfLines({area}));
    const double due = core.acpUtil->Date_Julian(core.now()) - 31 * 0.0006944444;
    writeBytes(dir.filePath(QStringLiteral("MPSfov1.txt")),
               crlfLines({area, line("1!new", ra, 0), "**** ", line("1!started", ra, 0),
                          "**** imageCount=1 lastImageJD=" + doubleText(due)}));

    EXPECT_TRUE(core.selectMPS(bestScore, bestTarget));
    EXPECT_EQ(bestTarget, line("1!started", ra, 0));
    EXPECT_EQ(bestScore, static_cast<float>(now) * 100.0f / 90.0f * 3.0f);
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith("MPS Target: 1!started RA="));
    EXPECT_TRUE(lines[1].contains(" Elev=" + doubleText(now) + " slewTime=0 minsSinceLast=31.0000"));
}

TEST_F(SelectionSimTest, LightcurveOnTheMeridianStandsAtItsTransitElevation)
{
    core.firstPass = true;
    core.settings.minElevationSLC = 0.9f;
    const float ra = static_cast<float>(hourAngleRA(siderealTime));
    const float away = static_cast<float>(hourAngleRA(siderealTime - 4));
    writeBytes(dir.filePath(QStringLiteral("SLCTargets.txt")),
               crlfLines({line("Transit", ra, 20), "****", line("Away", away, 20), "****"}));

    EXPECT_TRUE(core.selectSLC(bestScore, bestTarget));

    const double elevation = elevationNow(ra, 20);
    const float transit = (20.0f + 90.0f) - 28.7606f;
    // The catalogue position is J2000; precession and refraction move the star a little.
    EXPECT_NEAR(elevation, transit, 0.2);
    EXPECT_LT(elevationNow(away, 20), transit * 0.9f);
    EXPECT_EQ(bestTarget, line("Transit", ra, 20));
    EXPECT_EQ(bestScore, static_cast<float>(100 * (elevation / static_cast<double>(transit))) * 10.0f);
    EXPECT_EQ(logLines().size(), 3);
}

// A kind's targets file with its first lines (the area line of an MPS field file).
struct KindFile
{
    const char* file;
    const char* prefix; // of the target names
    QStringList head;
    std::function<bool(SurveyCore&, float&, QString&)> select;
};

std::vector<KindFile> kindFiles()
{
    return {
        {"SNeTargets.txt", "", {}, [](SurveyCore& c, float& s, QString& t) { return c.selectSNe(s, t); }},
        {"SLCTargets.txt", "", {}, [](SurveyCore& c, float& s, QString& t) { return c.selectSLC(s, t); }},
        {"MPSfov1.txt",
         "1!",
         {QStringLiteral("0 0 0 0")},
         [](SurveyCore& c, float& s, QString& t) { return c.selectMPS(s, t); }},
    };
}

TEST_F(SelectionSimTest, AnUnreadableEntryIsReportedWithItsPlaceAndTheScanGoesOn)
{
    writeBytes(dir.filePath(QStringLiteral("MPSTargets.txt")), crlfLines({QStringLiteral("0 0 0 0")}));
    const float ra = static_cast<float>(hourAngleRA(siderealTime));
    for (const KindFile& kind : kindFiles()) {
        const QString prefix = QString::fromLatin1(kind.prefix);
        const QStringList entries = {line(prefix + "High", ra, 30),
                                     "****",
                                     prefix + "Bad\tabc\t+45:16:49",
                                     "**** bogus=1",
                                     prefix + "NoTab",
                                     "****",
                                     prefix + "Empty\t1:00:00\t",
                                     "****",
                                     line(prefix + "Lower", hourAngleRA(siderealTime - 2), 30),
                                     "****"};
        writeBytes(dir.filePath(QString::fromLatin1(kind.file)), crlfLines(kind.head + entries));
        view.messages.clear();
        bestTarget.clear();

        ASSERT_NO_THROW(EXPECT_TRUE(kind.select(core, bestScore, bestTarget))) << kind.file;

        const QString at = QString::fromLatin1(kind.file) + QStringLiteral(" line %1: ");
        const qsizetype first = kind.head.size();
        EXPECT_EQ(view.messages,
                  QStringList({at.arg(first + 4) + "Unknown item name bogus: \"**** bogus=1\"",
                               at.arg(first + 3) + "Invalid right ascension - not a sexagesimal number: \"" +
                                   prefix + "Bad\\tabc\\t+45:16:49\"",
                               at.arg(first + 5) + "Parse error - First tab missing: \"" + prefix + "NoTab\"",
                               at.arg(first + 7) + "Invalid declination - no number: \"" + prefix +
                                   "Empty\\t1:00:00\\t\""}))
            << kind.file;
        EXPECT_EQ(bestTarget, line(prefix + "High", ra, 30)) << kind.file;
        // The skipped entries are not scored with the position of the one before them.
        const QStringList lines = logLines();
        EXPECT_EQ(lines.filter(QStringLiteral(" Target: ")).size(), 2) << lines.join('\n').toStdString();
        QFile::remove(logPath());
        core.surveyLog = core.fileSystem->OpenTextFile(logPath(), IOMode::ForAppending, true);
    }
}

// Fuzzed catalogues: whatever their lines hold, a pass reads them to the end, and every message
// names its file and line and shows the text in printable characters.
TEST_F(SelectionSimTest, FuzzedCataloguesNeverEndThePass)
{
    writeBytes(dir.filePath(QStringLiteral("MPSTargets.txt")), crlfLines({QStringLiteral("0 0 0 0")}));
    const char alphabet[] = "0123456789:+-. .e\t\t\t*=abchmsd\x00\x01\r\x7f\xe9";
    std::mt19937 random(20240414);
    std::uniform_int_distribution<int> pick(0, sizeof alphabet - 2);
    std::uniform_int_distribution<int> length(0, 24);
    for (const KindFile& kind : kindFiles()) {
        for (int round = 0; round < 60; ++round) {
            QByteArray bytes = crlfLines(kind.head);
            for (int i = 0; i < 12; ++i) {
                QByteArray text = i % 2 == 1 ? QByteArray("**** ") : QByteArray(kind.prefix);
                for (int n = length(random); n > 0; --n)
                    text += alphabet[pick(random)];
                text.replace('\r', ' '); // a line end here would only shift the lines
                bytes += text + "\r\n";
            }
            writeBytes(dir.filePath(QString::fromLatin1(kind.file)), bytes);
            view.messages.clear();
            ASSERT_NO_THROW(kind.select(core, bestScore, bestTarget)) << kind.file << "\n"
                                                                      << bytes.toStdString();
            for (const QString& message : view.messages) {
                EXPECT_TRUE(message.startsWith(QString::fromLatin1(kind.file) + QStringLiteral(" line ")))
                    << message.toStdString();
                for (QChar c : message)
                    ASSERT_TRUE(c.isPrint()) << message.toStdString();
            }
        }
    }
}

// A pass reuses what the last one parsed only for entries whose text is unchanged: an edit saved
// between two passes is seen even when it keeps the file's size and modification time.
TEST_F(SelectionSimTest, AnEditBetweenTwoPassesIsSeenWhateverItsSizeAndTime)
{
    core.firstPass = false;
    const auto at = [](const char* name, double ra, const char* config) {
        return QStringList{QLatin1String(name) + '\t' + QString::number(ra, 'f', 4) + "\t30",
                           QLatin1String(config)};
    };
    const double high = hourAngleRA(meridian), low = hourAngleRA(meridian - 2);
    const QString old = QStringLiteral("**** lastImageJD=2400000.0");
    const struct
    {
        const char* edit;
        QStringList before, after;
        const char* chosenBefore;
        const char* chosenAfter;
    } cases[] = {
        {"positions swapped", at("A", high, "****") + at("B", low, "****"),
         at("A", low, "****") + at("B", high, "****"), "A", "B"},
        {"imaged just now", at("A", high, qPrintable(old)) + at("B", low, qPrintable(old)),
         at("A", high, "**** lastImageJD=9999999.0") + at("B", low, qPrintable(old)), "A", "B"},
        {"entries swapped", at("A", high, "****") + at("B", low, "****"),
         at("B", low, "****") + at("A", high, "****"), "A", "A"},
        {"unchanged", at("A", high, "****") + at("B", low, "****"),
         at("A", high, "****") + at("B", low, "****"), "A", "A"},
    };
    const QString path = dir.filePath(QStringLiteral("SNeTargets.txt"));
    observatory.pointMount(static_cast<float>(high), 30);
    for (const auto& c : cases) {
        writeBytes(path, crlfLines(c.before));
        ASSERT_TRUE(core.selectSNe(bestScore, bestTarget)) << c.edit;
        EXPECT_EQ(bestTarget.section('\t', 0, 0), c.chosenBefore) << c.edit;
        const float scoreBefore = bestScore;

        const QDateTime modified = QFileInfo(path).lastModified();
        writeBytes(path, crlfLines(c.after));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(modified, QFileDevice::FileModificationTime));
        file.close();
        ASSERT_EQ(QFileInfo(path).lastModified(), modified);
        ASSERT_EQ(QFileInfo(path).size(), crlfLines(c.before).size()) << c.edit;

        ASSERT_TRUE(core.selectSNe(bestScore, bestTarget)) << c.edit;
        EXPECT_EQ(bestTarget.section('\t', 0, 0), c.chosenAfter) << c.edit;
        if (c.before == c.after) {
            EXPECT_EQ(bestScore, scoreBefore);
        }
    }
}

// Reusing the parsed entries changes nothing a pass decides or logs, on a made-up catalogue with
// unreadable items and on the samples.
TEST_F(SelectionSimTest, APassWithReusedEntriesChoosesAndLogsAsAFreshOne)
{
    writeBytes(dir.filePath(QStringLiteral("MPSTargets.txt")), crlfLines({QStringLiteral("0 0 0 0")}));
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0, 1);
    const double nowJD = core.acpUtil->Date_Julian(core.now());
    const QDir samples = QFileInfo(QStringLiteral(__FILE__)).dir().filePath(QStringLiteral("../../samples"));
    for (const KindFile& kind : kindFiles()) {
        QStringList lines = kind.head;
        for (int i = 0; i < 200; ++i) {
            lines << line(QLatin1String(kind.prefix) + "T" + QString::number(i), 24 * unit(random),
                          std::asin(2 * unit(random) - 1) * 180 / M_PI)
                  << "**** lastImageJD=" + doubleText(nowJD - 2 * unit(random)) +
                         (i % 7 == 0 ? " bogus=1" : "") + (i % 5 == 0 ? " reshoot=true" : "");
        }
        QList<QByteArray> catalogues = {crlfLines(lines)};
        // The samples have no field files: those are made from the survey area at run time.
        if (kind.head.isEmpty()) {
            ASSERT_TRUE(samples.exists(QLatin1String(kind.file))) << samples.path().toStdString();
            catalogues << readBytes(samples.filePath(QLatin1String(kind.file)));
        }
        for (const QByteArray& catalogue : catalogues) {
            writeBytes(dir.filePath(QString::fromLatin1(kind.file)), catalogue);
            QStringList logs[3];
            QStringList messages[3];
            QString chosen[3];
            float scores[3];
            for (int pass = 0; pass < 3; ++pass) {
                if (pass == 2)
                    core.parsedTargets.clear();
                view.messages.clear();
                core.firstPass = true;
                kind.select(core, scores[pass], chosen[pass]);
                logs[pass] = logLines();
                messages[pass] = view.messages;
                QFile::remove(logPath());
                core.surveyLog = core.fileSystem->OpenTextFile(logPath(), IOMode::ForAppending, true);
            }
            EXPECT_FALSE(logs[0].isEmpty()) << kind.file;
            for (int pass : {1, 2}) {
                EXPECT_EQ(chosen[pass], chosen[0]) << kind.file;
                EXPECT_EQ(scores[pass], scores[0]) << kind.file;
                EXPECT_EQ(logs[pass], logs[0]) << kind.file;
                EXPECT_EQ(messages[pass], messages[0]) << kind.file;
            }
        }
    }
}

// The host's transform spares work: a dot product for a target well below the lowest elevation, no
// azimuth where no rule reads one. Every target must still meet the rule a transform without those
// shortcuts gives it.
class PlainTransform : public CoordTransform
{
public:
    explicit PlainTransform(std::unique_ptr<CoordTransform> exact) : m_exact(std::move(exact)) {}
    void setRightAscension(double hours) override { m_exact->setRightAscension(hours); }
    void setDeclination(double degrees) override { m_exact->setDeclination(degrees); }
    double RightAscension() const override { return m_exact->RightAscension(); }
    double Declination() const override { return m_exact->Declination(); }
    double Elevation() override { return m_exact->Elevation(); }
    double Azimuth() override { return m_exact->Azimuth(); }

private:
    std::unique_ptr<CoordTransform> m_exact;
};

TEST_F(SelectionSimTest, ShortcutsOfTheHostsTransformKeepEveryRule)
{
    const struct
    {
        const char* what;
        QList<QPointF> horizon;
        double minimumElevation;
        int alignmentMode;
        float minAzimuth, maxAzimuth, maxElevation;
        std::optional<double> moonSeparation;
    } cases[] = {
        {"flat", {}, 0, 1, 0, 360, 90, {}},
        {"a wall in the east", {{0, 0}, {80, 0}, {90, 35}, {120, 35}, {130, 0}}, 0, 1, 0, 360, 90, {}},
        {"high minimum, alt-azimuth", {}, 25, 0, 0, 360, 90, {}},
        {"a window in the south", {}, 10, 1, 120, 240, 90, {}},
        {"a low ceiling", {{0, 3}}, 20, 2, 0, 360, 15, {}},
        {"the Moon up", {}, 0, 1, 0, 360, 90, 70},
    };
    std::mt19937 random(7);
    std::uniform_real_distribution<float> ra(0, 24), sine(-1, 1);
    for (const auto& c : cases) {
        QTemporaryDir folder;
        ObservatorySettings settings = site(folder.path());
        settings.horizon = c.horizon;
        settings.minimumElevation = c.minimumElevation;
        settings.alignmentMode = c.alignmentMode;
        settings.tiltUpLimit = 60;
        settings.moonSeparation = c.moonSeparation;
        sim::SimObservatory host(folder.path(), settings);
        SurveyCore survey(host, view, folder.path());
        survey.acpUtil = host.createUtil();
        survey.acpTelescope = host.createTelescope();
        survey.settings.minAzimuth = c.minAzimuth;
        survey.settings.maxAzimuth = c.maxAzimuth;
        survey.settings.maxElevation = c.maxElevation;
        std::map<Outcome, int> seen;
        for (int k = 0; k < 3000; ++k) {
            selection::TargetPosition target;
            target.ra = ra(random);
            target.dec = static_cast<float>(std::asin(sine(random)) * 180 / M_PI);
            target.place = CataloguePlace::of(target.ra, target.dec);
            auto quick = survey.acpUtil->NewCTHereAndNow();
            PlainTransform plain(survey.acpUtil->NewCTHereAndNow());
            Outcome quickRule = Outcome::Chosen, plainRule = Outcome::Chosen;
            const bool quickSays = selection::isObservable(survey, *quick, target, quickRule);
            ASSERT_EQ(quickSays, selection::isObservable(survey, plain, target, plainRule)) << c.what;
            ASSERT_EQ(quickRule, plainRule) << c.what << " ra " << target.ra << " dec " << target.dec;
            if (quickSays) {
                // What is observable stands clear of every limit, measured without shortcuts.
                const double elevation = plain.Elevation(), azimuth = plain.Azimuth();
                EXPECT_EQ(quick->Elevation(), elevation) << c.what;
                EXPECT_GT(elevation, survey.acpUtil->Prefs().GetHorizon(azimuth) + 5) << c.what;
                EXPECT_GT(elevation, c.minimumElevation + 1) << c.what;
                EXPECT_LE(elevation, c.maxElevation) << c.what;
                EXPECT_TRUE(azimuth >= c.minAzimuth && azimuth <= c.maxAzimuth) << c.what;
            }
            ++seen[quickRule];
        }
        // The sky is sampled widely enough that each case reaches several rules.
        EXPECT_GE(seen.size(), 3U) << c.what;
    }
}

} // namespace
} // namespace kestrove::test
