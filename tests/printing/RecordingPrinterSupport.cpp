#include "RecordingPrinterSupport.h"

#include "platform/Error.h"

#include <QLocale>

namespace testutil {

namespace {

QString boolText(bool value) {
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

TPrinterCall makeCall(const char* op, QStringList args = {}) {
    TPrinterCall call;
    call.Op = QString::fromLatin1(op);
    call.Args = std::move(args);
    return call;
}

} // namespace

QString numberText(double value) {
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString TPrinterCall::line() const {
    return Op + QLatin1Char('(') + Args.join(QLatin1Char(',')) + QLatin1Char(')');
}

TRecordingPrinter::TRecordingPrinter(int width) {
    FName = QStringLiteral("Recording");
    FWidth = width;
}

QStringList TRecordingPrinter::lines() const {
    QStringList result;
    for (const TPrinterCall& call : FCalls)
        result << call.line();
    return result;
}

QStringList TRecordingPrinter::lines(const QString& op) const {
    QStringList result;
    for (const TPrinterCall& call : FCalls)
        if (call.Op == op)
            result << call.line();
    return result;
}

int TRecordingPrinter::count(const QString& op) const {
    int n = 0;
    for (const TPrinterCall& call : FCalls)
        if (call.Op == op)
            ++n;
    return n;
}

void TRecordingPrinter::record(TPrinterCall call) {
    const QString op = call.Op;
    FCalls.push_back(std::move(call));
    bool fail = FFailAtCall > 0 && static_cast<int>(FCalls.size()) == FFailAtCall;
    for (const TFailRule& rule : FFailRules)
        if (rule.Op == op && count(op) == rule.Occurrence)
            fail = true;
    if (fail)
        throw orvanta::Exception(failureMessage(op));
}

void TRecordingPrinter::PrintFont(const QString& FontName, int FontSize, TFontStyles FontStyle) {
    record(makeCall("PrintFont", {FontName, QString::number(FontSize),
                                  QString::number(static_cast<int>(FontStyle))}));
}

void TRecordingPrinter::PrintText(const QString& Text, int x1, int x2, bool RightJust, bool Ln) {
    record(makeCall("PrintText", {Text, QString::number(x1), QString::number(x2),
                                  boolText(RightJust), boolText(Ln)}));
}

void TRecordingPrinter::PrintHeader(const QString& Title, const QString& Header,
                                    const QString& OrderName, const TKioskInfo& Kiosk,
                                    const TOrganizationInfo& Organization, TDateTime DateTime) {
    TPrinterCall call = makeCall("PrintHeader", {Title, Header, OrderName, numberText(DateTime)});
    call.Kiosk = Kiosk;
    call.Organization = Organization;
    call.DateTime = DateTime;
    record(std::move(call));
}

void TRecordingPrinter::PrintFooter(const QString& Footer) {
    record(makeCall("PrintFooter", {Footer}));
}

void TRecordingPrinter::PrintLogo() {
    record(makeCall("PrintLogo"));
}

void TRecordingPrinter::PrintDiv() {
    record(makeCall("PrintDiv"));
}

void TRecordingPrinter::PrintBarCode(const QString& Text) {
    record(makeCall("PrintBarCode", {Text}));
}

void TRecordingPrinter::PaperFeed(int Units) {
    record(makeCall("PaperFeed", {QString::number(Units)}));
}

void TRecordingPrinter::PaperCut(bool Full) {
    record(makeCall("PaperCut", {boolText(Full)}));
}

void TRecordingPrinter::UpdateStatus() {
    record(makeCall("UpdateStatus"));
}

bool TRecordingPrinter::Recover(int Data1, int Data2, double Data3, const QString& Data4) {
    record(makeCall("Recover",
                    {QString::number(Data1), QString::number(Data2), numberText(Data3), Data4}));
    return TInvoicePrinter::Recover(Data1, Data2, Data3, Data4);
}

void TRecordingPrinter::OpenCheck(TInvoiceCheckType CheckType, const QString& Title,
                                  const QString& Header, const QString& OrderName,
                                  const TKioskInfo& Kiosk, const TOrganizationInfo& Organization,
                                  TDateTime DateTime) {
    TPrinterCall call = makeCall("OpenCheck", {QString::number(static_cast<int>(CheckType)), Title,
                                               Header, OrderName, numberText(DateTime)});
    call.Kiosk = Kiosk;
    call.Organization = Organization;
    call.DateTime = DateTime;
    // A driver that fails while opening has no check open.
    record(std::move(call));
    TInvoicePrinter::OpenCheck(CheckType, Title, Header, OrderName, Kiosk, Organization, DateTime);
}

void TRecordingPrinter::Sale(const QString& Text, int Department, double Quantity, double Price,
                             double Tax1, double Tax2, double Tax3, double Tax4) {
    record(makeCall("Sale",
                    {Text, QString::number(Department), numberText(Quantity), numberText(Price),
                     numberText(Tax1), numberText(Tax2), numberText(Tax3), numberText(Tax4)}));
}

void TRecordingPrinter::Buy(const QString& Text, int Department, double Quantity, double Price,
                            double Tax1, double Tax2, double Tax3, double Tax4) {
    record(
        makeCall("Buy", {Text, QString::number(Department), numberText(Quantity), numberText(Price),
                         numberText(Tax1), numberText(Tax2), numberText(Tax3), numberText(Tax4)}));
}

void TRecordingPrinter::Charge(const QString& Text, double Charge) {
    record(makeCall("Charge", {Text, numberText(Charge)}));
}

void TRecordingPrinter::Discount(const QString& Text, double Discount) {
    record(makeCall("Discount", {Text, numberText(Discount)}));
}

void TRecordingPrinter::CloseCheck(const QString& Text, const QString& Footer, double TotalPrice,
                                   double Summ, double Discount, double Change,
                                   const QString& Address) {
    record(makeCall("CloseCheck", {Text, Footer, numberText(TotalPrice), numberText(Summ),
                                   numberText(Discount), numberText(Change), Address}));
    TInvoicePrinter::CloseCheck(Text, Footer, TotalPrice, Summ, Discount, Change, Address);
}

void TRecordingPrinter::CancelCheck() {
    // The check counts as abandoned even when the device fails to say so.
    TInvoicePrinter::CancelCheck();
    record(makeCall("CancelCheck"));
}

} // namespace testutil
