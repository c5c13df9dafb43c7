#include "app/frmTargets.h"

#include "core/Csv.h"
#include "core/SurveyCore.h"
#include "settings/ObservatorySettings.h"
#include "sky/Clock.h"
#include "targets/FileReplacement.h"
#include "text/HostError.h"
#include "text/HostText.h"
#include "text/NumberText.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace kestrove {

namespace {

constexpr double kUnixEpochJD = 2440587.5;
const QString localFormat = QStringLiteral("yyyy-MM-dd HH:mm");

QStringList columnTitles()
{
    return {QStringLiteral("Name"),        QStringLiteral("RA"),       QStringLiteral("Dec"),
            QStringLiteral("Last image"),  QStringLiteral("Reshoot"),  QStringLiteral("Images"),
            QStringLiteral("Priority"),    QStringLiteral("Interval"), QStringLiteral("Exposure"),
            QStringLiteral("Binning"),     QStringLiteral("Filter"),   QStringLiteral("Min altitude"),
            QStringLiteral("Max airmass"), QStringLiteral("Window"),   QStringLiteral("Tonight")};
}
// A column for each config item (the last image standing for lastImageJD), then Tonight.
const int kTonightColumn = TargetsPage::kLastImageColumn + static_cast<int>(targetItemKeys().size());

// lastImageJD shown as the site's local date and time; 0 or none: never imaged.
QString localTimeOfJD(const QString& jdText, const QTimeZone& zone)
{
    const auto jd = parseNumber(jdText);
    if (!jd || *jd <= 0)
        return {};
    const auto ms = static_cast<qint64>(std::llround((*jd - kUnixEpochJD) * 86400000.0));
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toTimeZone(zone).toString(localFormat);
}

std::optional<QString> jdOfLocalTime(const QString& text, const QTimeZone& zone)
{
    if (text.trimmed().isEmpty())
        return QString();
    QDateTime t = QDateTime::fromString(text.trimmed(), localFormat);
    if (!t.isValid())
        return std::nullopt;
    t.setTimeZone(zone);
    return doubleText(t.toMSecsSinceEpoch() / 86400000.0 + kUnixEpochJD);
}

} // namespace

TargetsPage::TargetsPage(FileSystem& fs, const QString& path, const QString& editPath, const QTimeZone& zone,
                         std::shared_ptr<const Tonight> tonight, QWidget* parent)
    : QWidget(parent), m_fs(fs), m_path(path), m_editPath(editPath), m_zone(zone),
      m_tonight(std::move(tonight))
{
    m_table = new QTableWidget(0, columnTitles().size(), this);
    m_table->setHorizontalHeaderLabels(columnTitles());
    // The file's order until the user sorts by a column.
    m_table->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    m_table->setSortingEnabled(true);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_filter = new QLineEdit(this);
    m_filter->setPlaceholderText(QStringLiteral("Filter by name"));
    m_note = new QLabel(this);
    m_note->setWordWrap(true);

    auto* buttons = new QHBoxLayout;
    const auto button = [&](const QString& text, auto slot) {
        auto* b = new QPushButton(text, this);
        buttons->addWidget(b);
        connect(b, &QPushButton::clicked, this, slot);
    };
    button(QStringLiteral("Add"), [this] {
        TargetEntry e;
        e.name = QStringLiteral("New%1").arg(m_nextId);
        e.ra = QStringLiteral("00:00:00");
        e.dec = QStringLiteral("+00:00:00");
        addEntry(e);
    });
    button(QStringLiteral("Delete"), [this] {
        if (m_table->currentRow() >= 0)
            deleteRow(m_table->currentRow());
    });
    button(QStringLiteral("Import..."), [this] { importClicked(); });
    button(QStringLiteral("Export..."), [this] { exportClicked(); });
    button(QStringLiteral("Reload"), [this] { reload(); });
    button(QStringLiteral("Save"), [this] {
        const QString problem = save();
        if (!problem.isEmpty())
            QMessageBox::warning(this, QStringLiteral("Targets"), problem);
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(path, this));
    layout->addWidget(m_filter);
    layout->addWidget(m_table);
    layout->addWidget(m_note);
    layout->addLayout(buttons);

    connect(m_filter, &QLineEdit::textChanged, this, &TargetsPage::setFilter);
    connect(m_table, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (!m_filling)
            editCell(item->row(), item->column(), item->text());
    });
    // The survey may rewrite the file while the editor is open.
    auto* watch = new QTimer(this);
    watch->setInterval(2000);
    connect(watch, &QTimer::timeout, this, [this] {
        if (!changedOnDisk())
            return;
        // Nothing of the user's to keep: show the file as it is now.
        if (edited().entries == m_opened.entries)
            reload();
        else
            m_note->setText(QStringLiteral("The file changed on the disk since it was read: Save merges your "
                                           "edits with it, Reload shows it."));
    });
    watch->start();
    reload();
}

void TargetsPage::reload()
{
    m_openedStatus = m_fs.Status(m_path);
    m_opened = readTargetsFile(m_fs, m_path);
    m_entries.clear();
    m_order.clear();
    m_table->setSortingEnabled(false);
    m_table->setRowCount(0);
    for (const TargetEntry& e : m_opened.entries)
        addEntry(e);
    m_table->setSortingEnabled(true);
    m_note->clear();
}

bool TargetsPage::changedOnDisk() const
{
    const std::optional<FileStatus> now = m_fs.Status(m_path);
    return m_openedStatus ? !(now && now->sameAs(*m_openedStatus)) : now.has_value();
}

void TargetsPage::fillRow(int row, int id)
{
    const TargetEntry& e = m_entries[id];
    m_filling = true;
    const bool sorting = m_table->isSortingEnabled();
    m_table->setSortingEnabled(false);
    QStringList cells{e.name, e.ra, e.dec, localTimeOfJD(e.item(QStringLiteral("lastImageJD")), m_zone)};
    for (const QString& key : targetItemKeys().mid(1))
        cells << e.item(key);
    QString tonight;
    const QString bad = entryProblem(e);
    if (!bad.isEmpty())
        tonight = bad;
    else if (m_tonight)
        tonight = m_tonight->text(parseSexagesimal(QStringLiteral("HMS_Hours"), e.ra, u'h'),
                                  parseSexagesimal(QStringLiteral("DMS_Degrees"), e.dec, u'd'));
    cells << tonight;
    for (int c = 0; c < cells.size(); ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        if (c == kNameColumn)
            item->setData(Qt::UserRole, id);
        if (c == kTonightColumn)
            item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        m_table->setItem(row, c, item);
    }
    m_table->setSortingEnabled(sorting);
    m_filling = false;
}

void TargetsPage::addEntry(const TargetEntry& entry)
{
    const int id = m_nextId++;
    m_entries.insert(id, entry);
    m_order << id;
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    fillRow(row, id);
}

void TargetsPage::deleteRow(int row)
{
    const int id = m_table->item(row, kNameColumn)->data(Qt::UserRole).toInt();
    m_entries.remove(id);
    m_order.removeAll(id);
    m_table->removeRow(row);
}

void TargetsPage::showProblem(const QString& problem)
{
    m_problem = problem;
    m_note->setText(problem);
}

bool TargetsPage::editCell(int row, int column, const QString& text)
{
    const int id = m_table->item(row, kNameColumn)->data(Qt::UserRole).toInt();
    TargetEntry e = m_entries[id];
    const QString value = text.trimmed();
    QString problem;
    if (column == kNameColumn) {
        for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it)
            if (it.value().name == value && it.key() != id)
                problem = QStringLiteral("The name \"%1\" is there already").arg(value);
        e.name = value;
    } else if (column == 1) {
        e.ra = value;
    } else if (column == 2) {
        e.dec = value;
    } else if (column == kLastImageColumn) {
        const auto jd = jdOfLocalTime(value, m_zone);
        if (!jd)
            problem = QStringLiteral("Last image \"%1\" is not a local date and time as %2")
                          .arg(value, localFormat);
        else
            e.setItem(QStringLiteral("lastImageJD"), *jd);
    } else if (column < kTonightColumn) {
        e.setItem(targetItemKeys()[column - kLastImageColumn], value);
    }
    if (problem.isEmpty())
        problem = entryProblem(e);
    if (problem.isEmpty()) {
        m_entries[id] = e;
        m_problem.clear();
        m_note->clear();
    } else {
        showProblem(problem);
    }
    // The row shows what is kept: the refused text goes back to the value before.
    if (m_table->item(row, kNameColumn)->data(Qt::UserRole).toInt() != id)
        return problem.isEmpty();
    QTimer::singleShot(0, this, [this, id] {
        for (int r = 0; r < m_table->rowCount(); ++r)
            if (m_table->item(r, kNameColumn) &&
                m_table->item(r, kNameColumn)->data(Qt::UserRole).toInt() == id)
                fillRow(r, id);
    });
    return problem.isEmpty();
}

void TargetsPage::setFilter(const QString& text)
{
    for (int r = 0; r < m_table->rowCount(); ++r)
        m_table->setRowHidden(r, !m_table->item(r, kNameColumn)->text().contains(text, Qt::CaseInsensitive));
}

TargetsFile TargetsPage::edited() const
{
    TargetsFile file;
    file.trailing = m_opened.trailing;
    for (const int id : m_order)
        file.entries << m_entries[id];
    return file;
}

TargetsImport TargetsPage::previewImport(const QString& csvText) const
{
    return importTargetsCsv(csvText, edited().entries);
}

void TargetsPage::addImported(const TargetsImport& import)
{
    m_table->setSortingEnabled(false);
    for (const TargetEntry& e : import.added)
        addEntry(e);
    m_table->setSortingEnabled(true);
}

QString TargetsPage::save()
{
    const TargetsFile edits = edited();
    for (const TargetEntry& e : edits.entries) {
        const QString problem = entryProblem(e);
        if (!problem.isEmpty())
            return QStringLiteral("%1: %2").arg(e.name, problem);
    }
    QString problem;
    try {
        problem = saveTargetsFile(m_fs, m_path, m_editPath, m_opened, edits);
    } catch (const HostError& error) {
        problem = QString::fromUtf8(error.what());
    }
    if (problem.isEmpty()) {
        reload();
        m_note->setText(QStringLiteral("Saved %1 targets in %2").arg(edits.entries.size()).arg(m_path));
    } else {
        showProblem(problem);
    }
    return problem;
}

void TargetsPage::importClicked()
{
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Import targets"), QString(),
                                     QStringLiteral("CSV files (*.csv *.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        QMessageBox::warning(this, QStringLiteral("Import targets"), file.errorString());
        return;
    }
    const TargetsImport import = previewImport(ownText(file.readAll()));
    QStringList lines;
    lines << QStringLiteral("To be added (%1):").arg(import.added.size());
    for (const TargetEntry& e : import.added)
        lines << QStringLiteral("  ") + e.targetLine().replace(u'\t', QStringLiteral("  "));
    lines << QStringLiteral("Already there, not added (%1):").arg(import.duplicates.size());
    for (const TargetEntry& e : import.duplicates)
        lines << QStringLiteral("  ") + e.name;
    lines << QStringLiteral("Rejected (%1):").arg(import.rejected.size());
    for (const RejectedLine& r : import.rejected)
        lines << QStringLiteral("  line %1: %2 - %3").arg(r.line).arg(r.reason, r.text);

    QDialog preview(this);
    preview.setWindowTitle(QStringLiteral("Import ") + path);
    auto* layout = new QVBoxLayout(&preview);
    auto* text = new QPlainTextEdit(lines.join(u'\n'), &preview);
    text->setReadOnly(true);
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &preview);
    connect(buttons, &QDialogButtonBox::accepted, &preview, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &preview, &QDialog::reject);
    layout->addWidget(buttons);
    preview.resize(600, 400);
    if (preview.exec() == QDialog::Accepted)
        addImported(import);
}

void TargetsPage::exportClicked()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export targets"), QString(),
                                                      QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(exportCsv().toUtf8()) < 0 || !file.commit())
        QMessageBox::warning(this, QStringLiteral("Export targets"), file.errorString());
}

AreasPage::AreasPage(FileSystem& fs, const QString& path, const QString& editPath, double raStep,
                     double decStep, QWidget* parent)
    : QWidget(parent), m_fs(fs), m_path(path), m_editPath(editPath), m_raStep(raStep), m_decStep(decStep)
{
    m_table = new QTableWidget(0, 5, this);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Start RA"), QStringLiteral("Start Dec"),
                                        QStringLiteral("End RA"), QStringLiteral("End Dec"),
                                        QStringLiteral("Fields")});
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_note = new QLabel(this);
    m_note->setWordWrap(true);
    auto* buttons = new QHBoxLayout;
    const auto button = [&](const QString& text, auto slot) {
        auto* b = new QPushButton(text, this);
        buttons->addWidget(b);
        connect(b, &QPushButton::clicked, this, slot);
    };
    button(QStringLiteral("Add"),
           [this] { addArea(QStringLiteral("00:00:00 +00:00:00 00:20:00 +03:00:00")); });
    button(QStringLiteral("Delete"), [this] {
        if (m_table->currentRow() >= 0)
            deleteRow(m_table->currentRow());
    });
    button(QStringLiteral("Import..."), [this] {
        const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("Import areas"));
        QFile in(file);
        if (file.isEmpty() || !in.open(QIODevice::ReadOnly))
            return;
        const AreasImport import = previewImport(ownText(in.readAll()));
        QStringList lines{QStringLiteral("To be added (%1):").arg(import.added.size())};
        lines << import.added;
        lines << QStringLiteral("Rejected (%1):").arg(import.rejected.size());
        for (const RejectedLine& r : import.rejected)
            lines << QStringLiteral("  line %1: %2 - %3").arg(r.line).arg(r.reason, r.text);
        if (QMessageBox::question(this, QStringLiteral("Import ") + file, lines.join(u'\n')) ==
            QMessageBox::Yes)
            addImported(import);
    });
    button(QStringLiteral("Export..."), [this] {
        const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Export areas"), QString(),
                                                          QStringLiteral("CSV files (*.csv)"));
        QSaveFile out(file);
        if (!file.isEmpty() &&
            (!out.open(QIODevice::WriteOnly) || out.write(exportCsv().toUtf8()) < 0 || !out.commit()))
            QMessageBox::warning(this, QStringLiteral("Export areas"), out.errorString());
    });
    button(QStringLiteral("Reload"), [this] { reload(); });
    button(QStringLiteral("Save"), [this] {
        const QString problem = save();
        if (!problem.isEmpty())
            QMessageBox::warning(this, QStringLiteral("Targets"), problem);
    });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(path, this));
    layout->addWidget(m_table);
    layout->addWidget(m_note);
    layout->addLayout(buttons);
    connect(m_table, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (!m_filling)
            editCell(item->row(), item->column(), item->text());
    });
    reload();
}

void AreasPage::reload()
{
    m_table->setRowCount(0);
    if (!m_fs.FileExists(m_path))
        return;
    auto in = m_fs.OpenTextFile(m_path, IOMode::ForReading);
    while (!in->AtEndOfStream())
        addArea(in->ReadLine());
    in->Close();
}

void AreasPage::fillRow(int row, const QString& areaLine)
{
    m_filling = true;
    QStringList cells = areaLine.split(u' ');
    while (cells.size() > 4)
        cells[3] += u' ' + cells.takeAt(4);
    cells.resize(4);
    QString problem;
    const qint64 fields = mpsAreaFields(areaLine, m_raStep, m_decStep, problem);
    cells << (problem.isEmpty() ? QString::number(fields) : problem);
    for (int c = 0; c < cells.size(); ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        if (c == kFieldsColumn) {
            item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            item->setData(Qt::UserRole, areaLine);
        }
        m_table->setItem(row, c, item);
    }
    m_filling = false;
}

QStringList AreasPage::areas() const
{
    QStringList lines;
    for (int r = 0; r < m_table->rowCount(); ++r)
        lines << m_table->item(r, kFieldsColumn)->data(Qt::UserRole).toString();
    return lines;
}

void AreasPage::addArea(const QString& areaLine)
{
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    fillRow(row, areaLine);
}

void AreasPage::deleteRow(int row)
{
    m_table->removeRow(row);
}

bool AreasPage::editCell(int row, int column, const QString& text)
{
    if (column >= kFieldsColumn)
        return false;
    const QString accepted = areas().value(row);
    QStringList corners = accepted.split(u' ');
    while (corners.size() > 4)
        corners[3] += u' ' + corners.takeAt(4);
    corners.resize(4);
    corners[column] = text.trimmed();
    const QString area = corners.join(u' ');
    QString problem;
    mpsAreaFields(area, m_raStep, m_decStep, problem);
    m_problem = problem.isEmpty() ? QString() : QStringLiteral("Area %1: %2").arg(row + 1).arg(problem);
    m_note->setText(m_problem);
    const QString shown = problem.isEmpty() ? area : accepted;
    m_table->item(row, kFieldsColumn)->setData(Qt::UserRole, shown);
    // Not from inside the cell's own change signal: a refused corner goes back, a taken one
    // updates the count.
    QTimer::singleShot(0, this, [this, row, shown] {
        if (row < m_table->rowCount())
            fillRow(row, shown);
    });
    return problem.isEmpty();
}

void AreasPage::addImported(const AreasImport& import)
{
    for (const QString& area : import.added)
        addArea(area);
}

QString AreasPage::save()
{
    const QStringList lines = areas();
    for (int i = 0; i < lines.size(); ++i) {
        QString problem;
        if (mpsAreaFields(lines[i], m_raStep, m_decStep, problem) == 0)
            return QStringLiteral("Area %1: %2").arg(i + 1).arg(problem);
    }
    try {
        FileReplacement replacement(m_fs, m_path, m_editPath);
        if (replacement.readOnly())
            return QStringLiteral("The file \"%1\" (or its folder) is read-only; it was not changed.")
                .arg(m_path);
        auto out = m_fs.CreateTextFile(replacement.newPath(), true);
        for (const QString& line : lines)
            out->WriteLine(line);
        out->Close();
        replacement.commit();
    } catch (const HostError& error) {
        return QString::fromUtf8(error.what());
    }
    m_note->setText(QStringLiteral("Saved %1 areas in %2").arg(lines.size()).arg(m_path));
    return {};
}

frmTargets::frmTargets(SurveyCore& core, const QString& observatoryFolder, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Targets"));
    QTimeZone zone = QTimeZone::utc();
    std::shared_ptr<const Tonight> tonight;
    try {
        const ObservatorySettings s =
            resolvedIn(observatoryFolder, readObservatorySettings(observatoryFolder));
        zone = siteTimeZone(s);
        tonight = std::make_shared<Tonight>(Site{s.latitude, s.longitude, s.elevation}, zone,
                                            core.host().clock().utcNow(), s.minimumElevation, s.horizon,
                                            s.sunAltitude);
    } catch (const HostError& error) {
        // The table still edits; only the night's column stays empty.
        qWarning("target editor: %s", error.what());
    }
    auto* tabs = new QTabWidget(this);
    for (const auto& [title, file] :
         {std::pair{"SNe", "SNeTargets.txt"}, std::pair{"SLC", "SLCTargets.txt"}}) {
        const QString name = QString::fromLatin1(file);
        auto* page =
            new TargetsPage(*core.fileSystem, core.programFile(name),
                            core.programFile(QStringLiteral("edittargets.txt")), zone, tonight, tabs);
        m_pages.insert(name, page);
        tabs->addTab(page, QString::fromLatin1(title));
    }
    // The survey's own grid steps: the field of view in arcminutes as hours and degrees.
    auto* areas = new AreasPage(*core.fileSystem, core.programFile(QStringLiteral("MPSTargets.txt")),
                                core.programFile(QStringLiteral("edittargets.txt")),
                                core.settings.fovRAMPS / 60 * 24 / 360, core.settings.fovDecMPS / 60, tabs);
    m_areas = areas;
    tabs->addTab(areas, QStringLiteral("MPS areas"));
    auto* layout = new QVBoxLayout(this);
    if (core.isRunning())
        layout->addWidget(
            new QLabel(QStringLiteral("A survey is running: a save is merged with its updates of "
                                      "the same file."),
                       this));
    layout->addWidget(tabs);
    resize(1000, 600);
}

} // namespace kestrove
