#include "board/DashboardOptions.h"
#include "board/ColorBox.h"
#include "board/Dashboard.h"
#include "board/SystemColors.h"
#include "platform/Error.h"

#include "TestUtil.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

namespace {

class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ini = dir.filePath(QStringLiteral("Console.ini"));
        DashboardSettings = TDashboardSettings();
    }
    void TearDown() override { DashboardSettings = TDashboardSettings(); }

    QTemporaryDir dir;
    QString ini;
};

TEST_F(OptionsTest, FileWithoutTheSectionsGivesTheDefaults) {
    testutil::writeFile(ini, "[DeviceList]\nCount=0\n[Printing]\nKind=1\n");
    DashboardSettings.ShowOnStartup = true;
    DashboardSettings.IdleB = 1;
    LoadDashboardSettings(ini);
    const TDashboardSettings& s = DashboardSettings;
    EXPECT_FALSE(s.ShowOnStartup);
    EXPECT_FALSE(s.Fullscreen);
    EXPECT_EQ(s.Monitor, 0);
    const std::pair<TColor, TColor> colours[] = {
        {s.CellFrame, 8421504},
        {s.EmptyB, 16777215},
        {s.EmptyF, 16777215},
        {s.IdleB, 32768},
        {s.IdleF, 16777215},
        {s.BusyB, 16711680},
        {s.BusyF, 16777215},
        {s.OrdFinishB, 65535},
        {s.OrdFinishF, 0},
        {s.DiscB, 255},
        {s.DiscF, 0},
        {s.OffB, 12632256},
        {s.OffF, 0},
    };
    for (const auto& [got, want] : colours)
        EXPECT_EQ(got, want);
    // A missing file reads the same way.
    LoadDashboardSettings(dir.filePath(QStringLiteral("missing.ini")));
    EXPECT_EQ(DashboardSettings, TDashboardSettings());
}

TEST_F(OptionsTest, SaveWritesEveryKeyAndLoadReadsThemBack) {
    testutil::writeFile(ini, "; kept\n[DeviceList]\nCount=0\n");
    TDashboardSettings s;
    s.ShowOnStartup = true;
    s.Fullscreen = true;
    s.Monitor = 1;
    s.CellFrame = SystemColor(15);
    s.EmptyB = 1, s.EmptyF = 2, s.IdleB = 3, s.IdleF = 4, s.BusyB = 5, s.BusyF = 6;
    s.OrdFinishB = 7, s.OrdFinishF = 8, s.DiscB = 9, s.DiscF = 10, s.OffB = 11;
    s.OffF = SystemColor(8);
    DashboardSettings = s;
    SaveDashboardSettings(ini);

    const QString text = QString::fromUtf8(testutil::readFile(ini));
    EXPECT_TRUE(text.contains(QStringLiteral("; kept")));
    EXPECT_TRUE(text.contains(QStringLiteral("[DashBoard]")));
    EXPECT_TRUE(text.contains(QStringLiteral("ShowOnStartup=1")));
    EXPECT_TRUE(text.contains(QStringLiteral("Monitor=1")));
    EXPECT_TRUE(text.contains(QStringLiteral("CellFrame=-16777201")));
    EXPECT_TRUE(text.contains(QStringLiteral("OffF=-16777208")));
    // The keys stand in the order of the settings.
    EXPECT_LT(text.indexOf(QStringLiteral("CellFrame=")), text.indexOf(QStringLiteral("EmptyB=")));
    EXPECT_LT(text.indexOf(QStringLiteral("OffB=")), text.indexOf(QStringLiteral("OffF=")));

    DashboardSettings = TDashboardSettings();
    LoadDashboardSettings(ini);
    EXPECT_EQ(DashboardSettings, s);
}

TEST_F(OptionsTest, SaveFailureThrowsAndLeavesTheFile) {
    const QString blocked = dir.filePath(QStringLiteral("no/such/folder/Console.ini"));
    EXPECT_THROW(SaveDashboardSettings(blocked), orvanta::Exception);
}

TEST(MonitorList, SelectionOfTheStoredMonitor) {
    struct Case {
        int monitor, count, expected;
    };
    const Case table[] = {{0, 1, 0}, {1, 2, 1}, {2, 2, -1}, {1, 1, -1}, {-1, 2, -1}, {0, 0, -1}};
    for (const Case& c : table)
        EXPECT_EQ(MonitorListSelection(c.monitor, c.count), c.expected)
            << c.monitor << " of " << c.count;
}

TEST_F(OptionsTest, DialogShowsTheSettingsAndTheScreens) {
    DashboardSettings.ShowOnStartup = true;
    TfrmDashboardOptions dlg;
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Настройки информационного табло"));
    EXPECT_EQ(dlg.PageControl->currentIndex(), 0);
    EXPECT_EQ(dlg.PageControl->tabText(0), QStringLiteral("Расположение"));
    EXPECT_EQ(dlg.PageControl->tabText(1), QStringLiteral("Цвета"));
    ASSERT_EQ(dlg.cbxMonitors->count(), int(QGuiApplication::screens().size()));
    EXPECT_EQ(dlg.cbxMonitors->itemText(0), QStringLiteral("Монитор 1"));
    EXPECT_TRUE(dlg.cbxShowOnStartup->isChecked());
    EXPECT_FALSE(dlg.cbxFullscreen->isChecked());
    EXPECT_FALSE(dlg.cbxMonitors->isEnabled());
    EXPECT_EQ(dlg.cb_Idle_B->Selected(), 32768);
    EXPECT_EQ(dlg.cb_Idle_B->currentText(), QStringLiteral("Зелёный"));
    EXPECT_EQ(dlg.cb_Busy_B->currentText(), QStringLiteral("Синий"));
    for (const char* name :
         {"cbFrameColor", "cb_Empty_B", "cb_Empty_F", "cb_Idle_B", "cb_Idle_F", "cb_Busy_B",
          "cb_Busy_F", "cb_OrdFinish_B", "cb_OrdFinish_F", "cb_Disc_B", "cb_Disc_F", "cb_Off_B",
          "cb_Off_F", "btnOK", "btnCancel", "cbxShowOnStartup", "cbxFullscreen", "cbxMonitors"})
        EXPECT_NE(dlg.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
}

TEST_F(OptionsTest, MonitorChoiceWithTwoScreens) {
    struct Case {
        int stored;
        int shown;
        int pick; // -2: leave as shown
        int saved;
    };
    const Case table[] = {
        {0, 0, 1, 1},    // choosing the second stores 1
        {2, -1, -2, -1}, // a monitor beyond the list shows none, OK stores -1
        {-1, -1, -2, -1},
        {1, 1, -2, 1},
    };
    for (const Case& c : table) {
        SCOPED_TRACE(testing::Message() << "stored " << c.stored);
        DashboardSettings = TDashboardSettings();
        DashboardSettings.Fullscreen = true;
        DashboardSettings.Monitor = c.stored;
        TfrmDashboardOptions dlg;
        dlg.FillMonitors(2);
        ASSERT_EQ(dlg.cbxMonitors->count(), 2);
        EXPECT_EQ(dlg.cbxMonitors->itemText(1), QStringLiteral("Монитор 2"));
        EXPECT_TRUE(dlg.cbxMonitors->isEnabled());
        EXPECT_EQ(dlg.cbxMonitors->currentIndex(), c.shown);
        if (c.pick != -2)
            dlg.cbxMonitors->setCurrentIndex(c.pick);
        dlg.btnOK->click();
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
        EXPECT_EQ(DashboardSettings.Monitor, c.saved);
        EXPECT_TRUE(DashboardSettings.Fullscreen);
    }
}

TEST_F(OptionsTest, DisabledMonitorListKeepsItsSelection) {
    DashboardSettings.Fullscreen = true;
    DashboardSettings.Monitor = 1;
    TfrmDashboardOptions dlg;
    dlg.FillMonitors(2);
    dlg.cbxFullscreen->click();
    EXPECT_FALSE(dlg.cbxFullscreen->isChecked());
    EXPECT_FALSE(dlg.cbxMonitors->isEnabled());
    EXPECT_EQ(dlg.cbxMonitors->currentIndex(), 1);
    dlg.cbxShowOnStartup->click(); // the other box leaves the list alone
    EXPECT_FALSE(dlg.cbxMonitors->isEnabled());
    dlg.cbxFullscreen->click();
    EXPECT_TRUE(dlg.cbxMonitors->isEnabled());
    dlg.cbxFullscreen->click();
    dlg.btnOK->click();
    EXPECT_FALSE(DashboardSettings.Fullscreen);
    EXPECT_TRUE(DashboardSettings.ShowOnStartup);
    EXPECT_EQ(DashboardSettings.Monitor, 1);
}

TEST_F(OptionsTest, CancelChangesNothing) {
    testutil::writeFile(ini, "[DashBoard]\nMonitor=0\n");
    const QByteArray before = testutil::readFile(ini);
    const TDashboardSettings kept = DashboardSettings;

    // Through the main window's entry point, so that the file is covered too.
    QTimer::singleShot(0, [] {
        auto* dlg = qobject_cast<TfrmDashboardOptions*>(QApplication::activeModalWidget());
        ASSERT_NE(dlg, nullptr);
        dlg->cbxShowOnStartup->click();
        dlg->cbxFullscreen->click();
        dlg->cb_Idle_B->SetSelected(RGBColor(1, 2, 3));
        dlg->btnCancel->click();
    });
    EXPECT_FALSE(ExecuteDashboardOptions(nullptr, ini));
    EXPECT_EQ(DashboardSettings, kept);
    EXPECT_EQ(testutil::readFile(ini), before);
}

TEST_F(OptionsTest, OkSavesAndAFailedSaveIsShown) {
    QTimer::singleShot(0, [] {
        auto* dlg = qobject_cast<TfrmDashboardOptions*>(QApplication::activeModalWidget());
        ASSERT_NE(dlg, nullptr);
        dlg->cbxShowOnStartup->click();
        dlg->btnOK->click();
    });
    EXPECT_TRUE(ExecuteDashboardOptions(nullptr, ini));
    EXPECT_TRUE(DashboardSettings.ShowOnStartup);
    EXPECT_TRUE(testutil::readFile(ini).contains("ShowOnStartup=1"));

    // An unwritable place: the operator is told, and the answer is false.
    const QString blocked = dir.filePath(QStringLiteral("no/such/folder/Console.ini"));
    QString shown;
    std::function<void()> closeBox = [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dlg = qobject_cast<TfrmDashboardOptions*>(modal)) {
            dlg->btnOK->click();
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            shown = box->text();
            box->accept();
            return;
        }
        QTimer::singleShot(20, closeBox);
    };
    QTimer::singleShot(0, closeBox);
    EXPECT_FALSE(ExecuteDashboardOptions(nullptr, blocked));
    EXPECT_FALSE(shown.isEmpty());
}

TEST_F(OptionsTest, OkTakesEffectOnTheOpenBoardAtOnce) {
    TDeviceItemList devices; // one empty cell over the whole board, in EmptyB
    QWidget owner;
    ShowDashboard(&owner, &devices);
    QPointer<TfrmDashboard> board = Dashboard();
    ASSERT_TRUE(board);
    ASSERT_TRUE(testutil::waitUntil([&] { return board->isVisible(); }));
    // What the board has painted, as the screen shows it: not a fresh rendering, which
    // would take the new colours whether or not the board was told.
    const auto shown = [&] {
        const QImage image = board->screen()->grabWindow(board->winId()).toImage();
        return image.isNull() ? QColor() : image.pixelColor(image.rect().center());
    };
    ASSERT_TRUE(testutil::waitUntil([&] { return shown() == QColor(255, 255, 255); }));

    struct Case {
        bool fullscreen;
        TColor background;
    };
    const Case table[] = {{true, RGBColor(10, 20, 30)}, {false, RGBColor(200, 100, 50)}};
    for (const Case& c : table) {
        SCOPED_TRACE(testing::Message() << "full screen " << c.fullscreen);
        QTimer::singleShot(0, [c] {
            auto* dlg = qobject_cast<TfrmDashboardOptions*>(QApplication::activeModalWidget());
            ASSERT_NE(dlg, nullptr);
            if (dlg->cbxFullscreen->isChecked() != c.fullscreen)
                dlg->cbxFullscreen->click();
            dlg->cb_Empty_B->SetSelected(c.background);
            dlg->btnOK->click();
        });
        EXPECT_TRUE(ExecuteDashboardOptions(&owner, ini));
        ASSERT_TRUE(board); // the same board, not a new one
        EXPECT_EQ(board->isFullScreen(), c.fullscreen);
        EXPECT_EQ(board->IsFullscreenPlacement(), c.fullscreen);
        EXPECT_EQ(bool(board->windowFlags() & Qt::FramelessWindowHint), c.fullscreen);
        if (c.fullscreen) {
            EXPECT_EQ(board->geometry(), board->screen()->geometry());
        }
        EXPECT_TRUE(board->isVisible());
        EXPECT_TRUE(testutil::waitUntil(
            [&] { return shown() == QColor(ColorToQColor(c.background)); }, 2000))
            << shown().name().toStdString();
    }
    delete board;
}

TEST_F(OptionsTest, EveryBoxIsModalToItsOwnWindowOnly) {
    // An application-modal box would hold the order windows too.
    QWidget owner;
    owner.setObjectName(QStringLiteral("owner"));
    owner.show();
    struct Seen {
        Qt::WindowModality modality;
        QString window; // object name of the window it belongs to
    };
    std::map<std::string, Seen> seen;
    const std::function<void()> answer = [&] {
        QWidget* modal = QApplication::activeModalWidget();
        const auto note = [&](const char* kind) {
            if (seen.count(kind))
                return false;
            const QWidget* parent = modal->parentWidget();
            seen[kind] = {modal->windowModality(),
                          parent ? parent->window()->objectName() : QString()};
            return true;
        };
        if (auto* dlg = qobject_cast<TfrmDashboardOptions*>(modal)) {
            if (!note("options"))
                return;
            // The custom entry asks for a colour through the colour dialog.
            QTimer colours;
            QObject::connect(&colours, &QTimer::timeout, answer);
            colours.start(20);
            QTest::keyClick(dlg->cb_Idle_B, Qt::Key_Home);
            colours.stop();
            dlg->btnOK->click();
        } else if (auto* colours = qobject_cast<QColorDialog*>(modal)) {
            if (note("colour")) {
                colours->setCurrentColor(QColor(1, 2, 3));
                colours->accept();
            }
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            if (note("box"))
                box->accept();
        }
    };
    QTimer poller;
    QObject::connect(&poller, &QTimer::timeout, answer);
    poller.start(20);
    // A file that cannot be written, so that the error box shows too.
    EXPECT_FALSE(
        ExecuteDashboardOptions(&owner, dir.filePath(QStringLiteral("no/such/folder/x.ini"))));
    poller.stop();
    EXPECT_EQ(DashboardSettings.IdleB, RGBColor(1, 2, 3));

    const std::pair<const char*, const char*> expected[] = {
        {"options", "owner"}, {"colour", "frmDashboardOptions"}, {"box", "owner"}};
    for (const auto& [kind, window] : expected) {
        SCOPED_TRACE(kind);
        ASSERT_EQ(seen.count(kind), 1u);
        EXPECT_EQ(seen[kind].modality, Qt::WindowModal);
        EXPECT_EQ(seen[kind].window, QString::fromLatin1(window));
    }
}

TEST_F(OptionsTest, SystemColourSurvivesTheRoundTrip) {
    TfrmDashboardOptions dlg;
    const int face = dlg.cb_Idle_B->findText(QStringLiteral("Поверхность кнопки"));
    ASSERT_GE(face, 0);
    dlg.cb_Idle_B->setCurrentIndex(face);
    EXPECT_EQ(dlg.cb_Idle_B->itemData(face, Qt::ToolTipRole).toString(),
              QStringLiteral("clBtnFace"));
    dlg.btnOK->click();
    EXPECT_EQ(DashboardSettings.IdleB, -16777201);
    SaveDashboardSettings(ini);
    EXPECT_TRUE(testutil::readFile(ini).contains("IdleB=-16777201"));

    DashboardSettings = TDashboardSettings();
    LoadDashboardSettings(ini);
    TfrmDashboardOptions again;
    EXPECT_EQ(again.cb_Idle_B->currentIndex(), face);
    EXPECT_EQ(again.cb_Idle_B->currentText(), QStringLiteral("Поверхность кнопки"));
}

TEST(ColorBox, ListsEveryKindAndShowsUnknownValuesAsCustom) {
    TColorBox box;
    // Custom entry, 16 standard, 4 extended, 30 system colours.
    EXPECT_EQ(box.count(), 1 + 16 + 4 + 30);
    struct Case {
        TColor color;
        const char* name;
    };
    const Case listed[] = {
        {RGBColor(0, 0, 0), "Чёрный"},
        {RGBColor(128, 0, 0), "Тёмно-бордовый"},
        {RGBColor(255, 0, 255), "Фуксия"},
        {RGBColor(255, 255, 255), "Белый"},
        {RGBColor(192, 220, 192), "Денежный зелёный"},
        {RGBColor(160, 160, 164), "Средне-серый"},
        {SystemColor(5), "Окно"},
        {SystemColor(13), "Выделение"},
        {SystemColor(30), "Полоса меню"},
    };
    for (const Case& c : listed) {
        box.SetSelected(c.color);
        EXPECT_EQ(box.currentText(), QString::fromUtf8(c.name));
        EXPECT_EQ(box.Selected(), c.color);
        EXPECT_FALSE(box.itemIcon(box.currentIndex()).isNull());
    }
    // Names are unique, so the operator can tell every entry apart.
    QStringList names;
    for (int i = 0; i < box.count(); ++i)
        names << box.itemText(i);
    names.removeDuplicates();
    EXPECT_EQ(names.size(), box.count());

    // A colour none of the entries has: the custom entry carries it.
    for (TColor unknown : {RGBColor(1, 2, 3), SystemColor(25), TColor(0x12345678)}) {
        box.SetSelected(unknown);
        EXPECT_EQ(box.currentIndex(), TColorBox::kCustomIndex);
        EXPECT_EQ(box.Selected(), unknown);
    }
    box.SetSelected(RGBColor(255, 0, 0));
    EXPECT_EQ(box.currentText(), QStringLiteral("Красный"));
}

} // namespace
