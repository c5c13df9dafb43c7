#include "app/frmMain.h"

#include "Version.h"
#include "app/ControlChannel.h"
#include "app/HeadlessRun.h"
#include "app/StopSignals.h"
#include "app/frmMPSSetup.h"
#include "app/frmObservatory.h"
#include "app/frmPrefs.h"
#include "app/frmPreview.h"
#include "app/frmSLCSetup.h"
#include "app/frmSNeSetup.h"
#include "app/frmTargets.h"
#include "core/History.h"
#include "database/DatabaseError.h"
#include "host/ObservatoryControl.h"
#include "report/FrameLines.h"
#include "settings/ObservatoryForm.h"
#include "text/NumberText.h"
#include "text/ValueText.h"
#include "ui_frmMain.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <utility>

namespace kestrove {

namespace {
const QString programTitle = QStringLiteral("Kestrove");
}

frmMain::frmMain(Host& host, const QString& programFolder, QWidget* parent)
    : QMainWindow(parent), core(host, shown, programFolder), ui(std::make_unique<Ui::frmMain>())
{
    ui->setupUi(this);
    showStatus(QStringLiteral("Survey stopped"));

    connect(ui->StartButton, &QPushButton::clicked, this, &frmMain::startClicked);
    connect(ui->StopButton, &QPushButton::clicked, this, &frmMain::stopClicked);
    connect(ui->StopAndAbortButton, &QPushButton::clicked, this, &frmMain::stopAndAbortClicked);
    connect(ui->CloseObservatoryButton, &QPushButton::clicked, this, &frmMain::closeObservatoryClicked);
    ui->CloseObservatoryButton->setEnabled(host.observatoryControl() != nullptr);
    connect(ui->PrefsButton, &QPushButton::clicked, this, &frmMain::prefsClicked);
    connect(ui->SNeSetup, &QPushButton::clicked, this, &frmMain::SNeSetupClicked);
    connect(ui->MPSSetup, &QPushButton::clicked, this, &frmMain::MPSSetupClicked);
    connect(ui->SLCSetup, &QPushButton::clicked, this, &frmMain::SLCSetupClicked);
    connect(ui->About, &QPushButton::clicked, this, &frmMain::aboutClicked);
    connect(ui->PreviewButton, &QPushButton::clicked, this, &frmMain::previewClicked);
    // The observatory and the target lists, set up in the window rather than in their files.
    if (auto* grid = qobject_cast<QGridLayout*>(ui->centralWidget->layout())) {
        auto* observatory = new QPushButton(QStringLiteral("Observatory"), this);
        observatory->setObjectName(QStringLiteral("ObservatoryButton"));
        observatory->setToolTip(QStringLiteral("The observatory: site, limits, horizon, clock, devices and "
                                               "grading, kept in observatory.ini"));
        auto* targets = new QPushButton(QStringLiteral("Targets"), this);
        targets->setObjectName(QStringLiteral("TargetsButton"));
        targets->setToolTip(QStringLiteral("Edit, import and export the targets of each survey kind"));
        const int row = grid->rowCount();
        grid->addWidget(observatory, row, 0);
        grid->addWidget(targets, row, 1);
        connect(observatory, &QPushButton::clicked, this, &frmMain::observatoryClicked);
        connect(targets, &QPushButton::clicked, this, &frmMain::targetsClicked);
    }
    // Under the log rather than in the status bar, whose message it would cut; a long path is cut
    // instead, and shown whole as its tooltip.
    m_observatoryFolderLabel = new QLabel(this);
    m_observatoryFolderLabel->setObjectName(QStringLiteral("ObservatoryFolderLabel"));
    m_observatoryFolderLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    if (auto* grid = qobject_cast<QGridLayout*>(ui->centralWidget->layout()))
        grid->addWidget(m_observatoryFolderLabel, grid->rowCount(), 0, 1, grid->columnCount());
    // MPFSetup has no action.
    const QString mpfWhy = QStringLiteral(
        "Minor planet follow-up has no targets of its own: it never wins a pass, so it cannot be enabled");
    const std::pair<QWidget*, QString> tips[] = {
        {ui->SNeCheck, QStringLiteral("Search galaxies from SNeTargets.txt for supernovae")},
        {ui->MPSCheck, QStringLiteral("Search the fields of MPSTargets.txt for minor planets")},
        {ui->MPFCheck, mpfWhy},
        {ui->MPFWeighting, mpfWhy},
        {ui->MPFSetup, mpfWhy},
        {ui->SLCCheck, QStringLiteral("Follow the stars of SLCTargets.txt for their light curves")},
        {ui->SNeWeighting,
         QStringLiteral("SNe's weight: each pass multiplies the kind's best score by it and "
                        "runs the highest product")},
        {ui->MPSWeighting,
         QStringLiteral("MPS's weight: each pass multiplies the kind's best score by it and "
                        "runs the highest product")},
        {ui->SLCWeighting,
         QStringLiteral("SLC's weight: each pass multiplies the kind's best score by it and "
                        "runs the highest product")},
        {ui->SNeSetup, QStringLiteral("Exposures, filters and limits of the supernova search")},
        {ui->MPSSetup, QStringLiteral("Exposures, field size and limits of the minor planet search")},
        {ui->SLCSetup, QStringLiteral("Exposures, filters and limits of the light curves")},
        {ui->PrefsButton, QStringLiteral("The camera, the site's limits and the folders of the survey")},
        {ui->PreviewButton,
         QStringLiteral("Run tonight in virtual time on a copy of the targets and show what "
                        "the survey would observe, and why")},
        {ui->About, QStringLiteral("The version of Kestrove")},
    };
    for (const auto& [widget, tip] : tips)
        widget->setToolTip(tip);
    for (QCheckBox* box : {ui->SNeCheck, ui->MPSCheck, ui->MPFCheck, ui->SLCCheck})
        connect(box, &QCheckBox::toggled, this, [this] {
            if (core.isRunning())
                updateStartWarning();
        });

    // SIGINT and SIGTERM close the window as the user would, without the question nobody is there
    // to answer: the unload saves the settings and a run ends at its next check.
    auto* stopSignals = new StopSignalNotifier(this);
    connect(stopSignals, &StopSignalNotifier::received, this, [this] {
        m_closeFromSignal = true;
        close();
    });

    core.load();
    const SurveySettings& s = core.settings;
    ui->SNeCheck->setChecked(s.SNeEnabled != 0);
    ui->MPSCheck->setChecked(s.MPSEnabled != 0);
    ui->MPFCheck->setChecked(s.MPFEnabled != 0);
    ui->SLCCheck->setChecked(s.SLCEnabled != 0);
    ui->SNeWeighting->setText(integerText(s.SNeWeight));
    ui->MPSWeighting->setText(integerText(s.MPSWeight));
    ui->MPFWeighting->setText(integerText(s.MPFWeight));
    ui->SLCWeighting->setText(integerText(s.SLCWeight));

    fPrefsForm = new frmPrefs(this);
    fSNeSetupForm = new frmSNeSetup(this);
    fMPSSetupForm = new frmMPSSetup(this);
    fSLCSetupForm = new frmSLCSetup(this);

    m_observatoryFolder = core.GetEXEPath() + QStringLiteral("observatory");
    core.observer = &m_passPanel;
    // The panel looks at the log once a second, however many lines a pass writes.
    ui->LogPanel->setMaximumBlockCount(500);
    m_logTimer.setInterval(1000);
    connect(&m_logTimer, &QTimer::timeout, this, &frmMain::followLog);
    m_logTimer.start();

    m_channel = new ControlChannel(core, this);
    m_observatory = std::make_unique<ObservatoryStatus>(host);
    m_observatoryTimer.setInterval(1000);
    connect(&m_observatoryTimer, &QTimer::timeout, this, &frmMain::showObservatory);
    m_observatoryTimer.start();
    showObservatory();
}

void frmMain::showObservatory()
{
    if (!m_observatory)
        return;
    QString text;
    try {
        text = m_observatory->text();
    } catch (const std::exception& error) {
        text = QStringLiteral("The observatory's state cannot be read: ") + QString::fromUtf8(error.what());
    }
    if (!m_startWarning.isEmpty())
        text = m_startWarning + u'\n' + text;
    // Which observatory.ini is in use: its folder may be a hidden one.
    const QString folder = QStringLiteral("observatory.ini in ") + m_observatoryFolder;
    if (m_observatoryFolderLabel && m_observatoryFolderLabel->text() != folder) {
        m_observatoryFolderLabel->setText(folder);
        m_observatoryFolderLabel->setToolTip(folder);
    }
    // Nothing is observed while the roof is not open, whatever the last pass chose.
    const ObservatoryControl* control = core.host().observatoryControl();
    if (control && control->state() != ObservatoryState::Open)
        ui->CurrentTargetLabel->setText(QStringLiteral("Current target: none"));
    if (text != ui->ObservatoryLabel->text())
        ui->ObservatoryLabel->setText(text);
}

void frmMain::followLog()
{
    if (!core.acpUtil)
        return;
    const QString logDir = core.acpUtil->Prefs().LocalUser().DefaultLogDir();
    showLastFrame(logDir);
    const QString path = logDir + QStringLiteral("/Kestrove.log");
    if (path != m_logTail.path())
        m_logTail.follow(path);
    QStringList lines = m_logTail.poll();
    if (lines.isEmpty())
        return;
    if (lines.size() > ui->LogPanel->maximumBlockCount())
        lines = lines.mid(lines.size() - ui->LogPanel->maximumBlockCount());
    ui->LogPanel->appendPlainText(lines.join(u'\n'));
}

void frmMain::showLastFrame(const QString& logDir)
{
    // Read again only when the file or its write-ahead log changed: a frame may have come.
    const QString path = database::observationsPath(logDir);
    QString seen;
    for (const QFileInfo& file : {QFileInfo(path), QFileInfo(path + QStringLiteral("-wal"))})
        seen += QStringLiteral("%1 %2 ").arg(file.size()).arg(file.lastModified().toMSecsSinceEpoch());
    if (seen == m_framesSeen)
        return;
    m_framesSeen = seen;
    QString text;
    try {
        const QDateTime now = core.host().clock().utcNow();
        const auto frames = recordedFrames(logDir, now.addSecs(-24 * 3600), now.addSecs(60));
        if (!frames.empty())
            text = QStringLiteral("Last frame: ") + frameLine(frames.back(), core.now().timeZone());
    } catch (const database::DatabaseError& error) {
        text = QStringLiteral("Last frame: ") + error.message();
    }
    ui->LastFrameLabel->setText(text);
    ui->LastFrameLabel->setVisible(!text.isEmpty());
}

void frmMain::PassPanel::passStarted(const QDateTime&)
{
    m_best.clear();
}

void frmMain::PassPanel::kindBest(SurveyKind kind, const QString& targetLine, float, float weightedScore)
{
    m_best << QStringLiteral("%1 %2 (%3)")
                  .arg(kindText(kind), targetLine.section(u'\t', 0, 0), singleText(weightedScore));
}

void frmMain::PassPanel::passChosen(bool found, SurveyKind kind, const QString& targetLine, float)
{
    m_window.ui->PassWinnersLabel->setText(
        QStringLiteral("Best of the last pass: ") +
        (m_best.isEmpty() ? QStringLiteral("none") : m_best.join(QStringLiteral(", "))));
    m_window.ui->CurrentTargetLabel->setText(
        QStringLiteral("Current target: ") +
        (found ? kindText(kind) + u' ' + targetLine.section(u'\t', 0, 0) : QStringLiteral("none")));
}

void frmMain::PassPanel::planRefused(SurveyKind, const QString&)
{
    m_window.ui->CurrentTargetLabel->setText(QStringLiteral("Current target: none"));
}

frmMain::~frmMain() = default;

void frmMain::showStatus(const QString& text)
{
    ui->sbStatusBar->showMessage(text);
    showObservatory();
}

void frmMain::showMessage(const QString& text)
{
    QMessageBox box(QMessageBox::Information, programTitle, text, QMessageBox::Ok, this);
    box.exec();
}

bool frmMain::isKindChecked(SurveyKind kind)
{
    switch (kind) {
    case SurveyKind::SNe:
        return ui->SNeCheck->isChecked();
    case SurveyKind::MPS:
        return ui->MPSCheck->isChecked();
    case SurveyKind::MPF:
        return ui->MPFCheck->isChecked();
    case SurveyKind::SLC:
        return ui->SLCCheck->isChecked();
    }
    return false;
}

QString frmMain::weightText(SurveyKind kind)
{
    switch (kind) {
    case SurveyKind::SNe:
        return ui->SNeWeighting->text();
    case SurveyKind::MPS:
        return ui->MPSWeighting->text();
    case SurveyKind::MPF:
        return ui->MPFWeighting->text();
    case SurveyKind::SLC:
        return ui->SLCWeighting->text();
    }
    return QString();
}

void frmMain::processEvents()
{
    QCoreApplication::processEvents();
}

void frmMain::showRunning(bool running)
{
    m_channel->setListening(running);
    if (running) {
        // The run may have made the observatory again from its saved settings.
        m_observatory = std::make_unique<ObservatoryStatus>(core.host());
        ui->CloseObservatoryButton->setEnabled(core.host().observatoryControl() != nullptr);
        updateStartWarning();
    }
    ui->StartButton->setEnabled(!running);
    ui->StopButton->setEnabled(running);
    ui->StopAndAbortButton->setEnabled(running);
    // A preview in the middle of a run would hold the run for as long as its window stays open.
    ui->PreviewButton->setEnabled(!running);
    if (!running) {
        ui->CurrentTargetLabel->setText(QStringLiteral("Current target: none"));
        m_startWarning.clear();
    }
    showObservatory();
}

void frmMain::updateStartWarning()
{
    // The window's check boxes stand for the enable flags; the run starts whatever it is told.
    SurveySettings shown = core.settings;
    shown.SNeEnabled = isKindChecked(SurveyKind::SNe) ? 1 : 0;
    shown.MPSEnabled = isKindChecked(SurveyKind::MPS) ? 1 : 0;
    shown.MPFEnabled = isKindChecked(SurveyKind::MPF) ? 1 : 0;
    shown.SLCEnabled = isKindChecked(SurveyKind::SLC) ? 1 : 0;
    m_startWarning = startWarnings(shown, core.host().clock(), core.runLimits).join(u'\n');
    showObservatory();
}

void frmMain::guarded(const std::function<void()>& handler)
{
    QString failure;
    try {
        handler();
        return;
    } catch (const std::exception& error) {
        failure = QString::fromUtf8(error.what());
    } catch (...) {
        failure = QStringLiteral("An unknown error occurred.");
    }
    // The program ends: a run still on the stack stops at its next check, and every event loop,
    // the outermost included, returns with the failure status.
    m_exitStatus = 1;
    core.stopRequested = true;
    QMessageBox box(QMessageBox::Critical, programTitle, failure, QMessageBox::Ok, this);
    box.exec();
    QCoreApplication::exit(1);
}

void frmMain::startClicked()
{
    guarded([this] {
        if (core.isRunning())
            return;
        if (core.startSurvey() && !core.stopReason.isEmpty())
            showStatus(QStringLiteral("Survey stopped: ") + core.stopReason);
    });
    // Whoever asked from outside hears that the observatory is shut.
    m_channel->answerWaiting();
    // The window was closed during the run; the run has now left the stack.
    if (m_closeWhenStopped)
        close();
}

void frmMain::stopClicked()
{
    guarded([this] { core.stopSurvey(); });
}

void frmMain::stopAndAbortClicked()
{
    guarded([this] { core.stopSurveyAndAcp(); });
}

void frmMain::closeObservatoryClicked()
{
    guarded([this] { core.closeObservatory(); });
}

void frmMain::observatoryClicked()
{
    // A file that cannot be read is the user's to mend: said, and the program goes on.
    try {
        frmObservatory form(m_observatoryFolder, core.isRunning(), this);
        if (form.exec() == QDialog::Accepted)
            showStatus(form.savedNote());
    } catch (const std::exception& error) {
        QMessageBox::warning(this, programTitle, QString::fromUtf8(error.what()));
    }
}

void frmMain::targetsClicked()
{
    // A file that cannot be read is the user's to mend: said, and the program goes on.
    try {
        frmTargets form(core, m_observatoryFolder, this);
        form.exec();
    } catch (const std::exception& error) {
        QMessageBox::warning(this, programTitle, QString::fromUtf8(error.what()));
    }
}

void frmMain::prefsClicked()
{
    guarded([this] {
        SurveySettings& s = core.settings;
        frmPrefs& form = *fPrefsForm;
        form.setFocusInterval(s.focusInterval);
        form.setBaseDir(s.baseDir);
        form.setSlewRate(s.slewRate);
        form.setFlipTime(s.flipTime);
        form.setMaxElevation(s.maxElevation);
        form.setMinAzimuth(s.minAzimuth);
        form.setMaxAzimuth(s.maxAzimuth);
        form.setSelection(core.selection);
        form.exec();
        s.focusInterval = form.getFocusInterval();
        s.baseDir = form.getBaseDir();
        s.slewRate = form.getSlewRate();
        s.flipTime = form.getFlipTime();
        s.maxElevation = form.getMaxElevation();
        s.minAzimuth = form.getMinAzimuth();
        s.maxAzimuth = form.getMaxAzimuth();
        core.SaveConfig();
        // The policy is the observatory's: the next pass chooses by it, and the next start reads it.
        if (!(form.getSelection() == core.selection)) {
            core.selection = form.getSelection();
            // A file that cannot be written is the user's to mend; the run uses the choice meanwhile.
            try {
                QDir().mkpath(m_observatoryFolder);
                saveObservatoryChanges(
                    m_observatoryFolder,
                    {{QStringLiteral("selection/policy"), policyText(core.selection.policy)},
                     {QStringLiteral("selection/shares"), sharesText(core.selection.shares)}});
            } catch (const std::exception& error) {
                QMessageBox::warning(this, programTitle, QString::fromUtf8(error.what()));
            }
        }
    });
}

void frmMain::SNeSetupClicked()
{
    guarded([this] {
        SurveySettings& s = core.settings;
        frmSNeSetup& form = *fSNeSetupForm;
        form.setExposure(s.exposureSNe);
        form.setCameraBinning(s.cameraBinningSNe);
        form.setCameraFilter(s.cameraFilterSNe);
        form.setCameraSubframe(s.cameraSubframeSNe);
        form.exec();
        s.exposureSNe = form.getExposure();
        s.cameraBinningSNe = form.getCameraBinning();
        s.cameraFilterSNe = form.getCameraFilter();
        s.cameraSubframeSNe = form.getCameraSubframe();
        core.SaveConfig();
    });
}

void frmMain::MPSSetupClicked()
{
    guarded([this] {
        SurveySettings& s = core.settings;
        frmMPSSetup& form = *fMPSSetupForm;
        form.setExposure(s.exposureMPS);
        form.setCameraBinning(s.cameraBinningMPS);
        form.setCameraFilter(s.cameraFilterMPS);
        form.setImageCount(s.imagesMPS);
        form.setInterval(s.intervalMPS);
        form.setRAfov(s.fovRAMPS);
        form.setDecfov(s.fovDecMPS);
        form.exec();
        s.exposureMPS = form.getExposure();
        s.cameraBinningMPS = form.getCameraBinning();
        s.cameraFilterMPS = form.getCameraFilter();
        s.imagesMPS = form.getImageCount();
        s.intervalMPS = form.getInterval();
        s.fovRAMPS = form.getRAfov();
        s.fovDecMPS = form.getDecfov();
        core.SaveConfig();
    });
}

void frmMain::SLCSetupClicked()
{
    guarded([this] {
        SurveySettings& s = core.settings;
        frmSLCSetup& form = *fSLCSetupForm;
        form.setExposure(s.exposureSLC);
        form.setCameraBinning(s.cameraBinningSLC);
        form.setCameraFilter(s.cameraFilterSLC);
        form.setCameraSubframe(s.cameraSubframeSLC);
        form.setSetSize(s.setSizeSLC);
        form.setMinElevation(s.minElevationSLC);
        form.exec();
        s.exposureSLC = form.getExposure();
        s.cameraBinningSLC = form.getCameraBinning();
        s.cameraFilterSLC = form.getCameraFilter();
        s.cameraSubframeSLC = form.getCameraSubframe();
        s.setSizeSLC = form.getSetSize();
        s.minElevationSLC = form.getMinElevation();
        core.SaveConfig();
    });
}

void frmMain::aboutClicked()
{
    const QString text = QStringLiteral("Kestrove - Version %1.%2.%3")
                             .arg(kestrove::versionMajor)
                             .arg(kestrove::versionMinor)
                             .arg(kestrove::versionRevision);
    QMessageBox box(QMessageBox::NoIcon, programTitle, text, QMessageBox::Ok, this);
    box.exec();
}

void frmMain::previewClicked()
{
    guarded([this] {
        std::map<SurveyKind, PreviewRequest::Control> controls;
        for (const SurveyKind kind : {SurveyKind::SNe, SurveyKind::MPS, SurveyKind::MPF, SurveyKind::SLC})
            controls[kind] = {isKindChecked(kind), weightText(kind)};
        frmPreview dialog(core.GetEXEPath(), m_observatoryFolder, controls, nightDateOf(core.now()), this);
        dialog.exec();
    });
}

void frmMain::unloadControls()
{
    SurveySettings& s = core.settings;
    s.SNeEnabled = ui->SNeCheck->isChecked() ? 1 : 0;
    s.MPSEnabled = ui->MPSCheck->isChecked() ? 1 : 0;
    s.MPFEnabled = ui->MPFCheck->isChecked() ? 1 : 0;
    s.SLCEnabled = ui->SLCCheck->isChecked() ? 1 : 0;

    // A weight that is not a whole 16-bit number keeps the kind's previous weight.
    struct WeightBox
    {
        const char* kind;
        const QLineEdit* box;
        int16_t& weight;
    };
    const WeightBox boxes[] = {{"SNe", ui->SNeWeighting, s.SNeWeight},
                               {"MPS", ui->MPSWeighting, s.MPSWeight},
                               {"MPF", ui->MPFWeighting, s.MPFWeight},
                               {"SLC", ui->SLCWeighting, s.SLCWeight}};
    QStringList refused;
    for (const WeightBox& entry : boxes) {
        if (const auto weight = parseInt16(entry.box->text()))
            entry.weight = *weight;
        else
            refused << QStringLiteral("The %1 weight \"%2\" is not a whole number from -32768 to 32767; "
                                      "the previous weight %3 was saved.")
                           .arg(QLatin1String(entry.kind), entry.box->text(), integerText(entry.weight));
    }
    if (!refused.isEmpty())
        showMessage(refused.join(QLatin1Char('\n')));

    core.unload();
}

void frmMain::closeEvent(QCloseEvent* event)
{
    const bool fromSignal = std::exchange(m_closeFromSignal, false);
    if (!m_unloaded && core.isRunning() && !fromSignal && m_exitStatus == 0) {
        QMessageBox box(QMessageBox::Question, programTitle,
                        QStringLiteral("A survey is running. Stop it and close?"),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::No);
        if (box.exec() != QMessageBox::Yes) {
            event->ignore();
            return;
        }
    }
    if (!m_unloaded) {
        m_unloaded = true;
        guarded([this] {
            unloadControls();
            // The plan the observatory is running goes with the window, and the host's log says so.
            if (core.isRunning())
                core.stopSurveyAndAcp();
        });
        // The other windows go with this one.
        for (QDialog* form :
             std::initializer_list<QDialog*>{fSLCSetupForm, fMPSSetupForm, fSNeSetupForm, fPrefsForm})
            if (form->isVisible())
                form->reject();
    }
    // The run is still on the stack: it ends at its next check, and the window closes after it.
    if (core.isRunning() && m_exitStatus == 0) {
        m_closeWhenStopped = true;
        event->ignore();
        return;
    }
    event->accept();
}

} // namespace kestrove
