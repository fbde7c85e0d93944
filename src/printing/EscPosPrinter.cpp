#include "printing/EscPosPrinter.h"

#include "common/GlobConst.h"
#include "platform/CodePages.h"
#include "platform/Error.h"
#include "printing/PrintSettings.h"
#include "printing/ReceiptText.h"

using orvanta::Exception;

TESCPOSPrinter::TESCPOSPrinter()
    : TESCPOSPrinter(std::make_unique<SerialEscPosOutput>()) {}

TESCPOSPrinter::TESCPOSPrinter(const EscPosRoute& route)
    : TESCPOSPrinter(route.makeOutput()) {}

TESCPOSPrinter::TESCPOSPrinter(std::unique_ptr<EscPosOutput> output)
    : FPort(std::move(output)) {
    FName = QStringLiteral("ESC/POS");
}

// A job always closes the port; the output closes itself should the object go first.
TESCPOSPrinter::~TESCPOSPrinter() = default;

void TESCPOSPrinter::CalcTabs() {
    FTab1 = FWidth - 18;
    FTab2 = FWidth - 11;
}

// Measured after the substitutions, since that is what the line will hold.
int TESCPOSPrinter::TextWidth(const QString& Text) {
    return static_cast<int>(orvanta::receiptText(Text).size());
}

int TESCPOSPrinter::TextHeight(const QString& /*Text*/) {
    return 1;
}

void TESCPOSPrinter::PrintFont(const QString& /*FontName*/, int /*FontSize*/,
                               TFontStyles FontStyle) {
    SendCodes(FontStyle.testFlag(fsBold) ? CodeBoldOn : CodeBoldOff);
    SendCodes(FontStyle.testFlag(fsUnderline) ? CodeUnderlineOn : CodeUnderlineOff);
}

void TESCPOSPrinter::PrintText(const QString& Text, int x1, int x2, bool RightJust, bool Ln) {
    PlaceText(orvanta::receiptText(Text), x1, x2, RightJust, Ln);
    if (!Ln)
        return;
    FLine.resize(FString.size() + 2);
    char* out = FLine.data();
    for (const QChar c : std::as_const(FString))
        *out++ = ToOemChar(c);
    *out++ = '\r';
    *out = '\n';
    FString.clear();
    PrintOut(FLine);
}

void TESCPOSPrinter::PrintLogo() {
    SendCodes(Code3);
}

void TESCPOSPrinter::PrintDiv() {
    PrintText(QString(FWidth, QLatin1Char('-')), 0, FWidth - 1, false, true);
}

namespace {

// GS k 73 (Code 128) data is a code set switch and then the characters of the set; a
// "{" starts a function or a switch of its own, so a "{" of the text travels as "{{".
constexpr qsizetype kMaxBarCodeData = 253; // the length byte also counts the two of "{B"

qsizetype barCodeDataBytes(const QString& Text) {
    return Text.size() + Text.count(QLatin1Char('{'));
}

} // namespace

QString TESCPOSPrinter::barCodeProblem(const QString& Text) {
    for (const QChar c : Text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return QStringLiteral("в коде 128 нет символа «%1» (U+%2)")
                .arg(c.unicode() < 0x20 ? QString() : QString(c))
                .arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    if (const qsizetype bytes = barCodeDataBytes(Text); bytes > kMaxBarCodeData)
        return QStringLiteral("слишком длинный (%1 байт, допускается %2)")
            .arg(bytes)
            .arg(kMaxBarCodeData);
    return {};
}

QString TESCPOSPrinter::barCodeCodeText(const QString& Text) {
    if (!barCodeProblem(Text).isEmpty())
        return {};
    QString data;
    data.reserve(Text.size() * 2 + 8);
    for (const QChar c : Text) {
        if (c == QLatin1Char('<'))
            data += QStringLiteral("<<"); // a "<" of the data is data, never an escape
        else if (c == QLatin1Char('{'))
            data += QStringLiteral("{{");
        else
            data += c;
    }
    const QString count =
        QStringLiteral("%1").arg(barCodeDataBytes(Text) + 2, 2, 16, QLatin1Char('0')).toUpper();
    return QStringLiteral("<1D>h<32><1D>w<02><1D>k<49><") + count + QStringLiteral("><7B><42>") +
           data + QStringLiteral("<0D><0A>");
}

void TESCPOSPrinter::PrintBarCode(const QString& Text) {
    if (const QString problem = barCodeProblem(Text); !problem.isEmpty()) {
        Warn(QStringLiteral("Штрих-код «%1» не напечатан: %2").arg(Text, problem));
        return;
    }
    SendCodes(barCodeCodeText(Text));
}

void TESCPOSPrinter::PaperFeed(int /*Units*/) {
    PrintOut("\r\n");
}

void TESCPOSPrinter::PaperCut(bool /*Full*/) {
    SendCodes(Code4);
}

QByteArray TESCPOSPrinter::abortTail() {
    QByteArray tail("\r\n");
    for (const QString& codes : {Code4, Code2}) {
        if (const std::optional<QByteArray> bytes = DecodeCodeText(codes))
            tail += *bytes;
    }
    return tail;
}

void TESCPOSPrinter::UpdateStatus() {
    if (!EscPosStatus || !FPort->isOpen() || !FPort->bidirectional())
        return;
    FStatus = queryEscPosStatus(*FPort, FPort->statusKey());
    FPaperOut = FStatus.paperOut;
    FPaperLow = FStatus.paperNearEnd;
    FError = FStatus.offline || FStatus.coverOpen || FStatus.error;
    FErrorString = FError ? FStatus.problem() : QString();
}

bool TESCPOSPrinter::Recover(int Data1, int Data2, double Data3, const QString& Data4) {
    TInvoicePrinter::Recover(Data1, Data2, Data3, Data4);
    UpdateStatus();
    return !(FError || FPaperOut);
}

void TESCPOSPrinter::OpenCheck(TInvoiceCheckType CheckType, const QString& Title,
                               const QString& Header, const QString& OrderName,
                               const TKioskInfo& Kiosk, const TOrganizationInfo& Organization,
                               TDateTime DateTime) {
    TInvoicePrinter::OpenCheck(CheckType, Title, Header, OrderName, Kiosk, Organization, DateTime);
    FJobTitle = Title.isEmpty() ? QStringLiteral("Чек ") + OrderName : Title;
    FPort->setJobTitle(FJobTitle);
    BeginJob();
    PrintHeader(Title, Header, OrderName, Kiosk, Organization, DateTime);
    if (CheckType != ctInfoText)
        printColumnTitles(QStringLiteral("Итого"));
}

void TESCPOSPrinter::CloseCheck(const QString& Text, const QString& Footer, double TotalPrice,
                                double Summ, double Discount, double Change,
                                const QString& Address) {
    PrintFont(PrinterFontName, PrinterFontSize + 2, {fsBold});
    printTotalLine(TotalPrice);
    PrintFont(PrinterFontName, PrinterFontSize, {});
    printPriceBarCode(TotalPrice);
    PrintFooter(Footer);
    EndJob();
    TInvoicePrinter::CloseCheck(Text, Footer, TotalPrice, Summ, Discount, Change, Address);
}

void TESCPOSPrinter::CancelCheck() {
    AbortJob();
    TInvoicePrinter::CancelCheck();
}

void TESCPOSPrinter::PortOpen() {
    if (FPort->isOpen())
        PortClose();
    FPort->open();
}

void TESCPOSPrinter::PortClose() {
    if (FPort->isOpen())
        FPort->close();
}

void TESCPOSPrinter::PrintOut(QByteArrayView Buffer) {
    if (!FPort->isOpen())
        throw Exception(QStringLiteral("ESCPOS.PrintOut: порт не открыт"));
    // A printer that went away or stopped taking bytes must not end in a receipt that
    // looks printed: the operator gets the error and can print again.
    if (FPort->write(Buffer) < Buffer.size())
        throw Exception(FPort->writeFailure());
}

void TESCPOSPrinter::SendCodes(const QString& CodeText) {
    if (CodeText.isEmpty())
        return;
    const std::optional<QByteArray> bytes = DecodeCodeText(CodeText);
    if (bytes && !bytes->isEmpty())
        PrintOut(*bytes);
}

char TESCPOSPrinter::ToOemChar(QChar Char) {
    return orvanta::toCodePage(Char.unicode(), orvanta::CodePage::Oem866);
}

void TESCPOSPrinter::BeginJob() {
    PortOpen();
    FWidth = ESCPOSWidth;
    FHeight = ESCPOSHeight;
    CalcTabs();
    FStatus = {};
    UpdateStatus();
    // Nothing of the receipt goes to a printer that cannot print it: it would be lost
    // while the operator believes it printed.
    FStartProblem = FStatus.problem();
    if (FStatus.blocksPrinting()) {
        PortClose();
        throw Exception(escPosPrinterMessage(FPort->displayName(), FStartProblem));
    }
    if (!FStartProblem.isEmpty())
        Warn(escPosPrinterMessage(FPort->displayName(), FStartProblem));
    SendCodes(Code1);
    PrintLogo();
}

void TESCPOSPrinter::EndJob() {
    // The port is closed also when the last writes fail, so the next receipt can open it.
    try {
        PaperFeed(1);
        PaperCut(ESCPOSFullCut);
        SendCodes(Code2);
        FStatus = {};
        UpdateStatus();
        // The receipt went out; what the printer says after it is for the next one.
        if (const QString problem = FStatus.problem();
            !problem.isEmpty() && problem != FStartProblem)
            Warn(escPosPrinterMessage(FPort->displayName(),
                                      QStringLiteral("после чека — ") + problem));
    } catch (...) {
        try {
            PortClose();
        } catch (const Exception&) {
            // The first failure is the one the operator needs.
        }
        throw;
    }
    PortClose();
}

// A cancelled receipt is fed and cut like a finished one; it only lacks the total and
// the footer.
void TESCPOSPrinter::AbortJob() {
    EndJob();
}
