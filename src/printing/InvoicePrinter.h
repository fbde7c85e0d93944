#pragma once

#include "common/DateUtils.h"

#include <QFlags>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <cstdint>

enum TInvoiceCheckType : std::uint8_t {
    ctSale = 0,
    ctBuy = 1,
    ctReturnSale = 2,
    ctReturnBuy = 3,
    ctInfoText = 4, // text only: no order-number barcode, no column titles
};

enum TFontStyle {
    fsBold = 0x1,
    fsItalic = 0x2,
    fsUnderline = 0x4,
    fsStrikeOut = 0x8,
};
Q_DECLARE_FLAGS(TFontStyles, TFontStyle)
Q_DECLARE_OPERATORS_FOR_FLAGS(TFontStyles)

// The kiosk that took the order; only Name and Address are printed, each when it is not
// empty.
struct TKioskInfo {
    int SN = 0;
    QString Guid;
    QString UIN;
    QString Name;
    QString Address;
};

// The seller, printed as a block under the header unless NoPrint.
struct TOrganizationInfo {
    QString Name;
    QString Address;
    QString INN;
    QString Phone;
    bool NoPrint = false;
};

// The device-independent receipt printer. One object prints one receipt: OpenCheck,
// then any number of PrintText, PrintDiv, Sale, Buy, Charge, Discount, then CloseCheck,
// or CancelCheck when anything in between failed.
//
// Positions are layout units counted from 0: characters on a character printer, device
// pixels on a page printer. The base keeps the shared state, composes character lines
// (PlaceText), prints the header and the footer, and lays out the receipt lines for the
// drivers; every other operation does nothing here and gets its meaning from a driver.
class TInvoicePrinter {
public:
    TInvoicePrinter();
    virtual ~TInvoicePrinter();

    TInvoicePrinter(const TInvoicePrinter&) = delete;
    TInvoicePrinter& operator=(const TInvoicePrinter&) = delete;

    // The most columns a character line holds: the printer's line buffer is 1024 bytes,
    // and the line's CR LF takes two of them.
    static constexpr int MaxLineColumns = 1022;

protected:
    // Writes Text into the line buffer between columns x1 and x2 (right-aligned to x2
    // when RightJust, the span's columns before the text then cleared). A text is not
    // cut at x2: a longer one runs on past it. The line itself ends at MaxLineColumns;
    // anything beyond is cut. Ln is the caller's business.
    virtual void PlaceText(const QString& Text, int x1, int x2, bool RightJust, bool Ln);
    virtual void CalcTabs();
    virtual int TextWidth(const QString& Text);
    virtual int TextHeight(const QString& Text);

public:
    virtual void PrintFont(const QString& FontName, int FontSize, TFontStyles FontStyle);
    virtual void PrintText(const QString& Text, int x1, int x2, bool RightJust, bool Ln);
    // Header text line by line, kiosk name and address, "Заказ № ..." in bold, the date,
    // the order-number barcode, a divider and the organisation block. Title is unused.
    virtual void PrintHeader(const QString& Title, const QString& Header, const QString& OrderName,
                             const TKioskInfo& Kiosk, const TOrganizationInfo& Organization,
                             TDateTime DateTime);
    virtual void PrintFooter(const QString& Footer);
    virtual void PrintLogo();
    virtual void PrintDiv();
    virtual void PrintBarCode(const QString& Text);
    virtual void PaperFeed(int Units);
    virtual void PaperCut(bool Full);
    virtual void UpdateStatus();
    virtual bool Recover(int Data1, int Data2, double Data3, const QString& Data4);
    virtual void OpenCheck(TInvoiceCheckType CheckType, const QString& Title, const QString& Header,
                           const QString& OrderName, const TKioskInfo& Kiosk,
                           const TOrganizationInfo& Organization, TDateTime DateTime);
    virtual void Sale(const QString& Text, int Department, double Quantity, double Price,
                      double Tax1, double Tax2, double Tax3, double Tax4);
    virtual void Buy(const QString& Text, int Department, double Quantity, double Price,
                     double Tax1, double Tax2, double Tax3, double Tax4);
    virtual void Charge(const QString& Text, double Charge);
    virtual void Discount(const QString& Text, double Discount);
    virtual void CloseCheck(const QString& Text, const QString& Footer, double TotalPrice,
                            double Summ, double Discount, double Change, const QString& Address);
    virtual void CancelCheck();

    const QString& Name() const { return FName; }
    bool Error() const { return FError; }
    const QString& ErrorString() const { return FErrorString; }
    bool PaperLow() const { return FPaperLow; }
    bool PaperOut() const { return FPaperOut; }
    int Height() const { return FHeight; }
    int Width() const { return FWidth; }
    QPoint Pos() const { return FPos; }
    int Tab1() const { return FTab1; }
    int Tab2() const { return FTab2; }
    TInvoiceCheckType CheckType() const { return FCheckType; }
    bool CheckOpened() const { return FCheckOpened; }
    // What the operator should know about a receipt that printed all the same (a barcode
    // left out, paper running low): told without stopping anyone, never as an error.
    const QStringList& Warnings() const { return FWarnings; }

    // Lines of a multi-line text as the header and the footer print them: breaks are
    // CR LF, CR or LF; a break at the very end adds no empty line.
    static QStringList splitLines(const QString& text);

protected:
    // The receipt layout both drivers follow. A label wider than the description column
    // gets a line of its own; otherwise it is placed there and the line stays open.
    void printLabel(const QString& label);
    void printColumnTitles(const QString& amountTitle);
    void printItemLine(const QString& text, double quantity, double price);
    void printChargeLine(const QString& text, double charge);
    void printDiscountLine(const QString& text, double discount);
    void printTotalLine(double totalPrice);
    void printPriceBarCode(double totalPrice);
    void Warn(const QString& text) { FWarnings << text; }

    QString FName;
    bool FError = false;
    QString FErrorString;
    bool FPaperLow = false;
    bool FPaperOut = false;
    int FHeight = 0;
    int FWidth = 0;
    QPoint FPos;
    int FTab1 = 0;
    int FTab2 = 0;
    TInvoiceCheckType FCheckType = ctSale;
    bool FCheckOpened = false;
    QString FString; // the character line being composed, column 0 first
    QStringList FWarnings;
};

// The item, surcharge and discount lines of the receipt layout, which both drivers print
// alike: description column, quantity "%1.1f", amount "%.2m". Department and the taxes
// are not printed.
class TReceiptLayoutPrinter : public TInvoicePrinter {
public:
    void Sale(const QString& Text, int Department, double Quantity, double Price, double Tax1,
              double Tax2, double Tax3, double Tax4) override;
    void Buy(const QString& Text, int Department, double Quantity, double Price, double Tax1,
             double Tax2, double Tax3, double Tax4) override;
    void Charge(const QString& Text, double Charge) override;
    void Discount(const QString& Text, double Discount) override;
};
