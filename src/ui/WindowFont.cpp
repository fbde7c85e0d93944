#include "ui/WindowFont.h"

#include <QApplication>
#include <QFontDatabase>
#include <QWidget>

void ApplyWindowFont(QWidget* window) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    if (font.family().isEmpty())
        font = QApplication::font();
    window->setFont(font);
}
