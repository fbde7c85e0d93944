#pragma once

#include <QMessageBox>

class QDialog;
class QScreen;
class QWidget;

// Boxes and dialogs that block only the window they belong to. Qt's exec() and the
// static QMessageBox functions are application-modal: while one is open no order window
// can be confirmed or cancelled, and the tray ignores clicks, so a customer waits on a
// box the operator may not even see. Every box of the console goes through these.

// Shows a message box modal to parent's window and returns the button pressed.
QMessageBox::StandardButton showMessageBox(QWidget* parent, QMessageBox::Icon icon,
                                           const QString& title, const QString& text,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// Moves a window (not yet shown, or shown) so that its frame is centred on the screen's
// available area; a window never shown takes its size hint first.
void centreOnScreen(QWidget& window, const QScreen* screen);

// The screen that shows the given window, or the primary screen while it is hidden.
QScreen* screenOf(const QWidget* window);

// Runs a dialog modal to its parent's window (not modal at all without a parent) and
// returns its result.
int execWindowModal(QDialog& dialog);
