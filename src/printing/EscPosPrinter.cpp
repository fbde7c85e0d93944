#include "printing/EscPosPrinter.h"

#include "common/GlobConst.h"
#include "platform/CodePages.h"
#include "platform/Error.h"
#include "printing/PrintSettings.h"
#include "printing/ReceiptText.h"

using orvanta::Exception;

void SerialEscPosOutput::open() {
    using Result = orvanta::SerialPort::OpenResult;
    switch (m_port.open(orvanta::serialPortDevice(ComPort, DataFolder), ComRate)) {
    case Result::Opened:
        return;
    case Result::CannotOpen:
        throw Exception(QStringLiteral("ESCPOS.PortOpen: невозможно открыть COM порт"));
    case Result::CannotConfigure:
        throw Exception(QStringLiteral("ESCPOS.PortOpen: невозможно настроить COM порт"));
    case Result::CannotPurge:
        throw Exception(QStringLiteral("ESCPOS.PortOpen: невозможно очистить COM порт"));
    }
}

void SerialEscPosOutput::close() {
    m_port.close();
}

bool SerialEscPosOutput::isOpen() const {
    return m_port.isOpen();
}

qsizetype SerialEscPosOutput::write(QByteArrayView bytes) {
    return m_port.write(bytes);
}

qsizetype MemoryEscPosOutput::write(QByteArrayView bytes) {
    m_data.append(bytes);
    return bytes.size();
}

TESCPOSPrinter::TESCPOSPrinter()
    : TESCPOSPrinter(std::make_unique<SerialEscPosOutput>()) {}

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

int TESCPOSPrinter::TextHeight(const QString& Text) {
    Q_UNUSED(Text);
    return 1;
}

void TESCPOSPrinter::PrintFont(const QString& FontName, int FontSize, TFontStyles FontStyle) {
    Q_UNUSED(FontName);
    Q_UNUSED(FontSize);
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

QString TESCPOSPrinter::barCodeCodeText(const QString& Text) {
    // The data length travels in one byte together with the two bytes of "{B".
    if (Text.size() > 253)
        return {};
    QString data;
    data.reserve(Text.size() + 8);
    for (const QChar c : Text) {
        if (c == QLatin1Char('<'))
            data += QStringLiteral("<<"); // a "<" of the data is data, never an escape
        else if (c.unicode() < 0x20)
            data += QLatin1Char(' '); // nor is a control character a command
        else
            data += c;
    }
    const QString count =
        QStringLiteral("%1").arg(Text.size() + 2, 2, 16, QLatin1Char('0')).toUpper();
    return QStringLiteral("<1D>h<32><1D>w<02><1D>k<49><") + count + QStringLiteral("><7B><42>") +
           data + QStringLiteral("<0D><0A>");
}

void TESCPOSPrinter::PrintBarCode(const QString& Text) {
    SendCodes(barCodeCodeText(Text));
}

void TESCPOSPrinter::PaperFeed(int Units) {
    Q_UNUSED(Units);
    PrintOut("\r\n");
}

void TESCPOSPrinter::PaperCut(bool Full) {
    Q_UNUSED(Full);
    SendCodes(Code4);
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
        throw Exception(QStringLiteral("ESCPOS.PrintOut: ошибка записи в COM порт"));
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
    UpdateStatus();
    SendCodes(Code1);
    PrintLogo();
}

void TESCPOSPrinter::EndJob() {
    // The port is closed also when the last writes fail, so the next receipt can open it.
    try {
        PaperFeed(1);
        PaperCut(ESCPOSFullCut);
        SendCodes(Code2);
        UpdateStatus();
    } catch (...) {
        PortClose();
        throw;
    }
    PortClose();
}

// A cancelled receipt is fed and cut like a finished one; it only lacks the total and
// the footer.
void TESCPOSPrinter::AbortJob() {
    EndJob();
}
