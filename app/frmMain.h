#pragma once

#include "host/ObservatoryStatus.h"
#include "core/SurveyCore.h"
#include "core/SurveyView.h"
#include "report/LogTail.h"
#include "web/WebState.h"

#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <memory>

class QLabel;

namespace Ui {
class frmMain;
}

namespace kestrove {

class ControlChannel;
class frmPrefs;
class frmSNeSetup;
class frmMPSSetup;
class frmSLCSetup;

// The main window: survey kinds with their weights, the run buttons and the settings dialogs. It
// owns the survey core and shows what the core reports; the survey itself runs in the core.
class frmMain : public QMainWindow, public SurveyView
{
    Q_OBJECT

public:
    // Loads: creates the host objects, reads the configuration, sets the controls from it and
    // creates the dialogs. A failure here throws; nothing is running yet.
    frmMain(Host& host, const QString& programFolder, QWidget* parent = nullptr);
    ~frmMain() override;

    // 0 normally; 1 once an error has ended the program.
    int exitStatus() const { return m_exitStatus; }
    // The observatory's folder, which a preview copies its settings from.
    void setObservatoryFolder(const QString& folder) { m_observatoryFolder = folder; }
    // Reads what the survey log gained since the last look into the log panel, and shows the last
    // frame's grade.
    void followLog();
    // Shows what the host reports about the observatory, under the buttons.
    void showObservatory();

    void showStatus(const QString& text) override;
    void showMessage(const QString& text) override;
    bool isKindChecked(SurveyKind kind) override;
    QString weightText(SurveyKind kind) override;
    void processEvents() override;
    void showRunning(bool running) override;

    // What the window is shown, kept for the web page; stands before the core, which shows through it.
    WebState shown{*this};
    SurveyCore core;
    frmPrefs* fPrefsForm = nullptr;
    frmSNeSetup* fSNeSetupForm = nullptr;
    frmMPSSetup* fMPSSetupForm = nullptr;
    frmSLCSetup* fSLCSetupForm = nullptr;

public slots:
    void startClicked();
    void stopClicked();
    void stopAndAbortClicked();
    void closeObservatoryClicked();
    void prefsClicked();
    void SNeSetupClicked();
    void MPSSetupClicked();
    void SLCSetupClicked();
    void aboutClicked();
    void previewClicked();
    void observatoryClicked();
    void targetsClicked();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Says again what Start warned of, from the boxes as they are now.
    void updateStartWarning();
    // Runs a handler; an error is shown and ends the program with a non-zero status.
    void guarded(const std::function<void()>& handler);
    void unloadControls();
    void showLastFrame(const QString& logDir);

    // Shows in the window what each pass chose.
    class PassPanel : public SelectionObserver
    {
    public:
        explicit PassPanel(frmMain& window) : m_window(window) {}
        void passStarted(const QDateTime& utc) override;
        void kindBest(SurveyKind kind, const QString& targetLine, float score, float weightedScore) override;
        void passChosen(bool found, SurveyKind kind, const QString& targetLine, float weightedScore) override;
        void planRefused(SurveyKind kind, const QString& targetLine) override;

    private:
        frmMain& m_window;
        QStringList m_best;
    };

    std::unique_ptr<Ui::frmMain> ui;
    std::unique_ptr<ObservatoryStatus> m_observatory;
    QTimer m_observatoryTimer;
    // Where "kestrove --close" reaches the run.
    ControlChannel* m_channel = nullptr;
    // What Start warned of, shown with the observatory until the run ends or the boxes put it right.
    QString m_startWarning;
    // SIGINT or SIGTERM asked for the close: nobody is there to answer a question.
    bool m_closeFromSignal = false;
    PassPanel m_passPanel{*this};
    LogTail m_logTail;
    QString m_framesSeen; // the observations database's size and time, when its last frame was read
    QTimer m_logTimer;
    QString m_observatoryFolder;
    QLabel* m_observatoryFolderLabel = nullptr;
    bool m_unloaded = false;
    bool m_closeWhenStopped = false;
    int m_exitStatus = 0;
};

} // namespace kestrove
