#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace kestrove::test {

// Acts on the next modal window as soon as it is shown (a dialog's exec() or a message box), from
// inside its own event loop. `previous` is a modal window that is already up and is not the one.
// Returns the watching timer; it deletes itself once it has acted.
inline QTimer* onNextModal(std::function<void(QWidget*)> action, QWidget* previous = nullptr)
{
    auto* timer = new QTimer(qApp);
    timer->setInterval(5);
    QPointer<QWidget> skip(previous);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action, skip] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == skip.data())
            return;
        timer->stop();
        timer->deleteLater();
        action(modal);
    });
    timer->start();
    return timer;
}

// Clicks the named button of a modal window.
inline void clickButton(QWidget* window, const QString& objectName)
{
    if (auto* button = window->findChild<QAbstractButton*>(objectName))
        button->click();
}

// What a message box showed, and closes it with OK.
struct ShownMessage
{
    QString title;
    QString text;
    int buttonCount = 0;
    bool shown = false;
};

// What a question box showed, and closes it with the given answer.
inline void answerQuestion(QWidget* modal, QMessageBox::StandardButton answer, ShownMessage& out)
{
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (!box || !box->button(answer)) {
        modal->close();
        return;
    }
    out.shown = true;
    out.title = box->windowTitle();
    out.text = box->text();
    out.buttonCount = static_cast<int>(box->buttons().size());
    box->button(answer)->click();
}

inline void recordAndCloseMessage(QWidget* modal, ShownMessage& out)
{
    answerQuestion(modal, QMessageBox::Ok, out);
}

} // namespace kestrove::test
