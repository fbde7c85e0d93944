#pragma once

#include "board/DashboardSettings.h"
#include "kiosk/ClientThread.h"

#include <QFont>
#include <QHash>
#include <QList>
#include <QMargins>
#include <QPointer>
#include <QRect>
#include <QStaticText>
#include <QWidget>

class QKeyEvent;
class QMouseEvent;
class QPainter;
class QScreen;

// Rows and columns of the board for a number of devices: as many columns as rows, or
// one column more, and never fewer cells than devices (1 x 1 for none).
struct TGridShape {
    int rows = 1;
    int cols = 1;
    bool operator==(const TGridShape&) const = default;
};
TGridShape DashboardGridShape(int deviceCount);

// Devices fill the grid row by row, left to right, in configuration order.
inline int CellDeviceIndex(int col, int row, int cols) {
    return col + row * cols;
}

// Background and text colour of one cell, as stored (system colours unresolved).
struct TCellColors {
    TColor background = 0;
    TColor text = 0;
    bool operator==(const TCellColors&) const = default;
};
TCellColors EmptyCellColors(const TDashboardSettings& settings);
TCellColors DeviceCellColors(const TDashboardSettings& settings, bool enabled, TThreadState state);
// nullptr is the empty cell past the end of the list.
TCellColors CellColors(const TDashboardSettings& settings, const TDeviceItem* device);

// Where the windowed board opens: client rectangle `stored` stays where it is when it
// lies wholly on one screen's work area; otherwise it goes onto the screen under its
// centre (moved just enough) or, when no screen is there, centred on the primary one;
// shrunk where it does not fit. `frame` is the room kept for the window frame.
QRect WindowedBoardGeometry(const QRect& stored, const QList<QRect>& available, int primary,
                            const QMargins& frame);

// The grid itself: paints every cell and takes no input.
class TDashboardGrid : public QWidget {
    Q_OBJECT
public:
    explicit TDashboardGrid(QWidget* parent = nullptr);

    const TDeviceItemList* Devices = nullptr;

    int ColCount() const { return m_cols; }
    int RowCount() const { return m_rows; }
    // Cells share the grid's size equally; the remainder stays outside the cells. Taken
    // from the current size, so cells follow every resize, also one made while hidden.
    int DefaultColWidth() const { return width() / m_cols; }
    int DefaultRowHeight() const { return height() / m_rows; }
    void SetShape(TGridShape shape);
    void AutosizeGrid();
    QRect CellRect(int col, int row) const;

    // Paints one cell into rect on painter.
    void DrawGridDrawCell(QPainter& painter, int ACol, int ARow, const QRect& rect);
    // Schedules a repaint of the one cell showing device (nothing when it has none).
    void UpdateDevice(const TDeviceItem* device);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Laid-out lines, kept between paints: names and status texts repeat on every
    // repaint, and shaping them anew each time is most of a paint's cost.
    struct TextCache {
        QFont font;
        QHash<QString, QStaticText> texts;
    };
    void prepareFonts();
    void drawLine(QPainter& painter, TextCache& cache, const QString& text, const QRect& area,
                  bool centreVertically);

    TextCache m_names;
    TextCache m_statuses;
    bool m_fontsReady = false;
    int m_cols = 1;
    int m_rows = 1;
};

// The information board: a window, optionally covering one monitor, with one coloured
// cell per configured kiosk. The main window owns it; it deletes itself on close.
class TfrmDashboard : public QWidget {
    Q_OBJECT
public:
    // Placement comes from DashboardSettings; ApplySettings follows later changes.
    explicit TfrmDashboard(QWidget* owner = nullptr);
    ~TfrmDashboard() override;

    void SetDevices(const TDeviceItemList* devices);
    const TDeviceItemList* Devices() const { return DrawGrid->Devices; }

    void AdaptGrid();
    void AutosizeGrid() { DrawGrid->AutosizeGrid(); }
    // Schedules a repaint of the whole grid. Requests made within one frame are merged,
    // so a burst of state changes costs one paint that shows the last state of each kiosk.
    void RepaintGrid() { DrawGrid->update(); }

    // True when this board was placed over a whole monitor.
    bool IsFullscreenPlacement() const { return m_fullscreen; }
    // Shows the board as its placement asks (full screen or windowed).
    void ShowPlaced();
    // Reads DashboardSettings again: the colours repaint, and the board goes to or from
    // full screen, or to another monitor, as they now say. A windowed board that stays
    // windowed keeps the place the operator gave it.
    void ApplySettings();
    // A framed window again, on the screen the full-screen board covered: the way out for
    // an operator whose only monitor the board hides.
    void LeaveFullscreen();

    TDashboardGrid* const DrawGrid;

    static constexpr int kClientWidth = 854;
    static constexpr int kClientHeight = 601;
    // Where the board was first meant to open (a monitor left of the primary one).
    static constexpr int kStoredLeft = -923;
    static constexpr int kStoredTop = 220;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void enterFullscreen(QScreen* screen);
    // The windowed place on one of screens for a client area of size.
    QRect windowedGeometry(const QList<QScreen*>& screens, QSize size) const;

    bool m_fullscreen = false;
};

// The single board of the program, null while none is open.
TfrmDashboard* Dashboard();
bool DashboardOpen();

// The main window's "Инфоэкран": closes the open board, or opens one over devices
// owned by owner.
void ShowDashboard(QWidget* owner, const TDeviceItemList* devices);
// Repaint of the open board after a device's state or row changed; nothing when closed.
void UpdateDashboard();
// The same for the cell of one device only: cheaper when many kiosks report at once.
void UpdateDashboard(const TDeviceItem* device);
// Reshape and repaint of the open board after devices were added, deleted, enabled or
// disabled; nothing when closed.
void AdaptDashboard();
// The open board follows DashboardSettings at once (after the options were confirmed);
// nothing when closed.
void ApplyDashboardSettings();
