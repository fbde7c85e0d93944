#include "ui/JournalTab.h"

#include "common/GlobConst.h"
#include "common/RussianPlural.h"
#include "journal/JournalCsv.h"
#include "journal/JournalReader.h"
#include "journal/OrderJournal.h"
#include "platform/Error.h"
#include "printing/ReceiptPrint.h"
#include "ui/Boxes.h"
#include "ui/JournalModel.h"
#include "ui/JournalTotalsView.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLocale>
#include <QMutex>
#include <QMutexLocker>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>

namespace {

QString askFileName(QWidget* parent, const QString& suggested) {
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Сохранить CSV"), suggested,
                                        QStringLiteral("Таблица CSV (*.csv)"));
}

const QList<JournalDecision> kDecisionFilter{JournalDecision::Confirmed, JournalDecision::Cancelled,
                                             JournalDecision::Returned,  JournalDecision::Ended,
                                             JournalDecision::Closed,    JournalDecision::Open};

QString printerText(const JournalPrint& print) {
    if (!print.connection.isEmpty())
        return print.connection;
    return print.printerType == 0 ? QStringLiteral("Принтер страниц")
                                  : QStringLiteral("Принтер чеков");
}

// "12 000 заказов", as Russian says a count.
QString ordersText(qint64 count) {
    return QLocale(QLocale::Russian).toString(count) + QLatin1Char(' ') +
           russianPlural(count, QStringLiteral("заказ"), QStringLiteral("заказа"),
                         QStringLiteral("заказов"));
}

} // namespace

// What the tab and the thread writing a CSV share. The thread tells the tab how far it
// is through tab, under lock: the tab's end clears it before it lets the thread go, so a
// thread that outlives the wait never reaches a tab that is gone.
struct TJournalTab::CsvExport {
    enum Outcome { Saved, Stopped, Failed };

    QString path;
    bool totals = false;
    std::atomic<bool> stop{false};
    std::atomic<qint64> rows{0};
    // The rows told last have been shown: the next step is told again. A year of orders
    // is thousands of steps; the window needs only the latest.
    std::atomic<bool> shown{true};
    QMutex lock;
    TJournalTab* tab = nullptr; // under lock
    QPointer<QThread> thread;
    // Written by the thread before it ends, read by the tab after QThread::finished.
    Outcome outcome = Failed;
    QString reason;
};

TJournalTab::TJournalTab(const QString& dataFolder, const JournalSource& source, QWidget* parent)
    : QWidget(parent)
    , m_folder(dataFolder)
    , m_source(source)
    , m_askFileName(askFileName)
    , m_now([] { return QDateTime::currentDateTime(); }) {
    setObjectName(QStringLiteral("tshJournal"));
    m_model = new JournalModel(this);
    m_model->setPageAsker(
        [this](const JournalQuery& page, quint64 ticket) { askPage(page, ticket); });
    m_model->setShowConsole(m_source.shared());

    auto* root = new QVBoxLayout(this);
    auto* filters = new QHBoxLayout;
    root->addLayout(filters);

    cmbJournalPeriod = new QComboBox(this);
    cmbJournalPeriod->setObjectName(QStringLiteral("cmbJournalPeriod"));
    cmbJournalPeriod->addItems({QStringLiteral("Сегодня"), QStringLiteral("Вчера"),
                                QStringLiteral("Эта неделя"), QStringLiteral("Период…")});
    filters->addWidget(cmbJournalPeriod);

    const QDate today = m_now().date();
    dtpJournalFrom = new QDateEdit(today, this);
    dtpJournalFrom->setObjectName(QStringLiteral("dtpJournalFrom"));
    dtpJournalFrom->setCalendarPopup(true);
    dtpJournalTo = new QDateEdit(today, this);
    dtpJournalTo->setObjectName(QStringLiteral("dtpJournalTo"));
    dtpJournalTo->setCalendarPopup(true);
    filters->addWidget(dtpJournalFrom);
    filters->addWidget(new QLabel(QStringLiteral("—"), this));
    filters->addWidget(dtpJournalTo);

    cbxJournalKiosk = new QComboBox(this);
    cbxJournalKiosk->setObjectName(QStringLiteral("cbxJournalKiosk"));
    cbxJournalKiosk->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    cbxJournalKiosk->addItem(QStringLiteral("Все киоски"));
    filters->addWidget(cbxJournalKiosk);

    cbxJournalDecision = new QComboBox(this);
    cbxJournalDecision->setObjectName(QStringLiteral("cbxJournalDecision"));
    cbxJournalDecision->addItem(QStringLiteral("Все решения"));
    for (const JournalDecision d : kDecisionFilter)
        cbxJournalDecision->addItem(JournalModel::decisionText(d), static_cast<int>(d));
    filters->addWidget(cbxJournalDecision);
    filters->addStretch(1);

    btnJournalRefresh = new QPushButton(QStringLiteral("Обновить"), this);
    btnJournalRefresh->setObjectName(QStringLiteral("btnJournalRefresh"));
    filters->addWidget(btnJournalRefresh);

    btnJournalCsv = new QPushButton(QStringLiteral("Сохранить CSV"), this);
    btnJournalCsv->setObjectName(QStringLiteral("btnJournalCsv"));
    filters->addWidget(btnJournalCsv);
    lblJournalCsv = new QLabel(this);
    lblJournalCsv->setObjectName(QStringLiteral("lblJournalCsv"));
    filters->addWidget(lblJournalCsv);
    btnJournalCsvStop = new QPushButton(QStringLiteral("Остановить"), this);
    btnJournalCsvStop->setObjectName(QStringLiteral("btnJournalCsvStop"));
    btnJournalCsvStop->hide();
    filters->addWidget(btnJournalCsvStop);

    pgcJournal = new QTabWidget(this);
    pgcJournal->setObjectName(QStringLiteral("pgcJournal"));
    root->addWidget(pgcJournal, 1);

    tshJournalOrders = new QWidget;
    tshJournalOrders->setObjectName(QStringLiteral("tshJournalOrders"));
    auto* orders = new QVBoxLayout(tshJournalOrders);
    lblJournalEmpty = new QLabel(tshJournalOrders);
    lblJournalEmpty->setObjectName(QStringLiteral("lblJournalEmpty"));
    lblJournalEmpty->hide();
    orders->addWidget(lblJournalEmpty);

    auto* splitter = new QSplitter(Qt::Horizontal, tshJournalOrders);
    orders->addWidget(splitter, 1);
    lvJournal = new QTableView(splitter);
    lvJournal->setObjectName(QStringLiteral("lvJournal"));
    lvJournal->setModel(m_model);
    lvJournal->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvJournal->setSelectionMode(QAbstractItemView::SingleSelection);
    lvJournal->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvJournal->verticalHeader()->hide();
    lvJournal->horizontalHeader()->setStretchLastSection(true);
    splitter->addWidget(lvJournal);

    auto* details = new QWidget(splitter);
    auto* detailsLayout = new QVBoxLayout(details);
    detailsLayout->setContentsMargins(0, 0, 0, 0);
    memJournalInvoice = new QPlainTextEdit(details);
    memJournalInvoice->setObjectName(QStringLiteral("memJournalInvoice"));
    memJournalInvoice->setReadOnly(true);
    memJournalInvoice->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    memJournalInvoice->setLineWrapMode(QPlainTextEdit::NoWrap);
    detailsLayout->addWidget(memJournalInvoice, 2);
    lvJournalPrints = new QTreeWidget(details);
    lvJournalPrints->setObjectName(QStringLiteral("lvJournalPrints"));
    lvJournalPrints->setRootIsDecorated(false);
    lvJournalPrints->setHeaderLabels(
        {QStringLiteral("Время"), QStringLiteral("Принтер"), QStringLiteral("Итог")});
    detailsLayout->addWidget(lvJournalPrints, 1);
    auto* printRow = new QHBoxLayout;
    btnJournalReprint = new QPushButton(QStringLiteral("Печать копии"), details);
    btnJournalReprint->setObjectName(QStringLiteral("btnJournalReprint"));
    btnJournalReprint->setEnabled(false);
    printRow->addWidget(btnJournalReprint);
    lblJournalPrintState = new QLabel(details);
    lblJournalPrintState->setObjectName(QStringLiteral("lblJournalPrintState"));
    printRow->addWidget(lblJournalPrintState, 1);
    detailsLayout->addLayout(printRow);
    splitter->addWidget(details);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    pgcJournal->addTab(tshJournalOrders, QStringLiteral("Заказы"));

    tshJournalTotals = new QWidget;
    tshJournalTotals->setObjectName(QStringLiteral("tshJournalTotals"));
    auto* totals = new QVBoxLayout(tshJournalTotals);
    totals->setContentsMargins(0, 0, 0, 0);
    frmJournalTotals = new TJournalTotalsView(tshJournalTotals);
    totals->addWidget(frmJournalTotals);
    pgcJournal->addTab(tshJournalTotals, QStringLiteral("Итоги"));

    cmbJournalPeriodChange();
    connect(cmbJournalPeriod, &QComboBox::currentIndexChanged, this, [this] {
        cmbJournalPeriodChange();
        Refresh();
    });
    for (QDateEdit* edit : {dtpJournalFrom, dtpJournalTo})
        connect(edit, &QDateEdit::dateChanged, this, [this] {
            if (cmbJournalPeriod->currentIndex() == pdCustom)
                Refresh();
        });
    // Kiosk and decision narrow the list only: the totals and the kiosks offered are those
    // of the period, which takes a pass over all its orders and is not read again for them.
    for (QComboBox* box : {cbxJournalKiosk, cbxJournalDecision})
        connect(box, &QComboBox::currentIndexChanged, this, [this] {
            if (m_filling)
                return;
            if (m_readable)
                listOrders();
            else if (m_periodAsked != 0)
                // The period on its way was asked with the filter before: it is asked again.
                Refresh();
        });
    connect(lvJournal->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { lvJournalSelect(); });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] { lvJournalSelect(); });
    connect(btnJournalReprint, &QPushButton::clicked, this, [this] { btnJournalReprintClick(); });
    connect(btnJournalCsv, &QPushButton::clicked, this, [this] { btnJournalCsvClick(); });
    connect(btnJournalCsvStop, &QPushButton::clicked, this, [this] { btnJournalCsvStopClick(); });
    connect(btnJournalRefresh, &QPushButton::clicked, this, [this] { Refresh(); });

    // The file is read at once; the server only when asked (see the class).
    if (!m_source.shared())
        Refresh();
}

TJournalTab::~TJournalTab() {
    endCsv();
    endReading();
    // The views going with the tab ask for nothing more.
    m_model->setPageAsker({});
}

std::pair<QDateTime, QDateTime> TJournalTab::periodRange(Period period, const QDate& today,
                                                         const QDate& customFrom,
                                                         const QDate& customTo) {
    const auto at = [](const QDate& day) { return QDateTime(day, QTime(0, 0)); };
    switch (period) {
    case pdToday:
        return {at(today), at(today.addDays(1))};
    case pdYesterday:
        return {at(today.addDays(-1)), at(today)};
    case pdThisWeek: {
        const QDate monday = today.addDays(1 - today.dayOfWeek());
        return {at(monday), at(monday.addDays(7))};
    }
    case pdCustom:
        break;
    }
    // Days given the wrong way round still mean the days between them.
    const QDate first = std::min(customFrom, customTo);
    const QDate last = std::max(customFrom, customTo);
    return {at(first), at(last.addDays(1))};
}

JournalQuery TJournalTab::currentQuery() const {
    JournalQuery query;
    const auto [from, to] =
        periodRange(static_cast<Period>(cmbJournalPeriod->currentIndex()), m_now().date(),
                    dtpJournalFrom->date(), dtpJournalTo->date());
    query.from = from;
    query.to = to;
    if (cbxJournalKiosk->currentIndex() > 0)
        query.kiosk = cbxJournalKiosk->currentText();
    if (cbxJournalDecision->currentIndex() > 0)
        query.decision = static_cast<JournalDecision>(cbxJournalDecision->currentData().toInt());
    return query;
}

bool TJournalTab::isReading() const {
    return m_periodAsked != 0 || m_copyAsked != 0 || m_model->pending();
}

const JournalRecord* TJournalTab::selectedRecord() const {
    const QModelIndex current = lvJournal->selectionModel()->currentIndex();
    if (!current.isValid() || current.row() >= m_model->rowCount())
        return nullptr;
    return &m_model->record(current.row());
}

void TJournalTab::Refresh() {
    lblJournalPrintState->clear();
    if (m_folder.isEmpty()) {
        // Without a data folder the journal's name would be taken in whatever folder the
        // console was started from.
        showEmpty(QStringLiteral("Журнал заказов не ведётся: нет папки данных"));
        return;
    }
    if (!m_source.shared() && !QFileInfo::exists(OrderJournal::fileName(m_folder))) {
        // No order window has been recorded yet: nothing has gone wrong.
        showEmpty(QStringLiteral("Журнал пока пуст"));
        return;
    }
    // A connection that failed, or one the server has dropped since, is not tried again
    // by its reader: a new reader connects anew.
    readPeriod(m_source.shared() && m_renew);
}

void TJournalTab::listOrders() {
    m_copyAsked = 0;
    lblJournalEmpty->setText(QStringLiteral("Чтение журнала заказов…"));
    lblJournalEmpty->show();
    m_model->setQuery(currentQuery());
}

void TJournalTab::showEmpty(const QString& text) {
    // Whatever was asked before is not shown now.
    m_periodAsked = 0;
    m_copyAsked = 0;
    m_readable = false;
    m_model->clear();
    frmJournalTotals->setSummary({}, QString());
    lblJournalEmpty->setText(text);
    lblJournalEmpty->show();
}

void TJournalTab::fillKiosks(const QStringList& kiosks) {
    // The kiosk chosen stays chosen even when the new period has none of its orders.
    const QString chosen =
        cbxJournalKiosk->currentIndex() > 0 ? cbxJournalKiosk->currentText() : QString();
    QStringList names = kiosks;
    if (!chosen.isEmpty() && !names.contains(chosen))
        names << chosen;
    names.sort(Qt::CaseInsensitive);
    m_filling = true;
    cbxJournalKiosk->clear();
    cbxJournalKiosk->addItem(QStringLiteral("Все киоски"));
    cbxJournalKiosk->addItems(names);
    if (!chosen.isEmpty())
        cbxJournalKiosk->setCurrentIndex(static_cast<int>(names.indexOf(chosen)) + 1);
    m_filling = false;
}

void TJournalTab::cmbJournalPeriodChange() {
    const bool custom = cmbJournalPeriod->currentIndex() == pdCustom;
    dtpJournalFrom->setEnabled(custom);
    dtpJournalTo->setEnabled(custom);
}

void TJournalTab::lvJournalSelect() {
    showDetails(selectedRecord());
}

void TJournalTab::showDetails(const JournalRecord* record) {
    lvJournalPrints->clear();
    if (!record) {
        memJournalInvoice->clear();
        btnJournalReprint->setEnabled(false);
        return;
    }
    memJournalInvoice->setPlainText(record->invoice);
    for (const JournalPrint& print : record->prints) {
        auto* item = new QTreeWidgetItem(lvJournalPrints);
        item->setText(0, print.at.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")));
        item->setText(1, printerText(print));
        item->setText(2, print.printed             ? QStringLiteral("Напечатан")
                         : print.outcome.isEmpty() ? QStringLiteral("Не напечатан")
                                                   : print.outcome);
    }
    btnJournalReprint->setEnabled(!record->document.isEmpty() || !record->invoice.isEmpty());
}

void TJournalTab::btnJournalReprintClick() {
    const JournalRecord* chosen = selectedRecord();
    if (!chosen || m_copyAsked != 0)
        return;
    // A copy: a dialog of the print command lets the list be read again meanwhile.
    const JournalRecord record = *chosen;
    if (!m_source.shared()) {
        reprint(record, record.id);
        return;
    }
    if (record.console != m_source.console || m_folder.isEmpty()) {
        reprint(record, 0);
        return;
    }
    // This console's order of the shared journal: its row in this console's file is
    // looked up on the reading thread first, and the copy printed when it is known.
    lookUpCopyRow(record);
}

void TJournalTab::reprint(const JournalRecord& record, qint64 row) {
    QPointer<TJournalTab> self(this);
    QString error;
    try {
        const std::optional<ReceiptStart> started = RunPrintCommand(
            this, IniFileName, record.document, record.invoice.split(QLatin1Char('\n')));
        if (!self || !started)
            return;
        if (started->job == 0) {
            // Shown in the preview, not printed; recorded as the order window records it.
            lblJournalPrintState->setText(QStringLiteral("Чек открыт в окне просмотра"));
            if (row != 0 && onReprintStarted)
                onReprintStarted(row, 0, started->printer);
            return;
        }
        if (row == 0) {
            lblJournalPrintState->setText(
                QStringLiteral("Печать копии: %1 (заказ кассы «%2», в журнал не записана)")
                    .arg(started->printer, record.console));
            return;
        }
        lblJournalPrintState->setText(QStringLiteral("Печать копии: %1").arg(started->printer));
        if (onReprintStarted)
            onReprintStarted(row, started->job, started->printer);
        return;
    } catch (const orvanta::Exception& e) {
        error = e.message();
    } catch (const std::exception& e) {
        // A failure of the XML or the print system ends the command, not the program.
        error = QString::fromLocal8Bit(e.what());
    }
    if (self)
        showMessageBox(this, QMessageBox::Critical, QStringLiteral("Ошибка"), error);
}

void TJournalTab::btnJournalCsvClick() {
    if (m_csv)
        return;
    const JournalQuery query = currentQuery();
    const QString from = query.from.toString(QStringLiteral("yyyy-MM-dd"));
    const QString last = query.to.addDays(-1).toString(QStringLiteral("yyyy-MM-dd"));
    const QString days = from == last ? from : from + QLatin1Char('-') + last;
    if (pgcJournal->currentWidget() == tshJournalTotals)
        saveCsv(QStringLiteral("итоги-%1.csv").arg(days), query, true);
    else
        saveCsv(QStringLiteral("журнал-%1.csv").arg(days), query, false);
}

void TJournalTab::saveCsv(const QString& suggested, const JournalQuery& query, bool totals) {
    QPointer<TJournalTab> self(this);
    const QString path = m_askFileName(this, suggested);
    if (!self || path.isEmpty() || m_csv)
        return;
    auto job = std::make_shared<CsvExport>();
    job->path = path;
    job->totals = totals;
    job->tab = this;
    // The reader's connection belongs to the thread that makes it: the thread makes its
    // own, from what the tab's own is made of. The file takes the place of an old one
    // only when it is whole.
    QThread* thread = QThread::create([job, folder = m_folder, source = m_source, query] {
        // The whole period in one statement may take the server longer than a page may;
        // this thread may wait, and "Остановить" ends the saving when the rows come.
        JournalSource exportSource = source;
        exportSource.statementTimeoutMs = 0;
        const std::unique_ptr<JournalReader> reader = readerOf(folder, exportSource);
        const auto goOn = [&job](qint64 rows) {
            job->rows = rows;
            if (job->shown.exchange(false)) {
                QMutexLocker locker(&job->lock);
                if (TJournalTab* tab = job->tab)
                    QMetaObject::invokeMethod(
                        tab, [tab] { tab->showCsvProgress(); }, Qt::QueuedConnection);
            }
            return !job->stop;
        };
        QSaveFile file(job->path);
        if (!file.open(QIODevice::WriteOnly)) {
            job->reason = file.errorString();
        } else if (!(job->totals ? JournalCsv::writeSummary(*reader, query.from, query.to, file)
                                 : JournalCsv::write(*reader, query, file, goOn))) {
            job->reason =
                file.error() != QFileDevice::NoError ? file.errorString() : reader->lastError();
        } else if (job->stop) {
            // The totals are one question to the journal, not stopped in the middle;
            // a stop meanwhile still keeps their file from being put in place.
        } else if (file.commit()) {
            job->outcome = CsvExport::Saved;
        } else {
            job->reason = file.errorString();
        }
        if (job->outcome == CsvExport::Saved)
            return;
        file.cancelWriting();
        if (job->stop)
            job->outcome = CsvExport::Stopped;
    });
    job->thread = thread;
    m_csv = job;
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(thread, &QThread::finished, this, [this, job] { csvDone(job); });
    btnJournalCsv->setEnabled(false);
    btnJournalCsvStop->setEnabled(true);
    btnJournalCsvStop->show();
    lblJournalCsv->setText(totals ? QStringLiteral("Сохранение CSV: итоги…")
                                  : QStringLiteral("Сохранение CSV…"));
    thread->start();
}

void TJournalTab::showCsvProgress() {
    if (!m_csv)
        return;
    m_csv->shown = true;
    const qint64 rows = m_csv->rows;
    lblJournalCsv->setText(QStringLiteral("Сохранение CSV: %1…").arg(ordersText(rows)));
    emit csvProgress(rows);
}

void TJournalTab::btnJournalCsvStopClick() {
    if (!m_csv)
        return;
    m_csv->stop = true;
    btnJournalCsvStop->setEnabled(false);
}

void TJournalTab::csvDone(const std::shared_ptr<CsvExport>& job) {
    if (m_csv == job)
        m_csv.reset();
    btnJournalCsv->setEnabled(true);
    btnJournalCsvStop->hide();
    switch (job->outcome) {
    case CsvExport::Saved: {
        // The file's name, its folder in the tip: a long path in the row of the filters
        // would widen the whole main window.
        const QString name = QFileInfo(job->path).fileName();
        lblJournalCsv->setText(
            job->totals ? QStringLiteral("Сохранено: %1").arg(name)
                        : QStringLiteral("Сохранено: %1 (%2)").arg(name, ordersText(job->rows)));
        lblJournalCsv->setToolTip(QDir::toNativeSeparators(job->path));
        emit csvFinished();
        return;
    }
    case CsvExport::Stopped:
        lblJournalCsv->setText(QStringLiteral("Сохранение CSV остановлено"));
        emit csvFinished();
        return;
    case CsvExport::Failed:
        break;
    }
    lblJournalCsv->clear();
    emit csvFinished();
    showMessageBox(this, QMessageBox::Critical, QStringLiteral("Ошибка"),
                   QStringLiteral("Не удалось сохранить файл\n%1\n%2").arg(job->path, job->reason));
}

void TJournalTab::endCsv() {
    if (!m_csv)
        return;
    // The writing checks the stop between rows and ends at once; only a shared journal's
    // server that does not answer can keep it longer, as it keeps a connection try.
    m_csv->stop = true;
    {
        QMutexLocker locker(&m_csv->lock);
        m_csv->tab = nullptr;
    }
    if (m_csv->thread && m_csv->thread->isRunning())
        m_csv->thread->wait(QDeadlineTimer(kEndWaitMs));
    m_csv.reset();
}
