#include "app/FormatSettings.h"
#include "app/GlobConst.h"
#include "platform/MainThread.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <memory>

namespace {

bool haveDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// A message box without owner window; on a terminal without a display (an uninstall
// run from a package script, say) the text goes to standard error instead.
void ownerlessBox(int& argc, char** argv, QMessageBox::Icon icon, const QString& caption,
                  const QString& text)
{
    if (!haveDisplay() && !QApplication::instance()) {
        std::fprintf(stderr, "%s: %s\n", caption.toLocal8Bit().constData(), text.toLocal8Bit().constData());
        return;
    }
    std::unique_ptr<QApplication> local;
    if (!QApplication::instance())
        local = std::make_unique<QApplication>(argc, argv);
    QMessageBox box(icon, caption, text, QMessageBox::Ok);
    box.exec();
}

} // namespace

int main(int argc, char** argv)
{
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

    if (argc > 1 && QString::fromLocal8Bit(argv[1]).toLower() == QLatin1String("uninstall")) {
        if (!DeleteFolderTree(DataFolder, true))
            ownerlessBox(argc, argv, QMessageBox::Information, QStringLiteral("Ошибка"),
                         QStringLiteral("Ошибка удаления каталога \"%1\"").arg(DataFolder));
        return 0;
    }

    QApplication app(argc, argv);
    // Numbers always use "." whatever the regional settings. The formats are taken
    // once here; Qt does not follow later changes of the system's regional settings.
    InitFormatSettings();
    QApplication::setApplicationDisplayName(kApplicationTitle);
    QApplication::setQuitOnLastWindowClosed(false);
    orvanta::installQtDispatcherWaker();

    // The main window, created hidden, arrives with the operator console.
    std::fprintf(stderr, "orvanta-console: the main window is not built yet\n");
    return 1;
}
