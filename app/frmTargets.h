#pragma once

#include "host/FileSystem.h"
#include "sky/Tonight.h"
#include "targets/TargetTable.h"

#include <QDialog>
#include <QMap>
#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QTableWidget;
class QTableWidgetItem;

namespace kestrove {

class SurveyCore;

// One targets file (SNe or SLC) as a table: add, edit, delete, sort, filter, import and export.
class TargetsPage : public QWidget
{
    Q_OBJECT

public:
    TargetsPage(FileSystem& fs, const QString& path, const QString& editPath, const QTimeZone& zone,
                std::shared_ptr<const Tonight> tonight, QWidget* parent = nullptr);

    QTableWidget* table() const { return m_table; }
    // The entries as the user left them, in the file's order.
    TargetsFile edited() const;
    // Why the last edit of a cell was refused; empty when it was taken.
    const QString& lastProblem() const { return m_problem; }
    void addEntry(const TargetEntry& entry);
    void deleteRow(int row);
    // Sets a cell as the user would type it; false (and lastProblem) when refused.
    bool editCell(int row, int column, const QString& text);
    void setFilter(const QString& text);
    TargetsImport previewImport(const QString& csvText) const;
    void addImported(const TargetsImport& import);
    QString exportCsv() const { return exportTargetsCsv(edited().entries); }
    // Saves through the survey's edit-safe replace; returns why not.
    QString save();
    // Reads the file again, dropping unsaved edits.
    void reload();
    // The file changed on the disk since it was read.
    bool changedOnDisk() const;

    static constexpr int kNameColumn = 0;
    static constexpr int kLastImageColumn = 3;

private:
    void fillRow(int row, int id);
    void importClicked();
    void exportClicked();
    void showProblem(const QString& problem);

    FileSystem& m_fs;
    QString m_path;
    QString m_editPath;
    QTimeZone m_zone;
    std::shared_ptr<const Tonight> m_tonight;
    TargetsFile m_opened;
    std::optional<FileStatus> m_openedStatus;
    QMap<int, TargetEntry> m_entries; // by row id
    QList<int> m_order;
    int m_nextId = 0;
    bool m_filling = false;
    QString m_problem;
    QTableWidget* m_table = nullptr;
    QLineEdit* m_filter = nullptr;
    QLabel* m_note = nullptr;
};

// The minor planet survey areas ("MPSTargets.txt") as a table of corners, each with the number of
// fields it makes with the survey's field of view.
class AreasPage : public QWidget
{
    Q_OBJECT

public:
    AreasPage(FileSystem& fs, const QString& path, const QString& editPath, double raStep, double decStep,
              QWidget* parent = nullptr);

    QTableWidget* table() const { return m_table; }
    QStringList areas() const;
    const QString& lastProblem() const { return m_problem; }
    void addArea(const QString& areaLine);
    void deleteRow(int row);
    bool editCell(int row, int column, const QString& text);
    AreasImport previewImport(const QString& csvText) const
    {
        return importAreasCsv(csvText, m_raStep, m_decStep);
    }
    void addImported(const AreasImport& import);
    QString exportCsv() const { return exportAreasCsv(areas()); }
    // Replaces the file in one step; returns why not (a read-only file is left alone).
    QString save();
    void reload();

    static constexpr int kFieldsColumn = 4;

private:
    void fillRow(int row, const QString& areaLine);

    FileSystem& m_fs;
    QString m_path;
    QString m_editPath;
    double m_raStep;
    double m_decStep;
    QString m_problem;
    bool m_filling = false;
    QTableWidget* m_table = nullptr;
    QLabel* m_note = nullptr;
};

// The target editor: a page per targets file.
class frmTargets : public QDialog
{
    Q_OBJECT

public:
    frmTargets(SurveyCore& core, const QString& observatoryFolder, QWidget* parent = nullptr);

    TargetsPage* page(const QString& fileName) const { return m_pages.value(fileName); }
    AreasPage* areasPage() const { return m_areas; }

private:
    QMap<QString, TargetsPage*> m_pages;
    AreasPage* m_areas = nullptr;
};

} // namespace kestrove
