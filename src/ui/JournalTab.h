#pragma once

#include "journal/JournalQuery.h"
#include "journal/JournalRecord.h"
#include "journal/JournalSource.h"

#include <QDate>
#include <QDateTime>
#include <QPointer>
#include <QString>
#include <QThread>
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
// receipt; the period's totals; both as CSV. It reads the journal through a reader of
// its own on the main thread, a page at a time, so it never waits on the journal's
// writer and a large journal opens at once.
//
// With a shared journal (source.shared()) it reads the orders of every console from the
// server, with a column of the console. The server is asked only in Refresh (the main
// window calls it when the operator turns to the tab, and "Обновить" does), never when the
// tab is made; a new connection is tried on a thread of its own first, so a server that
// does not answer never holds the window up: the list says so when the try ends.
//
// "Сохранить CSV" writes on a thread of its own too, through a reader of its own: a year
// of a big venue's orders takes seconds, and the console must go on taking orders
// meanwhile. lblJournalCsv shows how far it is; btnJournalCsvStop ends it, leaving no
// file behind, and so does the tab's end.
class TJournalTab : public QWidget {
    Q_OBJECT
public:
    // How long the tab's end waits for a connection try still under way: a little over
    // the reader's connect timeout.
    static constexpr int kProbeEndWaitMs = 6000;

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
    // order's row in this console's own file. Not called for an order of another console
    // of the shared journal: that copy is printed and recorded nowhere.
    std::function<void(qint64 rowId, int job, const QString& printer)> onReprintStarted;

    // Replaces the file dialog of "Сохранить CSV" (tests give the name directly).
    void setFileNameAsker(FileNameAsker asker) { m_askFileName = std::move(asker); }
    // Replaces the clock the periods are counted from (tests fix "today").
    void setClock(std::function<QDateTime()> now) { m_now = std::move(now); }

    JournalModel* model() const { return m_model; }
    // The order chosen in the list, or nullptr.
    const JournalRecord* selectedRecord() const;

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
    void connectShared();
    void readJournal();
    void renewReader();
    QString unreadableText(const QString& reason) const;
    // The row of record in this console's own file; 0 when it has none there.
    qint64 localRowOf(const JournalRecord& record) const;

    QString m_folder;
    JournalSource m_source;
    std::unique_ptr<JournalReader> m_reader;
    JournalModel* m_model = nullptr;
    FileNameAsker m_askFileName;
    std::function<QDateTime()> m_now;
    bool m_filling = false;           // filters set by the tab itself, not by the operator
    bool m_readable = false;          // the last Refresh could read the journal
    bool m_connecting = false;        // a connection to the shared journal is being tried
    QPointer<QThread> m_probe;        // the thread trying it
    std::shared_ptr<CsvExport> m_csv; // the CSV being written, with its thread
};
