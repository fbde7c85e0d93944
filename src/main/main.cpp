#include "board/DashboardSettings.h"
#include "common/FormatSettings.h"
#include "common/GlobConst.h"
#include "core/MegaThread.h"
#include "platform/MainThread.h"
#include "platform/ProcessLimits.h"
#include "platform/TerminationSignals.h"
#include "ui/MainForm.h"
#include "ui/SingleInstance.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

bool haveDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// A message box without owner window; on a terminal without a display (an uninstall
// run from a package script, say) the text goes to standard error instead.
void ownerlessBox(int& argc, char** argv, QMessageBox::Icon icon, const QString& caption,
                  const QString& text) {
    if (!haveDisplay() && !QApplication::instance()) {
        std::fprintf(stderr, "%s: %s\n", caption.toLocal8Bit().constData(),
                     text.toLocal8Bit().constData());
        return;
    }
    std::unique_ptr<QApplication> local;
    if (!QApplication::instance())
        local = std::make_unique<QApplication>(argc, argv);
    QMessageBox box(icon, caption, text, QMessageBox::Ok);
    box.exec();
}

} // namespace

int main(int argc, char** argv) {
    // Process initialisation: the data folder and the configuration file name.
    if (InitGlobConst() == TInitResult::CannotCreate) {
        ownerlessBox(argc, argv, QMessageBox::Critical, QStringLiteral("Error"),
                     QStringLiteral("Cannot create folder \"%1\"").arg(DataFolder));
        DataFolder.clear();
        IniFileName.clear();
    }

    // Program body.
    if (DataFolder.isEmpty())
        return 0;
    // The board's placement and colours are settings of the whole run.
    LoadDashboardSettings(IniFileName);

    if (argc > 1 && QString::fromLocal8Bit(argv[1]).toLower() == QLatin1String("uninstall")) {
        if (!DeleteFolderTree(DataFolder, true))
            ownerlessBox(argc, argv, QMessageBox::Information, QStringLiteral("Ошибка"),
                         QStringLiteral("Ошибка удаления каталога \"%1\"").arg(DataFolder));
        return 0;
    }

    QApplication app(argc, argv);
    // The standard buttons of message boxes in Russian ("Да", "Нет"), whatever the
    // workstation's language: every other text of the console is Russian too.
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qtbase_ru"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    // A second start of the same program file brings the running console forward
    // instead of opening a second set of connections to the same kiosks.
    TSingleInstance instance(IniFileName);
    if (!instance.TryBecomePrimary())
        return 0;

    // Numbers always use "." whatever the regional settings. The formats are taken
    // once here; Qt does not follow later changes of the system's regional settings.
    InitFormatSettings();
    // The application title is the tray icon's hint (the main window sets it); it is
    // not made the display name, which Qt would append to every window caption.
    orvanta::raiseOpenFileLimit(); // two descriptors per kiosk
    QApplication::setQuitOnLastWindowClosed(false);
    orvanta::installQtDispatcherWaker();

    int rc = 0;
    QElapsedTimer exitClock;
    {
        // Created hidden: the console lives in the notification area until restored.
        TfrmMain frmMain;
        QObject::connect(&instance, &TSingleInstance::activationRequested, &frmMain,
                         &TfrmMain::mnuRestoreClick);
        // exit(), not quit(): quit() first asks every window to close, and an order
        // window refuses, which would cancel the exit. exit() also ends the event loops
        // of dialogs and boxes that are open, so nothing that is open can hold it up.
        QObject::connect(
            &frmMain, &TfrmMain::closedForGood, &app, [] { QCoreApplication::exit(0); },
            Qt::QueuedConnection);
        orvanta::watchTerminationSignals(&frmMain, [&frmMain] { frmMain.mnuExitClick(); });
        rc = QApplication::exec();
        exitClock.start();
        // Leaving the scope frees the window: its order windows, the tray icon, then
        // the device list, which asks every connection thread to stop.
    }
    // Stopping threads close their sockets at once and end within about a second;
    // the whole exit stays within two seconds, and a thread still running then is
    // left to the process exit.
    TMegaThread::WaitForAllThreads(std::max<int>(0, 1900 - static_cast<int>(exitClock.elapsed())));
    orvanta::MainThreadDispatcher::instance().close();
    return rc;
}
