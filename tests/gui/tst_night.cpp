#include "GuiTestSupport.h"
#include "app/frmMain.h"
#include "app/frmPreview.h"
#include "host/sim/SimObservatory.h"
#include "report/charts/NightCharts.h"
#include "report/charts/NightOutput.h"
#include "support/TestSupport.h"
#include "text/ValueText.h"

#include <QAbstractSeries>
#include <QAreaSeries>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsTextItem>
#include <QImage>
#include <QLabel>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QPolarChart>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QXYSeries>
#include <QtTest>
#include <algorithm>
#include <cmath>
#include <map>
#include <memory>

using namespace kestrove;

namespace {

QString samplesFolder()
{
    return QFileInfo(QStringLiteral(__FILE__)).dir().filePath(QStringLiteral("../../samples"));
}

// Series of a chart by name, with how many points each has (areas by their upper line).
std::map<QString, int> seriesOf(QChart* chart)
{
    std::map<QString, int> found;
    for (QAbstractSeries* series : chart->series()) {
        int points = 0;
        if (auto* xy = qobject_cast<QXYSeries*>(series))
            points = static_cast<int>(xy->count());
        else if (auto* area = qobject_cast<QAreaSeries*>(series))
            points = static_cast<int>(area->upperSeries()->count());
        found[series->name()] = points;
    }
    return found;
}

HistoryEntry plan(const char* start, int minutes, SurveyKind kind, const char* target, double ra, double dec)
{
    HistoryEntry entry;
    entry.startUtc = QDateTime::fromString(QString::fromLatin1(start), Qt::ISODate).toUTC();
    entry.endUtc = entry.startUtc.addSecs(60 * minutes);
    entry.kind = kind;
    entry.target = QString::fromLatin1(target);
    entry.rightAscension = ra;
    entry.declination = dec;
    entry.score = 100;
    entry.result = QStringLiteral("completed");
    return entry;
}

} // namespace

class tst_night : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<sim::SimObservatory> m_host;
    QString m_program;
    QString m_observatory;

    std::unique_ptr<frmMain> openWindow()
    {
        auto window = std::make_unique<frmMain>(*m_host, m_program);
        window->setObservatoryFolder(m_observatory);
        window->show();
        return window;
    }
    QString logPath() const { return m_host->settings().logDir + QStringLiteral("/Kestrove.log"); }
    // The night of 2024-12-07 at La Palma, from dusk to dawn, with nothing in it yet.
    static NightReport laPalmaNight()
    {
        NightReport report;
        report.night = QDate(2024, 12, 7);
        report.site = {28.7606, -17.8816, 2396};
        report.zone = QTimeZone("Atlantic/Canary");
        report.span = {QDateTime(QDate(2024, 12, 7), QTime(19, 10), QTimeZone::utc()),
                       QDateTime(QDate(2024, 12, 8), QTime(6, 57), QTimeZone::utc())};
        return report;
    }

private slots:
    // The sample catalogues, and a simulated observatory in virtual time on the evening of 7 December
    // 2024 at its default site.
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_program = m_dir->filePath(QStringLiteral("program/"));
        m_observatory = m_dir->filePath(QStringLiteral("observatory"));
        QDir().mkpath(m_program);
        for (const QString& name : QDir(samplesFolder()).entryList(QDir::Files))
            QFile::copy(QDir(samplesFolder()).filePath(name), m_program + name);
        ObservatorySettings settings = observatoryDefaults(m_observatory);
        settings.clockStart = QStringLiteral("2024-12-07T20:00:00Z");
        settings.clockSpeed = 0;
        writeObservatorySettings(m_observatory, settings);
        m_host = std::make_unique<sim::SimObservatory>(m_observatory);
    }

    void chartsHaveTheirSeriesAndRender()
    {
        NightReport report = laPalmaNight();
        report.horizon = {QPointF(0, 10), QPointF(180, 20)};
        report.minAzimuth = 20;
        report.maxAzimuth = 340;
        for (const HistoryEntry& entry :
             {plan("2024-12-07T20:00:00Z", 3, SurveyKind::SNe, "M31", 0.712, 41.27),
              plan("2024-12-07T20:05:00Z", 10, SurveyKind::SLC, "Algol", 3.136, 40.96),
              plan("2024-12-08T01:00:00Z", 2, SurveyKind::SNe, "M74", 1.611, 15.78)})
            report.plans << observedPlan(entry, report.site);

        std::unique_ptr<QChart> night(charts::nightChart(report));
        const auto nightSeries = seriesOf(night.get());
        for (const QString& name :
             {QStringLiteral("SNe plans"), QStringLiteral("SLC plans"), QStringLiteral("M31"),
              QStringLiteral("Algol"), QStringLiteral("Nautical twilight (Sun -12\u00b0 to -6\u00b0)")}) {
            QVERIFY2(nightSeries.count(name), qPrintable(name));
            QVERIFY2(nightSeries.at(name) > 0, qPrintable(name));
        }
        QVERIFY(!nightSeries.count(QStringLiteral("MPS plans")));
        QCOMPARE(nightSeries.count(QStringLiteral("Moon")), haveMoonEphemeris() ? 1u : 0u);

        std::unique_ptr<QChart> sky(charts::skyChart(report));
        const auto skySeries = seriesOf(sky.get());
        QCOMPARE(skySeries.at(QStringLiteral("SNe")), 2);
        QCOMPARE(skySeries.at(QStringLiteral("SLC")), 1);
        QVERIFY(skySeries.at(QStringLiteral("Horizon")) > 100);
        QVERIFY(skySeries.count(QStringLiteral("Observation window")));

        QTemporaryDir out;
        charts::saveChart(night.release(), QSize(800, 500), out.filePath("night.png"),
                          out.filePath("night.svg"));
        const QImage picture(out.filePath("night.png"));
        QCOMPARE(picture.size(), QSize(800, 500));
        // Something besides the white page was drawn: the twilights shade the evening and the morning.
        int drawn = 0;
        for (int y = 0; y < picture.height(); y += 5)
            for (int x = 0; x < picture.width(); x += 5)
                drawn += picture.pixelColor(x, y) != QColor(Qt::white);
        QVERIFY2(drawn > picture.width() * picture.height() / 25 / 10, qPrintable(QString::number(drawn)));
        QFile svg(out.filePath("night.svg"));
        QVERIFY(svg.open(QIODevice::ReadOnly));
        QVERIFY(svg.readAll().contains("<svg"));
    }

    // sky.png and the Observatory dialog's horizon chart draw one map: each compass point lies in the
    // same direction from the zenith on both, and the sky chart is labelled with them.
    void skyChartIsTheHorizonChartsMap()
    {
        QGraphicsScene scene;
        auto* sky = qobject_cast<QPolarChart*>(charts::skyChart(laPalmaNight()));
        QVERIFY(sky);
        scene.addItem(sky);
        sky->setGeometry(QRectF(0, 0, 600, 600));
        QCoreApplication::sendPostedEvents();
        QAbstractSeries* horizon = nullptr;
        for (QAbstractSeries* series : sky->series())
            if (series->name() == QStringLiteral("Horizon"))
                horizon = series;
        QVERIFY(horizon);
        auto* azimuths =
            qobject_cast<QCategoryAxis*>(sky->axes(QPolarChart::PolarOrientationAngular).value(0));
        QVERIFY(azimuths);
        const QPointF zenith = sky->mapToPosition(QPointF(0, 0), horizon);
        for (const auto& [label, azimuth] : charts::compassPoints()) {
            const QPointF onSky = sky->mapToPosition(QPointF(azimuth, 90), horizon) - zenith;
            const QPointF onMap = charts::skyMapPoint(azimuth, 0);
            const double cosine = QPointF::dotProduct(onSky, onMap) / std::hypot(onSky.x(), onSky.y());
            QVERIFY2(cosine > 0.999, qPrintable(label));
            QVERIFY2(azimuths->categoriesLabels().contains(label), qPrintable(label));
        }
    }

    // Plans that did not complete are marked; the night and its twilights each have a band, named
    // by the Sun's altitudes, the night darkest and every twilight lighter than the one before.
    void nightChartMarksFailuresAndTellsTheTwilightsApart()
    {
        NightReport report = laPalmaNight();
        HistoryEntry aborted = plan("2024-12-07T20:05:00Z", 10, SurveyKind::SLC, "Algol", 3.136, 40.96);
        aborted.result = QStringLiteral("failed: aborted, weather unsafe");
        HistoryEntry failed = plan("2024-12-08T01:00:00Z", 2, SurveyKind::SNe, "M74", 1.611, 15.78);
        failed.result = QStringLiteral("failed (simulated fault)");
        for (const HistoryEntry& entry :
             {plan("2024-12-07T20:00:00Z", 3, SurveyKind::SNe, "M31", 0.712, 41.27), aborted, failed})
            report.plans << observedPlan(entry, report.site);

        std::unique_ptr<QChart> night(charts::nightChart(report));
        const auto series = seriesOf(night.get());
        // Two blocks of four corners between the ends of the foot line.
        QCOMPARE(series.at(charts::failedPlansSeriesName()), 2 + 2 * 4);

        QStringList names;
        QList<double> lightness; // as drawn over the white page
        for (const char* band : {"Night (Sun below -18", "Astronomical twilight (Sun -18",
                                 "Nautical twilight (Sun -12", "Civil twilight (Sun -6"}) {
            QAreaSeries* found = nullptr;
            for (QAbstractSeries* s : night->series())
                if (s->name().startsWith(QString::fromUtf8(band)))
                    found = qobject_cast<QAreaSeries*>(s);
            QVERIFY2(found, band);
            QVERIFY2(found->upperSeries()->count() > 0, band);
            names << found->name();
            const QColor c = found->brush().color();
            const double alpha = c.alphaF();
            lightness << alpha * QColor(c.red(), c.green(), c.blue()).lightnessF() + (1 - alpha);
        }
        for (qsizetype i = 1; i < lightness.size(); ++i)
            QVERIFY2(lightness[i] > lightness[i - 1] + 0.03, qPrintable(names[i]));
        QVERIFY(lightness.last() < 0.98); // still seen on the white page
    }

    void skyChartZeroLabelsDoNotOverlap_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("the file") << QSize(900, 950);
        QTest::newRow("a small window") << QSize(420, 440);
        QTest::newRow("a wide window") << QSize(900, 500);
    }

    // The azimuth's 0 and the altitude's 0 meet at the top of the sky chart; their labels must
    // keep clear of each other.
    void skyChartZeroLabelsDoNotOverlap()
    {
        QFETCH(QSize, size);
        NightReport report;
        report.night = QDate(2024, 12, 7);
        report.zone = QTimeZone::utc();
        QGraphicsScene scene;
        QChart* sky = charts::skyChart(report);
        scene.addItem(sky);
        sky->setGeometry(QRectF(QPointF(0, 0), size));
        QCoreApplication::sendPostedEvents();
        QImage picture(size, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&picture);
        scene.render(&painter);
        painter.end();

        QList<QRectF> zeros;
        for (QGraphicsItem* item : scene.items()) {
            QString text;
            if (auto* rich = dynamic_cast<QGraphicsTextItem*>(item))
                text = rich->toPlainText();
            else if (auto* plain = dynamic_cast<QGraphicsSimpleTextItem*>(item))
                text = plain->text();
            if (item->isVisible() && text.trimmed() == QStringLiteral("0"))
                zeros << item->sceneBoundingRect();
        }
        QVERIFY(!zeros.isEmpty());
        // Apart by at least a label's height, so that they do not read as one label.
        for (qsizetype i = 0; i < zeros.size(); ++i)
            for (qsizetype j = i + 1; j < zeros.size(); ++j) {
                const QRectF& a = zeros[i];
                const QRectF& b = zeros[j];
                const double gap = std::max(
                    {a.top() - b.bottom(), b.top() - a.bottom(), a.left() - b.right(), b.left() - a.right()});
                QVERIFY2(gap >= a.height(), qPrintable(QStringLiteral("%1 pixels apart").arg(gap)));
            }
    }

    void previewNightShowsAndWritesTheNight()
    {
        auto window = openWindow();
        window->findChild<QCheckBox*>("SNeCheck")->setChecked(true);
        window->findChild<QCheckBox*>("SLCCheck")->setChecked(true);
        auto* button = window->findChild<QPushButton*>("PreviewButton");
        QVERIFY(button);
        QCOMPARE(button->text(), QStringLiteral("Preview Night"));
        QVERIFY(button->isEnabled());

        QPointer<frmPreview> dialog;
        test::onNextModal([&dialog](QWidget* modal) { dialog = qobject_cast<frmPreview*>(modal); });
        std::map<QString, int> series;
        QString files;
        int progress = 0;
        int planRows = 0;
        int planColumns = 0;
        // The preview runs inside the dialog; it is looked at, and closed, once it is done.
        QTimer watch;
        watch.setInterval(20);
        connect(&watch, &QTimer::timeout, this, [&] {
            if (!dialog || dialog->isRunning())
                return;
            const QString summary = dialog->findChild<QPlainTextEdit*>("SummaryText")->toPlainText();
            if (summary.isEmpty())
                return;
            series = seriesOf(dialog->findChild<QChartView*>("NightChart")->chart());
            files = dialog->filesFolder();
            progress = dialog->findChild<QProgressBar*>("ProgressBar")->value();
            const auto* plans = dialog->findChild<QTableWidget*>("PlansTable");
            planRows = plans->rowCount();
            planColumns = plans->columnCount();
            dialog->reject();
        });
        watch.start();
        button->click();

        QVERIFY2(!files.isEmpty(), "the preview wrote its files");
        QCOMPARE(progress, 1000);
        // One row a plan, split into its columns, whatever the file's line ends.
        QVERIFY2(planRows > 1, qPrintable(QString::number(planRows)));
        QCOMPARE(planColumns, 13);
        QVERIFY(series.count(QStringLiteral("SNe plans")));
        QVERIFY(series.count(QStringLiteral("SLC plans")));
        QVERIFY(!series.count(QStringLiteral("MPS plans"))); // its box is clear
        for (const char* name : {"plans.csv", "reasons.csv", "night.png", "night.svg", "sky.png"})
            QVERIFY2(QFile::exists(QDir(files).filePath(name)), name);
        QVERIFY(files.startsWith(m_program + "preview/2024-12-07"));
        // The window has not saved its settings yet; the preview saved none of its own here.
        QVERIFY(!QFile::exists(m_program + "config.ini"));
    }

    // The morning report draws each lightcurve star's night and every night; a night without
    // lightcurve points draws none.
    void reportDrawsEachStarsLightcurve_data()
    {
        QTest::addColumn<QStringList>("nightTargets");
        QTest::addColumn<int>("earlierPoints");
        QTest::addColumn<QStringList>("pictures");
        QTest::newRow("none") << QStringList{} << 0 << QStringList{};
        QTest::newRow("two stars, one with earlier nights")
            << QStringList{"RR Lyr", "SS Cyg", "RR Lyr"} << 5
            << QStringList{"RR Lyr-night.png", "RR Lyr-all.png", "SS Cyg-night.png", "SS Cyg-all.png"};
        QTest::newRow("a name a file cannot hold")
            << QStringList{"V1/Cyg"} << 0 << QStringList{"V1_Cyg-night.png", "V1_Cyg-all.png"};
    }

    void reportDrawsEachStarsLightcurve()
    {
        QFETCH(QStringList, nightTargets);
        QFETCH(int, earlierPoints);
        QFETCH(QStringList, pictures);
        NightReport report;
        report.preview = false;
        report.night = QDate(2024, 4, 13);
        report.zone = QTimeZone::utc();
        report.span = {QDateTime(report.night, QTime(20, 0), QTimeZone::utc()),
                       QDateTime(report.night.addDays(1), QTime(4, 0), QTimeZone::utc())};
        const auto point = [](const QString& target, double bjd, int i) {
            database::LightcurvePoint p;
            p.target = target;
            p.filter = i % 2 ? QStringLiteral("V") : QStringLiteral("B");
            p.utc = QDateTime(QDate(2024, 4, 13), QTime(21, 0), QTimeZone::utc()).addSecs(600 * i);
            p.bjdTdb = bjd;
            p.magnitude = 0.4 * std::sin(i / 3.0);
            p.error = 0.02;
            p.checkMagnitude = 1.2;
            p.checkError = 0.01;
            return p;
        };
        for (int i = 0; i < earlierPoints; ++i)
            report.lightcurveAll.push_back(point(nightTargets.value(0), 2460400.6 + i, i));
        for (int i = 0; i < nightTargets.size() * 10; ++i)
            report.lightcurve.push_back(
                point(nightTargets[i % nightTargets.size()], 2460414.38 + i / 144.0, i));
        report.lightcurveAll.insert(report.lightcurveAll.end(), report.lightcurve.begin(),
                                    report.lightcurve.end());

        QTemporaryDir out;
        QStringList drawn;
        for (const QString& path : writeReportFiles(report, out.path()))
            if (path.contains(QLatin1String("/lightcurves/")))
                drawn << QFileInfo(path).fileName();
        QCOMPARE(drawn, pictures);
        for (const QString& name : pictures) {
            const QImage picture(out.filePath(QStringLiteral("lightcurves/") + name));
            QCOMPARE(picture.size(), QSize(1000, 600));
        }
        if (earlierPoints > 0)
            QVERIFY(QFile(out.filePath("lightcurves/RR Lyr-all.png")).size() !=
                    QFile(out.filePath("lightcurves/RR Lyr-night.png")).size());
    }

    void previewComparesThePolicies()
    {
        std::map<SurveyKind, PreviewRequest::Control> controls{{SurveyKind::SNe, {true, "100"}},
                                                               {SurveyKind::SLC, {true, "100"}}};
        frmPreview dialog(m_program, m_observatory, controls, QDate(2024, 12, 7));
        auto* compare = dialog.findChild<QCheckBox*>("ComparePoliciesBox");
        QVERIFY(compare);
        compare->setChecked(true);
        // The night is previewed as soon as the dialog is shown.
        dialog.show();
        auto* policies = dialog.findChild<QPlainTextEdit*>("PoliciesText");
        auto* summary = dialog.findChild<QPlainTextEdit*>("SummaryText");
        QVERIFY(
            QTest::qWaitFor([&] { return !dialog.isRunning() && !summary->toPlainText().isEmpty(); }, 60000));
        QVERIFY2(!dialog.filesFolder().isEmpty(), qPrintable(summary->toPlainText()));
        const QString table = policies->toPlainText();
        QVERIFY2(table.contains(QRegularExpression(QStringLiteral("specified +balanced"))),
                 qPrintable(table));
        QVERIFY2(table.contains("Median airmass of the plans"), qPrintable(table));
        QVERIFY2(!table.contains("MPS"), qPrintable(table)); // its box is clear
        const QDir files(dialog.filesFolder());
        for (const char* name :
             {"policies.txt", "specified/plans.csv", "balanced/plans.csv", "balanced/night.png"})
            QVERIFY2(QFile::exists(files.filePath(name)), name);
        // The other tabs show the observatory's own policy, the specified one.
        QVERIFY(
            !dialog.findChild<QPlainTextEdit*>("SummaryText")->toPlainText().contains("Policy: balanced"));
        QCOMPARE(dialog.findChild<QTabWidget*>("ResultTabs")->currentWidget(), policies);
        dialog.reject();
    }

    void logPanelFollowsTheLogBounded()
    {
        auto window = openWindow();
        auto* panel = window->findChild<QPlainTextEdit*>("LogPanel");
        QVERIFY(panel);
        QFile log(logPath());
        QVERIFY(log.open(QIODevice::Append));
        log.write("**** Searching for new target\r\n");
        log.flush();
        QVERIFY(
            QTest::qWaitFor([&] { return panel->toPlainText().contains("Searching for new target"); }, 5000));

        QByteArray many;
        for (int i = 0; i < 100000; ++i)
            many += "SNe Target: SN" + QByteArray::number(i) + " RA=1, DEC=2\r\n";
        log.write(many);
        log.flush();
        QVERIFY(QTest::qWaitFor([&] { return panel->toPlainText().endsWith("SN99999 RA=1, DEC=2"); }, 5000));
        QVERIFY(panel->blockCount() <= 500);
    }

    void passPanelShowsEachKindsBestAndTheChoice()
    {
        auto window = openWindow();
        window->findChild<QCheckBox*>("SNeCheck")->setChecked(true);
        window->findChild<QCheckBox*>("SLCCheck")->setChecked(true);
        window->core.runLimits.passes = 1;
        // The choice is shown while its plan runs; the run's end clears it.
        auto* target = window->findChild<QLabel*>("CurrentTargetLabel");
        QString current;
        QTimer watch;
        watch.setInterval(0);
        connect(&watch, &QTimer::timeout, window.get(), [&] {
            if (window->core.isRunning() && target->text() != QStringLiteral("Current target: none"))
                current = target->text();
        });
        watch.start();
        window->findChild<QPushButton*>("StartButton")->click();
        watch.stop();

        const QString best = window->findChild<QLabel*>("PassWinnersLabel")->text();
        QCOMPARE(target->text(), QStringLiteral("Current target: none"));
        QVERIFY2(best.contains("SNe ") && best.contains("SLC "), qPrintable(best));
        QVERIFY2(current.startsWith("Current target: S"), qPrintable(current));
        // The kind and name of the choice are among the bests shown.
        QVERIFY2(best.contains(current.mid(QStringLiteral("Current target: ").size())), qPrintable(best));
        QVERIFY(window->findChild<QPushButton*>("PreviewButton")->isEnabled());
    }

    void closingDuringAPlanAsksFirst_data()
    {
        QTest::addColumn<bool>("stop");
        QTest::newRow("no: the run goes on") << false;
        QTest::newRow("yes: the plan is aborted and logged") << true;
    }

    void closingDuringAPlanAsksFirst()
    {
        QFETCH(bool, stop);
        auto window = openWindow();
        window->findChild<QCheckBox*>("SNeCheck")->setChecked(true);
        window->findChild<QCheckBox*>("SLCCheck")->setChecked(true);

        test::ShownMessage question;
        bool openAfterAnswer = false;
        QTimer closer;
        closer.setInterval(0);
        connect(&closer, &QTimer::timeout, window.get(), [&] {
            if (!window->core.isRunning() || !window->core.acpUtil->ScriptActive())
                return;
            closer.stop();
            test::onNextModal([&](QWidget* modal) {
                test::answerQuestion(modal, stop ? QMessageBox::Yes : QMessageBox::No, question);
            });
            window->close();
            openAfterAnswer = window->isVisible() && window->core.isRunning() && !window->core.stopPending();
            if (!stop)
                window->findChild<QPushButton*>("StopButton")->click();
        });
        closer.start();
        window->findChild<QPushButton*>("StartButton")->click(); // returns when the run has ended

        QVERIFY(question.shown);
        QCOMPARE(question.text, QStringLiteral("A survey is running. Stop it and close?"));
        QCOMPARE(question.buttonCount, 2);
        QCOMPARE(openAfterAnswer, !stop);
        QCOMPARE(window->isVisible(), !stop);
        QFile log(m_host->acquisitionLogPath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll().contains("AbortScript"), stop);
    }
};

QTEST_MAIN(tst_night)
#include "tst_night.moc"
