#pragma once

#include "journal/JournalRecord.h"
#include "ui/JournalRecorder.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <memory>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class TDeviceItem;
struct ReceiptOutcome;

// "Сумма заказа: %d руб. %.2d коп.": whole roubles truncated toward zero, kopecks the
// fraction times 100 rounded to nearest with halves to even.
QString OrderSumText(double orderBilled);

// The window in which the operator carries out, cancels or returns a kiosk's order.
// Not modal; one per kiosk. It refuses every close except its own decisions and the
// main window's ForceClose, so a stray Alt+F4 cannot lose a customer's payment.
//
// The window holds its device weakly: a kiosk deleted while its window is open makes
// the window inert rather than keeping a dead record busy.
class TfrmOrderConfirm : public QWidget {
    Q_OBJECT
public:
    explicit TfrmOrderConfirm(QWidget* owner);
    ~TfrmOrderConfirm() override;

    void SetDevice(const std::shared_ptr<TDeviceItem>& device) { FDevice = device; }
    std::shared_ptr<TDeviceItem> Device() const { return FDevice.lock(); }
    // True for an open window of that device (a closed one only waits for deletion).
    bool IsForDevice(const TDeviceItem* device) const;
    bool IsClosed() const { return FClosed; }

    void PrepareForShow();
    // Set by the main window when the window closes because its kiosk went away during
    // the payment; shared, so that it outlives the window for whoever reports it.
    std::shared_ptr<bool> LostFlag() const { return FLost; }
    // Shown while the operator works in another window: a window system that activates
    // every new window anyway gets that window's activation handed back at once.
    void KeepKeyboardWith(QWidget* operatorWindow);
    void ForceClose();

    void btnAcceptClick(QObject* Sender);
    void btnPrintClick(QObject* Sender);
    // Enter accepts, Esc denies; true when the key was one of them.
    bool FormKeyPress(QChar Key);

    QLabel* lblTitle = nullptr;
    QPlainTextEdit* memInvoice = nullptr;
    QPushButton* btnAccept = nullptr;
    QPushButton* btnPrint = nullptr;
    QPushButton* btnResumeOrder = nullptr;
    QPushButton* btnDeny = nullptr;
    QTimer* timKeepAlive = nullptr;
    QLabel* lblWaiting = nullptr;     // mm:ss the customer has waited since the window opened
    QLabel* lblPrintState = nullptr;  // where the last receipt of this order went
    QProgressBar* prbPrint = nullptr; // the receipt on its way to the printer
    QPushButton* btnPrintCancel = nullptr;

    // The receipt of this window on the spooler; 0 when none is under way.
    int PrintJob() const;

    // Seconds since the window opened (the payment began).
    int WaitingSeconds() const;
    // The same with its fractions, as the journal keeps it.
    double WaitedSeconds() const;

    // The journal's row of this window, set by the main window as it opens it.
    void SetJournal(JournalRecorder* recorder, std::uint64_t handle);
    std::uint64_t JournalHandle() const { return FJournalHandle; }
    // How the window's order ended, into the journal; only the first end counts, so a
    // close that follows a decision does not overwrite it.
    void RecordEnd(JournalDecision decision);
    bool EndRecorded() const { return FJournalEnded; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void timKeepAliveTimer();
    void updateWaiting();
    void fitCaptions();
    void receiptProgress(int job, qint64 sent, qint64 total);
    void receiptFinished(int job, const ReceiptOutcome& outcome);
    void showPrintState(const QString& state, const QStringList& warnings);

    std::weak_ptr<TDeviceItem> FDevice;
    bool FAllowClosing = false;
    bool FClosed = false;
    QElapsedTimer FWaiting;
    std::shared_ptr<bool> FLost = std::make_shared<bool>(false);
    QPointer<QWidget> FKeyboardOwner;
    QElapsedTimer FKeyboardOwnerSince;
    int FPrintJob = 0;
    QPointer<JournalRecorder> FJournal;
    std::uint64_t FJournalHandle = 0;
    bool FJournalEnded = false;
};
