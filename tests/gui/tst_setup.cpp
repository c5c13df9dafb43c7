#include "GuiTestSupport.h"
#include "app/frmMain.h"
#include "app/frmObservatory.h"
#include "app/frmTargets.h"
#include "host/HostFactory.h"
#include "host/LocalFileSystem.h"
#include "support/FakeHost.h"
#include "support/TestSupport.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

using namespace kestrove;

namespace {

// A file the user has commented and added to by hand, around Kestrove's own keys.
const QByteArray handEdited = "; La Palma, my notes\r\n"
                              "[site]\r\n"
                              "latitude=28.7606 ; surveyed 2019\r\n"
                              "longitude=-17.8816\r\n"
                              "elevation=2396\r\n"
                              "timeZone=Atlantic/Canary\r\n"
                              "\r\n"
                              "# my own section\r\n"
                              "[notes]\r\n"
                              "owner=me\r\n"
                              "\r\n"
                              "[limits]\r\n"
                              "minimumElevation=20\r\n"
                              "horizon=0:10 90:25 180:5 270:15\r\n";

QStringList columnTexts(QTableWidget* table, int column)
{
    QStringList texts;
    for (int r = 0; r < table->rowCount(); ++r)
        texts << table->item(r, column)->text();
    return texts;
}

} // namespace

class tst_setup : public QObject
{
    Q_OBJECT

private slots:
    // The main window names the observatory folder in use and opens both windows over it.
    void mainWindowOpensBoth()
    {
        QTemporaryDir dir;
        test::FakeHost host;
        frmMain window(host, dir.path());
        const QString observatory = dir.filePath("observatory");
        readObservatorySettings(observatory);
        window.setObservatoryFolder(observatory);
        window.showObservatory();
        QVERIFY(window.findChild<QLabel*>("ObservatoryFolderLabel")->text().endsWith(observatory));
        QString title;
        int tabs = 0;
        test::onNextModal([&](QWidget* dialog) {
            title = dialog->windowTitle();
            static_cast<QDialog*>(dialog)->reject();
        });
        window.findChild<QPushButton*>("ObservatoryButton")->click();
        QCOMPARE(title, QStringLiteral("Observatory - ") + observatoryIniPath(observatory));
        test::onNextModal([&](QWidget* dialog) {
            tabs = dialog->findChild<QTabWidget*>()->count();
            static_cast<QDialog*>(dialog)->reject();
        });
        window.findChild<QPushButton*>("TargetsButton")->click();
        QCOMPARE(tabs, 3);
    }

    // The site saved in the Observatory dialog is the sky of the next Start, and only of the next:
    // saved during a run, it changes nothing of that run and says so.
    void savedSettingsApplyAtTheNextStart()
    {
        QTemporaryDir dir;
        const QString observatory = dir.filePath("observatory");
        ObservatorySettings settings = observatoryDefaults(observatory);
        settings.clockStart = "2024-03-01T22:00:00Z";
        settings.clockSpeed = 0;
        writeObservatorySettings(observatory, settings);
        const std::unique_ptr<Host> host = createHost(observatory);
        frmMain window(*host, dir.path());
        window.setObservatoryFolder(observatory);
        window.show();

        // Where the run sees the site and M81, which never rises from Chile.
        struct Sky
        {
            double latitude = 0;
            double m81Elevation = 0;
        };
        const auto sky = [&] {
            const auto place = window.core.acpUtil->NewCTHereAndNow();
            place->setRightAscension(9.9259);
            place->setDeclination(69.0653);
            return Sky{window.core.acpTelescope->SiteLatitude(), place->Elevation()};
        };
        const auto run = [&](const std::function<void()>& during) {
            QTimer::singleShot(0, &window, [&, during] {
                during();
                window.findChild<QPushButton*>("StopButton")->click();
            });
            window.findChild<QPushButton*>("StartButton")->click(); // returns when the run has ended
        };

        Sky before, afterSaving, next;
        test::ShownMessage told;
        run([&] {
            before = sky();
            test::onNextModal([&](QWidget* dialog) {
                auto* form = static_cast<frmObservatory*>(dialog);
                form->setValue("site/latitude", "-30.2446");
                form->setValue("site/longitude", "-70.7494");
                form->setValue("site/timeZone", "America/Santiago");
                test::onNextModal([&](QWidget* modal) { test::recordAndCloseMessage(modal, told); }, dialog);
                form->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save)->click();
            });
            window.findChild<QPushButton*>("ObservatoryButton")->click();
            afterSaving = sky();
        });
        run([&] { next = sky(); });

        QCOMPARE(next.latitude, -30.2446);
        QVERIFY2(next.m81Elevation < 0, qPrintable(QString::number(next.m81Elevation)));
        QCOMPARE(before.latitude, 28.7606);
        QVERIFY(before.m81Elevation > 20);
        QCOMPARE(afterSaving.latitude, before.latitude);
        QCOMPARE(afterSaving.m81Elevation, before.m81Elevation);
        QVERIFY2(told.text.contains("applies at the next Start"), qPrintable(told.text));
    }

    void observatoryRoundTrip_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("before"); // the line as the file holds it; empty: added
        QTest::addColumn<QByteArray>("after");  // the file's line afterwards; empty: refused
        QTest::addColumn<QString>("refusal");
        QTest::newRow("latitude") << "site/latitude"
                                  << "30.5" << QByteArray("latitude=28.7606 ; surveyed 2019")
                                  << QByteArray("latitude=30.5") << QString();
        QTest::newRow("horizon") << "limits/horizon"
                                 << "0:12 180:6" << QByteArray("horizon=0:10 90:25 180:5 270:15")
                                 << QByteArray("horizon=0:12 180:6") << QString();
        QTest::newRow("time zone") << "site/timeZone"
                                   << "Europe/Madrid" << QByteArray("timeZone=Atlantic/Canary")
                                   << QByteArray("timeZone=Europe/Madrid") << QString();
        QTest::newRow("a key not in the file")
            << "limits/sunAltitude"
            << "-15" << QByteArray("180:5 270:15\r\n") << QByteArray("180:5 270:15\r\nsunAltitude=-15\r\n")
            << QString();
        QTest::newRow("latitude out of range")
            << "site/latitude"
            << "95" << QByteArray() << QByteArray() << "Latitude (degrees): \"95\" lies outside -90 to 90";
        QTest::newRow("elevation not a number")
            << "site/elevation"
            << "high" << QByteArray() << QByteArray() << "Elevation (metres): \"high\" is not a number";
        QTest::newRow("a bad horizon")
            << "limits/horizon"
            << "0:10 x" << QByteArray() << QByteArray() << "Horizon (azimuth:elevation degrees)";
    }

    void observatoryRoundTrip()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        const QString ini = observatoryIniPath(dir.path());
        test::writeBytes(ini, handEdited);
        frmObservatory form(dir.path(), true);
        form.setValue(key, value);
        const QString problem = form.save();
        if (!refusal.isEmpty()) {
            QVERIFY2(problem.startsWith(refusal), qPrintable(problem));
            QCOMPARE(test::readBytes(ini), handEdited);
            return;
        }
        QCOMPARE(problem, QString());
        QCOMPARE(test::readBytes(ini), QByteArray(handEdited).replace(before, after));
        QCOMPARE(form.savedNote(), QStringLiteral("Saved in %1: %2").arg(ini, key));
        // Saving again with nothing changed leaves the file as it is.
        QCOMPARE(form.save(), QString());
        QCOMPARE(test::readBytes(ini), QByteArray(handEdited).replace(before, after));
    }

    void targetEditorRoundTrip_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("SNe") << "SNeTargets.txt"
                             << test::crlfLines({"M31\t00:42:44\t+41:16:09", "**** reshoot=true",
                                                 "M33\t01:33:50\t+30:39:37", "**** "});
        QTest::newRow("SLC") << "SLCTargets.txt"
                             << test::crlfLines(
                                    {"M31\t00:42:44\t+41:16:09",
                                     "**** lastImageJD=2461000.5 priority=100 interval=60 exposure=30 "
                                     "binning=1 filter=V",
                                     "M33\t01:33:50\t+30:39:37", "**** priority=5"});
    }

    void targetEditorRoundTrip()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, file);
        QTemporaryDir dir;
        const QString path = dir.filePath(fileName);
        test::writeBytes(path, file);
        LocalFileSystem fs;
        TargetsPage page(fs, path, dir.filePath("edittargets.txt"), QTimeZone::utc(), nullptr);
        QTableWidget* table = page.table();
        QCOMPARE(columnTexts(table, TargetsPage::kNameColumn), QStringList({"M31", "M33"}));

        // Nothing changed: the file stays byte for byte, and the page says it was saved.
        QCOMPARE(page.save(), QString());
        QCOMPARE(test::readBytes(path), file);
        const QList<QLabel*> labels = page.findChildren<QLabel*>();
        QVERIFY(std::any_of(labels.cbegin(), labels.cend(), [&](const QLabel* label) {
            return label->text() == QStringLiteral("Saved 2 targets in ") + path;
        }));

        // A position the survey cannot read is refused with the reason, and the cell keeps its value.
        QVERIFY(!page.editCell(0, 1, "25:99:xx"));
        QVERIFY2(page.lastProblem().startsWith("Invalid right ascension"), qPrintable(page.lastProblem()));
        QVERIFY(!page.editCell(0, 2, "+95"));
        QVERIFY2(page.lastProblem().contains("outside -90 to 90 degrees"), qPrintable(page.lastProblem()));
        QVERIFY(!page.editCell(0, 6, "lots"));
        QVERIFY(page.lastProblem().contains("priority=lots"));
        QCoreApplication::processEvents();
        QCOMPARE(table->item(0, 1)->text(), QStringLiteral("00:42:44"));

        // Edit, delete, import; a bad import line is listed by number and not added.
        QVERIFY(page.editCell(0, 2, "+41:00:00"));
        page.deleteRow(1);
        const TargetsImport import =
            page.previewImport("name;ra;dec;exposure\nNGC7000;314.75;44.5;60\nM31;1;2\nbroken;;\n");
        QCOMPARE(import.added.size(), 1);
        QCOMPARE(import.duplicates.size(), 1);
        QCOMPARE(import.rejected.size(), 1);
        QCOMPARE(import.rejected[0].line, 4);
        page.addImported(import);
        page.setFilter("ngc");
        QVERIFY(table->isRowHidden(0) && !table->isRowHidden(1));
        QCOMPARE(page.save(), QString());
        const QStringList written = QString::fromLatin1(test::readBytes(path)).split("\r\n");
        QCOMPARE(written.value(0), QStringLiteral("M31\t00:42:44\t+41:00:00"));
        QCOMPARE(written.value(2), QStringLiteral("NGC7000\t20:59:00.00\t+44:30:00.00"));
        QCOMPARE(written.value(3), QStringLiteral("**** exposure=60"));

        // The export reads back as the same table.
        const TargetsImport back = importTargetsCsv(page.exportCsv(), {});
        QCOMPARE(back.added.size(), 2);
        QCOMPARE(back.added[0].items, page.edited().entries[0].items);
    }

    // A target's own limits have columns of their own, and "Tonight" stays the last, read-only one.
    void editorShowsATargetsOwnLimits()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("SNeTargets.txt");
        test::writeBytes(path, test::crlfLines({"M31\t00:42:44\t+41:16:09",
                                                "**** minAltitude=30 maxAirmass=1.8 window=22:00-02:00"}));
        LocalFileSystem fs;
        TargetsPage page(fs, path, dir.filePath("edittargets.txt"), QTimeZone::utc(), nullptr);
        QTableWidget* table = page.table();
        const auto cellUnder = [table](const QString& title) {
            for (int c = 0; c < table->columnCount(); ++c)
                if (table->horizontalHeaderItem(c)->text() == title)
                    return table->item(0, c) ? table->item(0, c)->text() : QStringLiteral("(no cell)");
            return QStringLiteral("(no column)");
        };
        QCOMPARE(cellUnder("Min altitude"), QStringLiteral("30"));
        QCOMPARE(cellUnder("Max airmass"), QStringLiteral("1.8"));
        QCOMPARE(cellUnder("Window"), QStringLiteral("22:00-02:00"));
        const int last = table->columnCount() - 1;
        QCOMPARE(table->horizontalHeaderItem(last)->text(), QStringLiteral("Tonight"));
        QVERIFY(!(table->item(0, last)->flags() & Qt::ItemIsEditable));

        QVERIFY(page.editCell(0, last - 1, "21:00-23:30"));
        QCOMPARE(page.save(), QString());
        QCOMPARE(test::readBytes(path),
                 test::crlfLines(
                     {"M31\t00:42:44\t+41:16:09", "**** minAltitude=30 maxAirmass=1.8 window=21:00-23:30"}));
    }

    // The survey rewrites the file while the editor is open: an untouched table shows it, and an
    // edited one says so and keeps the survey's update when it saves.
    void editorFollowsTheSurvey()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("SNeTargets.txt");
        test::writeBytes(path, test::crlfLines({"M31\t00:42:44\t+41:16:09", "**** "}));
        LocalFileSystem fs;
        TargetsPage page(fs, path, dir.filePath("edittargets.txt"), QTimeZone::utc(), nullptr);
        const QByteArray updated =
            test::crlfLines({"M31\t00:42:44\t+41:16:09", "**** lastImageJD=2461000.5"});
        test::writeBytes(path, updated);
        QTRY_COMPARE_WITH_TIMEOUT(page.edited().entries.value(0).item("lastImageJD"),
                                  QStringLiteral("2461000.5"), 5000);

        QVERIFY(page.editCell(0, 6, "9"));
        test::writeBytes(path, updated + "M33\t01:33:50\t+30:39:37\r\n**** \r\n");
        QTRY_VERIFY_WITH_TIMEOUT(page.changedOnDisk(), 5000);
        QCOMPARE(page.table()->rowCount(), 1);
        QCOMPARE(page.save(), QString());
        QCOMPARE(test::readBytes(path),
                 test::crlfLines({"M31\t00:42:44\t+41:16:09", "**** lastImageJD=2461000.5 priority=9",
                                  "M33\t01:33:50\t+30:39:37", "**** "}));
    }

    void areasRoundTrip()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("MPSTargets.txt");
        const QByteArray file = test::crlfLines({"04:00:00 +18:00:00 05:00:00 +21:00:00", "10 -5 10.5 -4"});
        test::writeBytes(path, file);
        LocalFileSystem fs;
        // Quarter-hour and half-degree steps add up exactly: 5 columns by 7 rows, 3 by 3.
        AreasPage page(fs, path, dir.filePath("edittargets.txt"), 0.25, 0.5);
        QTableWidget* table = page.table();
        QCOMPARE(columnTexts(table, AreasPage::kFieldsColumn), QStringList({"35", "9"}));
        QCOMPARE(page.save(), QString());
        QCOMPARE(test::readBytes(path), file);

        QVERIFY(!page.editCell(0, 1, "+95:00:00"));
        QVERIFY2(page.lastProblem().contains("outside -90 to 90 degrees"), qPrintable(page.lastProblem()));
        QVERIFY(page.editCell(1, 2, "11"));
        QCoreApplication::processEvents();
        QCOMPARE(columnTexts(table, AreasPage::kFieldsColumn), QStringList({"35", "15"}));
        page.deleteRow(0);
        const AreasImport import =
            page.previewImport("raStart,decStart,raEnd,decEnd\n300,10,303.75,10.5\n1,2,3\n");
        QCOMPARE(import.added, QStringList({"20:00:00.00 +10:00:00.00 20:15:00.00 +10:30:00.00"}));
        QCOMPARE(import.rejected.size(), 1);
        QCOMPARE(import.rejected[0].line, 3);
        page.addImported(import);
        QCOMPARE(page.save(), QString());
        QCOMPARE(test::readBytes(path), test::crlfLines({"10 -5 11 -4", import.added[0]}));
        // Decimal hours go out as sexagesimal, so the export reads back as the same areas.
        const AreasImport back = page.previewImport(page.exportCsv());
        QCOMPARE(back.added.value(0), QStringLiteral("10:00:00.00 -05:00:00.00 11:00:00.00 -04:00:00.00"));
        QCOMPARE(back.added.value(1), import.added[0]);
    }
};

QTEST_MAIN(tst_setup)
#include "tst_setup.moc"
