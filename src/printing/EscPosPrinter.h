#pragma once

#include "platform/SerialPort.h"
#include "printing/InvoicePrinter.h"

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

// Where the bytes of an ESC/POS printer go while one receipt prints.
class EscPosOutput {
public:
    virtual ~EscPosOutput() = default;
    // Throws orvanta::Exception with a message for the operator when it cannot open.
    virtual void open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Returns the number of bytes taken; fewer than given means the device failed.
    virtual qsizetype write(QByteArrayView bytes) = 0;
};

// The serial port COMn of the print settings (ComPort at ComRate), opened anew for
// every receipt.
class SerialEscPosOutput : public EscPosOutput {
public:
    void open() override;
    void close() override;
    bool isOpen() const override;
    qsizetype write(QByteArrayView bytes) override;

private:
    orvanta::SerialPort m_port;
};

// Collects the stream in memory: what a receipt sends, without a printer (a preview,
// a dump to a file, measuring the composition).
class MemoryEscPosOutput : public EscPosOutput {
public:
    void open() override { m_open = true; }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    qsizetype write(QByteArrayView bytes) override;

    const QByteArray& data() const { return m_data; }
    void clear() { m_data.clear(); }

private:
    QByteArray m_data;
    bool m_open = false;
};

// A receipt printer speaking ESC/POS: a character printer of 48 columns. Lines are
// composed in the line buffer and sent in code page 866 when they end; fonts reduce to
// bold and underline; start, logo, cut and end of a job are the control-code texts of
// the print settings. The output is open only while one receipt prints.
class TESCPOSPrinter : public TReceiptLayoutPrinter {
public:
    static constexpr int ESCPOSWidth = 48;
    static constexpr int ESCPOSHeight = 1024;
    static constexpr bool ESCPOSFullCut = false;
    static inline const QString CodeBoldOn = QStringLiteral("<1B>E1");
    static inline const QString CodeBoldOff = QStringLiteral("<1B>E0");
    static inline const QString CodeUnderlineOn = QStringLiteral("<1B>-1");
    static inline const QString CodeUnderlineOff = QStringLiteral("<1B>-0");

    // Prints on the serial port of the print settings.
    TESCPOSPrinter();
    // Prints into output (never empty).
    explicit TESCPOSPrinter(std::unique_ptr<EscPosOutput> output);
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
    bool Recover(int Data1, int Data2, double Data3, const QString& Data4) override;
    void OpenCheck(TInvoiceCheckType CheckType, const QString& Title, const QString& Header,
                   const QString& OrderName, const TKioskInfo& Kiosk,
                   const TOrganizationInfo& Organization, TDateTime DateTime) override;
    void CloseCheck(const QString& Text, const QString& Footer, double TotalPrice, double Summ,
                    double Discount, double Change, const QString& Address) override;
    void CancelCheck() override;

    // The control-code text of the Code 128 barcode that PrintBarCode sends; empty when
    // Text cannot be a barcode (more than 253 characters).
    static QString barCodeCodeText(const QString& Text);

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
    QByteArray FLine; // bytes of the line being sent, kept to spare an allocation per line
};
