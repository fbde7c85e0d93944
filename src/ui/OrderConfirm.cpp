#include "ui/OrderConfirm.h"

#include "common/GlobConst.h"
#include "kiosk/ClientThread.h"
#include "platform/Error.h"
#include "printing/ReceiptPrint.h"
#include "printing/ReceiptSpooler.h"
#include "ui/Boxes.h"
#include "ui/WindowFont.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <exception>

namespace {

// Delphi's "%.2d": at least two digits, the sign in front of them.
QString twoDigits(qint64 value) {
    const QString digits =
        QString::number(value < 0 ? -value : value).rightJustified(2, QLatin1Char('0'));
    return value < 0 ? QLatin1Char('-') + digits : digits;
}

const TVersion& resumeVersion() {
    static const TVersion v(QStringLiteral("6.3.0.0"));
    return v;
}

// The error of a print command, over its order window while that still exists. The box
// lives on the heap: the main window may destroy the order window (end of payment) while
// the box is open, and a box on the stack would then be deleted by its parent as well.
void showPrintError(const QPointer<TfrmOrderConfirm>& window, const QString& text) {
    showMessageBox(window.data(), QMessageBox::Critical, QStringLiteral("Ошибка"), text);
}

} // namespace

QString OrderSumText(double orderBilled) {
    // A sum too large for the roubles field, or not a number at all, is as good as
    // an unreadable one.
    if (!std::isfinite(orderBilled) || std::fabs(orderBilled) > 1e15)
        orderBilled = -1.0;
    const double whole = std::trunc(orderBilled);
    auto roubles = static_cast<qint64>(whole);
    // nearbyint follows the default rounding mode: to nearest, halves to even.
    auto kopecks = static_cast<qint64>(std::nearbyint((orderBilled - whole) * 100.0));
    // 12.996 would otherwise read "12 руб. 100 коп.".
    if (kopecks >= 100 || kopecks <= -100) {
        const qint64 sign = kopecks > 0 ? 1 : -1;
        roubles += sign;
        kopecks -= sign * 100;
    }
    return QStringLiteral("Сумма заказа: %1 руб. %2 коп.").arg(roubles).arg(twoDigits(kopecks));
}

TfrmOrderConfirm::TfrmOrderConfirm(QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("frmOrderConfirm"));
    setAttribute(Qt::WA_DeleteOnClose);
    ApplyWindowFont(this);
    setFixedSize(642, 416);

    lblTitle = new QLabel(this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblTitle->setGeometry(13, 8, 616, 27);
    lblTitle->setAlignment(Qt::AlignCenter);
    {
        QFont f(QStringLiteral("Lucida Sans Unicode"));
        f.setPixelSize(24);
        lblTitle->setFont(f);
        QPalette pal = lblTitle->palette();
        pal.setColor(QPalette::WindowText, Qt::blue);
        lblTitle->setPalette(pal);
    }

    memInvoice = new QPlainTextEdit(this);
    memInvoice->setObjectName(QStringLiteral("memInvoice"));
    memInvoice->setGeometry(13, 43, 616, 231);
    memInvoice->setReadOnly(true);
    memInvoice->setLineWrapMode(QPlainTextEdit::NoWrap);
    memInvoice->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memInvoice->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    {
        QFont f(QStringLiteral("Lucida Console"));
        f.setStyleHint(QFont::Monospace);
        f.setPixelSize(12);
        memInvoice->setFont(f);
    }
    // The form sees the keys first, also those typed into the invoice.
    memInvoice->installEventFilter(this);

    auto makeButton = [this](const char* name, const QString& text, const QRect& geometry) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(geometry);
        // Keys reach the buttons only through the form, which decides on a fresh press
        // alone: a button that took the keyboard, or clicked on Enter as a default button
        // does, would act on a key held down from the order before.
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoDefault(false);
        b->setDefault(false);
        return b;
    };
    const int bottom = 416 - 13;
    btnAccept = makeButton("btnAccept", QStringLiteral("Исполнить заказ (Enter)"),
                           QRect(13, bottom - 100, 150, 100));
    btnPrint = makeButton("btnPrint", QStringLiteral("Печать"), QRect(246, bottom - 100, 150, 46));
    btnResumeOrder = makeButton("btnResumeOrder", QStringLiteral("Вернуться в заказ"),
                                QRect(246, bottom - 46, 150, 46));
    btnDeny = makeButton("btnDeny", QStringLiteral("Отменить заказ (Esc)"),
                         QRect(479, bottom - 100, 150, 100));

    // The receipt on its way to the printer, in the strip between the invoice and the
    // buttons: the operator sees it move and may stop it, and may decide the order meanwhile.
    const int stripTop = 43 + 231 + 5;
    lblPrintState = new QLabel(this);
    lblPrintState->setObjectName(QStringLiteral("lblPrintState"));
    lblPrintState->setGeometry(13, stripTop, 616, 20);
    prbPrint = new QProgressBar(this);
    prbPrint->setObjectName(QStringLiteral("prbPrint"));
    prbPrint->setGeometry(13 + 616 - 90 - 6 - 200, stripTop, 200, 20);
    prbPrint->setRange(0, 1000);
    prbPrint->setTextVisible(false);
    prbPrint->hide();
    btnPrintCancel = makeButton("btnPrintCancel", QStringLiteral("Отмена"),
                                QRect(13 + 616 - 90, stripTop - 1, 90, 22));
    btnPrintCancel->setToolTip(QStringLiteral("Остановить печать чека и отрезать бумагу"));
    btnPrintCancel->hide();
    connect(btnPrintCancel, &QPushButton::clicked, this, [this] {
        if (FPrintJob)
            ReceiptSpooler::instance().cancel(FPrintJob);
    });
    ReceiptSpooler& spooler = ReceiptSpooler::instance();
    connect(&spooler, &ReceiptSpooler::progress, this, &TfrmOrderConfirm::receiptProgress);
    connect(&spooler, &ReceiptSpooler::finished, this, &TfrmOrderConfirm::receiptFinished);

    fitCaptions();

    // How long the customer has waited, in the free corner of the title row.
    lblWaiting = new QLabel(this);
    lblWaiting->setObjectName(QStringLiteral("lblWaiting"));
    lblWaiting->setGeometry(629 - 80, 8, 80, 27);
    lblWaiting->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblWaiting->setToolTip(QStringLiteral("Время ожидания покупателя"));
    FWaiting.start();
    updateWaiting();

    for (QPushButton* b : {btnAccept, btnDeny, btnResumeOrder})
        connect(b, &QPushButton::clicked, this, [this, b] { btnAcceptClick(b); });
    connect(btnPrint, &QPushButton::clicked, this, [this] { btnPrintClick(btnPrint); });

    timKeepAlive = new QTimer(this);
    timKeepAlive->setObjectName(QStringLiteral("timKeepAlive"));
    timKeepAlive->setInterval(1000);
    connect(timKeepAlive, &QTimer::timeout, this, &TfrmOrderConfirm::timKeepAliveTimer);
    timKeepAlive->start();

    memInvoice->setFocus();
}

TfrmOrderConfirm::~TfrmOrderConfirm() {
    // Deleted without a decision: its kiosk's payment ended, or the console did.
    RecordEnd(JournalDecision::Closed);
}

void TfrmOrderConfirm::SetJournal(JournalRecorder* recorder, std::uint64_t handle) {
    FJournal = recorder;
    FJournalHandle = handle;
}

void TfrmOrderConfirm::RecordEnd(JournalDecision decision) {
    if (FJournalEnded)
        return;
    FJournalEnded = true;
    if (FJournal)
        FJournal->orderDecided(FJournalHandle, decision, WaitedSeconds());
}

bool TfrmOrderConfirm::IsForDevice(const TDeviceItem* device) const {
    if (FClosed)
        return false;
    auto d = FDevice.lock();
    return d && d.get() == device;
}

void TfrmOrderConfirm::PrepareForShow() {
    auto device = FDevice.lock();
    if (!device)
        return;
    TDeviceLock lock(*device);
    const TVersion version = device->Version();
    btnResumeOrder->setEnabled(version.NewerThan(resumeVersion()) ||
                               version.Equal(resumeVersion()));
    setWindowTitle(QStringLiteral("%1 - подтверждение заказа").arg(device->Name));
    lblTitle->setText(OrderSumText(device->OrderBilled));
    memInvoice->setPlainText(device->Invoice);
}

void TfrmOrderConfirm::ForceClose() {
    FAllowClosing = true;
    close();
}

void TfrmOrderConfirm::btnAcceptClick(QObject* Sender) {
    TKioskCommand command = kcNone;
    if (Sender == btnAccept)
        command = kcConfirmOrder;
    else if (Sender == btnDeny)
        command = kcCancelOrder;
    else if (Sender == btnResumeOrder)
        command = kcReturnToOrder;
    if (command == kcNone)
        return;
    // A disabled button must not act through its shortcut either.
    if (auto* button = qobject_cast<QPushButton*>(Sender); button && !button->isEnabled())
        return;
    const auto device = FDevice.lock();
    if (device)
        device->AddKioskCommand(command);
    // A window whose kiosk was deleted tells no one anything: its end is no decision.
    JournalDecision decision = JournalDecision::Closed;
    if (device)
        decision = command == kcConfirmOrder  ? JournalDecision::Confirmed
                   : command == kcCancelOrder ? JournalDecision::Cancelled
                                              : JournalDecision::Returned;
    RecordEnd(decision);
    FAllowClosing = true;
    close();
}

void TfrmOrderConfirm::btnPrintClick(QObject* /*Sender*/) {
    // The main window may destroy this window while a dialog of the print command is
    // open (end of payment, a state change): after every dialog, look before touching it.
    QPointer<TfrmOrderConfirm> self(this);
    const QStringList invoiceLines = memInvoice->toPlainText().split(QLatin1Char('\n'));
    QString orderXml;
    if (const auto device = Device()) {
        TDeviceLock lock(*device);
        orderXml = device->OrderXML;
    }
    try {
        const std::optional<ReceiptStart> started =
            RunPrintCommand(this, IniFileName, orderXml, invoiceLines);
        if (!self || !started)
            return;
        QString state;
        if (FJournal) {
            if (started->job)
                FJournal->receiptStarted(FJournalHandle, started->job);
            else
                FJournal->receiptShown(FJournalHandle, started->printer);
        }
        if (started->job) {
            FPrintJob = started->job;
            prbPrint->setValue(0);
            prbPrint->show();
            btnPrintCancel->show();
            state = QStringLiteral("Печать чека: %1").arg(started->printer);
        } else {
            state = QStringLiteral("Чек открыт в окне просмотра");
        }
        showPrintState(state, started->warnings);
    } catch (const orvanta::Exception& e) {
        showPrintError(self, e.message());
    } catch (const std::exception& e) {
        // A failure of the XML or the print system must end the command, not the program.
        showPrintError(self, QString::fromLocal8Bit(e.what()));
    }
}

void TfrmOrderConfirm::receiptProgress(int job, qint64 sent, qint64 total) {
    if (job != FPrintJob || total <= 0)
        return;
    prbPrint->setValue(static_cast<int>(sent * 1000 / total));
}

void TfrmOrderConfirm::receiptFinished(int job, const ReceiptOutcome& outcome) {
    if (job != FPrintJob)
        return;
    FPrintJob = 0;
    prbPrint->hide();
    btnPrintCancel->hide();
    if (outcome.ok) {
        showPrintState(QStringLiteral("Чек напечатан: %1").arg(outcome.printer), outcome.warnings);
    } else if (outcome.cancelled) {
        showPrintState(QStringLiteral("Печать чека остановлена: %1").arg(outcome.printer), {});
    } else {
        showPrintState(QStringLiteral("Чек не напечатан: %1").arg(outcome.printer), {});
        showPrintError(QPointer<TfrmOrderConfirm>(this), outcome.error);
    }
}

void TfrmOrderConfirm::showPrintState(const QString& state, const QStringList& warnings) {
    lblPrintState->setText(warnings.isEmpty() ? state
                                              : state + QStringLiteral(" — ") +
                                                    warnings.join(QStringLiteral("; ")));
    lblPrintState->setToolTip(warnings.join(QLatin1Char('\n')));
}

int TfrmOrderConfirm::PrintJob() const {
    return FPrintJob;
}

bool TfrmOrderConfirm::FormKeyPress(QChar Key) {
    if (Key == QChar(13)) {
        btnAccept->click();
        return true;
    }
    if (Key == QChar(27)) {
        btnDeny->click();
        return true;
    }
    return false;
}

void TfrmOrderConfirm::timKeepAliveTimer() {
    if (auto device = FDevice.lock())
        device->SetKioskAlive();
    updateWaiting();
}

int TfrmOrderConfirm::WaitingSeconds() const {
    return static_cast<int>(FWaiting.elapsed() / 1000);
}

double TfrmOrderConfirm::WaitedSeconds() const {
    return static_cast<double>(FWaiting.nsecsElapsed()) / 1e9;
}

void TfrmOrderConfirm::updateWaiting() {
    const int seconds = WaitingSeconds();
    lblWaiting->setText(QStringLiteral("%1:%2")
                            .arg(seconds / 60, 2, 10, QLatin1Char('0'))
                            .arg(seconds % 60, 2, 10, QLatin1Char('0')));
}

void TfrmOrderConfirm::fitCaptions() {
    // The window keeps its size and places; a caption that does not fit its button at
    // the desktop's font (or its scaling) widens the button from its outer edge, and the
    // sum label grows to its font's height. The gaps between the buttons leave room.
    auto needed = [](const QPushButton* b) {
        const QFontMetrics fm(b->font());
        int width = 0;
        for (const QString& line : b->text().split(QLatin1Char('\n')))
            width = std::max(width, fm.horizontalAdvance(line));
        // The style's frame and margins around the text.
        return width +
               2 * (b->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b) +
                    b->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b)) +
               8;
    };
    const int right = width() - 13;
    if (const int w = needed(btnAccept); w > btnAccept->width())
        btnAccept->resize(w, btnAccept->height());
    if (const int w = needed(btnDeny); w > btnDeny->width())
        btnDeny->setGeometry(right - w, btnDeny->y(), w, btnDeny->height());
    for (QPushButton* b : {btnPrint, btnResumeOrder})
        if (const int w = needed(b); w > b->width())
            b->setGeometry(width() / 2 - w / 2, b->y(), w, b->height());
    const int titleHeight = QFontMetrics(lblTitle->font()).height();
    if (titleHeight > lblTitle->height()) {
        const int grow = titleHeight - lblTitle->height();
        lblTitle->resize(lblTitle->width(), titleHeight);
        memInvoice->setGeometry(memInvoice->x(), memInvoice->y() + grow, memInvoice->width(),
                                memInvoice->height() - grow);
    }
}

void TfrmOrderConfirm::closeEvent(QCloseEvent* event) {
    if (FAllowClosing) {
        // A decision was recorded before; otherwise the main window closes it (a state
        // change of its kiosk, the console's end).
        RecordEnd(JournalDecision::Closed);
        FClosed = true;
        timKeepAlive->stop();
        event->accept();
    } else
        event->ignore();
}

namespace {
QChar keyChar(const QKeyEvent* e) {
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return QChar(13);
    case Qt::Key_Escape:
        return QChar(27);
    default:
        return {};
    }
}

// Enter or Esc of the window or its invoice; true when the key was one of them, whether
// it decided or was held back as a repeat.
bool formKey(TfrmOrderConfirm* window, const QKeyEvent* event) {
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))
        return false;
    const QChar key = keyChar(event);
    if (key.isNull())
        return false;
    // Enter or Esc held down from the order before, or repeated by the keyboard, reaches
    // this window as presses as soon as it opens: only a fresh press decides an order the
    // operator has seen. The repeat is taken, so that nothing else acts on it either.
    if (event->isAutoRepeat())
        return true;
    return window->FormKeyPress(key);
}
} // namespace

void TfrmOrderConfirm::keyPressEvent(QKeyEvent* event) {
    if (!formKey(this, event))
        QWidget::keyPressEvent(event);
}

void TfrmOrderConfirm::KeepKeyboardWith(QWidget* operatorWindow) {
    FKeyboardOwner = operatorWindow;
    FKeyboardOwnerSince.start();
    if (isActiveWindow() && FKeyboardOwner)
        FKeyboardOwner->activateWindow();
}

void TfrmOrderConfirm::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Only the activation that comes with the showing: later the operator's own click
    // on this window must give it the keyboard.
    constexpr int kShowingMs = 500;
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && FKeyboardOwner) {
        if (FKeyboardOwnerSince.elapsed() < kShowingMs)
            FKeyboardOwner->activateWindow();
        FKeyboardOwner.clear();
    }
    // The desktop's font or its scaling changed while the window was open.
    if (event->type() == QEvent::FontChange && btnAccept)
        fitCaptions();
}

bool TfrmOrderConfirm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == memInvoice && event->type() == QEvent::KeyPress) {
        if (formKey(this, static_cast<QKeyEvent*>(event)))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}
