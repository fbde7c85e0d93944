#pragma once

#include "board/DashboardSettings.h"

#include <QComboBox>

// A drop-down list of colours, each with a swatch and a readable name: a custom colour
// (first item, chosen through the colour dialog), the sixteen standard colours, the
// extended ones and the system colours. A stored value that is none of the listed
// colours shows as the custom entry.
class TColorBox : public QComboBox {
    Q_OBJECT
public:
    explicit TColorBox(QWidget* parent = nullptr);

    TColor Selected() const;
    void SetSelected(TColor color);

    // The row showing color, -1 when no listed row does (the custom row is not counted).
    int IndexOfColor(TColor color) const;
    static constexpr int kCustomIndex = 0;

    // Makes color the custom entry and selects it.
    void SetCustomColor(TColor color);

signals:
    void colorChanged(TColor color);

private:
    void addColor(TColor color, const QString& name, const QString& toolTip = {});
    void refreshSwatch(int index);
    void itemActivated(int index);

    int m_lastIndex = -1;
};
