// The EAN and UPC encoders of TBarcodeImage, with the check digit they share with
// GS1-128.
#include "printing/Barcode.h"

#include "platform/Error.h"

#include <algorithm>

namespace {

// A pattern of single modules ("1" dark, "0" light) as module characters: every run of
// equal modules is one element of that many units (EAN and UPC runs are 1 to 4 long).
QByteArray BitsToModules(const QByteArray& bits) {
    QByteArray result;
    result.reserve(bits.size());
    qsizetype i = 0;
    while (i < bits.size()) {
        qsizetype j = i;
        while (j < bits.size() && bits[j] == bits[i])
            ++j;
        const int run = int(j - i);
        result += bits[i] == '1' ? char('4' + run) : char('0' + run - 1);
        i = j;
    }
    return result;
}

QByteArray PadLeft(const QByteArray& text, qsizetype length) {
    if (text.size() >= length)
        return text;
    return QByteArray(length - text.size(), '0') + text;
}

int DigitOf(char ch) {
    if (ch < '0' || ch > '9')
        throw orvanta::Exception(
            QStringLiteral("'%1' is not a valid integer value").arg(QString::fromLatin1(&ch, 1)));
    return ch - '0';
}

// The EAN/UPC check digit: weights 3 and 1 alternately from the right, the rightmost 3.
char Mod10Digit(const QByteArray& text) {
    int sum = 0;
    bool three = true;
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        sum += DigitOf(text[i]) * (three ? 3 : 1);
        three = !three;
    }
    return char('0' + (10 - sum % 10) % 10);
}

QByteArray AppendMod10Digit(const QByteArray& text) {
    return text + Mod10Digit(text);
}

// --- EAN and UPC ---

const char* const EanL[10] = {"0001101", "0011001", "0010011", "0111101", "0100011",
                              "0110001", "0101111", "0111011", "0110111", "0001011"};

QByteArray EanCode(int digit, char set) {
    QByteArray bits(EanL[digit]);
    if (set == 'L')
        return bits;
    for (char& b : bits)
        b = b == '1' ? '0' : '1';
    if (set == 'R')
        return bits;
    std::reverse(bits.begin(), bits.end()); // G: R read backwards
    return bits;
}

const char* const Ean13Parity[10] = {"LLLLLL", "LLGLGG", "LLGGLG", "LLGGGL", "LGLLGG",
                                     "LGGLLG", "LGGGLL", "LGLGLG", "LGLGGL", "LGGLGL"};
// Number system 0, by check digit; number system 1 takes the other set in every place.
const char* const UpcEParity[10] = {"GGGLLL", "GGLGLL", "GGLLGL", "GGLLLG", "GLGGLL",
                                    "GLLGGL", "GLLLGG", "GLGLGL", "GLGLLG", "GLLGLG"};
const char* const Supp2Parity[4] = {"LL", "LG", "GL", "GG"};
const char* const Supp5Parity[10] = {"GGLLL", "GLGLL", "GLLGL", "GLLLG", "LGGLL",
                                     "LLGGL", "LLLGG", "LGLGL", "LGLLG", "LLGLG"};

[[noreturn]] void InvalidLength(TBarcodeType typ) {
    throw orvanta::Exception(QStringLiteral("Invalid Text len (%1)")
                                 .arg(QLatin1String(TBarcodeImage::BCdata[typ].Name)));
}

} // namespace

QByteArray TBarcodeImage::ApplyCheckDigit(const QByteArray& text) const {
    if (FCheckSumMethod == csmModulo10)
        return AppendMod10Digit(text);
    return text;
}

QByteArray TBarcodeImage::Code_EAN8() const {
    QByteArray digits;
    if (FCheckSum)
        digits = ApplyCheckDigit(PadLeft(FText, 7).right(7));
    else
        digits = PadLeft(FText, 8);
    if (digits.size() != 8)
        InvalidLength(bcCodeEAN8);
    QByteArray bits = "101";
    for (int i = 0; i < 4; ++i)
        bits += EanCode(digits[i] - '0', 'L');
    bits += "01010";
    for (int i = 4; i < 8; ++i)
        bits += EanCode(digits[i] - '0', 'R');
    bits += "101";
    return BitsToModules(bits);
}

QByteArray TBarcodeImage::Code_EAN13() const {
    QByteArray digits;
    if (FCheckSum)
        digits = ApplyCheckDigit(PadLeft(FText, 12).right(12));
    else
        digits = PadLeft(FText, 13);
    if (digits.size() != 13)
        InvalidLength(bcCodeEAN13);
    const char* parity = Ean13Parity[digits[0] - '0'];
    QByteArray bits = "101";
    for (int i = 1; i < 7; ++i)
        bits += EanCode(digits[i] - '0', parity[i - 1]);
    bits += "01010";
    for (int i = 7; i < 13; ++i)
        bits += EanCode(digits[i] - '0', 'R');
    bits += "101";
    return BitsToModules(bits);
}

QByteArray TBarcodeImage::Code_UPC_A() {
    const QByteArray padded = PadLeft(FText, 12);
    // A longer text would lose its last digits in the symbol.
    if (padded.size() != 12)
        InvalidLength(FTyp);
    FText = padded;
    QByteArray digits = padded;
    if (FCheckSum)
        digits = ApplyCheckDigit(padded.left(11));
    if (digits.size() != 12)
        InvalidLength(FTyp);
    QByteArray bits = "101";
    for (int i = 0; i < 6; ++i)
        bits += EanCode(digits[i] - '0', 'L');
    bits += "01010";
    for (int i = 6; i < 12; ++i)
        bits += EanCode(digits[i] - '0', 'R');
    bits += "101";
    return BitsToModules(bits);
}

QByteArray TBarcodeImage::Code_UPC_E(bool numberSystemOne) {
    const QByteArray padded = PadLeft(FText, 7);
    if (padded.size() != 7)
        InvalidLength(FTyp);
    FText = padded;
    // The check digit is that of the UPC-A number the six digits stand for.
    const QByteArray d = padded.left(6);
    QByteArray upcA(1, numberSystemOne ? '1' : '0');
    switch (d[5]) {
    case '0':
    case '1':
    case '2':
        upcA += d.left(2) + d[5] + "0000" + d.mid(2, 3);
        break;
    case '3':
        upcA += d.left(3) + "00000" + d.mid(3, 2);
        break;
    case '4':
        upcA += d.left(4) + "00000" + d[4];
        break;
    default:
        upcA += d.left(5) + "0000" + d[5];
        break;
    }
    const int check = Mod10Digit(upcA) - '0';
    const char* parity = UpcEParity[check];
    QByteArray bits = "101";
    for (int i = 0; i < 6; ++i) {
        char set = parity[i];
        if (numberSystemOne)
            set = set == 'L' ? 'G' : 'L';
        bits += EanCode(d[i] - '0', set);
    }
    bits += "010101";
    return BitsToModules(bits);
}

QByteArray TBarcodeImage::Code_Supp2() const {
    const QByteArray digits = PadLeft(FText, 2);
    if (digits.size() != 2)
        InvalidLength(FTyp);
    const int value = (digits[0] - '0') * 10 + (digits[1] - '0');
    const char* parity = Supp2Parity[value % 4];
    QByteArray bits = "1011";
    bits += EanCode(digits[0] - '0', parity[0]);
    bits += "01";
    bits += EanCode(digits[1] - '0', parity[1]);
    return BitsToModules(bits);
}

QByteArray TBarcodeImage::Code_Supp5() const {
    const QByteArray digits = PadLeft(FText, 5);
    if (digits.size() != 5)
        InvalidLength(FTyp);
    int sum = 0;
    for (int i = 0; i < 5; ++i)
        sum += (digits[i] - '0') * (i % 2 == 0 ? 3 : 9);
    const char* parity = Supp5Parity[sum % 10];
    QByteArray bits = "1011";
    for (int i = 0; i < 5; ++i) {
        if (i > 0)
            bits += "01";
        bits += EanCode(digits[i] - '0', parity[i]);
    }
    return BitsToModules(bits);
}
