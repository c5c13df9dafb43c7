#include "GuiTestSupport.h"
#include "app/frmMPSSetup.h"
#include "app/frmMain.h"
#include "app/frmPrefs.h"
#include "app/frmSLCSetup.h"
#include "app/frmSNeSetup.h"
#include "database/ObservationDb.h"
#include "host/ObservatoryControl.h"
#include "host/sim/SimObservatory.h"
#include "support/FakeHost.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>

using namespace kestrove;
using test::ShownMessage;

class tst_frmMain : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    test::FakeHost m_host;

    QString configPath() const { return m_folder->filePath("config.ini"); }
    // A simulated observatory in this folder, in virtual time from `startUtc`.
    ObservatorySettings virtualTime(const char* startUtc) const
    {
        ObservatorySettings settings = observatoryDefaults(m_folder->filePath("observatory"));
        settings.clockStart = startUtc;
        settings.clockSpeed = 0;
        return settings;
    }
    std::unique_ptr<frmMain> openWindow()
    {
        auto window = std::make_unique<frmMain>(m_host, m_folder->path());
        window->show();
        return window;
    }
    template <typename T> static T* control(QWidget* window, const char* name)
    {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    // Closes the window, answering any message box on the way; returns the messages shown.
    QList<ShownMessage> closeWindow(frmMain& window)
    {
        auto messages = std::make_shared<QList<ShownMessage>>();
        std::function<void(QWidget*)> answer = [messages](QWidget* modal) {
            ShownMessage shown;
            test::recordAndCloseMessage(modal, shown);
            messages->append(shown);
        };
        QPointer<QTimer> watch = test::onNextModal(answer);
        window.close();
        delete watch.data(); // still watching when no box appeared
        return *messages;
    }
    static QByteArray configLine(const QByteArray& file, int index) { return file.split('\n').value(index); }

private slots:
    void init()
    {
        m_folder = std::make_unique<QTemporaryDir>();
        m_host.domeView.reset();
    }

    void captionsAndInitialStates()
    {
        const auto window = openWindow();
        QCOMPARE(window->windowTitle(), QString("Kestrove"));

        struct Expected
        {
            const char* name;
            QString text;
            bool enabled;
        };
        const Expected buttons[] = {
            {"SNeSetup", "Setup", true},
            {"MPSSetup", "Setup", true},
            {"MPFSetup", "Setup", false},
            {"SLCSetup", "Setup", true},
            {"StartButton", "Start Survey", true},
            {"StopButton", "Stop Survey", false},
            {"StopAndAbortButton", "Stop Survey and ACP", false},
            {"PrefsButton", "Preferences", true},
            {"About", "About", true},
        };
        for (const Expected& e : buttons) {
            auto* button = control<QPushButton>(window.get(), e.name);
            QCOMPARE(button->text(), e.text);
            QVERIFY2(button->isEnabled() == e.enabled, e.name);
        }
        const Expected checks[] = {
            {"SNeCheck", "Enable Supernova survey targets", true},
            {"MPSCheck", "Enable Minor planet survey targets", true},
            {"MPFCheck", "Enable Minor planet followup targets", false},
            {"SLCCheck", "Enable Stellar lightcurve targets", true},
        };
        for (const Expected& e : checks) {
            auto* check = control<QCheckBox>(window.get(), e.name);
            QCOMPARE(check->text(), e.text);
            QVERIFY2(check->isEnabled() == e.enabled, e.name);
            QVERIFY2(!check->isChecked(), e.name);
        }
        const Expected weights[] = {
            {"SNeWeighting", "100", true},
            {"MPSWeighting", "100", true},
            {"MPFWeighting", "100", false},
            {"SLCWeighting", "100", true},
        };
        for (const Expected& e : weights) {
            auto* box = control<QLineEdit>(window.get(), e.name);
            QCOMPARE(box->text(), e.text);
            QVERIFY2(box->isEnabled() == e.enabled, e.name);
        }
        QCOMPARE(control<QLabel>(window.get(), "Label1")->text(), QString("Weighting"));
        QCOMPARE(control<QStatusBar>(window.get(), "sbStatusBar")->currentMessage(),
                 QString("Survey stopped"));
        QCOMPARE(window->statusBar()->objectName(), QString("sbStatusBar"));

        int lines = 0;
        for (QFrame* frame : window->findChildren<QFrame*>())
            if (frame->frameShape() == QFrame::HLine || frame->frameShape() == QFrame::VLine)
                ++lines;
        QCOMPARE(lines, 3);

        // The dialogs exist from load on, hidden.
        QVERIFY(window->fPrefsForm && !window->fPrefsForm->isVisible());
        QVERIFY(window->fSNeSetupForm && window->fMPSSetupForm && window->fSLCSetupForm);
        QVERIFY(!QFile::exists(configPath()));
    }

    void surveyRowsStandUnderTheWeightingLabel()
    {
        const auto window = openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const char* rows[] = {"SNe", "MPS", "MPF", "SLC"};
        int previousY = control<QLabel>(window.get(), "Label1")->geometry().bottom();
        const int weightColumn = control<QLabel>(window.get(), "Label1")->geometry().center().x();
        for (const char* kind : rows) {
            const QString name = QString::fromLatin1(kind);
            auto* check = control<QCheckBox>(window.get(), qPrintable(name + "Check"));
            auto* weight = control<QLineEdit>(window.get(), qPrintable(name + "Weighting"));
            auto* setup = control<QPushButton>(window.get(), qPrintable(name + "Setup"));
            QVERIFY2(check->geometry().top() > previousY, kind);
            QVERIFY2(check->geometry().right() < weight->geometry().left(), kind);
            QVERIFY2(weight->geometry().right() < setup->geometry().left(), kind);
            QVERIFY2(weight->geometry().left() <= weightColumn && weightColumn <= weight->geometry().right(),
                     kind);
            previousY = check->geometry().bottom();
        }
    }

    void checksAndWeightsComeFromTheSettings()
    {
        QStringList lines = {"lastFocusJD,0", "focusInterval,30", "SNeEnabled,1", "MPSEnabled,0",
                             "MPFEnabled,1",  "SLCEnabled,1",     "SNeWeight,7",  "MPSWeight,-3",
                             "MPFWeight,12",  "SLCWeight,0"};
        QFile(configPath()).remove();
        const QByteArray head = test::crlfLines(lines);
        // The rest: a saved file of defaults.
        {
            test::FakeHost host;
            test::RecordingView view;
            SurveyCore core(host, view, m_folder->path());
            core.SaveConfig();
        }
        QByteArray file = test::readBytes(configPath());
        const int tail = file.indexOf("baseDir,");
        test::writeBytes(configPath(), head + file.mid(tail));

        const auto window = openWindow();
        QVERIFY(control<QCheckBox>(window.get(), "SNeCheck")->isChecked());
        QVERIFY(!control<QCheckBox>(window.get(), "MPSCheck")->isChecked());
        QVERIFY(control<QCheckBox>(window.get(), "MPFCheck")->isChecked());
        QVERIFY(!control<QCheckBox>(window.get(), "MPFCheck")->isEnabled());
        QVERIFY(control<QCheckBox>(window.get(), "SLCCheck")->isChecked());
        QCOMPARE(control<QLineEdit>(window.get(), "SNeWeighting")->text(), QString("7"));
        QCOMPARE(control<QLineEdit>(window.get(), "MPSWeighting")->text(), QString("-3"));
        QCOMPARE(control<QLineEdit>(window.get(), "MPFWeighting")->text(), QString("12"));
        QCOMPARE(control<QLineEdit>(window.get(), "SLCWeighting")->text(), QString("0"));
        // The live controls are what the core sees.
        QVERIFY(window->isKindChecked(SurveyKind::SLC));
        QVERIFY(!window->isKindChecked(SurveyKind::MPS));
        QCOMPARE(window->weightText(SurveyKind::MPS), QString("-3"));
    }

    void closingWithoutAFileWritesTheDefaults()
    {
        auto window = openWindow();
        QVERIFY(closeWindow(*window).isEmpty());
        QVERIFY(!window->isVisible());
        QVERIFY(window->core.stopRequested);

        const QByteArray file = test::readBytes(configPath());
        QCOMPARE(file.count("\r\n"), 33);
        QCOMPARE(configLine(file, 2), QByteArray("SNeEnabled,0\r"));
        QCOMPARE(configLine(file, 6), QByteArray("SNeWeight,100\r"));
        QCOMPARE(configLine(file, 10), ("baseDir," + QDir::homePath() + "/Astronomy/Kestrove/\r").toLatin1());
    }

    void closingStoresChecksAndWeightsAndTheNextStartShowsThem()
    {
        {
            auto window = openWindow();
            control<QCheckBox>(window.get(), "SNeCheck")->setChecked(true);
            QTest::mouseClick(control<QCheckBox>(window.get(), "SLCCheck"), Qt::LeftButton);
            auto* weight = control<QLineEdit>(window.get(), "SNeWeighting");
            weight->clear();
            QTest::keyClicks(weight, "250");
            QVERIFY(closeWindow(*window).isEmpty());
            QCOMPARE(window->core.settings.SNeEnabled, int16_t(1));
            QCOMPARE(window->core.settings.SLCEnabled, int16_t(1));
            QCOMPARE(window->core.settings.SNeWeight, int16_t(250));
        }
        const QByteArray file = test::readBytes(configPath());
        QCOMPARE(configLine(file, 2), QByteArray("SNeEnabled,1\r"));
        QCOMPARE(configLine(file, 5), QByteArray("SLCEnabled,1\r"));
        QCOMPARE(configLine(file, 6), QByteArray("SNeWeight,250\r"));

        const auto again = openWindow();
        QVERIFY(control<QCheckBox>(again.get(), "SNeCheck")->isChecked());
        QVERIFY(control<QCheckBox>(again.get(), "SLCCheck")->isChecked());
        QVERIFY(!control<QCheckBox>(again.get(), "MPSCheck")->isChecked());
        QCOMPARE(control<QLineEdit>(again.get(), "SNeWeighting")->text(), QString("250"));
    }

    void weightsRoundHalvesToEven()
    {
        auto window = openWindow();
        control<QLineEdit>(window.get(), "SNeWeighting")->setText("2.5");
        control<QLineEdit>(window.get(), "MPSWeighting")->setText("3.5");
        control<QLineEdit>(window.get(), "SLCWeighting")->setText(" -0.5 ");
        QVERIFY(closeWindow(*window).isEmpty());
        QCOMPARE(window->core.settings.SNeWeight, int16_t(2));
        QCOMPARE(window->core.settings.MPSWeight, int16_t(4));
        QCOMPARE(window->core.settings.SLCWeight, int16_t(0));
    }

    void aBadWeightKeepsThePreviousOneAndTheUserIsTold()
    {
        auto window = openWindow();
        window->core.settings.MPSWeight = 70;
        control<QCheckBox>(window.get(), "MPSCheck")->setChecked(true);
        control<QLineEdit>(window.get(), "SNeWeighting")->setText("120");
        control<QLineEdit>(window.get(), "MPSWeighting")->setText("lots");
        control<QLineEdit>(window.get(), "SLCWeighting")->setText("40000");

        const QList<ShownMessage> messages = closeWindow(*window);

        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0].title, QString("Kestrove"));
        QCOMPARE(messages[0].buttonCount, 1);
        QVERIFY2(messages[0].text.contains("MPS") && messages[0].text.contains("\"lots\""),
                 qPrintable(messages[0].text));
        QVERIFY2(messages[0].text.contains("SLC") && messages[0].text.contains("40000"),
                 qPrintable(messages[0].text));
        // Saved all the same, with the previous weights where the boxes could not be read.
        const QByteArray file = test::readBytes(configPath());
        QCOMPARE(configLine(file, 3), QByteArray("MPSEnabled,1\r"));
        QCOMPARE(configLine(file, 6), QByteArray("SNeWeight,120\r"));
        QCOMPARE(configLine(file, 7), QByteArray("MPSWeight,70\r"));
        QCOMPARE(configLine(file, 9), QByteArray("SLCWeight,100\r"));
    }

    void aboutShowsTheStampedVersion()
    {
        const auto window = openWindow();
        ShownMessage shown;
        test::onNextModal([&shown](QWidget* modal) { test::recordAndCloseMessage(modal, shown); });
        control<QPushButton>(window.get(), "About")->click();
        QVERIFY(shown.shown);
        QCOMPARE(shown.title, QString("Kestrove"));
        QCOMPARE(shown.text, QString("Kestrove - Version 1.4.0"));
        QCOMPARE(shown.buttonCount, 1);
    }

    void mpfSetupDoesNothing()
    {
        const auto window = openWindow();
        auto* button = control<QPushButton>(window.get(), "MPFSetup");
        button->setEnabled(true);
        button->click();
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QVERIFY(!QFile::exists(configPath()));
    }

    void statusAndRunningStateReachTheControls()
    {
        const auto window = openWindow();
        window->showStatus("Waiting for ACP");
        QCOMPARE(window->statusBar()->currentMessage(), QString("Waiting for ACP"));
        window->showRunning(true);
        QVERIFY(!control<QPushButton>(window.get(), "StartButton")->isEnabled());
        QVERIFY(control<QPushButton>(window.get(), "StopButton")->isEnabled());
        QVERIFY(control<QPushButton>(window.get(), "StopAndAbortButton")->isEnabled());
        window->showRunning(false);
        QVERIFY(control<QPushButton>(window.get(), "StartButton")->isEnabled());
        QVERIFY(!control<QPushButton>(window.get(), "StopButton")->isEnabled());
    }

    void aMalformedConfigurationIsReportedOnceAtLoad()
    {
        test::writeBytes(configPath(), "lastFocusJD,0\r\nfocusInterval,often\r\n");
        ShownMessage shown;
        test::onNextModal([&shown](QWidget* modal) { test::recordAndCloseMessage(modal, shown); });
        const auto window = openWindow();
        QVERIFY(shown.shown);
        QCOMPARE(shown.title, QString("Kestrove"));
        QVERIFY2(shown.text.contains("line 2") && shown.text.contains("often"), qPrintable(shown.text));
        QVERIFY(QFile::exists(m_folder->filePath("config.ini.bad")));
        QCOMPARE(window->core.settings.focusInterval, int16_t(30));
    }

    void theRunButtonsDriveTheRunAndADialogPausesIt()
    {
        ObservatorySettings settings = virtualTime("2024-03-01T22:00:00Z");
        sim::SimObservatory observatory(m_folder->filePath("observatory"), settings);
        frmMain window(observatory, m_folder->path());
        window.show();
        const QDateTime started = observatory.clock().utcNow();

        bool stopEnabledWhileRunning = false;
        QString statusAfterStop;
        QDateTime whenDialogOpened;
        QDateTime whenDialogClosed;
        auto* actor = new QTimer(&window);
        actor->setInterval(0);
        int step = 0;
        connect(actor, &QTimer::timeout, &window, [&] {
            if (!window.core.isRunning())
                return;
            if (step == 0 && observatory.clock().utcNow() >= started.addSecs(10)) {
                step = 1;
                // Preferences during the run: the run waits until the dialog closes.
                test::onNextModal([&](QWidget* dialog) {
                    whenDialogOpened = observatory.clock().utcNow();
                    whenDialogClosed = observatory.clock().utcNow();
                    dialog->findChild<QLineEdit*>("slewRateText")->setText("4.5");
                    test::clickButton(dialog, "cmdOK");
                });
                control<QPushButton>(&window, "PrefsButton")->click();
            } else if (step == 1 && observatory.clock().utcNow() >= started.addSecs(20)) {
                step = 2;
                actor->stop();
                stopEnabledWhileRunning = control<QPushButton>(&window, "StopButton")->isEnabled() &&
                                          control<QPushButton>(&window, "StopAndAbortButton")->isEnabled() &&
                                          !control<QPushButton>(&window, "StartButton")->isEnabled();
                control<QPushButton>(&window, "StopButton")->click();
                statusAfterStop = window.statusBar()->currentMessage();
            }
        });
        actor->start();

        control<QPushButton>(&window, "StartButton")->click(); // returns when the run has ended

        QCOMPARE(step, 2);
        QVERIFY(stopEnabledWhileRunning);
        QCOMPARE(statusAfterStop, QString("Survey stopping"));
        QCOMPARE(window.statusBar()->currentMessage(), QString("Survey stopped"));
        QVERIFY(control<QPushButton>(&window, "StartButton")->isEnabled());
        QVERIFY(!control<QPushButton>(&window, "StopButton")->isEnabled());
        QVERIFY(whenDialogOpened.isValid());
        QCOMPARE(whenDialogClosed, whenDialogOpened);
        // The run went on with the value the dialog stored, and the file holds it.
        QCOMPARE(window.core.settings.slewRate, 4.5f);
        QCOMPARE(configLine(test::readBytes(configPath()), 11), QByteArray("slewRate,4.5\r"));
        QCOMPARE(window.exitStatus(), 0);
    }

    void stopSignalsCloseTheWindowAndSaveTheSettings_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("duringARun");
        QTest::newRow("SIGTERM, idle") << SIGTERM << false;
        QTest::newRow("SIGINT, idle") << SIGINT << false;
        QTest::newRow("SIGTERM, during a run") << SIGTERM << true;
        QTest::newRow("SIGINT, during a run") << SIGINT << true;
    }

    // Raised in this process, as a shutdown or Ctrl-C would: the window closes as if the user had
    // closed it, and what it showed is saved.
    void stopSignalsCloseTheWindowAndSaveTheSettings()
    {
        QFETCH(int, signal);
        QFETCH(bool, duringARun);
        ObservatorySettings settings = virtualTime("2024-03-01T22:00:00Z");
        sim::SimObservatory observatory(m_folder->filePath("observatory"), settings);
        frmMain window(observatory, m_folder->path());
        window.show();
        control<QCheckBox>(&window, "SLCCheck")->setChecked(true);
        control<QLineEdit>(&window, "SLCWeighting")->setText("75");
        test::writeBytes(m_folder->filePath("SLCTargets.txt"), QByteArray());
        // Nobody is there to answer: a signal closes without asking.
        ShownMessage asked;
        QPointer<QTimer> watch =
            test::onNextModal([&](QWidget* modal) { test::answerQuestion(modal, QMessageBox::Yes, asked); });

        if (duringARun) {
            const QDateTime started = observatory.clock().utcNow();
            QTimer::singleShot(0, &window, [&] { control<QPushButton>(&window, "StartButton")->click(); });
            QTimer* raiser = new QTimer(&window);
            raiser->setInterval(0);
            connect(raiser, &QTimer::timeout, &window, [&, raiser, signal] {
                if (!window.core.isRunning() || observatory.clock().utcNow() < started.addSecs(30))
                    return;
                raiser->stop();
                std::raise(signal);
            });
            raiser->start();
            QCOMPARE(QApplication::exec(), 0);
            QVERIFY(!window.core.isRunning());
            QVERIFY(started.secsTo(observatory.clock().utcNow()) < 301);
        } else {
            std::raise(signal);
            QTRY_VERIFY(!window.isVisible());
        }

        QVERIFY(!window.isVisible());
        delete watch.data();
        QVERIFY2(!asked.shown, qPrintable(asked.text));
        const QByteArray config = test::readBytes(configPath());
        QCOMPARE(configLine(config, 5), QByteArray("SLCEnabled,1\r"));
        QCOMPARE(configLine(config, 9), QByteArray("SLCWeight,75\r"));
    }

    void runButtonsSayWhatTheyDo_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("says");
        QTest::newRow("start") << "StartButton"
                               << "unattended survey";
        QTest::newRow("stop") << "StopButton"
                              << "finish and record it, then stop";
        QTest::newRow("stop and abort") << "StopAndAbortButton"
                                        << "Abort the running plan and stop the survey at once";
        QTest::newRow("SNe") << "SNeCheck"
                             << "supernovae";
        QTest::newRow("MPS") << "MPSCheck"
                             << "minor planets";
        QTest::newRow("MPF, greyed") << "MPFCheck"
                                     << "no targets of its own";
        QTest::newRow("SLC") << "SLCCheck"
                             << "light curves";
        QTest::newRow("weight") << "SLCWeighting"
                                << "multiplies the kind's best score";
        QTest::newRow("setup") << "SNeSetup"
                               << "supernova search";
        QTest::newRow("preview") << "PreviewButton"
                                 << "virtual time";
        QTest::newRow("observatory") << "ObservatoryButton"
                                     << "observatory.ini";
        QTest::newRow("targets") << "TargetsButton"
                                 << "targets of each survey kind";
    }

    void runButtonsSayWhatTheyDo()
    {
        QFETCH(QString, button);
        QFETCH(QString, says);
        const auto window = openWindow();
        const QString tip = control<QWidget>(window.get(), qPrintable(button))->toolTip();
        QVERIFY2(tip.contains(says), qPrintable(tip));
    }

    // The panel under the buttons shows the host's observatory and follows its clock on its own.
    void observatoryPanelFollowsTheHostsClock()
    {
        ObservatorySettings settings = virtualTime("2024-03-01T12:00:00Z");
        settings.timeZone = "UTC";
        sim::SimObservatory observatory(m_folder->filePath("observatory"), settings);
        frmMain window(observatory, m_folder->path());
        window.show();
        auto* panel = control<QLabel>(&window, "ObservatoryLabel");
        QVERIFY2(panel->text().startsWith("Simulated observatory, site "), qPrintable(panel->text()));
        QVERIFY2(panel->text().contains("local time 2024-03-01 12:00:00"), qPrintable(panel->text()));
        QVERIFY2(panel->text().contains("dark enough at "), qPrintable(panel->text()));
        QVERIFY2(panel->text().contains("Roof and devices: Closed"), qPrintable(panel->text()));
        QVERIFY2(!panel->text().contains("Dome"), qPrintable(panel->text()));
        QVERIFY(panel->y() > control<QPushButton>(&window, "StartButton")->geometry().bottom());

        observatory.simClock().setUtc(QDateTime(QDate(2024, 3, 1), QTime(23, 0, 7), QTimeZone::utc()));
        QTRY_VERIFY2(panel->text().contains("local time 2024-03-01 23:00:07"), qPrintable(panel->text()));
        QVERIFY2(!panel->text().contains("dark enough at "), qPrintable(panel->text()));
    }

    // A host with a dome: the panel says where it stands and whether the slit is in front.
    void observatoryPanelShowsTheDome()
    {
        m_host.domeView = DomeView{123.4, false, std::nullopt, true};
        auto window = openWindow();
        auto* panel = control<QLabel>(window.get(), "ObservatoryLabel");
        QVERIFY2(panel->text().endsWith(u"\nDome: az 123.4°, slit aligned"), qPrintable(panel->text()));
        m_host.domeView = DomeView{125, true, 130, false};
        QTRY_VERIFY2(panel->text().endsWith(u"\nDome: az 125.0°, turning to 130.0°"),
                     qPrintable(panel->text()));
        m_host.domeView = DomeView{125, false, std::nullopt, false};
        QTRY_VERIFY2(panel->text().endsWith(u"\nDome: az 125.0°, not aligned"), qPrintable(panel->text()));
    }

    // Under the pass's choice, the last frame the observatory graded, once there is one.
    void lastFrameIsShownWithItsGrade()
    {
        ObservatorySettings settings = virtualTime("2024-03-01T22:00:00Z");
        settings.timeZone = "UTC";
        sim::SimObservatory observatory(m_folder->filePath("observatory"), settings);
        frmMain window(observatory, m_folder->path());
        window.show();
        auto* label = control<QLabel>(&window, "LastFrameLabel");
        window.followLog();
        QVERIFY(label->isHidden());

        database::ObservationDb db(
            database::observationsPath(window.core.acpUtil->Prefs().LocalUser().DefaultLogDir()));
        for (const int minute : {50, 59}) {
            database::FrameRecord f;
            f.target = "M51";
            f.kind = "SNe";
            f.utc = QDateTime(QDate(2024, 3, 1), QTime(21, minute), QTimeZone::utc());
            f.filter = "R";
            f.exposure = 60;
            f.measurement.stars = minute == 59 ? 3 : 200;
            f.measurement.background = 812;
            f.accepted = minute != 59;
            f.reason = f.accepted ? QString() : "3 stars where 80 expected";
            db.addFrame(f);
        }
        QTRY_COMPARE(label->text(),
                     QString("Last frame: M51 R 60 s at 21:59: 3 stars, HFR 0.00 px, background 812, "
                             "rejected: 3 stars where 80 expected"));
        QVERIFY(!label->isHidden());
    }

    // A label that grows wraps within the window instead of widening it.
    void longLabelsDoNotWidenTheWindow()
    {
        const auto window = openWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const int width = window->width();
        const int minimumWidth = window->minimumSizeHint().width();
        const QString longText =
            QString("Current target: ") + QString("SLC very-long-target-name ").repeated(20);
        for (const char* name :
             {"ObservatoryLabel", "CurrentTargetLabel", "PassWinnersLabel", "LastFrameLabel"}) {
            control<QLabel>(window.get(), name)->setText(longText);
            QApplication::processEvents();
            QVERIFY2(window->width() == width, name);
            QVERIFY2(window->minimumSizeHint().width() == minimumWidth, name);
        }
    }

    // With no kind enabled every pass only sleeps: Start says so in the window, starts without
    // opening the roof, and the warning goes with the run or once a box is checked. A target is not current
    // while the roof is not open.
    void startWithNoKindEnabledWarnsAndStarts()
    {
        ObservatorySettings settings = virtualTime("2024-03-01T22:00:00Z");
        sim::SimObservatory observatory(m_folder->filePath("observatory"), settings);
        frmMain window(observatory, m_folder->path());
        window.show();
        auto* panel = control<QLabel>(&window, "ObservatoryLabel");
        auto* target = control<QLabel>(&window, "CurrentTargetLabel");

        target->setText("Current target: SNe SN 2024abc"); // the last pass's choice, the roof since shut
        window.showObservatory();                          // its second's look
        QCOMPARE(target->text(), QString("Current target: none"));

        QString panelWhileRunning;
        QString panelOnceChecked;
        auto roofWhileRunning = ObservatoryState::Open;
        QTimer stopper;
        stopper.setInterval(0);
        connect(&stopper, &QTimer::timeout, &window, [&] {
            if (!window.core.isRunning())
                return;
            stopper.stop();
            panelWhileRunning = panel->text();
            roofWhileRunning = observatory.observatoryControl()->state();
            control<QCheckBox>(&window, "SLCCheck")->setChecked(true);
            panelOnceChecked = panel->text();
            target->setText("Current target: SNe SN 2024abc"); // as a pass would show its choice
            control<QPushButton>(&window, "StopButton")->click();
        });
        stopper.start();
        control<QPushButton>(&window, "StartButton")->click(); // returns when the run has ended

        QVERIFY2(panelWhileRunning.startsWith("No survey kind is enabled"), qPrintable(panelWhileRunning));
        QVERIFY(roofWhileRunning == ObservatoryState::Closed);
        QVERIFY2(!panelOnceChecked.contains("No survey kind"), qPrintable(panelOnceChecked));
        QVERIFY2(!panel->text().contains("No survey kind"), qPrintable(panel->text()));
        QCOMPARE(target->text(), QString("Current target: none"));
    }

    void closingDuringARunEndsTheRunThenTheProgram()
    {
        // The simulated observatory in virtual time; no kind is enabled, so every pass sleeps.
        ObservatorySettings settings = virtualTime("2024-03-01T22:00:00Z");
        sim::SimObservatory observatory(m_folder->filePath("observatory"), settings);
        frmMain window(observatory, m_folder->path());
        window.show();
        auto* weight = control<QLineEdit>(&window, "SLCWeighting");

        bool sawRunning = false;
        ShownMessage question;
        bool stillOpenWhileRunning = false;
        int secondsBeforeClose = 0;
        QTimer::singleShot(0, &window, [&] { control<QPushButton>(&window, "StartButton")->click(); });
        // Runs inside the run's waits: once the run has slept a while, the user types and closes.
        QTimer* closer = new QTimer(&window);
        closer->setInterval(0);
        const QDateTime started = observatory.clock().utcNow();
        connect(closer, &QTimer::timeout, &window, [&] {
            if (!window.core.isRunning() || observatory.clock().utcNow() < started.addSecs(30))
                return;
            closer->stop();
            sawRunning = !control<QPushButton>(&window, "StartButton")->isEnabled();
            weight->setText("75");
            test::onNextModal(
                [&](QWidget* modal) { test::answerQuestion(modal, QMessageBox::Yes, question); });
            window.close();
            stillOpenWhileRunning = window.isVisible() && window.core.isRunning();
            secondsBeforeClose = static_cast<int>(started.secsTo(observatory.clock().utcNow()));
        });
        closer->start();

        const int status = QApplication::exec();

        QCOMPARE(status, 0);
        QVERIFY(sawRunning);
        QCOMPARE(question.text, QString("A survey is running. Stop it and close?"));
        QVERIFY(stillOpenWhileRunning);
        QVERIFY(!window.isVisible());
        QVERIFY(!window.core.isRunning());
        QCOMPARE(window.exitStatus(), 0);
        // The run ended at its next check, well inside its five-minute sleep.
        QVERIFY(started.secsTo(observatory.clock().utcNow()) <= secondsBeforeClose + 2);
        QCOMPARE(window.statusBar()->currentMessage(), QString("Survey stopped"));
        // The unload saved what the window showed.
        QCOMPARE(configLine(test::readBytes(configPath()), 9), QByteArray("SLCWeight,75\r"));
    }

    // The question nests an event loop; the observatory goes on while it is open, and after Yes it
    // shuts without going back to the opening it was in.
    void theObservatoryGoesOnWhileTheWindowAsks()
    {
        ObservatorySettings settings = observatoryDefaults(m_folder->filePath("observatory"));
        settings.clockStart = "2024-03-01T22:00:00Z";
        settings.clockSpeed = 10;
        settings.roofOpenSeconds = 30;
        sim::SimObservatory observatory(m_folder->filePath("observatory"), settings);
        ObservatoryControl& controller = *observatory.observatoryControl();
        frmMain window(observatory, m_folder->path());
        window.show();
        // The roof opens for a kind to observe; an empty list keeps every pass short.
        control<QCheckBox>(&window, "SLCCheck")->setChecked(true);
        test::writeBytes(m_folder->filePath("SLCTargets.txt"), QByteArray());
        const auto unparks = [&] {
            return QString::fromUtf8(test::readBytes(observatory.acquisitionLogPath())).count("\tunpark\t");
        };

        QDateTime askedAt;
        QDateTime openAt;
        int unparksAtYes = -1;
        ShownMessage question;
        auto* closer = new QTimer(&window);
        closer->setInterval(0);
        connect(closer, &QTimer::timeout, &window, [&] {
            if (controller.state() != ObservatoryState::Opening)
                return;
            closer->stop();
            test::onNextModal([&](QWidget* modal) {
                askedAt = observatory.clock().utcNow();
                if (QTest::qWaitFor([&] { return controller.ready(); }, 20000))
                    openAt = observatory.clock().utcNow();
                unparksAtYes = unparks();
                test::answerQuestion(modal, QMessageBox::Yes, question);
            });
            window.close();
        });
        closer->start();
        QTimer::singleShot(0, &window, [&] { control<QPushButton>(&window, "StartButton")->click(); });
        QCOMPARE(QApplication::exec(), 0);

        QCOMPARE(question.text, QString("A survey is running. Stop it and close?"));
        // The roof took its 30 s while the question was open (one tick of the clock either side).
        QVERIFY2(openAt.isValid(), "the observatory did not open while the question was open");
        QVERIFY2(askedAt.secsTo(openAt) <= 31, qPrintable(QString::number(askedAt.secsTo(openAt))));
        QCOMPARE(unparks(), unparksAtYes);
        QCOMPARE(controller.state(), ObservatoryState::Closed);
        const QString log = QString::fromUtf8(test::readBytes(observatory.acquisitionLogPath()));
        QVERIFY2(log.trimmed().endsWith("\tdone\tRoof closed"), qPrintable(log));
        QVERIFY2(log.contains("\tdone\tMount parked"), qPrintable(log));
    }

    // "kestrove --close" from a shell shuts the window's survey and its observatory, not one of its own.
    void closeFromAShellEndsTheWindowsSurvey()
    {
        ObservatorySettings settings = observatoryDefaults(m_folder->filePath("observatory"));
        settings.clockStart = "2024-03-01T22:00:00Z";
        settings.clockSpeed = 10;
        writeObservatorySettings(m_folder->filePath("observatory"), settings);
        sim::SimObservatory observatory(m_folder->filePath("observatory"));
        ObservatoryControl& controller = *observatory.observatoryControl();
        frmMain window(observatory, m_folder->path());
        window.show();
        control<QCheckBox>(&window, "SLCCheck")->setChecked(true);
        test::writeBytes(m_folder->filePath("SLCTargets.txt"), QByteArray());

        QProcess closer;
        auto* watch = new QTimer(&window);
        watch->setInterval(0);
        connect(watch, &QTimer::timeout, &window, [&] {
            if (!controller.ready())
                return;
            watch->stop();
            closer.start(KESTROVE_EXECUTABLE, {"--close", "--folder", m_folder->path(), "--observatory",
                                               m_folder->filePath("observatory")});
        });
        watch->start();
        // Should nobody answer, the run still ends.
        QTimer::singleShot(20000, &window, [&] { window.core.stopSurvey(); });
        control<QPushButton>(&window, "StartButton")->click(); // returns when the run has ended

        QVERIFY(closer.state() == QProcess::NotRunning || closer.waitForFinished(20000));
        const QString said =
            QString::fromLocal8Bit(closer.readAllStandardOutput() + closer.readAllStandardError());
        QCOMPARE(closer.exitStatus(), QProcess::NormalExit);
        QCOMPARE(closer.exitCode(), 0);
        QCOMPARE(window.statusBar()->currentMessage(), QString("Survey stopped: closed from outside"));
        QCOMPARE(controller.state(), ObservatoryState::Closed);
        QVERIFY2(controller.fault().isEmpty(), qPrintable(controller.fault()));
        const QString log = QString::fromUtf8(
            test::readBytes(window.core.acpUtil->Prefs().LocalUser().DefaultLogDir() + "/Kestrove.log"));
        QVERIFY2(log.contains("Observatory: Closing: closed from outside"), qPrintable(log));
        QVERIFY2(said.contains("closed from outside"), qPrintable(said));
    }

    // Last: a failed handler ends the program, which leaves the application's event loop state
    // behind for everything that follows.
    void aFailingHandlerIsShownAndEndsTheProgramWithStatus1()
    {
        const auto window = openWindow();
        // The folder disappears under the program: saving after the dialog fails.
        QVERIFY(m_folder->remove());

        ShownMessage failure;
        QTimer::singleShot(0, window.get(), [&] {
            test::onNextModal([&](QWidget* dialog) {
                test::onNextModal([&](QWidget* modal) { test::recordAndCloseMessage(modal, failure); },
                                  dialog);
                test::clickButton(dialog, "cmdCancel");
            });
            control<QPushButton>(window.get(), "PrefsButton")->click();
        });
        const int status = QApplication::exec();

        QCOMPARE(status, 1);
        QCOMPARE(window->exitStatus(), 1);
        QVERIFY(failure.shown);
        QCOMPARE(failure.title, QString("Kestrove"));
        QVERIFY2(failure.text.contains("config.ini"), qPrintable(failure.text));
    }
};

QTEST_MAIN(tst_frmMain)
#include "tst_frmMain.moc"
