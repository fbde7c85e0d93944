#include "ui/Boxes.h"

#include <QDialog>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

QMessageBox::StandardButton showMessageBox(QWidget* parent, QMessageBox::Icon icon,
                                           const QString& title, const QString& text,
                                           QMessageBox::StandardButtons buttons) {
    // On the heap and watched: the parent may be destroyed while the box is open (an
    // order window closed by its kiosk), and would then delete the box with it.
    QPointer<QMessageBox> box = new QMessageBox(icon, title, text, buttons, parent);
    const int result = execWindowModal(*box);
    delete box.data();
    return static_cast<QMessageBox::StandardButton>(result);
}

int execWindowModal(QDialog& dialog) {
    if (dialog.parentWidget()) {
        dialog.setWindowModality(Qt::WindowModal);
        return dialog.exec();
    }
    // QDialog::exec() makes a window without parent application-modal; wait for the
    // answer without blocking anything instead.
    QPointer<QDialog> watched(&dialog);
    dialog.setWindowModality(Qt::NonModal);
    QEventLoop loop;
    QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    QObject::connect(&dialog, &QObject::destroyed, &loop, &QEventLoop::quit);
    dialog.show();
    loop.exec(QEventLoop::DialogExec);
    return watched ? watched->result() : QDialog::Rejected;
}

void centreOnScreen(QWidget& window, const QScreen* screen) {
    if (!screen)
        return;
    if (!window.testAttribute(Qt::WA_WState_Created) || !window.isVisible())
        window.adjustSize();
    QRect frame = window.frameGeometry();
    if (frame.size().isEmpty())
        frame.setSize(window.size());
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

QScreen* screenOf(const QWidget* window) {
    if (window && window->isVisible() && window->screen())
        return window->screen();
    return QGuiApplication::primaryScreen();
}
