#pragma once

#include "journal/JournalQuery.h"
#include "journal/JournalRecord.h"
#include "journal/JournalSource.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <utility>

class JournalModel;
class JournalReader;
class QComboBox;
class QDateEdit;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTableView;
class QTreeWidget;
class TJournalTotalsView;

// The page "Журнал заказов" of the main window: the orders of a period, newest first,
// filtered by kiosk and decision; the chosen order's invoice and prints; a copy of its
// receipt; the period's totals; both as CSV. It reads the journal a page at a time, so it
// never waits on the journal's writer and a large journal opens at once.
//
// Every read of the tab (the list's pages, the totals, the row of a copy in this
// console's file) goes in order to one thread of the tab with a reader of its own; the
// answers come back through the event loop, and one asked before the filters or the
// period changed is dropped. A read the journal holds up (a shared server that is busy
// or locked) holds up that thread only: the list says "Чтение журнала заказов…"
// meanwhile, and the console goes on taking orders.
//
// With a shared journal (source.shared()) it reads the orders of every console from the
// server, with a column of the console. The server is asked only in Refresh (the main
// window calls it when the operator turns to the tab, and "Обновить" does), never when the
// tab is made; a connection is made anew after one failed, and the list says so when the
// try ends.
//
// "Сохранить CSV" writes on a thread of its own too, through a reader of its own: a year
// of a big venue's orders takes seconds, and the console must go on taking orders
// meanwhile. lblJournalCsv shows how far it is; btnJournalCsvStop ends it, leaving no
// file behind, and so does the tab's end.
class TJournalTab : public QWidget {
    Q_OBJECT
public:
    // How long the tab's end waits for a read (with its connection try) or a CSV export
    // still under way: a little over the reader's connect timeout.
    static constexpr int kEndWaitMs = 6000;

    // The entries of cmbJournalPeriod, in order.
    enum Period { pdToday, pdYesterday, pdThisWeek, pdCustom };
    // Asks where to save a CSV file; an empty name means the operator changed their mind.
    using FileNameAsker = std::function<QString(QWidget* parent, const QString& suggested)>;

    explicit TJournalTab(const QString& dataFolder, const JournalSource& source = {},
                         QWidget* parent = nullptr);
    ~TJournalTab() override;

    // The orders [from, to) of a period entry, in local time; the week starts on Monday.
    // custom gives the first and last day of pdCustom.
    static std::pair<QDateTime, QDateTime>
    periodRange(Period period, const QDate& today, const QDate& customFrom, const QDate& customTo);
    // The list's query as the filters stand.
    JournalQuery currentQuery() const;

    // A copy of a receipt went to a printer as job (of ReceiptSpooler::instance()): the
    // main window, which knows the journal and the spooler, records the print of row, the
    // order's row in this console's own file; job 0: the copy was shown in the preview
    // window. Not called for an order of another console of the shared journal: that copy
    // is printed and recorded nowhere.
    std::function<void(qint64 rowId, int job, const QString& printer)> onReprintStarted;

    // Replaces the file dialog of "Сохранить CSV" (tests give the name directly).
    void setFileNameAsker(FileNameAsker asker) { m_askFileName = std::move(asker); }
    // Replaces the clock the periods are counted from (tests fix "today").
    void setClock(std::function<QDateTime()> now) { m_now = std::move(now); }

    JournalModel* model() const { return m_model; }
    // The order chosen in the list, or nullptr.
    const JournalRecord* selectedRecord() const;
    // An answer of the journal is awaited: the period's totals and first page, a next
    // page, or the row of a copy.
    bool isReading() const;

    QComboBox* cmbJournalPeriod = nullptr;
    QDateEdit* dtpJournalFrom = nullptr;
    QDateEdit* dtpJournalTo = nullptr;
    QComboBox* cbxJournalKiosk = nullptr;
    QComboBox* cbxJournalDecision = nullptr;
    QPushButton* btnJournalRefresh = nullptr;
    QPushButton* btnJournalCsv = nullptr;
    QPushButton* btnJournalCsvStop = nullptr;
    QLabel* lblJournalCsv = nullptr;
    QTabWidget* pgcJournal = nullptr;
    QWidget* tshJournalOrders = nullptr;
    QWidget* tshJournalTotals = nullptr;
    QLabel* lblJournalEmpty = nullptr;
    QTableView* lvJournal = nullptr;
    QPlainTextEdit* memJournalInvoice = nullptr;
    QTreeWidget* lvJournalPrints = nullptr;
    QPushButton* btnJournalReprint = nullptr;
    QLabel* lblJournalPrintState = nullptr;
    TJournalTotalsView* frmJournalTotals = nullptr;

public slots:
    // Reads the journal again with the filters as they stand.
    void Refresh();

signals:
    // An export is rowsSoFar orders along (on the window's thread, as lblJournalCsv shows it).
    void csvProgress(qint64 rowsSoFar);
    // The export ended: saved, stopped, or failed (the operator has been told).
    void csvFinished();

private:
    void cmbJournalPeriodChange();
    void lvJournalSelect();
    void btnJournalReprintClick();
    void btnJournalCsvClick();
    void btnJournalCsvStopClick();
    void listOrders();
    void fillKiosks(const QStringList& kiosks);
    void showDetails(const JournalRecord* record);
    void showEmpty(const QString& text);
    struct CsvExport;
    // Writes the CSV the operator names on a thread of its own: the list of query, or the
    // totals of its period.
    void saveCsv(const QString& suggested, const JournalQuery& query, bool totals);
    void showCsvProgress();
    void csvDone(const std::shared_ptr<CsvExport>& job);
    void endCsv();
    struct Reading;
    struct PeriodAnswer;
    // Hands task to the reading thread (started at the first), behind the tasks before.
    void read(std::function<void(Reading&)> task);
    void endReading();
    void readPeriod(bool renew);
    void periodRead(const PeriodAnswer& answer);
    void askPage(const JournalQuery& page, quint64 ticket);
    void pageRead(quint64 ticket, const QList<JournalRecord>& rows, const QString& error);
    // Finds the row of this console's own order of the shared journal in its file, then
    // prints the copy.
    void lookUpCopyRow(const JournalRecord& record);
    void reprint(const JournalRecord& record, qint64 row);
    // A reader of the tab's journal; a thread that reads makes its own.
    static std::unique_ptr<JournalReader> readerOf(const QString& folder,
                                                   const JournalSource& source);
    void showUnreadable(const QString& reason);
    QString unreadableText(const QString& reason) const;

    QString m_folder;
    JournalSource m_source;
    JournalModel* m_model = nullptr;
    FileNameAsker m_askFileName;
    std::function<QDateTime()> m_now;
    bool m_filling = false;    // filters set by the tab itself, not by the operator
    bool m_readable = false;   // the last Refresh could read the journal
    bool m_renew = true;       // the next read of the shared journal connects anew
    bool m_connecting = false; // a new connection to the shared journal is on its way
    // Numbers the period reads and the copies' row lookups; the one awaited of each is
    // kept (0: none), and an answer that is not it (the filters, the period or the list
    // changed since) is dropped. The list's pages have the model's tickets.
    quint64 m_generation = 0;
    quint64 m_periodAsked = 0;
    quint64 m_copyAsked = 0;
    std::shared_ptr<Reading> m_reading; // the reading thread and its queue
    std::shared_ptr<CsvExport> m_csv;   // the CSV being written, with its thread
};
