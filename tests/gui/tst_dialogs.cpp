#include "GuiTestSupport.h"
#include "app/frmMPSSetup.h"
#include "app/frmMain.h"
#include "app/frmPrefs.h"
#include "app/frmSLCSetup.h"
#include "app/frmSNeSetup.h"
#include "support/FakeHost.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace kestrove;

namespace {

QLineEdit* box(QWidget* dialog, const QString& name)
{
    auto* found = dialog->findChild<QLineEdit*>(name);
    if (!found)
        qFatal("no box %s", qPrintable(name));
    return found;
}

// The label that stands for a box (its buddy).
QLabel* labelOf(QWidget* dialog, const QString& boxName)
{
    for (QLabel* label : dialog->findChildren<QLabel*>())
        if (label->buddy() && label->buddy()->objectName() == boxName)
            return label;
    return nullptr;
}

QString errorText(QWidget* dialog)
{
    auto* label = dialog->findChild<QLabel*>("errorLabel");
    return label ? label->text() : QString();
}

} // namespace

class tst_dialogs : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    test::FakeHost m_host;
    std::unique_ptr<frmMain> m_window;

    QString configPath() const { return m_folder->filePath("config.ini"); }
    QByteArray configLine(int index) const { return test::readBytes(configPath()).split('\n').value(index); }
    QPushButton* button(const char* name) const { return m_window->findChild<QPushButton*>(name); }

    // Presses a main-window button, lets `edit` work on the dialog it opens, then closes the
    // dialog with `closeWith` ("cmdOK" or "cmdCancel").
    bool runDialog(const char* opener, const std::function<void(QWidget*)>& edit, const char* closeWith)
    {
        bool seen = false;
        test::onNextModal([&](QWidget* dialog) {
            seen = true;
            edit(dialog);
            test::clickButton(dialog, closeWith);
            if (dialog->isVisible())
                test::clickButton(dialog, "cmdCancel");
        });
        button(opener)->click();
        return seen;
    }

    // The texts the dialog shows when it opens.
    QMap<QString, QString> shownTexts(const char* opener, const QStringList& boxes)
    {
        QMap<QString, QString> texts;
        runDialog(
            opener,
            [&](QWidget* dialog) {
                for (const QString& name : boxes)
                    texts[name] = box(dialog, name)->text();
            },
            "cmdCancel");
        return texts;
    }

private slots:
    void init()
    {
        m_folder = std::make_unique<QTemporaryDir>();
        m_window = std::make_unique<frmMain>(m_host, m_folder->path());
        m_window->show();
    }
    void cleanup() { m_window.reset(); }

    void prefsShowsItsCaptionsLabelsAndFrame()
    {
        frmPrefs& dialog = *m_window->fPrefsForm;
        QCOMPARE(dialog.windowTitle(), QString("Preferences"));
        const QList<QPair<QString, QString>> rows = {
            {"focusIntervalText", "Autofocus interval in minutes:"},
            {"baseDirText", "Base directory for captured images:"},
            {"slewRateText", "Slew rate (Degrees per sec)"},
            {"flipTimeText", "Mount flip time"},
            {"maxElevationText", "maximum Elevation [Degrees]"},
            {"minAzimuthText", "minimum Azimuth [Degrees]"},
            {"maxAzimuthText", "maximum Azimuth [Degrees]"},
        };
        for (const auto& [boxName, caption] : rows) {
            box(&dialog, boxName);
            QLabel* label = labelOf(&dialog, boxName);
            QVERIFY2(label, qPrintable(boxName));
            QCOMPARE(label->text(), caption);
        }
        auto* frame = dialog.findChild<QGroupBox*>();
        QVERIFY(frame);
        QCOMPARE(frame->title(), QString("Observation Window"));
        QVERIFY(frame->isAncestorOf(box(&dialog, "maxElevationText")));
        QVERIFY(frame->isAncestorOf(box(&dialog, "minAzimuthText")));
        QVERIFY(frame->isAncestorOf(box(&dialog, "maxAzimuthText")));
        QVERIFY(!frame->isAncestorOf(box(&dialog, "flipTimeText")));
        QCOMPARE(dialog.findChild<QPushButton*>("cmdOK")->text(), QString("OK"));
        QCOMPARE(dialog.findChild<QPushButton*>("cmdCancel")->text(), QString("Cancel"));
    }

    void setupDialogsShowTheirCaptionsLabelsAndTooltips_data()
    {
        QTest::addColumn<QString>("dialogName");
        QTest::addColumn<QString>("boxName");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("toolTip");
        const QString binningTip = "X & Y binning value";
        const QString subframeTip = "Fraction of X & Y dimensions for subframe";
        for (const QString form : {"SNe", "MPS", "SLC"}) {
            const QByteArray tag = form.toLatin1();
            QTest::newRow(tag + " exposure") << form << "exposureText"
                                             << "Exposure Duration"
                                             << "Exposure duration, seconds";
            QTest::newRow(tag + " binning") << form << "cameraBinningText"
                                            << "Camera Binning" << binningTip;
            QTest::newRow(tag + " filter") << form << "cameraFilterText"
                                           << "Camera Filter selection"
                                           << "";
        }
        QTest::newRow("SNe subframe") << "SNe"
                                      << "cameraSubframeText"
                                      << "Camera Subframe fraction" << subframeTip;
        QTest::newRow("MPS images") << "MPS"
                                    << "imageCountText"
                                    << "Images to take in set"
                                    << "";
        QTest::newRow("MPS interval") << "MPS"
                                      << "intervalText"
                                      << "Image interval"
                                      << "Minutes between the images of a set";
        QTest::newRow("MPS RA fov") << "MPS"
                                    << "cameraRAfovText"
                                    << "Camera RA field of view"
                                    << "Field of view in right ascension, arcminutes";
        QTest::newRow("MPS Dec fov") << "MPS"
                                     << "cameraDecfovText"
                                     << "Camera Dec field of view"
                                     << "Field of view in declination, arcminutes";
        QTest::newRow("SLC subframe") << "SLC"
                                      << "cameraSubframeText"
                                      << "Camera Subframe fraction" << subframeTip;
        QTest::newRow("SLC set size") << "SLC"
                                      << "setSizeText"
                                      << "Exposures to take in a Set"
                                      << "";
        QTest::newRow("SLC min elevation") << "SLC"
                                           << "minElevationText"
                                           << "Min fraction of transit elevation"
                                           << "";
        // The Preferences boxes give their units too.
        const char* prefs[][3] = {
            {"focusIntervalText", "Autofocus interval in minutes:", "Minutes between autofocus runs"},
            {"slewRateText", "Slew rate (Degrees per sec)", "Mount slew rate, degrees per second"},
            {"flipTimeText", "Mount flip time", "Time added for a meridian flip, seconds"},
            {"maxElevationText", "maximum Elevation [Degrees]", "Upper elevation limit, degrees"},
            {"minAzimuthText", "minimum Azimuth [Degrees]",
             "Lower azimuth limit, degrees from north through east"},
            {"maxAzimuthText", "maximum Azimuth [Degrees]",
             "Upper azimuth limit, degrees from north through east"},
        };
        for (const auto& row : prefs)
            QTest::newRow(QByteArray("Prefs ") + row[0]) << "Prefs" << row[0] << row[1] << row[2];
    }

    void setupDialogsShowTheirCaptionsLabelsAndTooltips()
    {
        QFETCH(QString, dialogName);
        QFETCH(QString, boxName);
        QFETCH(QString, caption);
        QFETCH(QString, toolTip);
        QDialog* dialog = dialogName == "SNe"     ? static_cast<QDialog*>(m_window->fSNeSetupForm)
                          : dialogName == "MPS"   ? static_cast<QDialog*>(m_window->fMPSSetupForm)
                          : dialogName == "Prefs" ? static_cast<QDialog*>(m_window->fPrefsForm)
                                                  : static_cast<QDialog*>(m_window->fSLCSetupForm);
        const QMap<QString, QString> titles = {{"Prefs", "Preferences"},
                                               {"SNe", "SuperNova Survey Setup"},
                                               {"MPS", "MinorPlanet Survey Setup"},
                                               {"SLC", "Stellar Lightcurve Setup"}};
        QCOMPARE(dialog->windowTitle(), titles[dialogName]);
        QLineEdit* edit = box(dialog, boxName);
        QLabel* label = labelOf(dialog, boxName);
        QVERIFY(label);
        QCOMPARE(label->text(), caption);
        QCOMPARE(edit->toolTip(), toolTip);
        QCOMPARE(dialog->findChild<QPushButton*>("cmdOK")->text(), QString("OK"));
        QCOMPARE(dialog->findChild<QPushButton*>("cmdCancel")->text(), QString("Cancel"));
    }

    void boxesShowTheShortestTextOfTheirValues()
    {
        SurveySettings& s = m_window->core.settings;
        s.slewRate = 0.1f;
        s.maxAzimuth = 359.9f;
        s.focusInterval = -5;
        auto prefs =
            shownTexts("PrefsButton", {"focusIntervalText", "baseDirText", "slewRateText", "flipTimeText",
                                       "maxElevationText", "minAzimuthText", "maxAzimuthText"});
        QCOMPARE(prefs["focusIntervalText"], QString("-5"));
        QCOMPARE(prefs["baseDirText"], SurveySettings::defaultBaseDir());
        QCOMPARE(prefs["slewRateText"], QString("0.1"));
        QCOMPARE(prefs["flipTimeText"], QString("90"));
        QCOMPARE(prefs["maxElevationText"], QString("90"));
        QCOMPARE(prefs["minAzimuthText"], QString("0"));
        QCOMPARE(prefs["maxAzimuthText"], QString("359.9"));

        s.fovRAMPS = 1.0 / 3.0;
        auto mps =
            shownTexts("MPSSetup", {"exposureText", "cameraBinningText", "cameraFilterText", "imageCountText",
                                    "intervalText", "cameraRAfovText", "cameraDecfovText"});
        QCOMPARE(mps["exposureText"], QString("60"));
        QCOMPARE(mps["cameraBinningText"], QString("1"));
        QCOMPARE(mps["cameraFilterText"], QString(""));
        QCOMPARE(mps["imageCountText"], QString("3"));
        QCOMPARE(mps["intervalText"], QString("30"));
        QCOMPARE(mps["cameraRAfovText"], QString("0.3333333333333333"));
        QCOMPARE(mps["cameraDecfovText"], QString("38"));
    }

    void prefsCancelAfterEditingKeepsEveryValueYetRewritesTheFile()
    {
        SurveySettings& s = m_window->core.settings;
        s.baseDir = "/data/images";
        s.focusInterval = 45;
        s.slewRate = 3.25f;
        const SurveySettings before = s;
        QVERIFY(!QFile::exists(configPath()));

        QVERIFY(runDialog(
            "PrefsButton",
            [](QWidget* dialog) {
                for (const char* name : {"focusIntervalText", "baseDirText", "slewRateText", "flipTimeText",
                                         "maxElevationText", "minAzimuthText", "maxAzimuthText"})
                    box(dialog, name)->setText("7");
            },
            "cmdCancel"));

        QCOMPARE(s.focusInterval, before.focusInterval);
        QCOMPARE(s.slewRate, before.slewRate);
        QCOMPARE(s.flipTime, before.flipTime);
        QCOMPARE(s.maxElevation, before.maxElevation);
        QCOMPARE(s.minAzimuth, before.minAzimuth);
        QCOMPARE(s.maxAzimuth, before.maxAzimuth);
        QCOMPARE(s.baseDir, QString("/data/images/"));
        QCOMPARE(configLine(10), QByteArray("baseDir,/data/images/\r"));
        QCOMPARE(configLine(1), QByteArray("focusInterval,45\r"));
    }

    void prefsOkStoresTheTypedValues()
    {
        QVERIFY(runDialog(
            "PrefsButton",
            [](QWidget* dialog) {
                box(dialog, "focusIntervalText")->setText("2.5");
                box(dialog, "baseDirText")->setText("/srv/pictures");
                box(dialog, "slewRateText")->setText("1.75");
                box(dialog, "flipTimeText")->setText("120");
                box(dialog, "maxElevationText")->setText("85");
                box(dialog, "minAzimuthText")->setText("10.5");
                box(dialog, "maxAzimuthText")->setText("350");
            },
            "cmdOK"));
        const SurveySettings& s = m_window->core.settings;
        QCOMPARE(s.focusInterval, int16_t(2));
        QCOMPARE(s.baseDir, QString("/srv/pictures/"));
        QCOMPARE(s.slewRate, 1.75f);
        QCOMPARE(s.flipTime, 120.0f);
        QCOMPARE(s.maxElevation, 85.0f);
        QCOMPARE(s.minAzimuth, 10.5f);
        QCOMPARE(s.maxAzimuth, 350.0f);
        QCOMPARE(configLine(1), QByteArray("focusInterval,2\r"));
        QCOMPARE(configLine(11), QByteArray("slewRate,1.75\r"));

        QVERIFY(runDialog(
            "PrefsButton", [](QWidget* dialog) { box(dialog, "focusIntervalText")->setText("3.5"); },
            "cmdOK"));
        QCOMPARE(s.focusInterval, int16_t(4));
        QCOMPARE(s.baseDir, QString("/srv/pictures/"));
    }

    // The selection policy is the observatory's: OK sets it for the next pass and in observatory.ini,
    // leaving the file's other lines as they were; shares that cannot be read keep the dialog open.
    void prefsChoosesTheSelectionPolicy()
    {
        const QString ini = m_folder->filePath("observatory/observatory.ini");
        QDir().mkpath(m_folder->filePath("observatory"));
        test::writeBytes(ini, "; mine\n[site]\nlatitude=40\n");
        bool sharesEnabled = true;
        QString refused;
        QVERIFY(runDialog(
            "PrefsButton",
            [&](QWidget* dialog) {
                auto* policy = dialog->findChild<QComboBox*>("policyCombo");
                QCOMPARE(policy->currentText(), QString("specified"));
                sharesEnabled = box(dialog, "sharesText")->isEnabled();
                policy->setCurrentText("balanced");
                box(dialog, "sharesText")->setText("SNe:50,Comets:50");
                test::clickButton(dialog, "cmdOK");
                refused = errorText(dialog);
                box(dialog, "sharesText")->setText("SNe:50,SLC:30,MPS:20");
            },
            "cmdOK"));
        QVERIFY(!sharesEnabled);
        QVERIFY2(refused.contains("Shares of the night"), qPrintable(refused));
        const SelectionSettings& selection = m_window->core.selection;
        QCOMPARE(selection.policy, SelectionPolicy::Balanced);
        QCOMPARE(selection.shares.size(), 3);
        QCOMPARE(test::readBytes(ini),
                 QByteArray("; mine\n[site]\nlatitude=40\n\n[selection]\npolicy=balanced\n"
                            "shares=\"SNe:50,SLC:30,MPS:20\"\n"));

        // Back to the survey's own rule; the shares stay for another time.
        QVERIFY(runDialog(
            "PrefsButton",
            [](QWidget* dialog) {
                QVERIFY(box(dialog, "sharesText")->isEnabled());
                dialog->findChild<QComboBox*>("policyCombo")->setCurrentText("specified");
            },
            "cmdOK"));
        QCOMPARE(m_window->core.selection.policy, SelectionPolicy::Specified);
        QVERIFY(test::readBytes(ini).contains("\npolicy=specified\n"));
    }

    void getBaseDirAddsTheSeparatorOnlyWhenMissing()
    {
        frmPrefs dialog;
        dialog.setBaseDir("");
        QCOMPARE(dialog.getBaseDir(), QString("/"));
        dialog.setBaseDir("/a/b/");
        QCOMPARE(dialog.getBaseDir(), QString("/a/b/"));
        dialog.setBaseDir("/a/b");
        QCOMPARE(dialog.getBaseDir(), QString("/a/b/"));
    }

    void setupCancelKeepsTheKindsValuesYetRewritesTheFile()
    {
        SurveySettings& s = m_window->core.settings;
        s.exposureSNe = 45;
        s.cameraFilterSNe = "R";
        QVERIFY(runDialog(
            "SNeSetup",
            [](QWidget* dialog) {
                box(dialog, "exposureText")->setText("1");
                box(dialog, "cameraBinningText")->setText("3");
                box(dialog, "cameraFilterText")->setText("B");
                box(dialog, "cameraSubframeText")->setText("0.5");
            },
            "cmdCancel"));
        QCOMPARE(s.exposureSNe, 45.0f);
        QCOMPARE(s.cameraBinningSNe, int16_t(1));
        QCOMPARE(s.cameraFilterSNe, QString("R"));
        QCOMPARE(s.cameraSubframeSNe, 1.0f);
        QCOMPARE(configLine(16), QByteArray("exposureSNe,45\r"));
    }

    void anEmptyFilterStoresAnEmptyFilter()
    {
        m_window->core.settings.cameraFilterSNe = "Luminance";
        QVERIFY(runDialog(
            "SNeSetup",
            [](QWidget* dialog) {
                box(dialog, "cameraFilterText")->clear();
                box(dialog, "cameraSubframeText")->setText("0.25");
            },
            "cmdOK"));
        QCOMPARE(m_window->core.settings.cameraFilterSNe, QString());
        QCOMPARE(m_window->core.settings.cameraSubframeSNe, 0.25f);
        QCOMPARE(configLine(18), QByteArray("cameraFilterSNe,\r"));
    }

    void theFieldOfViewKeepsFullPrecision()
    {
        QVERIFY(runDialog(
            "MPSSetup",
            [](QWidget* dialog) {
                box(dialog, "cameraRAfovText")->setText("0.2833333333333333");
                box(dialog, "cameraDecfovText")->setText("0.21666666666666667");
                box(dialog, "cameraBinningText")->setText("2.5");
                box(dialog, "imageCountText")->setText("3.5");
                box(dialog, "intervalText")->setText("15");
                box(dialog, "cameraFilterText")->setText("Clear");
            },
            "cmdOK"));
        const SurveySettings& s = m_window->core.settings;
        QCOMPARE(s.fovRAMPS, 0.2833333333333333);
        QCOMPARE(s.fovDecMPS, 0.21666666666666667);
        QCOMPARE(s.cameraBinningMPS, int16_t(2));
        QCOMPARE(s.imagesMPS, int16_t(4));
        QCOMPARE(s.intervalMPS, int16_t(15));
        QCOMPARE(s.cameraFilterMPS, QString("Clear"));
        const auto shown = shownTexts("MPSSetup", {"cameraRAfovText"});
        QCOMPARE(shown["cameraRAfovText"], QString("0.2833333333333333"));
        QCOMPARE(s.fovRAMPS, 0.2833333333333333);
    }

    void theSetSizeIsAWholeNumberEvenAfterCancel()
    {
        SurveySettings& s = m_window->core.settings;
        s.setSizeSLC = 2.5f;
        const auto shown = shownTexts("SLCSetup", {"setSizeText"});
        QCOMPARE(shown["setSizeText"], QString("2"));
        QCOMPARE(s.setSizeSLC, 2.0f);
        QCOMPARE(configLine(31), QByteArray("setSizeSLC,2\r"));

        s.setSizeSLC = 3.5f;
        QVERIFY(runDialog(
            "SLCSetup", [](QWidget*) {}, "cmdCancel"));
        QCOMPARE(s.setSizeSLC, 4.0f);

        QVERIFY(runDialog(
            "SLCSetup",
            [](QWidget* dialog) {
                box(dialog, "setSizeText")->setText("6");
                box(dialog, "minElevationText")->setText("0.75");
            },
            "cmdOK"));
        QCOMPARE(s.setSizeSLC, 6.0f);
        QCOMPARE(s.minElevationSLC, 0.75f);
    }

    void aBadValueKeepsTheDialogOpen_data()
    {
        QTest::addColumn<QString>("opener");
        QTest::addColumn<QString>("boxName");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("caption");
        QTest::newRow("focus interval letters") << "PrefsButton"
                                                << "focusIntervalText"
                                                << "often"
                                                << "Autofocus interval in minutes";
        QTest::newRow("focus interval beyond 16 bits") << "PrefsButton"
                                                       << "focusIntervalText"
                                                       << "40000"
                                                       << "Autofocus interval in minutes";
        QTest::newRow("slew rate empty") << "PrefsButton"
                                         << "slewRateText"
                                         << ""
                                         << "Slew rate (Degrees per sec)";
        QTest::newRow("azimuth comma") << "PrefsButton"
                                       << "maxAzimuthText"
                                       << "3,5"
                                       << "maximum Azimuth [Degrees]";
        QTest::newRow("SNe exposure") << "SNeSetup"
                                      << "exposureText"
                                      << "long"
                                      << "Exposure Duration";
        QTest::newRow("SNe binning") << "SNeSetup"
                                     << "cameraBinningText"
                                     << "-32769"
                                     << "Camera Binning";
        QTest::newRow("MPS fov") << "MPSSetup"
                                 << "cameraDecfovText"
                                 << "wide"
                                 << "Camera Dec field of view";
        QTest::newRow("MPS interval") << "MPSSetup"
                                      << "intervalText"
                                      << "1e9"
                                      << "Image interval";
        QTest::newRow("SLC set size") << "SLCSetup"
                                      << "setSizeText"
                                      << "three"
                                      << "Exposures to take in a Set";
        QTest::newRow("SLC single beyond range") << "SLCSetup"
                                                 << "minElevationText"
                                                 << "1e39"
                                                 << "Min fraction of transit elevation";
        // "config.ini" separates its fields with commas and holds single-byte text: such a text
        // would shift or garble every later setting when the file is read again.
        QTest::newRow("base directory comma") << "PrefsButton"
                                              << "baseDirText"
                                              << "/data/Kestrove, 2026/"
                                              << "Base directory for captured images";
        QTest::newRow("base directory beyond Latin-1")
            << "PrefsButton"
            << "baseDirText" << QString::fromUtf8("/home/\u0141ukasz/")
            << "Base directory for captured images";
        QTest::newRow("SNe filter comma") << "SNeSetup"
                                          << "cameraFilterText"
                                          << "R,G"
                                          << "Camera Filter selection";
        QTest::newRow("MPS filter comma") << "MPSSetup"
                                          << "cameraFilterText"
                                          << "Clear,"
                                          << "Camera Filter selection";
        QTest::newRow("SLC filter comma") << "SLCSetup"
                                          << "cameraFilterText"
                                          << ",V"
                                          << "Camera Filter selection";
    }

    void aBadValueKeepsTheDialogOpen()
    {
        QFETCH(QString, opener);
        QFETCH(QString, boxName);
        QFETCH(QString, text);
        QFETCH(QString, caption);
        const SurveySettings before = m_window->core.settings;
        bool stayedOpen = false;
        QString shownError;
        bool focused = false;
        bool wholeMessage = false;
        QVERIFY(runDialog(
            qPrintable(opener),
            [&](QWidget* dialog) {
                box(dialog, boxName)->setText(text);
                test::clickButton(dialog, "cmdOK");
                stayedOpen = dialog->isVisible();
                shownError = errorText(dialog);
                // The whole message fits in the dialog once its layout has settled.
                auto* label = dialog->findChild<QLabel*>("errorLabel");
                wholeMessage = QTest::qWaitFor([&] {
                    return label->height() >= label->heightForWidth(label->width()) &&
                           dialog->rect().contains(label->geometry());
                });
                focused = box(dialog, boxName)->hasFocus() || dialog->focusWidget() == box(dialog, boxName);
            },
            "cmdCancel"));
        QVERIFY(stayedOpen);
        QVERIFY2(shownError.contains(caption) && shownError.contains("\"" + text + "\""),
                 qPrintable(shownError));
        QVERIFY(focused);
        QVERIFY2(wholeMessage, qPrintable(shownError));
        // Closed with Cancel afterwards: nothing changed.
        const SurveySettings& s = m_window->core.settings;
        QCOMPARE(s.focusInterval, before.focusInterval);
        QCOMPARE(s.slewRate, before.slewRate);
        QCOMPARE(s.maxAzimuth, before.maxAzimuth);
        QCOMPARE(s.exposureSNe, before.exposureSNe);
        QCOMPARE(s.cameraBinningSNe, before.cameraBinningSNe);
        QCOMPARE(s.fovDecMPS, before.fovDecMPS);
        QCOMPARE(s.intervalMPS, before.intervalMPS);
        QCOMPARE(s.setSizeSLC, before.setSizeSLC);
        QCOMPARE(s.minElevationSLC, before.minElevationSLC);
        QCOMPARE(s.baseDir, before.baseDir);
        QCOMPARE(s.cameraFilterSNe, before.cameraFilterSNe);
        QCOMPARE(s.cameraFilterMPS, before.cameraFilterMPS);
        QCOMPARE(s.cameraFilterSLC, before.cameraFilterSLC);
    }

    void aCorrectedBoxIsAcceptedAndTheMessageGoes()
    {
        QString errorAfterReopen = "unset";
        QVERIFY(runDialog(
            "SNeSetup",
            [](QWidget* dialog) {
                box(dialog, "exposureText")->setText("x");
                test::clickButton(dialog, "cmdOK");
                box(dialog, "exposureText")->setText("90");
            },
            "cmdOK"));
        QCOMPARE(m_window->core.settings.exposureSNe, 90.0f);
        QVERIFY(runDialog(
            "SNeSetup", [&](QWidget* dialog) { errorAfterReopen = errorText(dialog); }, "cmdCancel"));
        QCOMPARE(errorAfterReopen, QString());
    }

    void theDialogsAreTheWindowsOwnInstances()
    {
        QWidget* seen = nullptr;
        QVERIFY(runDialog(
            "PrefsButton", [&](QWidget* dialog) { seen = dialog; }, "cmdCancel"));
        QCOMPARE(seen, static_cast<QWidget*>(m_window->fPrefsForm));
        QVERIFY(runDialog(
            "SLCSetup", [&](QWidget* dialog) { seen = dialog; }, "cmdCancel"));
        QCOMPARE(seen, static_cast<QWidget*>(m_window->fSLCSetupForm));
    }
};

QTEST_MAIN(tst_dialogs)
#include "tst_dialogs.moc"
