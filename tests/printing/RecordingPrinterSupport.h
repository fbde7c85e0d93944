#pragma once

#include "printing/InvoicePrinter.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace testutil {

// One operation the recording printer was asked for: its name and its arguments as
// text (numbers in their shortest exact form, booleans as 0 and 1), so that a call reads
// "Sale(Кофе,1,2,50,0,0,0,0)". OpenCheck also keeps the records it was given.
struct TPrinterCall {
    QString Op;
    QStringList Args;
    TKioskInfo Kiosk;
    TOrganizationInfo Organization;
    TDateTime DateTime = 0;

    QString line() const;
};

// A receipt printer that prints nothing and writes down every public operation it is
// asked for, in order. It can be told to fail, with orvanta::Exception, at the n-th call
// (counted from 1 over all operations) or at the n-th call of one named operation; the
// failing call is recorded too. The check state of the base is kept, so CheckOpened()
// tells whether a check was left open.
class TRecordingPrinter : public TInvoicePrinter {
public:
    explicit TRecordingPrinter(int width = 42);

    void failAtCall(int n) { FFailAtCall = n; }
    // May be given for several operations; each rule fails its own call.
    void failIn(const QString& op, int occurrence = 1) { FFailRules.push_back({op, occurrence}); }
    // The message of the exception thrown by a failing call of op.
    static QString failureMessage(const QString& op) {
        return QStringLiteral("Принтер не отвечает (%1)").arg(op);
    }

    const std::vector<TPrinterCall>& calls() const { return FCalls; }
    // The lines of all calls, or of the calls of one operation.
    QStringList lines() const;
    QStringList lines(const QString& op) const;
    int count(const QString& op) const;

    void PrintFont(const QString& FontName, int FontSize, TFontStyles FontStyle) override;
    void PrintText(const QString& Text, int x1, int x2, bool RightJust, bool Ln) override;
    void PrintHeader(const QString& Title, const QString& Header, const QString& OrderName,
                     const TKioskInfo& Kiosk, const TOrganizationInfo& Organization,
                     TDateTime DateTime) override;
    void PrintFooter(const QString& Footer) override;
    void PrintLogo() override;
    void PrintDiv() override;
    void PrintBarCode(const QString& Text) override;
    void PaperFeed(int Units) override;
    void PaperCut(bool Full) override;
    void UpdateStatus() override;
    bool Recover(int Data1, int Data2, double Data3, const QString& Data4) override;
    void OpenCheck(TInvoiceCheckType CheckType, const QString& Title, const QString& Header,
                   const QString& OrderName, const TKioskInfo& Kiosk,
                   const TOrganizationInfo& Organization, TDateTime DateTime) override;
    void Sale(const QString& Text, int Department, double Quantity, double Price, double Tax1,
              double Tax2, double Tax3, double Tax4) override;
    void Buy(const QString& Text, int Department, double Quantity, double Price, double Tax1,
             double Tax2, double Tax3, double Tax4) override;
    void Charge(const QString& Text, double Charge) override;
    void Discount(const QString& Text, double Discount) override;
    void CloseCheck(const QString& Text, const QString& Footer, double TotalPrice, double Summ,
                    double Discount, double Change, const QString& Address) override;
    void CancelCheck() override;

private:
    // Records the call and throws when it is the one told to fail.
    void record(TPrinterCall call);

    std::vector<TPrinterCall> FCalls;
    struct TFailRule {
        QString Op;
        int Occurrence;
    };
    int FFailAtCall = 0;
    std::vector<TFailRule> FFailRules;
};

// A number as the recording printer writes it: the shortest text that reads back to the
// same double ("2", "0.1", "5.551115123125783e-17").
QString numberText(double value);

} // namespace testutil
