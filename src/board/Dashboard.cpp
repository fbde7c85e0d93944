#include "board/Dashboard.h"

#include "board/SystemColors.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QPointer<TfrmDashboard> g_dashboard;

// The monitor the settings put a full-screen board on; null for a windowed board (also
// when the stored monitor is not there now).
QScreen* FullscreenTarget(const TDashboardSettings& settings) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (settings.Fullscreen && settings.Monitor >= 0 && settings.Monitor < screens.size())
        return screens[settings.Monitor];
    return nullptr;
}

} // namespace

TGridShape DashboardGridShape(int deviceCount) {
    TGridShape shape;
    while (shape.cols * shape.rows < deviceCount) {
        if (shape.rows < shape.cols)
            ++shape.rows;
        else
            ++shape.cols;
    }
    return shape;
}

TCellColors EmptyCellColors(const TDashboardSettings& settings) {
    return {settings.EmptyB, settings.EmptyF};
}

TCellColors DeviceCellColors(const TDashboardSettings& settings, bool enabled, TThreadState state) {
    if (!enabled)
        return {settings.OffB, settings.OffF};
    switch (state) {
    case tsConnected:
    case tsWorkingIdle:
        return {settings.IdleB, settings.IdleF};
    case tsWorkingOrder:
        return {settings.BusyB, settings.BusyF};
    case tsOrderingFinished:
        return {settings.OrdFinishB, settings.OrdFinishF};
    default:
        return {settings.DiscB, settings.DiscF};
    }
}

TCellColors CellColors(const TDashboardSettings& settings, const TDeviceItem* device) {
    if (!device)
        return EmptyCellColors(settings);
    return DeviceCellColors(settings, device->Enabled(), device->ThreadState());
}

QRect WindowedBoardGeometry(const QRect& stored, const QList<QRect>& available, int primary,
                            const QMargins& frame) {
    const QRect framed = stored.marginsAdded(frame);
    for (const QRect& area : available)
        if (area.contains(framed))
            return stored;
    if (available.isEmpty())
        return stored;

    int target = -1;
    for (int i = 0; i < available.size(); ++i)
        if (available[i].contains(stored.center())) {
            target = i;
            break;
        }
    const bool centre = target < 0;
    if (centre)
        target = (primary >= 0 && primary < available.size()) ? primary : 0;

    const QRect room = available[target].marginsRemoved(frame);
    QRect r(stored.topLeft(), stored.size().boundedTo(room.size()).expandedTo(QSize(1, 1)));
    if (centre) {
        r.moveCenter(room.center());
    } else {
        r.moveLeft(
            std::clamp(r.left(), room.left(), std::max(room.left(), room.right() - r.width() + 1)));
        r.moveTop(
            std::clamp(r.top(), room.top(), std::max(room.top(), room.bottom() - r.height() + 1)));
    }
    return r;
}

// --- grid

TDashboardGrid::TDashboardGrid(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("DrawGrid"));
    // Every pixel is painted by paintEvent; no erase first, so the frequent full
    // repaints never flash the background.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    // A board, not a control: no focus, no mouse, no keyboard.
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TDashboardGrid::SetShape(TGridShape shape) {
    m_cols = std::max(1, shape.cols);
    m_rows = std::max(1, shape.rows);
    AutosizeGrid();
}

void TDashboardGrid::AutosizeGrid() {
    update();
}

QRect TDashboardGrid::CellRect(int col, int row) const {
    const int w = DefaultColWidth();
    const int h = DefaultRowHeight();
    return QRect(col * w, row * h, w, h);
}

void TDashboardGrid::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    AutosizeGrid();
}

void TDashboardGrid::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const int colWidth = DefaultColWidth();
    const int rowHeight = DefaultRowHeight();

    // The strips right and below the last cells (width and height not divisible by the
    // counts) belong to no cell; give them the window colour like an empty grid area.
    const int cellsRight = m_cols * colWidth;
    const int cellsBottom = m_rows * rowHeight;
    const QColor rest = palette().color(QPalette::Active, QPalette::Base);
    if (cellsRight < width())
        painter.fillRect(QRect(cellsRight, 0, width() - cellsRight, height()), rest);
    if (cellsBottom < height())
        painter.fillRect(QRect(0, cellsBottom, cellsRight, height() - cellsBottom), rest);
    if (colWidth <= 0 || rowHeight <= 0)
        return;

    prepareFonts();
    // Only the cells under the dirty region; a cell touched by two of its rectangles is
    // painted twice, which is harmless (it is opaque).
    for (const QRect& dirty : event->region()) {
        const int firstCol = std::max(0, dirty.left() / colWidth);
        const int lastCol = std::min(m_cols - 1, dirty.right() / colWidth);
        const int firstRow = std::max(0, dirty.top() / rowHeight);
        const int lastRow = std::min(m_rows - 1, dirty.bottom() / rowHeight);
        for (int row = firstRow; row <= lastRow; ++row)
            for (int col = firstCol; col <= lastCol; ++col)
                DrawGridDrawCell(painter, col, row, CellRect(col, row));
    }
}

void TDashboardGrid::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        m_fontsReady = false;
}

void TDashboardGrid::prepareFonts() {
    if (m_fontsReady)
        return;
    m_names.font = font();
    m_names.font.setPointSize(18);
    m_names.font.setBold(true);
    m_names.texts.clear();
    m_statuses.font = font();
    m_statuses.font.setPointSize(12);
    m_statuses.font.setBold(false);
    m_statuses.texts.clear();
    m_fontsReady = true;
}

void TDashboardGrid::drawLine(QPainter& painter, TextCache& cache, const QString& text,
                              const QRect& area, bool centreVertically) {
    if (text.isEmpty())
        return;
    auto it = cache.texts.find(text);
    if (it == cache.texts.end()) {
        // Renamed kiosks leave stale entries behind; start afresh now and then.
        if (cache.texts.size() > 4096)
            cache.texts.clear();
        // One line whatever the text holds, as the cell has room for one.
        QString single = text;
        single.replace(QLatin1Char('\n'), QLatin1Char(' '))
            .replace(QLatin1Char('\r'), QLatin1Char(' '));
        QStaticText line(single);
        line.setTextFormat(Qt::PlainText);
        line.setPerformanceHint(QStaticText::AggressiveCaching);
        line.prepare(QTransform(), cache.font);
        it = cache.texts.insert(text, line);
    }
    const QSizeF size = it->size();
    const int x = area.left() + int((area.width() - size.width()) / 2);
    const int y =
        centreVertically ? area.top() + int((area.height() - size.height()) / 2) : area.top();
    painter.setFont(cache.font);
    // Text wider or taller than its half of the cell is cut at the cell's edges, as a
    // single centred line would be.
    const bool fits = size.width() <= area.width() && size.height() <= area.height();
    if (!fits) {
        painter.save();
        painter.setClipRect(area, Qt::IntersectClip);
    }
    painter.drawStaticText(x, y, *it);
    if (!fits)
        painter.restore();
}

void TDashboardGrid::DrawGridDrawCell(QPainter& painter, int ACol, int ARow, const QRect& rect) {
    const TDashboardSettings& settings = DashboardSettings;
    const int index = CellDeviceIndex(ACol, ARow, m_cols);
    const TDeviceItem* device = nullptr;
    if (Devices && index < Devices->Count())
        device = (*Devices)[index].get();
    const TCellColors colors = CellColors(settings, device);
    const QPalette& pal = palette();
    const QColor background = ColorToQColor(colors.background, pal);

    painter.fillRect(rect, background);
    painter.setPen(QPen(ColorToQColor(settings.CellFrame, pal), 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect.adjusted(0, 0, -1, -1));
    if (!device)
        return;

    const int middle = (rect.top() + rect.bottom() + 1) / 2;
    const QRect upper(rect.left(), rect.top(), rect.width(), middle - rect.top());
    const QRect lower(rect.left(), middle, rect.width(), rect.top() + rect.height() - middle);

    prepareFonts();
    painter.setPen(ColorToQColor(colors.text, pal));
    drawLine(painter, m_names, device->Name, upper, true);
    drawLine(painter, m_statuses, device->GetStatusString(), lower, false);
}

void TDashboardGrid::UpdateDevice(const TDeviceItem* device) {
    if (!Devices || !device)
        return;
    const int index = Devices->IndexOf(device);
    if (index < 0)
        return;
    const int row = index / m_cols;
    if (row >= m_rows) {
        // Added since the last AdaptGrid: not on the board yet.
        return;
    }
    update(CellRect(index % m_cols, row));
}

// --- window

TfrmDashboard::TfrmDashboard(QWidget* owner)
    : QWidget(owner, Qt::Window)
    , DrawGrid(new TDashboardGrid(this)) {
    setObjectName(QStringLiteral("frmDashboard"));
    setWindowTitle(QStringLiteral("Информационное табло"));
    setAttribute(Qt::WA_DeleteOnClose);
    // The console lives on in the tray when the board is its last window.
    setAttribute(Qt::WA_QuitOnClose, false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(DrawGrid);
    DrawGrid->SetShape({1, 1});

    if (QScreen* screen = FullscreenTarget(DashboardSettings))
        enterFullscreen(screen);
    else
        setGeometry(
            windowedGeometry(QGuiApplication::screens(), QSize(kClientWidth, kClientHeight)));
}

QRect TfrmDashboard::windowedGeometry(const QList<QScreen*>& screens, QSize size) const {
    QList<QRect> areas;
    int primary = 0;
    for (int i = 0; i < screens.size(); ++i) {
        areas.append(screens[i]->availableGeometry());
        if (screens[i] == QGuiApplication::primaryScreen())
            primary = i;
    }
    const int title = style()->pixelMetric(QStyle::PM_TitleBarHeight);
    const QRect stored(QPoint(kStoredLeft, kStoredTop), size);
    return WindowedBoardGeometry(stored, areas, primary, QMargins(4, title + 4, 4, 4));
}

void TfrmDashboard::enterFullscreen(QScreen* screen) {
    const bool visible = isVisible();
    if (!m_fullscreen)
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint); // hides a shown window
    else if (visible && screen != this->screen())
        hide(); // a full-screen window moves to another monitor only while hidden
    m_fullscreen = true;
    setScreen(screen);
    setGeometry(screen->geometry());
    if (visible)
        showFullScreen();
}

void TfrmDashboard::LeaveFullscreen() {
    if (!m_fullscreen)
        return;
    QScreen* screen = this->screen();
    const bool visible = isVisible();
    m_fullscreen = false;
    setWindowFlags(Qt::Window);
    setWindowState(windowState() & ~Qt::WindowFullScreen);
    QList<QScreen*> screens = QGuiApplication::screens();
    QSize size(kClientWidth, kClientHeight);
    if (screen) {
        setScreen(screen);
        screens = {screen};
        // At most two thirds of the screen, so that what the board hid shows beside it.
        size = size.boundedTo(screen->availableGeometry().size() * 2 / 3);
    }
    setGeometry(windowedGeometry(screens, size));
    if (visible)
        show();
}

void TfrmDashboard::ApplySettings() {
    if (QScreen* screen = FullscreenTarget(DashboardSettings)) {
        if (!m_fullscreen || screen != this->screen())
            enterFullscreen(screen);
    } else {
        LeaveFullscreen();
    }
    RepaintGrid();
}

void TfrmDashboard::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && m_fullscreen) {
        LeaveFullscreen();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TfrmDashboard::mouseDoubleClickEvent(QMouseEvent* event) {
    // The grid lets the mouse through to the window, so a double click anywhere lands here.
    if (m_fullscreen) {
        LeaveFullscreen();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

TfrmDashboard::~TfrmDashboard() {
    if (g_dashboard == this)
        g_dashboard = nullptr;
}

void TfrmDashboard::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    // The board deletes itself later, from the event loop; until then a click on
    // "Инфоэкран" must open a new board, not close this one again.
    if (event->isAccepted() && g_dashboard == this)
        g_dashboard = nullptr;
}

void TfrmDashboard::SetDevices(const TDeviceItemList* devices) {
    DrawGrid->Devices = devices;
    DrawGrid->update();
}

void TfrmDashboard::AdaptGrid() {
    const TDeviceItemList* devices = DrawGrid->Devices;
    DrawGrid->SetShape(DashboardGridShape(devices ? devices->Count() : 0));
}

void TfrmDashboard::ShowPlaced() {
    if (m_fullscreen)
        showFullScreen();
    else
        show();
}

TfrmDashboard* Dashboard() {
    return g_dashboard.data();
}

bool DashboardOpen() {
    return !g_dashboard.isNull();
}

void ShowDashboard(QWidget* owner, const TDeviceItemList* devices) {
    if (g_dashboard) {
        g_dashboard->close();
        return;
    }
    auto* board = new TfrmDashboard(owner);
    g_dashboard = board;
    board->SetDevices(devices);
    board->AdaptGrid();
    board->ShowPlaced();
}

void UpdateDashboard() {
    if (g_dashboard)
        g_dashboard->RepaintGrid();
}

void UpdateDashboard(const TDeviceItem* device) {
    if (g_dashboard)
        g_dashboard->DrawGrid->UpdateDevice(device);
}

void AdaptDashboard() {
    if (g_dashboard) {
        g_dashboard->AdaptGrid();
        g_dashboard->RepaintGrid();
    }
}

void ApplyDashboardSettings() {
    if (g_dashboard)
        g_dashboard->ApplySettings();
}
