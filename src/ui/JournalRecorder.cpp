#include "ui/JournalRecorder.h"

#include "core/IniFile.h"
#include "kiosk/ClientThread.h"
#include "printing/PrintSettings.h"
#include "printing/ReceiptSpooler.h"
#include "printing/XMLUtils.h"

#include <QDateTime>
#include <QPointer>
#include <QSysInfo>
#include <QTimer>

#include <exception>

namespace {
const QString kJournalSection = QStringLiteral("Journal");
} // namespace

JournalRecorder::JournalRecorder(const QString& folder, const QString& iniFileName, QObject* parent)
    : QObject(parent) {
    m_console = QSysInfo::machineHostName();
    if (!iniFileName.isEmpty()) {
        const TIniFile ini(iniFileName);
        m_keepDays = ini.ReadInteger(kJournalSection, QStringLiteral("KeepDays"), kDefaultKeepDays);
        m_console = ini.ReadString(kJournalSection, QStringLiteral("Console"), m_console);
    }
    // Nothing or less than a day would delete today's orders at once.
    if (m_keepDays < 1)
        m_keepDays = kDefaultKeepDays;
    if (folder.isEmpty())
        return;

    JournalOptions options;
    options.keepDays = m_keepDays;
    options.orderName = &JournalRecorder::orderName;
    QPointer<JournalRecorder> self(this);
    const auto tell = [self](const QString& text) {
        if (self)
            emit self->failed(text);
    };
    m_journal = std::make_unique<OrderJournal>(folder, options, tell);

    // A shared journal: the local file stays where every row is written first; the
    // forwarder hands the rows on whenever the server answers.
    const JournalSource source = JournalSource::fromIni(iniFileName);
    if (source.shared()) {
        if (!source.error.isEmpty()) {
            QTimer::singleShot(0, this, [this, error = source.error] { emit failed(error); });
        } else {
            m_forwarder =
                std::make_unique<JournalForwarder>(folder, source, JournalForwarderOptions{}, tell);
            JournalForwarder* forwarder = m_forwarder.get();
            m_journal->setWrittenHandler([forwarder] { forwarder->wake(); });
        }
    }

    // The journal prunes at every start; a console that runs for months prunes daily.
    m_prune = new QTimer(this);
    m_prune->setInterval(kPruneIntervalMs);
    connect(m_prune, &QTimer::timeout, this, [this] { m_journal->prune(); });
    m_prune->start();

    connect(&ReceiptSpooler::instance(), &ReceiptSpooler::finished, this,
            &JournalRecorder::receiptFinished);
}

JournalRecorder::~JournalRecorder() {
    if (!m_journal)
        return;
    // The console is ending: what is queued gets a bounded moment to reach the file, and
    // the journal's own end tries once more for anything left.
    [[maybe_unused]] const bool written = m_journal->flush(kExitFlushMs);
    m_journal.reset();
    m_forwarder.reset();
}

QString JournalRecorder::orderName(const QString& document) {
    if (document.isEmpty())
        return {};
    try {
        auto xml = CreateXMLDocument();
        xml->SetAsync(false);
        if (!xml->LoadXML(document))
            return {};
        return GetXPathText(*xml, QStringLiteral("/order/name")).trimmed();
    } catch (const std::exception&) {
        // A name is worth a row, not a failed order window.
        return {};
    }
}

OrderJournal::Handle JournalRecorder::orderOpened(TDeviceItem& device) {
    if (!m_journal)
        return 0;
    JournalRecord record;
    record.console = m_console;
    record.kiosk = device.Name;
    record.address = QStringLiteral("%1:%2").arg(device.Address()).arg(device.Port());
    // UTC: the journal keeps instants, and local time would ask the zone on this thread.
    record.opened = QDateTime::currentDateTimeUtc();
    {
        TDeviceLock lock(device);
        record.sum = device.OrderBilled;
        record.invoice = device.Invoice;
        record.document = device.OrderXML;
    }
    // The name is read from the document on the journal's thread (options.orderName).
    return m_journal->orderOpened(record);
}

void JournalRecorder::orderDecided(OrderJournal::Handle handle, JournalDecision decision,
                                   double waitSeconds) {
    if (!m_journal || handle == 0)
        return;
    m_journal->orderDecided(handle, decision, QDateTime::currentDateTimeUtc(), waitSeconds);
}

namespace {
JournalPrint shownPrint(const QString& printer) {
    JournalPrint print;
    print.at = QDateTime::currentDateTimeUtc();
    print.printerType = PrinterType;
    print.connection = printer;
    print.printed = false;
    print.outcome = QStringLiteral("Чек открыт в окне просмотра");
    return print;
}
} // namespace

void JournalRecorder::receiptShown(OrderJournal::Handle handle, const QString& printer) {
    if (!m_journal || handle == 0)
        return;
    m_journal->orderPrinted(handle, shownPrint(printer));
}

void JournalRecorder::receiptStarted(OrderJournal::Handle handle, int job) {
    if (!m_journal || handle == 0 || job == 0)
        return;
    // The printer type of the moment the receipt was composed: the settings may change
    // while a slow printer still works on it.
    m_receipts.insert(job, PendingReceipt{handle, PrinterType});
}

void JournalRecorder::reprintStarted(qint64 rowId, int job, const QString& printer) {
    if (!m_journal || rowId == 0)
        return;
    if (job == 0) {
        m_journal->reprinted(rowId, shownPrint(printer));
        return;
    }
    m_receipts.insert(job, PendingReceipt{0, PrinterType, rowId});
}

void JournalRecorder::receiptFinished(int job, const ReceiptOutcome& outcome) {
    const auto it = m_receipts.constFind(job);
    if (it == m_receipts.constEnd())
        return;
    const PendingReceipt pending = *it;
    m_receipts.erase(it);
    JournalPrint print;
    print.at = QDateTime::currentDateTimeUtc();
    print.printerType = pending.printerType;
    print.connection = outcome.printer;
    print.printed = outcome.ok;
    if (outcome.cancelled)
        print.outcome = QStringLiteral("Печать чека остановлена");
    else if (!outcome.ok)
        print.outcome = outcome.error;
    if (pending.rowId != 0)
        m_journal->reprinted(pending.rowId, print);
    else
        m_journal->orderPrinted(pending.handle, print);
}

void JournalRecorder::kioskState(const TDeviceItem& device, TThreadState state) {
    if (!m_journal)
        return;
    const bool linked = m_linked.value(&device, false);
    switch (state) {
    case tsConnected:
        // Said again after the version was accepted and on the way back from an order;
        // one event per connection.
        if (!linked)
            recordEvent(device, JournalEventKind::Connected, QString());
        m_linked.insert(&device, true);
        break;
    case tsDisconnected:
    case tsError:
        // A kiosk that never answered is not lost at every retry; only a connection that
        // stood is, and not one the operator ended by disabling the kiosk.
        if (linked && device.Enabled())
            recordEvent(device, JournalEventKind::Lost, device.Health().lastError);
        m_linked.insert(&device, false);
        break;
    case tsObsoleteVersion:
        recordEvent(device, JournalEventKind::Refused, device.Version().VersionStr());
        m_linked.insert(&device, false);
        break;
    default:
        break;
    }
}

void JournalRecorder::kioskRemoved(const TDeviceItem* device) {
    m_linked.remove(device);
}

void JournalRecorder::recordEvent(const TDeviceItem& device, JournalEventKind kind,
                                  const QString& text) {
    JournalEvent event;
    event.at = QDateTime::currentDateTimeUtc();
    event.kiosk = device.Name;
    event.kind = kind;
    event.text = text;
    m_journal->kioskEvent(event);
}

bool JournalRecorder::flush(int ms) {
    return !m_journal || m_journal->flush(ms);
}
