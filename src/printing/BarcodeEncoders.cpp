// The encoders of TBarcodeImage: one module string per symbology, following each
// symbology's published patterns.
#include "printing/Barcode.h"
#include "printing/Code128.h"

#include "platform/CodePages.h"
#include "platform/Error.h"

#include <vector>

namespace {

const QString ClassName = QStringLiteral("TBarcodeImage");

// Element widths "1" to "4", alternating bar, space, bar, ... from a bar, as module
// characters.
QByteArray WidthsToModules(const QByteArray& widths) {
    QByteArray result(widths.size(), '0');
    for (qsizetype i = 0; i < widths.size(); ++i)
        result[i] = (i % 2 == 0) ? char(widths[i] + 4) : char(widths[i] - 1);
    return result;
}

// --- 2 of 5: narrow ("1") and wide ("2") for the five elements of each digit ---

const char* const TwoOfFive[10] = {"11221", "21112", "12112", "22111", "11212",
                                   "21211", "12211", "11122", "21121", "12121"};

// --- Code 39 ---

const char Code39Chars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%";

// Nine element widths of the character at index i of Code39Chars, or of "*" for i = -1.
// Ten characters in a row share the place of their wide space and run through the 2 of 5
// bar patterns 1, 2, ... 9, 0; the last four have three wide spaces and no wide bar.
QByteArray Code39Pattern(int i) {
    static const int wideSpaces[4][3] = {{0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 3}};
    QByteArray bars("11111");
    QByteArray spaces("1111");
    if (i < 0) {
        bars = TwoOfFive[0];
        spaces[0] = '2';
    } else if (i < 39) {
        static const int wideSpaceOfGroup[4] = {1, 2, 3, 0};
        const int group = i / 10;
        bars = TwoOfFive[group == 0 ? i : (i % 10 + 1) % 10];
        spaces[wideSpaceOfGroup[group]] = '2';
    } else {
        for (const int s : wideSpaces[i - 39])
            spaces[s] = '2';
    }
    QByteArray widths;
    for (int e = 0; e < 5; ++e) {
        widths += bars[e];
        if (e < 4)
            widths += spaces[e];
    }
    return widths;
}

int Code39Index(char ch) {
    for (int i = 0; Code39Chars[i]; ++i) {
        if (Code39Chars[i] == ch)
            return i;
    }
    return -1;
}

// Full-ASCII form of a character 0 to 127 in the Code 39 set, where "$", "%", "/" and "+"
// before a letter are the shift characters.
QByteArray FullAscii(unsigned char c) {
    auto pair = [](char shift, int letter) {
        const char chars[2] = {shift, char('A' + letter)};
        return QByteArray(chars, 2);
    };
    if (c == 0)
        return "%U";
    if (c <= 26)
        return pair('$', c - 1);
    if (c <= 31)
        return pair('%', c - 27);
    if (c == 32)
        return " ";
    if (c <= 44)
        return pair('/', c - 33);
    if (c == 45 || c == 46)
        return QByteArray(1, char(c));
    if (c == 47)
        return "/O";
    if (c <= 57)
        return QByteArray(1, char(c));
    if (c == 58)
        return "/Z";
    if (c <= 63)
        return pair('%', c - 59 + 5);
    if (c == 64)
        return "%V";
    if (c <= 90)
        return QByteArray(1, char(c));
    if (c <= 95)
        return pair('%', c - 91 + 10);
    if (c == 96)
        return "%W";
    if (c <= 122)
        return pair('+', c - 97);
    if (c <= 127)
        return pair('%', c - 123 + 15);
    return {};
}

// --- Code 93 ---

const char Code93Chars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%";
// Values 0 to 46: the 43 characters above, then the shifts ($), (%), (/), (+).
const char* const Code93Patterns[47] = {
    "131112", "111213", "111312", "111411", "121113", "121212", "121311", "111114",
    "131211", "141111", "211113", "211212", "211311", "221112", "221211", "231111",
    "112113", "112212", "112311", "122112", "132111", "111123", "111222", "111321",
    "121122", "131121", "212112", "212211", "211122", "211221", "221121", "222111",
    "112122", "112221", "122121", "123111", "121131", "311112", "311211", "321111",
    "112131", "113121", "211131", "121221", "312111", "311121", "122211"};
const char Code93StartStop[] = "111141";

int Code93Index(char ch) {
    for (int i = 0; Code93Chars[i]; ++i) {
        if (Code93Chars[i] == ch)
            return i;
    }
    return -1;
}

QByteArray Code93Symbol(const std::vector<int>& values) {
    const int n = int(values.size());
    int c = 0;
    for (int i = 0; i < n; ++i)
        c += values[n - 1 - i] * (i % 20 + 1);
    c %= 47;
    int k = c;
    for (int i = 0; i < n; ++i)
        k += values[n - 1 - i] * ((i + 1) % 15 + 1);
    k %= 47;
    QByteArray widths = Code93StartStop;
    for (const int v : values)
        widths += Code93Patterns[v];
    widths += Code93Patterns[c];
    widths += Code93Patterns[k];
    widths += Code93StartStop;
    widths += '1'; // termination bar
    return WidthsToModules(widths);
}

// --- Code 128 ---

constexpr int Fnc1 = 102;

} // namespace

const char* const kCode128Patterns[106] = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312", "132212",
    "221213", "221312", "231212", "112232", "122132", "122231", "113222", "123122", "123221",
    "223211", "221132", "221231", "213212", "223112", "312131", "311222", "321122", "321221",
    "312212", "322112", "322211", "212123", "212321", "232121", "111323", "131123", "131321",
    "112313", "132113", "132311", "211313", "231113", "231311", "112133", "112331", "132131",
    "113123", "113321", "133121", "313121", "211331", "231131", "213113", "213311", "213131",
    "311123", "311321", "331121", "312113", "312311", "332111", "314111", "221411", "431111",
    "111224", "111422", "121124", "121421", "141122", "141221", "112214", "112412", "122114",
    "122411", "142112", "142211", "241211", "221114", "413111", "241112", "134111", "111242",
    "121142", "121241", "114212", "124112", "124211", "411212", "421112", "421211", "212141",
    "214121", "412121", "111143", "111341", "131141", "114113", "114311", "411113", "411311",
    "113141", "114131", "311141", "411131", "211412", "211214", "211232"};
const char kCode128Stop[] = "2331112";

QByteArray TBarcodeImage::Code_2_5_interleaved() const {
    // Digits go in pairs; an odd text gets a leading zero rather than losing its last digit.
    const QByteArray digits = FText.size() % 2 ? '0' + FText : FText;
    QByteArray widths = "1111";
    for (qsizetype i = 0; i + 1 < digits.size(); i += 2) {
        const char* bars = TwoOfFive[digits[i] - '0'];
        const char* spaces = TwoOfFive[digits[i + 1] - '0'];
        for (int e = 0; e < 5; ++e) {
            widths += bars[e];
            widths += spaces[e];
        }
    }
    widths += "211";
    return WidthsToModules(widths);
}

QByteArray TBarcodeImage::Code_2_5_industrial() const {
    QByteArray widths = "212111";
    for (const char ch : FText) {
        for (const char* bar = TwoOfFive[ch - '0']; *bar; ++bar) {
            widths += *bar;
            widths += '1';
        }
    }
    widths += "21112";
    return WidthsToModules(widths);
}

QByteArray TBarcodeImage::Code_2_5_matrix() const {
    // The start and stop bars are wider than a wide bar: three narrow halves of it.
    QByteArray widths = "311111";
    for (const char ch : FText) {
        widths += TwoOfFive[ch - '0'];
        widths += '1';
    }
    widths += "31111";
    return WidthsToModules(widths);
}

QByteArray TBarcodeImage::Code_39() const {
    std::vector<int> indexes;
    int sum = 0;
    for (const char ch : FText) {
        const int i = Code39Index(ch);
        if (i >= 0) {
            indexes.push_back(i);
            sum += i;
        }
    }
    if (FCheckSum)
        indexes.push_back(sum % 43);
    QByteArray widths = Code39Pattern(-1);
    for (const int i : indexes) {
        widths += '1';
        widths += Code39Pattern(i);
    }
    widths += '1';
    widths += Code39Pattern(-1);
    return WidthsToModules(widths);
}

QByteArray TBarcodeImage::Code_39Extended() const {
    QByteArray expanded;
    for (const char ch : FText)
        expanded += FullAscii(static_cast<unsigned char>(ch));
    QByteArray widths = Code39Pattern(-1);
    int sum = 0;
    for (const char ch : std::as_const(expanded)) {
        const int i = Code39Index(ch);
        sum += i;
        widths += '1';
        widths += Code39Pattern(i);
    }
    if (FCheckSum) {
        widths += '1';
        widths += Code39Pattern(sum % 43);
    }
    widths += '1';
    widths += Code39Pattern(-1);
    return WidthsToModules(widths);
}

QByteArray TBarcodeImage::Code_93() const {
    std::vector<int> values;
    values.reserve(FText.size());
    for (const char ch : FText) {
        const int i = Code93Index(ch);
        if (i < 0)
            throw orvanta::Exception(QStringLiteral("%1:Code93 bad Data <%2>")
                                         .arg(ClassName, orvanta::fromCp1251(FText)));
        values.push_back(i);
    }
    return Code93Symbol(values);
}

QByteArray TBarcodeImage::Code_93Extended() const {
    std::vector<int> values;
    for (const char ch : FText) {
        const QByteArray pair = FullAscii(static_cast<unsigned char>(ch));
        for (qsizetype i = 0; i < pair.size(); ++i) {
            if (pair.size() == 2 && i == 0) {
                // The Code 39 shift letters become Code 93's own shift characters.
                switch (pair[0]) {
                case '$':
                    values.push_back(43);
                    break;
                case '%':
                    values.push_back(44);
                    break;
                case '/':
                    values.push_back(45);
                    break;
                default:
                    values.push_back(46);
                    break;
                }
            } else {
                values.push_back(Code93Index(pair[i]));
            }
        }
    }
    return Code93Symbol(values);
}

QByteArray TBarcodeImage::Code_MSI() const {
    // Modulo 10 of MSI: the digits in odd places from the right count twice, digit by
    // digit.
    int sum = 0;
    for (qsizetype i = 0; i < FText.size(); ++i) {
        int d = FText[FText.size() - 1 - i] - '0';
        if (i % 2 == 0) {
            d *= 2;
            d = d / 10 + d % 10;
        }
        sum += d;
    }
    const QByteArray digits = FText + char('0' + (10 - sum % 10) % 10);
    QByteArray widths = "21";
    for (const char ch : digits) {
        const int d = ch - '0';
        for (int bit = 3; bit >= 0; --bit)
            widths += (d >> bit) & 1 ? "21" : "12";
    }
    widths += "121";
    return WidthsToModules(widths);
}

QByteArray TBarcodeImage::Code_PostNet() const {
    static const char* const tall[10] = {"11000", "00011", "00101", "00110", "01001",
                                         "01010", "01100", "10001", "10010", "10100"};
    QByteArray result = "5";
    for (const char ch : FText) {
        for (const char* bit = tall[ch - '0']; *bit; ++bit) {
            result += '0';
            result += *bit == '1' ? '5' : 'A';
        }
    }
    result += "05";
    return result;
}

QByteArray TBarcodeImage::Code_Codabar() const {
    static const char chars[] = "0123456789-$:/.+ABCD";
    static const char* const patterns[20] = {"1111122", "1111221", "1112112", "2211111", "1121121",
                                             "2111121", "1211112", "1211211", "1221111", "2112111",
                                             "1112211", "1122111", "2111212", "2121112", "2121211",
                                             "1121212", "1122121", "1212112", "1112122", "1112221"};
    auto indexOf = [](char ch) {
        for (int i = 0; i < 16; ++i) {
            if (chars[i] == ch)
                return i;
        }
        return -1;
    };
    QByteArray widths = patterns[16]; // start A
    for (const char ch : FText) {
        const int i = indexOf(ch);
        if (i < 0)
            continue; // outside the data characters: left out
        widths += '1';
        widths += patterns[i];
    }
    widths += '1';
    widths += patterns[17]; // stop B
    return WidthsToModules(widths);
}

QByteArray TBarcodeImage::Code_128() {
    int start = 0;
    bool setC = false;
    bool setA = false;
    switch (FTyp) {
    case bcCode128A:
    case bcCodeEAN128A:
        start = 103;
        setA = true;
        break;
    case bcCode128B:
    case bcCodeEAN128B:
        start = 104;
        break;
    case bcCode128C:
    case bcCodeEAN128C:
        start = 105;
        setC = true;
        break;
    default:
        throw orvanta::Exception(
            QStringLiteral("%1: wrong BarcodeType in Code_128").arg(ClassName));
    }
    const bool ean = FTyp >= bcCodeEAN128A;

    // The weighted sum is kept modulo 103 as it grows, so long texts cannot overflow it.
    QByteArray widths = kCode128Patterns[start];
    int sum = start;
    int weight = 1;
    auto add = [&](int value) {
        widths += kCode128Patterns[value];
        sum = (sum + value * weight) % 103;
        weight = (weight + 1) % 103;
    };
    QByteArray text = FText;
    if (ean) {
        add(Fnc1);
        if (FCheckSum)
            text = ApplyCheckDigit(FText);
    }
    if (setC) {
        if (text.size() % 2) {
            text.prepend('0');
            if (FTyp == bcCode128C || !FCheckSum)
                FText = text;
        }
        for (qsizetype i = 0; i + 1 < text.size(); i += 2)
            add((text[i] - '0') * 10 + (text[i + 1] - '0'));
    } else {
        for (const char ch : std::as_const(text)) {
            const int c = static_cast<unsigned char>(ch);
            int value = 0; // a character the set lacks goes as a space
            if (setA) {
                if (c >= 32 && c <= 95)
                    value = c - 32;
                else if (c < 32)
                    value = c + 64;
            } else if (c >= 32 && c <= 126) {
                value = c - 32;
            }
            add(value);
        }
    }
    widths += kCode128Patterns[sum];
    widths += kCode128Stop;
    return WidthsToModules(widths);
}
