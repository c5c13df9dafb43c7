#pragma once

#include "report/MonthPreview.h"
#include "report/Preview.h"

#include <QDialog>
#include <map>

QT_BEGIN_NAMESPACE
class QChartView;
class QCheckBox;
class QDateEdit;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QTabWidget;
class QTableWidget;
QT_END_NAMESPACE

namespace kestrove {

// "Preview Night": runs the survey over a night (or, with the nights box above 1, several nights one
// after the other, shown by their coverage) in virtual time with the window's check boxes and
// weights, shows its progress, then the night's charts, plans, reasons and summary, and writes the
// same files as kestrove --preview under the program folder's "preview" folder. With "Compare
// policies" it previews the same nights under both selection policies, shows the observatory's own
// and the two side by side, and writes the files of each.
class frmPreview : public QDialog
{
    Q_OBJECT

public:
    frmPreview(const QString& programFolder, const QString& observatoryFolder,
               const std::map<SurveyKind, PreviewRequest::Control>& controls, const QDate& night,
               QWidget* parent = nullptr);

    bool isRunning() const { return m_running; }
    // The folder the last preview's files went to; empty before one finished.
    const QString& filesFolder() const { return m_filesFolder; }

public slots:
    // Previews the night the date box names; while one runs, the button stops it.
    void run();
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showReport(const NightReport& report);
    void showMonth(const MonthReport& report);
    // Both policies over the request's night (or nights); false when stopped.
    bool runBothPolicies(const PreviewRequest& request);

    QString m_programFolder;
    QString m_observatoryFolder;
    std::map<SurveyKind, PreviewRequest::Control> m_controls;
    QDateEdit* m_night;
    QSpinBox* m_nights;
    QCheckBox* m_compare;
    QLabel* m_coverage;
    QScrollArea* m_coverageArea;
    QPushButton* m_runButton;
    QProgressBar* m_progress;
    QLabel* m_files;
    QTabWidget* m_tabs;
    QPlainTextEdit* m_summary;
    QPlainTextEdit* m_policies;
    QTableWidget* m_plans;
    QTableWidget* m_reasons;
    QChartView* m_nightChart;
    QChartView* m_skyChart;
    bool m_running = false;
    bool m_stop = false;
    bool m_closeWhenStopped = false;
    bool m_started = false;
    QString m_filesFolder;
};

} // namespace kestrove
