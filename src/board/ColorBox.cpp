#include "board/ColorBox.h"

#include "board/SystemColors.h"

#include <QColorDialog>
#include <QPainter>
#include <QPixmap>
#include <QPointer>

namespace {

struct NamedColor {
    TColor color;
    const char* name;
};

const NamedColor kStandardColors[] = {
    {RGBColor(0, 0, 0), "Чёрный"},
    {RGBColor(128, 0, 0), "Тёмно-бордовый"},
    {RGBColor(0, 128, 0), "Зелёный"},
    {RGBColor(128, 128, 0), "Оливковый"},
    {RGBColor(0, 0, 128), "Тёмно-синий"},
    {RGBColor(128, 0, 128), "Фиолетовый"},
    {RGBColor(0, 128, 128), "Сине-зелёный"},
    {RGBColor(128, 128, 128), "Серый"},
    {RGBColor(192, 192, 192), "Серебристый"},
    {RGBColor(255, 0, 0), "Красный"},
    {RGBColor(0, 255, 0), "Ярко-зелёный"},
    {RGBColor(255, 255, 0), "Жёлтый"},
    {RGBColor(0, 0, 255), "Синий"},
    {RGBColor(255, 0, 255), "Фуксия"},
    {RGBColor(0, 255, 255), "Голубой"},
    {RGBColor(255, 255, 255), "Белый"},
};

const NamedColor kExtendedColors[] = {
    {RGBColor(192, 220, 192), "Денежный зелёный"},
    {RGBColor(166, 202, 240), "Небесно-голубой"},
    {RGBColor(255, 251, 240), "Кремовый"},
    {RGBColor(160, 160, 164), "Средне-серый"},
};

const QString kCustomName = QStringLiteral("Другой...");

} // namespace

TColorBox::TColorBox(QWidget* parent)
    : QComboBox(parent) {
    setIconSize(QSize(24, 14));
    addColor(RGBColor(0, 0, 0), kCustomName, QStringLiteral("Выбрать свой цвет"));
    for (const NamedColor& c : kStandardColors)
        addColor(c.color, QString::fromUtf8(c.name));
    for (const NamedColor& c : kExtendedColors)
        addColor(c.color, QString::fromUtf8(c.name));
    int count = 0;
    const TSystemColorInfo* table = SystemColorTable(&count);
    for (int i = 0; i < count; ++i)
        addColor(SystemColor(table[i].index), QString::fromUtf8(table[i].displayName),
                 QString::fromLatin1(table[i].identName));
    setMaxVisibleItems(20);
    SetSelected(RGBColor(0, 0, 0));

    connect(this, &QComboBox::activated, this, &TColorBox::itemActivated);
    connect(this, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            emit colorChanged(Selected());
    });
}

void TColorBox::addColor(TColor color, const QString& name, const QString& toolTip) {
    addItem(name, QVariant::fromValue<int>(color));
    const int index = count() - 1;
    if (!toolTip.isEmpty())
        setItemData(index, toolTip, Qt::ToolTipRole);
    refreshSwatch(index);
}

void TColorBox::refreshSwatch(int index) {
    QPixmap swatch(iconSize());
    swatch.fill(ColorToQColor(TColor(itemData(index).toInt()), palette()));
    QPainter painter(&swatch);
    painter.setPen(QPen(Qt::black, 0));
    painter.drawRect(swatch.rect().adjusted(0, 0, -1, -1));
    painter.end();
    setItemIcon(index, QIcon(swatch));
}

TColor TColorBox::Selected() const {
    const int index = currentIndex();
    return index < 0 ? 0 : TColor(itemData(index).toInt());
}

int TColorBox::IndexOfColor(TColor color) const {
    for (int i = kCustomIndex + 1; i < count(); ++i)
        if (TColor(itemData(i).toInt()) == color)
            return i;
    return -1;
}

void TColorBox::SetSelected(TColor color) {
    const int index = IndexOfColor(color);
    if (index >= 0) {
        setCurrentIndex(index);
        m_lastIndex = index;
    } else {
        SetCustomColor(color);
    }
}

void TColorBox::SetCustomColor(TColor color) {
    setItemData(kCustomIndex, QVariant::fromValue<int>(color));
    refreshSwatch(kCustomIndex);
    if (currentIndex() == kCustomIndex)
        emit colorChanged(color);
    else
        setCurrentIndex(kCustomIndex);
    m_lastIndex = kCustomIndex;
}

void TColorBox::itemActivated(int index) {
    if (index != kCustomIndex) {
        m_lastIndex = index;
        return;
    }
    const QColor start = ColorToQColor(Selected(), palette());
    // Modal to the options window only, never to the whole console. Watched, because the
    // options window may be destroyed while the colour dialog is open, and this box with it.
    QPointer<QColorDialog> dialog = new QColorDialog(
        m_lastIndex >= 0 ? ColorToQColor(TColor(itemData(m_lastIndex).toInt()), palette()) : start,
        this);
    dialog->setWindowTitle(QStringLiteral("Цвет"));
    dialog->setWindowModality(Qt::WindowModal);
    const int answer = dialog->exec();
    if (!dialog)
        return;
    const QColor chosen = answer == QDialog::Accepted ? dialog->selectedColor() : QColor();
    delete dialog;
    if (!chosen.isValid()) {
        // Cancelled: back to what was chosen before.
        if (m_lastIndex >= 0)
            setCurrentIndex(m_lastIndex);
        return;
    }
    SetSelected(QColorToColor(chosen));
}
