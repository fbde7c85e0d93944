#include "board/DashboardSettings.h"
#include "common/FormatSettings.h"
#include "common/GlobConst.h"
#include "core/MegaThread.h"
#include "journal/JournalCsv.h"
#include "journal/JournalReader.h"
#include "journal/JournalSource.h"
#include "platform/MainThread.h"
#include "platform/ProcessLimits.h"
#include "platform/TerminationSignals.h"
#include "ui/MainForm.h"
#include "ui/SingleInstance.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
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

constexpr int kJournalFailed = 2;

int journalFailure(const QString& text) {
    std::fprintf(stderr, "orvanta-console journal: %s\n", text.toLocal8Bit().constData());
    return kJournalFailed;
}

// The totals of the period as CSV. Without --from the period starts with the journal's
// first order or connection event, so that a kiosk's availability is its share of the
// time the journal knows of, not of the years before it.
int journalSummary(JournalReader& reader, QDateTime from, QDateTime to, QFile& out) {
    if (!to.isValid())
        to = QDate(9999, 1, 1).startOfDay();
    if (!from.isValid()) {
        from = reader.firstTime();
        if (!from.isValid() && !reader.lastError().isEmpty())
            return journalFailure(reader.lastError());
        if (!from.isValid() || from > to)
            from = to;
    }
    const bool written = JournalCsv::writeSummary(reader, from, to, out);
    out.flush();
    if (!written)
        return journalFailure(reader.lastError().isEmpty() ? out.errorString()
                                                           : reader.lastError());
    return 0;
}

// "orvanta-console journal --csv|--summary [--from YYYY-MM-DD] [--to YYYY-MM-DD]": the
// journal on standard output: the shared one of every console when the console's ini
// says [Journal] Driver=QPSQL, else the file of the data folder. It reads beside a
// running console and never becomes one: no display, no windows, no kiosks.
int runJournalCommand(int argc, char** argv, const QString& folder, const QString& iniFileName) {
    QCoreApplication app(argc, argv); // Qt SQL finds its driver through the application
    const QString usage = QStringLiteral(
        "вызов: orvanta-console journal --csv|--summary [--from ГГГГ-ММ-ДД] [--to ГГГГ-ММ-ДД]");
    bool csv = false;
    bool summary = false;
    QDateTime from;
    QDateTime to;
    const QStringList args = QCoreApplication::arguments().mid(2);
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--csv")) {
            csv = true;
        } else if (arg == QLatin1String("--summary")) {
            summary = true;
        } else if (arg == QLatin1String("--from") || arg == QLatin1String("--to")) {
            if (i + 1 >= args.size())
                return journalFailure(QStringLiteral("после %1 нужна дата\n%2").arg(arg, usage));
            const QString text = args[++i];
            const QDate day = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
            if (!day.isValid())
                return journalFailure(
                    QStringLiteral("%1 %2: это не дата ГГГГ-ММ-ДД\n%3").arg(arg, text, usage));
            // Days of the venue's own calendar; --to takes in the whole of its day.
            if (arg == QLatin1String("--from"))
                from = day.startOfDay();
            else
                to = day.addDays(1).startOfDay();
        } else {
            return journalFailure(QStringLiteral("неизвестный аргумент %1\n%2").arg(arg, usage));
        }
    }
    if (csv == summary)
        return journalFailure(usage);
    if (from.isValid() && to.isValid() && from >= to)
        return journalFailure(QStringLiteral("дата --from позже даты --to"));
    if (folder.isEmpty())
        return journalFailure(QStringLiteral("нет папки данных"));

    JournalSource source = JournalSource::fromIni(iniFileName);
    // A year of a chain's orders may take the server longer than a window's read may; a
    // script that waits too long is stopped by whoever runs it.
    source.statementTimeoutMs = 0;
    const std::unique_ptr<JournalReader> reader = source.shared()
                                                      ? std::make_unique<JournalReader>(source)
                                                      : std::make_unique<JournalReader>(folder);
    if (!reader->open())
        return journalFailure(
            source.shared()
                ? QStringLiteral("общий журнал на сервере %1:%2 (база %3) не читается: %4")
                      .arg(source.host)
                      .arg(source.port)
                      .arg(source.database, reader->lastError())
                : reader->lastError());
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        return journalFailure(out.errorString());
    if (summary)
        return journalSummary(*reader, from, to, out);
    JournalQuery query;
    query.from = from;
    query.to = to;
    // A file that is no journal fails on its first read: said before a line is printed,
    // so that a script never takes a bare header for an empty period.
    [[maybe_unused]] const QList<JournalRecord> first = reader->orders(query, 1);
    if (!reader->lastError().isEmpty())
        return journalFailure(reader->lastError());
    const bool written = JournalCsv::write(*reader, query, out);
    out.flush();
    if (!written)
        return journalFailure(reader->lastError().isEmpty() ? out.errorString()
                                                            : reader->lastError());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // The journal commands before anything of the console: they run beside it, on a
    // terminal without a display, and the one-console rule is not theirs.
    if (argc > 1 && qstrcmp(argv[1], "journal") == 0) {
        const TInitResult init = InitGlobConst();
        const bool ok = init == TInitResult::Ok;
        return runJournalCommand(argc, argv, ok ? DataFolder : QString(),
                                 ok ? IniFileName : QString());
    }

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
