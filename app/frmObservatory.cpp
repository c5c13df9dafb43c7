#include "app/frmObservatory.h"

#include "host/indi/IndiDiscovery.h"
#include "report/charts/NightCharts.h"
#include "text/HostError.h"
#include "text/ValueText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFontMetricsF>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QTimeZone>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <cmath>

namespace kestrove {

// The horizon on the map sky.png draws, labelled with the compass points.
class HorizonChart : public QWidget
{
public:
    explicit HorizonChart(QWidget* parent) : QWidget(parent) { setMinimumSize(140, 140); }
    void setHorizon(const QList<QPointF>& horizon)
    {
        m_horizon = horizon;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const double r = std::min(width(), height()) / 2.0 - 4;
        const QPointF c(width() / 2.0, height() / 2.0);
        const auto at = [&](double azimuth, double elevation) {
            return c + r * charts::skyMapPoint(azimuth, elevation);
        };
        p.setPen(Qt::gray);
        for (const double e : {0.0, 30.0, 60.0})
            p.drawEllipse(c, r * (90 - e) / 90, r * (90 - e) / 90);
        QPolygonF shape;
        for (int az = 0; az <= 360; az += 2)
            shape << at(az, horizonElevation(m_horizon, az));
        p.setPen(QPen(Qt::darkGreen, 2));
        p.drawPolyline(shape);
        p.setPen(palette().color(QPalette::WindowText));
        // Each letter just inside the rim, at its point of the compass.
        const QFontMetricsF metrics(font());
        for (const auto& [label, azimuth] : charts::compassPoints()) {
            const QPointF inside = at(azimuth, metrics.height() * 90 / r);
            const QSizeF size(metrics.horizontalAdvance(label), metrics.height());
            p.drawText(QRectF(inside - QPointF(size.width() / 2, size.height() / 2), size), Qt::AlignCenter,
                       label);
        }
    }

private:
    QList<QPointF> m_horizon;
};

namespace {

const QMap<QString, QString>& sectionTitles()
{
    static const QMap<QString, QString> titles = {
        {QStringLiteral("host"), QStringLiteral("Host")},
        {QStringLiteral("site"), QStringLiteral("Site")},
        {QStringLiteral("clock"), QStringLiteral("Simulated clock")},
        {QStringLiteral("mount"), QStringLiteral("Mount")},
        {QStringLiteral("roof"), QStringLiteral("Simulated roof")},
        {QStringLiteral("safety"), QStringLiteral("Safety")},
        {QStringLiteral("limits"), QStringLiteral("Limits")},
        {QStringLiteral("weather"), QStringLiteral("Simulated weather")},
        {QStringLiteral("acquisition"), QStringLiteral("Simulated acquisition")},
        {QStringLiteral("indi"), QStringLiteral("INDI")},
        {QStringLiteral("solve"), QStringLiteral("Plate solving (INDI)")},
        {QStringLiteral("focus"), QStringLiteral("Autofocus (INDI)")},
        {QStringLiteral("grading"), QStringLiteral("Frame grading (INDI)")},
        {QStringLiteral("dome"), QStringLiteral("Dome (INDI)")},
        {QStringLiteral("calibration"), QStringLiteral("Calibration (INDI)")},
        {QStringLiteral("discovery"), QStringLiteral("Discovery (INDI)")},
        {QStringLiteral("report"), QStringLiteral("Reports")},
    };
    return titles;
}

QString rangeText(const ObservatoryField& f)
{
    const bool numeric =
        f.kind == FieldKind::Number || f.kind == FieldKind::Integer || f.kind == FieldKind::OptionalNumber;
    QString unit = f.unit;
    if (numeric)
        unit += (unit.isEmpty() ? QString() : QStringLiteral(", ")) +
                QStringLiteral("%1 to %2").arg(QString::number(f.low), QString::number(f.high));
    return unit.isEmpty() ? f.label : QStringLiteral("%1 (%2)").arg(f.label, unit);
}

} // namespace

frmObservatory::frmObservatory(const QString& folder, bool surveyRunning, QWidget* parent)
    : QDialog(parent), m_folder(folder)
{
    setWindowTitle(QStringLiteral("Observatory - ") + observatoryIniPath(folder));
    m_initial = observatoryValues(readObservatorySettings(folder), folder);

    auto* inner = new QWidget;
    auto* columns = new QVBoxLayout(inner);
    QMap<QString, QFormLayout*> forms;
    for (const ObservatoryField& f : observatoryFields()) {
        const QString section = f.key.section(u'/', 0, 0);
        if (!forms.contains(section)) {
            auto* group = new QGroupBox(sectionTitles().value(section, section), inner);
            forms[section] = new QFormLayout(group);
            columns->addWidget(group);
        }
        QWidget* box = boxFor(f);
        box->setObjectName(f.key);
        m_boxes[f.key] = box;
        forms[section]->addRow(rangeText(f), box);
        if (f.key == QStringLiteral("indi/server")) {
            auto* connectButton = new QPushButton(QStringLiteral("Connect"), inner);
            connectButton->setObjectName(QStringLiteral("ConnectButton"));
            forms[section]->addRow(QString(), connectButton);
            connect(connectButton, &QPushButton::clicked, this, [this] {
                const QString problem = connectServer();
                if (!problem.isEmpty())
                    QMessageBox::warning(this, windowTitle(), problem);
            });
        }
        if (f.key == QStringLiteral("limits/horizon")) {
            m_chart = new HorizonChart(inner);
            forms[section]->addRow(QString(), m_chart);
            auto* edit = static_cast<QLineEdit*>(box);
            const auto redraw = [this, edit] {
                if (const auto h = parseHorizon(edit->text()))
                    m_chart->setHorizon(*h);
            };
            connect(edit, &QLineEdit::textChanged, this, redraw);
            redraw();
        }
    }
    auto* scroll = new QScrollArea(this);
    scroll->setWidget(inner);
    scroll->setWidgetResizable(true);

    auto* layout = new QVBoxLayout(this);
    auto* where = new QLabel(QStringLiteral("Settings of %1").arg(observatoryIniPath(folder)), this);
    where->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(where);
    if (surveyRunning)
        layout->addWidget(
            new QLabel(QStringLiteral("A survey is running: a change applies at the next Start."), this));
    layout->addWidget(scroll);
    // Said while the boxes are edited, not only on Save: a wrong zone moves every night's times.
    auto* zoneWarning = new QLabel(this);
    zoneWarning->setObjectName(QStringLiteral("ZoneWarning"));
    zoneWarning->setWordWrap(true);
    layout->addWidget(zoneWarning);
    const auto checkZone = [this, zoneWarning] {
        const QString text = zoneLongitudeMismatch(value(QStringLiteral("site/timeZone")),
                                                   value(QStringLiteral("site/longitude")));
        zoneWarning->setText(text);
        zoneWarning->setVisible(!text.isEmpty());
    };
    if (auto* zone = qobject_cast<QComboBox*>(m_boxes.value(QStringLiteral("site/timeZone"))))
        connect(zone, &QComboBox::currentTextChanged, this, checkZone);
    if (auto* longitude = qobject_cast<QLineEdit*>(m_boxes.value(QStringLiteral("site/longitude"))))
        connect(longitude, &QLineEdit::textChanged, this, checkZone);
    checkZone();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    auto* openFolder = buttons->addButton(QStringLiteral("Open Folder"), QDialogButtonBox::ActionRole);
    connect(openFolder, &QPushButton::clicked, this,
            [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(m_folder)); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, this, [this, surveyRunning] {
        const int savedBefore = m_saved;
        const QString problem = save();
        if (!problem.isEmpty()) {
            QMessageBox::warning(this, windowTitle(), problem);
            return;
        }
        // The running survey keeps the observatory it started with.
        if (surveyRunning && m_saved != savedBefore)
            QMessageBox::information(
                this, windowTitle(),
                QStringLiteral("Saved. A survey is running: the change applies at the "
                               "next Start, and the running survey goes on as it began."));
        accept();
    });
    layout->addWidget(buttons);
    resize(560, 700);
}

QWidget* frmObservatory::boxFor(const ObservatoryField& f)
{
    const QString text = m_initial.value(f.key);
    switch (f.kind) {
    case FieldKind::Boolean: {
        auto* box = new QCheckBox;
        box->setChecked(text == QStringLiteral("true"));
        return box;
    }
    case FieldKind::HostKind:
    case FieldKind::Slaving:
    case FieldKind::TimeZone:
    case FieldKind::Device: {
        auto* box = new QComboBox;
        if (f.kind == FieldKind::HostKind) {
            box->addItems({QStringLiteral("sim"), QStringLiteral("indi")});
        } else if (f.kind == FieldKind::Slaving) {
            box->addItems({QStringLiteral("kestrove"), QStringLiteral("driver")});
        } else if (f.kind == FieldKind::TimeZone) {
            for (const QByteArray& id : QTimeZone::availableTimeZoneIds())
                box->addItem(QString::fromUtf8(id));
        } else {
            box->setEditable(true);
            box->addItem(QString());
        }
        if (box->findText(text) < 0)
            box->addItem(text);
        box->setCurrentText(text);
        return box;
    }
    default: {
        auto* box = new QLineEdit(text);
        return box;
    }
    }
}

QString frmObservatory::value(const QString& key) const
{
    QWidget* box = m_boxes.value(key);
    if (auto* check = qobject_cast<QCheckBox*>(box))
        return check->isChecked() ? QStringLiteral("true") : QStringLiteral("false");
    if (auto* combo = qobject_cast<QComboBox*>(box))
        return combo->currentText();
    if (auto* edit = qobject_cast<QLineEdit*>(box))
        return edit->text();
    return {};
}

void frmObservatory::setValue(const QString& key, const QString& text)
{
    QWidget* box = m_boxes.value(key);
    if (auto* check = qobject_cast<QCheckBox*>(box))
        check->setChecked(text == QStringLiteral("true"));
    else if (auto* combo = qobject_cast<QComboBox*>(box))
        combo->setCurrentText(text);
    else if (auto* edit = qobject_cast<QLineEdit*>(box))
        edit->setText(text);
}

QStringList frmObservatory::offered(const QString& key) const
{
    QStringList names;
    if (auto* combo = qobject_cast<QComboBox*>(m_boxes.value(key)))
        for (int i = 0; i < combo->count(); ++i)
            names << combo->itemText(i);
    return names;
}

QString frmObservatory::save()
{
    QList<QPair<QString, QString>> changes;
    for (const ObservatoryField& f : observatoryFields()) {
        const QString text = value(f.key);
        const QString problem = fieldProblem(f, text);
        if (!problem.isEmpty()) {
            m_boxes[f.key]->setFocus();
            return problem;
        }
        if (text.trimmed() != m_initial.value(f.key))
            changes << qMakePair(f.key, text.trimmed());
    }
    QMap<QString, QString> values = m_initial;
    for (const auto& [key, text] : changes)
        values[key] = text;
    if (const QString problem = combinedProblem(values); !problem.isEmpty())
        return problem;
    try {
        saveObservatoryChanges(m_folder, changes);
    } catch (const HostError& error) {
        return QString::fromUtf8(error.what());
    }
    for (const auto& [key, text] : changes) {
        m_initial[key] = text;
        if (!m_savedKeys.contains(key))
            m_savedKeys << key;
    }
    m_saved += static_cast<int>(changes.size());
    return {};
}

QString frmObservatory::savedNote() const
{
    const QString path = observatoryIniPath(m_folder);
    if (m_savedKeys.isEmpty())
        return QStringLiteral("Nothing changed in %1").arg(path);
    return QStringLiteral("Saved in %1: %2").arg(path, m_savedKeys.join(QStringLiteral(", ")));
}

QString frmObservatory::connectServer()
{
    const auto address = indi::parseServerAddress(value(QStringLiteral("indi/server")));
    if (!address)
        return QStringLiteral("INDI server (host:port): \"%1\" is not host:port")
            .arg(value(QStringLiteral("indi/server")));
    const auto found = indi::discoverDevices(*address, 5);
    if (!found)
        return QStringLiteral("The INDI server %1 does not answer.")
            .arg(value(QStringLiteral("indi/server")));
    for (const ObservatoryField& f : observatoryFields()) {
        if (f.kind != FieldKind::Device)
            continue;
        auto* combo = static_cast<QComboBox*>(m_boxes[f.key]);
        const QString current = combo->currentText();
        combo->clear();
        combo->addItem(QString());
        const QStringList names = found->value(f.key);
        combo->addItems(names);
        // One device of the kind is the one meant; otherwise the choice stays the user's. A dome is
        // one or the other: offered as the roof, it turns its slit only when chosen as the dome.
        const bool only = names.size() == 1 && current.isEmpty() && f.key != QStringLiteral("indi/dome");
        combo->setCurrentText(only ? names[0] : current);
    }
    return {};
}

} // namespace kestrove
