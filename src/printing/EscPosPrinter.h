#pragma once

#include "printing/EscPosConnections.h"
#include "printing/EscPosRoute.h"
#include "printing/InvoicePrinter.h"
#include "printing/PrinterStatus.h"

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

// A receipt printer speaking ESC/POS: a character printer of 48 columns. Lines are
// composed in the line buffer and sent in code page 866 when they end; fonts reduce to
// bold and underline; start, logo, cut and end of a job are the control-code texts of
// the print settings. The output is open only while one receipt prints.
//
// A printer that answers is asked for its status when a receipt starts and when it
// ends (EscPosStatus): one out of paper, with the cover open or offline gets nothing of
// the receipt, which fails instead; paper running low is a warning.
class TESCPOSPrinter : public TReceiptLayoutPrinter {
public:
    static constexpr int ESCPOSWidth = 48;
    static constexpr int ESCPOSHeight = 1024;
    static constexpr bool ESCPOSFullCut = false;
    static inline const QString CodeBoldOn = QStringLiteral("<1B>E1");
    static inline const QString CodeBoldOff = QStringLiteral("<1B>E0");
    static inline const QString CodeUnderlineOn = QStringLiteral("<1B>-1");
    static inline const QString CodeUnderlineOff = QStringLiteral("<1B>-0");

    // Prints on the serial port of the print settings (as they are when a receipt starts).
    TESCPOSPrinter();
    // Prints into output (never empty).
    explicit TESCPOSPrinter(std::unique_ptr<EscPosOutput> output);
    // Prints on the printer of route.
    explicit TESCPOSPrinter(const EscPosRoute& route);
    ~TESCPOSPrinter() override;

protected:
    void CalcTabs() override;
    int TextWidth(const QString& Text) override;
    int TextHeight(const QString& Text) override;

public:
    void PrintFont(const QString& FontName, int FontSize, TFontStyles FontStyle) override;
    void PrintText(const QString& Text, int x1, int x2, bool RightJust, bool Ln) override;
    void PrintLogo() override;
    void PrintDiv() override;
    void PrintBarCode(const QString& Text) override;
    void PaperFeed(int Units) override;
    void PaperCut(bool Full) override;
    // Asks a printer that answers, while a receipt prints, and sets Error, ErrorString,
    // PaperLow and PaperOut from its answer; a printer that does not answer leaves them
    // clear (its state is unknown, and it is printed to as before).
    void UpdateStatus() override;
    // False while the last status said the printer cannot print.
    bool Recover(int Data1, int Data2, double Data3, const QString& Data4) override;
    void OpenCheck(TInvoiceCheckType CheckType, const QString& Title, const QString& Header,
                   const QString& OrderName, const TKioskInfo& Kiosk,
                   const TOrganizationInfo& Organization, TDateTime DateTime) override;
    void CloseCheck(const QString& Text, const QString& Footer, double TotalPrice, double Summ,
                    double Discount, double Change, const QString& Address) override;
    void CancelCheck() override;

    // The control-code text of the Code 128 barcode that PrintBarCode sends; empty when
    // Text cannot be a barcode (barCodeProblem).
    static QString barCodeCodeText(const QString& Text);
    // Why Text cannot be a Code 128 barcode of code set B: a character the set lacks
    // (anything but 0x20..0x7E), or more data bytes than the length byte counts; empty
    // when it can.
    static QString barCodeProblem(const QString& Text);

    // What a receipt cut short ends with: a line feed, the cut and the end-of-job codes of
    // the print settings (main thread; the result can go to any thread).
    static QByteArray abortTail();

    // The title of the check opened last, which a spooler job of it carries: the Title
    // of OpenCheck, or "Чек " and the order name when that is empty.
    const QString& JobTitle() const { return FJobTitle; }
    // What the printer said at the last UpdateStatus.
    const EscPosPrinterStatus& Status() const { return FStatus; }

private:
    void PortOpen();
    void PortClose();
    void PrintOut(QByteArrayView Buffer);
    void SendCodes(const QString& CodeText);
    static char ToOemChar(QChar Char);
    void BeginJob();
    void EndJob();
    void AbortJob();

    std::unique_ptr<EscPosOutput> FPort;
    EscPosPrinterStatus FStatus;
    QString FStartProblem; // what the status said when the receipt started
    QString FJobTitle;
    QByteArray FLine; // bytes of the line being sent, kept to spare an allocation per line
};
