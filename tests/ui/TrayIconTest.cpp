// The tray icon as the desktop's tray host drives it. A program of its own: Qt connects
// its session bus once per process, and this test needs that bus to be the test's own.
#include "SessionBusSupport.h"
#include "UiTestSupport.h"

#include "ui/MainForm.h"
#include "ui/TrayIcon.h"

#include <QDBusConnection>
#include <QSystemTrayIcon>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

std::unique_ptr<TfrmMain> makeMain() {
    auto w = std::make_unique<TfrmMain>();
    w->timDelayedStart->stop();
    return w;
}

TEST(TrayIconTest, ASingleClickRestoresOnlyWhereTheTrayHostReportsNoDoubleClicks) {
    TestSessionBus bus;
    QString why;
    if (!bus.Start(&why))
        GTEST_SKIP() << why.toStdString();
    const QByteArray oldBus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.Address().toUtf8());
    TempIni ini;
    auto w = makeMain();
    QSystemTrayIcon* icon = w->Tray()->SystemTrayIcon();
    // An X11 tray: a single click does nothing, a double click restores.
    emit icon->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(w->isVisible());
    // A StatusNotifierItem host runs its watcher on the session bus.
    QDBusConnection host = bus.Connect(QStringLiteral("host"));
    ASSERT_TRUE(host.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
    EXPECT_TRUE(TTrayIcon::StatusNotifierHost());
    emit icon->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(w->isVisible());
    w.reset();
    qputenv("DBUS_SESSION_BUS_ADDRESS", oldBus);
}

} // namespace
