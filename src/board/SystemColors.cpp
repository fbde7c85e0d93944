#include "board/SystemColors.h"

#include <QGuiApplication>

#include <iterator>

namespace {

const TSystemColorInfo kSystemColors[] = {
    {0, "clScrollBar", "Полоса прокрутки", QPalette::Active, QPalette::Button},
    {1, "clBackground", "Рабочий стол", QPalette::Active, QPalette::Dark},
    {2, "clActiveCaption", "Заголовок активного окна", QPalette::Active, QPalette::Highlight},
    {3, "clInactiveCaption", "Заголовок неактивного окна", QPalette::Inactive, QPalette::Mid},
    {4, "clMenu", "Меню", QPalette::Active, QPalette::Window},
    {5, "clWindow", "Окно", QPalette::Active, QPalette::Base},
    {6, "clWindowFrame", "Рамка окна", QPalette::Active, QPalette::Shadow},
    {7, "clMenuText", "Текст меню", QPalette::Active, QPalette::WindowText},
    {8, "clWindowText", "Текст окна", QPalette::Active, QPalette::Text},
    {9, "clCaptionText", "Текст заголовка активного окна", QPalette::Active,
     QPalette::HighlightedText},
    {10, "clActiveBorder", "Граница активного окна", QPalette::Active, QPalette::Window},
    {11, "clInactiveBorder", "Граница неактивного окна", QPalette::Inactive, QPalette::Window},
    {12, "clAppWorkSpace", "Рабочая область приложения", QPalette::Active, QPalette::Mid},
    {13, "clHighlight", "Выделение", QPalette::Active, QPalette::Highlight},
    {14, "clHighlightText", "Текст выделения", QPalette::Active, QPalette::HighlightedText},
    {15, "clBtnFace", "Поверхность кнопки", QPalette::Active, QPalette::Button},
    {16, "clBtnShadow", "Тень кнопки", QPalette::Active, QPalette::Dark},
    {17, "clGrayText", "Недоступный текст", QPalette::Disabled, QPalette::Text},
    {18, "clBtnText", "Текст кнопки", QPalette::Active, QPalette::ButtonText},
    {19, "clInactiveCaptionText", "Текст заголовка неактивного окна", QPalette::Disabled,
     QPalette::WindowText},
    {20, "clBtnHighlight", "Блик кнопки", QPalette::Active, QPalette::Light},
    {21, "cl3DDkShadow", "Тёмная тень объёмных элементов", QPalette::Active, QPalette::Shadow},
    {22, "cl3DLight", "Светлая сторона объёмных элементов", QPalette::Active, QPalette::Midlight},
    {23, "clInfoText", "Текст подсказки", QPalette::Active, QPalette::ToolTipText},
    {24, "clInfoBk", "Фон подсказки", QPalette::Active, QPalette::ToolTipBase},
    {26, "clHotLight", "Гиперссылка", QPalette::Active, QPalette::Link},
    {27, "clGradientActiveCaption", "Градиент заголовка активного окна", QPalette::Active,
     QPalette::Highlight},
    {28, "clGradientInactiveCaption", "Градиент заголовка неактивного окна", QPalette::Inactive,
     QPalette::Mid},
    {29, "clMenuHighlight", "Выделение в меню", QPalette::Active, QPalette::Highlight},
    {30, "clMenuBar", "Полоса меню", QPalette::Active, QPalette::Window},
};

} // namespace

const TSystemColorInfo* SystemColorTable(int* count) {
    *count = int(std::size(kSystemColors));
    return kSystemColors;
}

const TSystemColorInfo* FindSystemColor(int index) {
    for (const TSystemColorInfo& info : kSystemColors)
        if (info.index == index)
            return &info;
    return nullptr;
}

QColor ColorToQColor(TColor color, const QPalette& palette) {
    const auto bits = std::uint32_t(color);
    if (IsSystemColor(color)) {
        const TSystemColorInfo* info = FindSystemColor(int(bits & 0xFF));
        if (!info)
            return QColor(Qt::black);
        return palette.color(info->group, info->role);
    }
    return QColor(int(bits & 0xFF), int((bits >> 8) & 0xFF), int((bits >> 16) & 0xFF));
}

QColor ColorToQColor(TColor color) {
    return ColorToQColor(color, QGuiApplication::palette());
}

TColor QColorToColor(const QColor& color) {
    const QColor rgb = color.toRgb();
    return RGBColor(rgb.red(), rgb.green(), rgb.blue());
}
