#pragma once

#include "settings/ObservatoryForm.h"

#include <QDialog>
#include <QMap>

class QLabel;

namespace kestrove {

// The observatory dialog: every value of "observatory.ini" in boxes grouped as the file is, with
// units and ranges. Saving writes only the values that changed, so the file's comments and the
// user's own lines survive.
class frmObservatory : public QDialog
{
    Q_OBJECT

public:
    frmObservatory(const QString& folder, bool surveyRunning, QWidget* parent = nullptr);

    // The text of a box by section/key, as the dialog would save it.
    QString value(const QString& key) const;
    void setValue(const QString& key, const QString& text);
    // Saves the changed values; returns why not (the first refused box), or empty when saved.
    QString save();
    // What the saves of this dialog changed, for the window's status line.
    QString savedNote() const;
    // Fills the device boxes with the devices of the INDI server in the server box; returns why not.
    QString connectServer();
    // The device names offered in a device box.
    QStringList offered(const QString& key) const;

private:
    QWidget* boxFor(const ObservatoryField& field);

    QString m_folder;
    QMap<QString, QString> m_initial;
    QMap<QString, QWidget*> m_boxes;
    int m_saved = 0; // values saved so far
    QStringList m_savedKeys;
    class HorizonChart* m_chart = nullptr;
};

} // namespace kestrove
