#include "app/frmPreview.h"

#include "core/Csv.h"
#include "report/NightFiles.h"
#include "report/PolicyComparison.h"
#include "report/charts/CoverageChart.h"
#include "report/charts/NightCharts.h"
#include "report/charts/NightOutput.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QDir>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <exception>

namespace kestrove {

namespace {

// A table from CSV lines: the first is the header.
void fillTable(QTableWidget* table, const QByteArray& csv)
{
    // The night's own files end lines with LF, a file from elsewhere may use CR LF.
    static const QRegularExpression lineEnd(QStringLiteral("\r?\n"));
    QStringList lines = ownText(csv).split(lineEnd, Qt::SkipEmptyParts);
    table->clear();
    if (lines.isEmpty())
        return;
    const QStringList header = splitCsvLine(lines.takeFirst());
    table->setColumnCount(static_cast<int>(header.size()));
    table->setHorizontalHeaderLabels(header);
    table->setRowCount(static_cast<int>(lines.size()));
    for (int row = 0; row < lines.size(); ++row) {
        const QStringList fields = splitCsvLine(lines[row]);
        for (int column = 0; column < fields.size(); ++column)
            table->setItem(row, column, new QTableWidgetItem(fields[column]));
    }
    table->resizeColumnsToContents();
}

QChartView* chartView(const QString& name, QWidget* parent)
{
    auto* view = new QChartView(parent);
    view->setObjectName(name);
    view->setRenderHint(QPainter::Antialiasing);
    return view;
}

// The view takes the chart and lets go of its old one, which goes.
void replaceChart(QChartView* view, QChart* chart)
{
    QChart* old = view->chart();
    view->setChart(chart);
    delete old;
}

} // namespace

frmPreview::frmPreview(const QString& programFolder, const QString& observatoryFolder,
                       const std::map<SurveyKind, PreviewRequest::Control>& controls, const QDate& night,
                       QWidget* parent)
    : QDialog(parent), m_programFolder(programFolder), m_observatoryFolder(observatoryFolder),
      m_controls(controls)
{
    setWindowTitle(QStringLiteral("Preview Night"));
    resize(1100, 760);

    m_night = new QDateEdit(night, this);
    m_night->setObjectName(QStringLiteral("NightEdit"));
    m_night->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    m_night->setCalendarPopup(true);
    m_nights = new QSpinBox(this);
    m_nights->setObjectName(QStringLiteral("NightsBox"));
    m_nights->setRange(1, 366);
    m_nights->setSuffix(QStringLiteral(" nights"));
    m_compare = new QCheckBox(QStringLiteral("Compare policies"), this);
    m_compare->setObjectName(QStringLiteral("ComparePoliciesBox"));
    m_compare->setToolTip(QStringLiteral("Preview the same nights under the specified and the balanced "
                                         "selection policy, and set them side by side"));
    m_runButton = new QPushButton(QStringLiteral("Preview"), this);
    m_runButton->setObjectName(QStringLiteral("RunButton"));
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("ProgressBar"));
    m_progress->setRange(0, 1000);
    m_files = new QLabel(this);
    m_files->setObjectName(QStringLiteral("FilesLabel"));
    m_files->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("ResultTabs"));
    m_summary = new QPlainTextEdit(this);
    m_summary->setObjectName(QStringLiteral("SummaryText"));
    m_summary->setReadOnly(true);
    m_policies = new QPlainTextEdit(this);
    m_policies->setObjectName(QStringLiteral("PoliciesText"));
    m_policies->setReadOnly(true);
    m_policies->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_policies->setPlainText(QStringLiteral("Check \"Compare policies\" and preview again to see the "
                                            "specified and the balanced policy side by side."));
    m_plans = new QTableWidget(this);
    m_plans->setObjectName(QStringLiteral("PlansTable"));
    m_reasons = new QTableWidget(this);
    m_reasons->setObjectName(QStringLiteral("ReasonsTable"));
    for (QTableWidget* table : {m_plans, m_reasons})
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_nightChart = chartView(QStringLiteral("NightChart"), this);
    m_skyChart = chartView(QStringLiteral("SkyChart"), this);
    m_coverage = new QLabel(this);
    m_coverage->setObjectName(QStringLiteral("CoverageChart"));
    m_coverageArea = new QScrollArea(this);
    m_coverageArea->setWidget(m_coverage);
    m_tabs->addTab(m_nightChart, QStringLiteral("Night"));
    m_tabs->addTab(m_skyChart, QStringLiteral("Sky"));
    m_tabs->addTab(m_plans, QStringLiteral("Plans"));
    m_tabs->addTab(m_reasons, QStringLiteral("Reasons"));
    m_tabs->addTab(m_summary, QStringLiteral("Summary"));
    m_tabs->addTab(m_coverageArea, QStringLiteral("Coverage"));
    m_tabs->addTab(m_policies, QStringLiteral("Policies"));
    m_tabs->setCurrentWidget(m_summary);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Night of"), this));
    top->addWidget(m_night);
    top->addWidget(m_nights);
    top->addWidget(m_compare);
    top->addWidget(m_runButton);
    top->addWidget(m_progress, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_tabs, 1);
    layout->addWidget(m_files);
    layout->addWidget(buttons);

    connect(m_runButton, &QPushButton::clicked, this, &frmPreview::run);
    connect(buttons, &QDialogButtonBox::rejected, this, &frmPreview::reject);
}

void frmPreview::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // The night of the window's clock is previewed as soon as the dialog is up.
    if (!m_started) {
        m_started = true;
        QTimer::singleShot(0, this, &frmPreview::run);
    }
}

void frmPreview::reject()
{
    // The preview runs inside this dialog's event handling: it ends first, then the dialog.
    if (m_running) {
        m_stop = true;
        m_closeWhenStopped = true;
        return;
    }
    QDialog::reject();
}

void frmPreview::run()
{
    if (m_running) {
        m_stop = true;
        return;
    }
    m_running = true;
    m_stop = false;
    m_runButton->setText(QStringLiteral("Stop"));
    m_night->setEnabled(false);
    m_nights->setEnabled(false);
    m_compare->setEnabled(false);
    m_progress->setValue(0);
    m_files->clear();
    try {
        // The observatory's settings are read and resolved once, for the whole preview.
        PreviewRequest request;
        request.programFolder = m_programFolder;
        request.observatoryFolder = m_observatoryFolder;
        request.observatory = resolvedUserObservatory(m_observatoryFolder);
        request.night = m_night->date();
        request.span = darkSpan(*request.observatory, request.night);
        request.controls = m_controls;
        if (m_compare->isChecked()) {
            if (!runBothPolicies(request)) {
                m_summary->setPlainText(QStringLiteral("The preview was stopped; it wrote no files"));
                m_tabs->setCurrentWidget(m_summary);
            }
        } else if (m_nights->value() > 1) {
            const int nights = m_nights->value();
            const MonthReport month =
                runMonthPreview(MonthRequest{request, nights, 1, 0}, [&](int night, double fraction) {
                    m_progress->setFormat(QStringLiteral("Night %1 of %2").arg(night + 1).arg(nights));
                    m_progress->setValue(static_cast<int>((night + fraction) * 1000 / nights));
                    QCoreApplication::processEvents();
                    return !m_stop;
                });
            m_progress->setValue(1000);
            m_progress->setFormat(QStringLiteral("%p%"));
            if (month.stopped) {
                m_summary->setPlainText(QStringLiteral("The preview was stopped; it wrote no files"));
                m_tabs->setCurrentWidget(m_summary);
            } else {
                m_filesFolder =
                    newDatedFolder(QDir(m_programFolder).filePath(QStringLiteral("preview")), request.night);
                writeMonthFiles(month, m_filesFolder);
                showMonth(month);
                m_files->setText(QStringLiteral("Files: ") + QDir::toNativeSeparators(m_filesFolder));
            }
        } else {
            const NightReport report = runPreview(request, [this](double fraction) {
                m_progress->setValue(static_cast<int>(fraction * 1000));
                QCoreApplication::processEvents();
                return !m_stop;
            });
            m_progress->setValue(1000);
            m_filesFolder =
                newDatedFolder(QDir(m_programFolder).filePath(QStringLiteral("preview")), request.night);
            writePreviewFiles(report, m_filesFolder);
            showReport(report);
            m_files->setText(QStringLiteral("Files: ") + QDir::toNativeSeparators(m_filesFolder));
        }
    } catch (const std::exception& error) {
        m_summary->setPlainText(QStringLiteral("The preview failed: ") + QString::fromUtf8(error.what()));
        m_tabs->setCurrentWidget(m_summary);
    }
    m_running = false;
    m_runButton->setText(QStringLiteral("Preview"));
    m_night->setEnabled(true);
    m_nights->setEnabled(true);
    m_compare->setEnabled(true);
    if (m_closeWhenStopped)
        QDialog::reject();
}

bool frmPreview::runBothPolicies(const PreviewRequest& request)
{
    const int nights = m_nights->value();
    const auto step = [&](int policy, int night, double fraction) {
        m_progress->setFormat(QStringLiteral("%1 policy, night %2 of %3")
                                  .arg(policy == 0 ? QStringLiteral("Specified") : QStringLiteral("Balanced"))
                                  .arg(night + 1)
                                  .arg(nights));
        m_progress->setValue(static_cast<int>((policy * nights + night + fraction) * 1000 / (2 * nights)));
        QCoreApplication::processEvents();
        return !m_stop;
    };
    const PolicyMonths both = nights > 1 ? comparePolicies(MonthRequest{request, nights, 1, 0}, step)
                                         : comparePolicies(request, [&](int policy, double fraction) {
                                               return step(policy, 0, fraction);
                                           });
    m_progress->setValue(1000);
    m_progress->setFormat(QStringLiteral("%p%"));
    if (both.stopped)
        return false;
    m_filesFolder = newDatedFolder(QDir(m_programFolder).filePath(QStringLiteral("preview")), request.night);
    writePolicyFiles(both, m_filesFolder);
    // The tabs show the night as the observatory's own policy would run it.
    const bool balanced = request.observatory->settings.selection.policy == SelectionPolicy::Balanced;
    if (nights > 1)
        showMonth(balanced ? both.balanced : both.specified);
    else
        showReport(balanced ? *both.balancedNight : *both.specifiedNight);
    m_policies->setPlainText(policyComparison(both));
    m_tabs->setCurrentWidget(m_policies);
    m_files->setText(QStringLiteral("Files: ") + QDir::toNativeSeparators(m_filesFolder));
    return true;
}

void frmPreview::showReport(const NightReport& report)
{
    replaceChart(m_nightChart, charts::nightChart(report));
    replaceChart(m_skyChart, charts::skyChart(report));
    fillTable(m_plans, plansCsv(report));
    fillTable(m_reasons, reasonsCsv(report));
    QString text = nightSummary(report);
    for (const QString& message : report.messages)
        text += message + u'\n';
    m_summary->setPlainText(text);
    m_tabs->setTabText(m_tabs->indexOf(m_reasons), QStringLiteral("Reasons"));
    // An empty night's chart does not say why it is empty.
    if (report.plans.isEmpty() && !report.messages.isEmpty())
        m_tabs->setCurrentWidget(m_summary);
    else
        m_tabs->setCurrentWidget(m_nightChart);
}

void frmPreview::showMonth(const MonthReport& report)
{
    const QSize size = charts::coverageChartSize(report);
    QPixmap picture(size);
    {
        QPainter painter(&picture);
        charts::paintCoverage(painter, report, size);
    }
    m_coverage->setPixmap(picture);
    m_coverage->resize(size);
    fillTable(m_plans, monthPlansCsv(report));
    fillTable(m_reasons, coverageCsv(report));
    QString text = monthSummary(report);
    for (const QString& message : report.messages)
        text += message + u'\n';
    m_summary->setPlainText(text);
    m_tabs->setTabText(m_tabs->indexOf(m_reasons), QStringLiteral("Coverage by target"));
    m_tabs->setCurrentWidget(m_coverageArea);
}

} // namespace kestrove
