#include "board/Dashboard.h"
#include "board/SystemColors.h"

#include "TestUtil.h"

#include <QApplication>
#include <QGuiApplication>
#include <QImage>
#include <QLayout>
#include <QPaintEvent>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

// Restores the process-wide settings every test may change.
class BoardTest : public ::testing::Test {
protected:
    void SetUp() override { DashboardSettings = TDashboardSettings(); }
    void TearDown() override {
        if (TfrmDashboard* board = Dashboard())
            delete board;
        DashboardSettings = TDashboardSettings();
    }

    void addDevices(int count) {
        for (int i = 0; i < count; ++i) {
            auto item = TDeviceItem::Create();
            item->Name = QStringLiteral("Киоск %1").arg(i + 1);
            devices.Add(item);
        }
    }

    TDeviceItemList devices;
};

TEST(DashboardGridShape, FollowsTheTableAndStaysNearlySquare) {
    struct Case {
        int devices;
        int rows;
        int cols;
    };
    const Case table[] = {
        {0, 1, 1},  {1, 1, 1},  {2, 1, 2},  {3, 2, 2},     {4, 2, 2},     {5, 2, 3},     {6, 2, 3},
        {7, 3, 3},  {8, 3, 3},  {9, 3, 3},  {10, 3, 4},    {11, 3, 4},    {12, 3, 4},    {13, 4, 4},
        {14, 4, 4}, {15, 4, 4}, {16, 4, 4}, {17, 4, 5},    {18, 4, 5},    {19, 4, 5},    {20, 4, 5},
        {21, 5, 5}, {25, 5, 5}, {26, 5, 6}, {100, 10, 10}, {101, 10, 11}, {400, 20, 20},
    };
    for (const Case& c : table) {
        const TGridShape shape = DashboardGridShape(c.devices);
        EXPECT_EQ(shape, (TGridShape{c.rows, c.cols})) << c.devices << " devices";
    }
    // The closed form for any count: c is the least with c*c >= n, rows c-1 when that
    // still holds every device.
    for (int n = 1; n <= 1000; ++n) {
        int c = 1;
        while (c * c < n)
            ++c;
        const int rows = (c - 1) * c >= n ? c - 1 : c;
        ASSERT_EQ(DashboardGridShape(n), (TGridShape{rows, c})) << n << " devices";
    }
}

TEST(DashboardCells, IndexRunsRowByRow) {
    // 5 devices on 2 x 3: the second row starts with the fourth device.
    EXPECT_EQ(CellDeviceIndex(0, 0, 3), 0);
    EXPECT_EQ(CellDeviceIndex(2, 0, 3), 2);
    EXPECT_EQ(CellDeviceIndex(0, 1, 3), 3);
    EXPECT_EQ(CellDeviceIndex(2, 1, 3), 5);
}

TEST(DashboardCells, ColourPairOfEveryState) {
    TDashboardSettings s;
    // Distinct values so that a wrong pair cannot pass by chance.
    s.EmptyB = 1, s.EmptyF = 2, s.IdleB = 3, s.IdleF = 4, s.BusyB = 5, s.BusyF = 6;
    s.OrdFinishB = 7, s.OrdFinishF = 8, s.DiscB = 9, s.DiscF = 10, s.OffB = 11, s.OffF = 12;
    const TCellColors idle{3, 4}, busy{5, 6}, finish{7, 8}, disc{9, 10}, off{11, 12};
    struct Case {
        TThreadState state;
        TCellColors enabled;
    };
    const Case table[] = {
        {tsSuspended, disc},       {tsWaiting, disc},
        {tsConnecting, disc},      {tsConnected, idle},
        {tsDisconnected, disc},    {tsWorkingIdle, idle},
        {tsWorkingOrder, busy},    {tsOrderingFinished, finish},
        {tsError, disc},           {tsWaitingVersion, disc},
        {tsObsoleteVersion, disc},
    };
    for (const Case& c : table) {
        EXPECT_EQ(DeviceCellColors(s, true, c.state), c.enabled) << "state " << int(c.state);
        EXPECT_EQ(DeviceCellColors(s, false, c.state), off) << "disabled, state " << int(c.state);
    }
    EXPECT_EQ(CellColors(s, nullptr), (TCellColors{1, 2}));

    auto item = TDeviceItem::Create();
    EXPECT_EQ(CellColors(s, item.get()), disc); // never started: suspended
    item->SetEnabled(false);
    EXPECT_EQ(CellColors(s, item.get()), off);
}

TEST(DashboardColours, PlainAndSystemColoursResolve) {
    EXPECT_EQ(ColorToQColor(16711680), QColor(0, 0, 255));
    EXPECT_EQ(ColorToQColor(255), QColor(255, 0, 0));
    EXPECT_EQ(ColorToQColor(8421504), QColor(128, 128, 128));
    EXPECT_EQ(QColorToColor(QColor(255, 255, 0)), 65535);

    QPalette pal;
    pal.setColor(QPalette::Active, QPalette::Button, QColor(1, 2, 3));
    pal.setColor(QPalette::Active, QPalette::Base, QColor(4, 5, 6));
    pal.setColor(QPalette::Active, QPalette::Highlight, QColor(7, 8, 9));
    EXPECT_EQ(SystemColor(15), -16777201);
    EXPECT_TRUE(IsSystemColor(-16777201));
    EXPECT_FALSE(IsSystemColor(16777215));
    EXPECT_EQ(ColorToQColor(SystemColor(15), pal), QColor(1, 2, 3));
    EXPECT_EQ(ColorToQColor(SystemColor(5), pal), QColor(4, 5, 6));
    EXPECT_EQ(ColorToQColor(SystemColor(13), pal), QColor(7, 8, 9));
    EXPECT_EQ(ColorToQColor(SystemColor(25), pal), QColor(Qt::black)); // no such colour
    int count = 0;
    const TSystemColorInfo* table = SystemColorTable(&count);
    EXPECT_EQ(count, 30);
    for (int i = 1; i < count; ++i)
        EXPECT_LT(table[i - 1].index, table[i].index);
}

TEST(DashboardPlacement, WindowedBoardLandsOnAVisibleScreen) {
    const QMargins frame(4, 30, 4, 4);
    const QRect stored(-923, 220, 854, 601);
    const QRect primary(0, 0, 1920, 1040);
    struct Case {
        const char* what;
        QList<QRect> screens;
        int primaryIndex;
        QRect expected;
    };
    const Case table[] = {
        // No monitor left of the primary one: centred on the primary work area.
        {"primary only", {primary}, 0, QRect(533, 232, 854, 601)},
        // A monitor left of the primary one holds the stored place: it stays there.
        {"left monitor", {primary, QRect(-1280, 0, 1280, 1024)}, 0, stored},
        // A small left monitor under the centre: moved fully onto it.
        {"small left", {primary, QRect(-1024, 0, 1024, 768)}, 0, QRect(-923, 163, 854, 601)},
        // A primary screen too small: shrunk to its work area.
        {"tiny", {QRect(0, 0, 800, 600)}, 0, QRect(4, 30, 792, 566)},
        {"no screens", {}, 0, stored},
    };
    for (const Case& c : table) {
        const QRect r = WindowedBoardGeometry(stored, c.screens, c.primaryIndex, frame);
        EXPECT_EQ(r, c.expected) << c.what;
        if (!c.screens.isEmpty()) {
            bool onScreen = false;
            for (const QRect& s : c.screens)
                onScreen = onScreen || s.contains(r.marginsAdded(frame));
            EXPECT_TRUE(onScreen) << c.what;
        }
    }
}

// The grid of a hidden board at a given size, as pixels.
QImage renderGrid(TfrmDashboard& board, QSize size) {
    board.resize(size);
    board.layout()->activate();
    return board.DrawGrid->grab().toImage();
}

// Pixels that differ from the background: the text and its antialiased edges.
QRect inkBounds(const QImage& image, const QRect& area, QColor background) {
    QRect bounds;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixelColor(x, y) != background)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

// Pixels of a rendered board.
int countPixels(const QImage& image, const QRect& area, QColor color) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixelColor(x, y) == color)
                ++n;
    return n;
}

TEST_F(BoardTest, FiveKiosksPaintTheirCells) {
    addDevices(5);
    devices[4]->SetEnabled(false);
    DashboardSettings.DiscB = RGBColor(255, 0, 0);
    DashboardSettings.DiscF = RGBColor(0, 0, 255);
    DashboardSettings.OffB = RGBColor(192, 192, 192);
    DashboardSettings.OffF = RGBColor(0, 128, 0);
    DashboardSettings.EmptyB = RGBColor(255, 255, 255);
    DashboardSettings.EmptyF = RGBColor(0, 0, 0);
    DashboardSettings.CellFrame = SystemColor(8); // window text, from the palette

    TfrmDashboard board;
    board.SetDevices(&devices);
    board.AdaptGrid();
    const QImage image = renderGrid(board, QSize(602, 401));
    ASSERT_EQ(board.DrawGrid->RowCount(), 2);
    ASSERT_EQ(board.DrawGrid->ColCount(), 3);
    ASSERT_EQ(board.DrawGrid->DefaultColWidth(), 200);
    ASSERT_EQ(board.DrawGrid->DefaultRowHeight(), 200);
    ASSERT_EQ(image.size(), QSize(602, 401));
    const QColor frame = board.DrawGrid->palette().color(QPalette::Active, QPalette::Text);
    const QColor red(255, 0, 0), blue(0, 0, 255), silver(192, 192, 192), green(0, 128, 0);

    struct CellCase {
        int col, row;
        QColor background;
        QColor text; // invalid: no text
    };
    const CellCase cells[] = {
        {0, 0, red, blue}, {1, 0, red, blue},     {2, 0, red, blue},
        {0, 1, red, blue}, {1, 1, silver, green}, {2, 1, QColor(255, 255, 255), QColor()},
    };
    for (const CellCase& c : cells) {
        SCOPED_TRACE(testing::Message() << "cell " << c.col << "," << c.row);
        const QRect cell(c.col * 200, c.row * 200, 200, 200);
        // The frame runs along all four edges, the background fills the inside.
        for (QPoint p :
             {cell.topLeft(), cell.topRight(), cell.bottomLeft(), cell.bottomRight(),
              QPoint(cell.center().x(), cell.top()), QPoint(cell.left(), cell.center().y())})
            EXPECT_EQ(image.pixelColor(p), frame) << p.x() << "," << p.y();
        EXPECT_EQ(image.pixelColor(cell.topLeft() + QPoint(2, 2)), c.background);
        EXPECT_EQ(image.pixelColor(cell.bottomRight() - QPoint(2, 2)), c.background);

        const QRect upper(cell.left() + 1, cell.top() + 1, 198, 99);
        const QRect lower(cell.left() + 1, cell.top() + 100, 198, 99);
        if (!c.text.isValid()) {
            EXPECT_EQ(countPixels(image, cell.adjusted(1, 1, -1, -1), c.background), 198 * 198);
            continue;
        }
        // Both lines are drawn in the text colour (antialiasing blends only the edges).
        EXPECT_GT(countPixels(image, upper, c.text), 20);
        EXPECT_GT(countPixels(image, lower, c.text), 5);
        // The name: centred in the upper half, both ways.
        const QRect name = inkBounds(image, upper, c.background);
        ASSERT_FALSE(name.isEmpty());
        EXPECT_LE(std::abs(name.center().x() - upper.center().x()), 3);
        EXPECT_LE(std::abs(name.center().y() - upper.center().y()), 4);
        EXPECT_GT(name.height(), 10); // 18 points, well above the status line
        // The status: centred across, at the top of the lower half.
        const QRect status = inkBounds(image, lower, c.background);
        ASSERT_FALSE(status.isEmpty());
        EXPECT_LE(std::abs(status.center().x() - lower.center().x()), 3);
        EXPECT_LT(status.top() - lower.top(), 12);
        EXPECT_LT(status.height(), name.height());
    }
    // The two strips the cells leave uncovered (602 and 401 are not multiples).
    EXPECT_EQ(image.pixelColor(601, 10),
              board.DrawGrid->palette().color(QPalette::Active, QPalette::Base));
    EXPECT_EQ(image.pixelColor(10, 400),
              board.DrawGrid->palette().color(QPalette::Active, QPalette::Base));
}

TEST_F(BoardTest, NoDevicesShowOneEmptyCellAndResizeKeepsTheShape) {
    DashboardSettings.EmptyB = RGBColor(10, 20, 30);
    DashboardSettings.CellFrame = RGBColor(200, 100, 50);
    TfrmDashboard board;
    board.SetDevices(&devices);
    board.AdaptGrid();
    const QImage image = renderGrid(board, QSize(300, 200));
    EXPECT_EQ(image.pixelColor(0, 0), QColor(200, 100, 50));
    EXPECT_EQ(image.pixelColor(299, 199), QColor(200, 100, 50));
    EXPECT_EQ(countPixels(image, QRect(1, 1, 298, 198), QColor(10, 20, 30)), 298 * 198);

    addDevices(7);
    board.AdaptGrid();
    EXPECT_EQ(board.DrawGrid->RowCount(), 3);
    EXPECT_EQ(board.DrawGrid->ColCount(), 3);
    renderGrid(board, QSize(900, 450));
    EXPECT_EQ(board.DrawGrid->RowCount(), 3);
    EXPECT_EQ(board.DrawGrid->ColCount(), 3);
    EXPECT_EQ(board.DrawGrid->DefaultColWidth(), 300);
    EXPECT_EQ(board.DrawGrid->DefaultRowHeight(), 150);
}

TEST_F(BoardTest, PlacementFollowsFullscreenAndMonitor) {
    const int screens = int(QGuiApplication::screens().size());
    struct Case {
        bool fullscreen;
        int monitor;
        bool expectFull;
    };
    const Case table[] = {
        {false, 0, false},
        {true, 0, true},
        {true, screens, false},
        {true, -1, false},
    };
    for (const Case& c : table) {
        DashboardSettings.Fullscreen = c.fullscreen;
        DashboardSettings.Monitor = c.monitor;
        TfrmDashboard board;
        SCOPED_TRACE(testing::Message() << c.fullscreen << " monitor " << c.monitor);
        EXPECT_EQ(board.IsFullscreenPlacement(), c.expectFull);
        EXPECT_EQ(bool(board.windowFlags() & Qt::FramelessWindowHint), c.expectFull);
        if (c.expectFull) {
            EXPECT_EQ(board.geometry(), QGuiApplication::screens()[c.monitor]->geometry());
        } else {
            // The stored size, shrunk only where the screen is smaller.
            EXPECT_LE(board.width(), 854);
            EXPECT_LE(board.height(), 601);
            const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
            if (area.width() >= 900 && area.height() >= 700) {
                EXPECT_EQ(board.size(), QSize(854, 601));
            }
            bool onScreen = false;
            for (QScreen* s : QGuiApplication::screens())
                onScreen = onScreen || s->availableGeometry().contains(board.geometry());
            EXPECT_TRUE(onScreen);
        }
    }
}

TEST_F(BoardTest, EscOrDoubleClickLeavesFullScreen) {
    // A full-screen board on the only monitor hides the tray and the main window; the
    // operator must be able to get it out of the way without them.
    addDevices(2);
    DashboardSettings.Fullscreen = true;
    DashboardSettings.Monitor = 0;
    QWidget owner;
    using Send = std::function<void(QWindow*)>;
    struct Case {
        const char* what;
        Send send;
        bool leaves;
    };
    const Case table[] = {
        {"Esc", [](QWindow* w) { QTest::keyClick(w, Qt::Key_Escape); }, true},
        {"double click",
         [](QWindow* w) { QTest::mouseDClick(w, Qt::LeftButton, {}, QPoint(100, 100)); }, true},
        // Otherwise the board still takes no input.
        {"a letter", [](QWindow* w) { QTest::keyClick(w, Qt::Key_A); }, false},
        {"a click", [](QWindow* w) { QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(100, 100)); },
         false},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(c.what);
        ShowDashboard(&owner, &devices);
        QPointer<TfrmDashboard> board = Dashboard();
        ASSERT_TRUE(board);
        ASSERT_TRUE(testutil::waitUntil([&] { return board->isVisible(); }));
        ASSERT_TRUE(board->isFullScreen());
        QScreen* screen = board->screen();
        ASSERT_NE(screen, nullptr);

        c.send(board->windowHandle());
        QCoreApplication::processEvents();
        ASSERT_TRUE(board); // never closed by it
        EXPECT_TRUE(DashboardOpen());
        if (c.leaves) {
            ASSERT_TRUE(testutil::waitUntil([&] { return board->isVisible(); }));
            EXPECT_FALSE(board->isFullScreen());
            EXPECT_FALSE(board->IsFullscreenPlacement());
            EXPECT_FALSE(board->windowFlags() & Qt::FramelessWindowHint);
            // A window on the same screen that leaves room around it.
            EXPECT_EQ(board->screen(), screen);
            const QRect area = screen->availableGeometry();
            EXPECT_TRUE(area.contains(board->geometry())) << board->geometry().x();
            EXPECT_LT(board->width(), area.width());
            EXPECT_LT(board->height(), area.height());
            EXPECT_GT(board->width(), area.width() / 3);
            EXPECT_GT(board->height(), area.height() / 3);
            // The grid still fills it.
            EXPECT_EQ(board->DrawGrid->size(), board->size());
        } else {
            EXPECT_TRUE(board->isVisible());
            EXPECT_TRUE(board->isFullScreen());
            EXPECT_EQ(board->geometry(), screen->geometry());
        }
        delete board;
    }
}

// Counts the paints the grid receives.
class PaintCounter : public QObject {
public:
    int paints = 0;
    QRegion painted;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
            painted += static_cast<QPaintEvent*>(event)->region();
        }
        return false;
    }
};

TEST_F(BoardTest, ActionTogglesTheSingleBoardAndRepaintsAreMerged) {
    addDevices(3);
    QWidget owner;
    EXPECT_FALSE(DashboardOpen());
    UpdateDashboard(); // nothing open: nothing happens
    AdaptDashboard();

    ShowDashboard(&owner, &devices);
    ASSERT_TRUE(DashboardOpen());
    QPointer<TfrmDashboard> board = Dashboard();
    EXPECT_EQ(board->parentWidget(), &owner);
    EXPECT_EQ(board->windowTitle(), QStringLiteral("Информационное табло"));
    EXPECT_EQ(board->DrawGrid->ColCount(), 2);
    ASSERT_TRUE(testutil::waitUntil([&] { return board->isVisible(); }));
    testutil::pump(100);

    PaintCounter counter;
    board->DrawGrid->installEventFilter(&counter);
    for (int i = 0; i < 1000; ++i)
        UpdateDashboard();
    ASSERT_TRUE(testutil::waitUntil([&] { return counter.paints > 0; }));
    testutil::pump(100);
    EXPECT_LE(counter.paints, 2) << "a burst of updates should cost one paint";

    addDevices(2);
    AdaptDashboard();
    EXPECT_EQ(board->DrawGrid->RowCount(), 2);
    EXPECT_EQ(board->DrawGrid->ColCount(), 3);
    testutil::pump(100);

    // One device's report repaints its cell only.
    counter.paints = 0;
    counter.painted = QRegion();
    UpdateDashboard(devices[4].get());
    ASSERT_TRUE(testutil::waitUntil([&] { return counter.paints > 0; }));
    EXPECT_EQ(counter.painted.boundingRect(), board->DrawGrid->CellRect(1, 1));

    // The second execution closes it; the board deletes itself.
    ShowDashboard(&owner, &devices);
    EXPECT_FALSE(DashboardOpen());
    ASSERT_TRUE(testutil::waitUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return board.isNull();
    }));

    // Closing the window itself also clears the reference; the next action opens anew.
    ShowDashboard(&owner, &devices);
    ASSERT_TRUE(DashboardOpen());
    Dashboard()->close();
    EXPECT_FALSE(DashboardOpen());
    ShowDashboard(&owner, &devices);
    EXPECT_TRUE(DashboardOpen());
    // The owner takes its board with it.
    QPointer<TfrmDashboard> last = Dashboard();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete Dashboard();
    EXPECT_TRUE(last.isNull());
    EXPECT_FALSE(DashboardOpen());
}

} // namespace
