// The symbologies a reader here cannot check, against their published patterns, and
// the texts the encoders store back.
#include "printing/Barcode.h"

#include <gtest/gtest.h>

#include <set>

namespace {

// One character per unit: "1" bar, "0" space, "s" short bar.
std::string bitsOf(const QByteArray& modules) {
    std::string bits;
    for (const char m : modules) {
        if (m >= '0' && m <= '3')
            bits.append(m - '0' + 1, '0');
        else if (m >= '5' && m <= '8')
            bits.append(m - '5' + 1, '1');
        else
            bits.append(m - 'A' + 1, 's');
    }
    return bits;
}

QByteArray modulesOf(TBarcodeType typ, const QByteArray& text, bool checksum = false) {
    TBarcodeImage barcode;
    barcode.SetTyp(typ);
    barcode.SetText(text);
    barcode.SetChecksum(checksum);
    return barcode.BuildModuleString();
}

// Symbologies the reader here does not know, against their published patterns.
TEST(BarcodePatterns, TwoOfFiveMsiAndPostnet) {
    struct Case {
        TBarcodeType typ;
        QByteArray text;
        std::string bits;
    };
    const Case cases[] = {
        // Industrial 2 of 5: start 11011010, digits in the bars only, stop 1101011
        {bcCode_2_5_industrial, "12",
         "11011010"
         "110101010110" // 1: W N N N W
         "101101010110" // 2: N W N N W
         "1101011"},
        // Interleaved 2 of 5: start 1010, 1 in the bars and 2 in the spaces, stop 1101
        {bcCode_2_5_interleaved, "12",
         "1010"
         "110100101011"
         "00"
         "1101"},
        // Matrix 2 of 5 at the clamped ratio 2.25: wide 2, start bar 3 units
        {bcCode_2_5_matrix, "1",
         "11101010"
         "11010110"
         "1110101"},
        // MSI: start 110, BCD digits (1 = 110, 0 = 100), the modulo 10 digit, stop 1001
        {bcCodeMSI, "1234567",
         "110"
         "100100100110"
         "100100110100"
         "100100110110"
         "100110100100"
         "100110100110"
         "100110110100"
         "100110110110"
         "100110100100" // check digit 4
         "1001"},
        // POSTNET: frame bars, five bars a digit (1 = 00011), short bars from the top
        {bcCodePostNet, "10",
         "10"
         "s0s0s01010"
         "1010s0s0s0"
         "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(bitsOf(modulesOf(c.typ, c.text)), c.bits);
    }
}

TEST(BarcodePatterns, PostnetShortBarsHangFromTheTop) {
    TBarcodeImage barcode;
    barcode.SetTyp(bcCodePostNet);
    barcode.SetText("1");
    barcode.SetTop(10);
    barcode.SetHeight(25);
    TRecordingCanvas canvas;
    barcode.DrawBarcode(canvas);
    std::set<std::pair<int, int>> spans; // (top, bottom) of the bars
    for (const TRecordingCanvas::Call& call : canvas.calls()) {
        if (call.pen.Color == 0)
            spans.insert({call.points[0].y(), call.points[1].y()});
    }
    EXPECT_EQ(spans, (std::set<std::pair<int, int>>{{10, 35}, {10, 20}}));
}

TEST(BarcodePatterns, UpcAndTheAddOns) {
    struct Case {
        TBarcodeType typ;
        QByteArray text;
        bool checksum;
        std::string bits;
    };
    const Case cases[] = {
        // UPC-E number system 1, 123456: check 2 of 11234500006, parity OOEEOE
        {bcCodeUPC_E1, "1234560", true,
         "101"
         "0011001" // 1 odd
         "0010011" // 2 odd
         "0100001" // 3 even
         "0011101" // 4 even
         "0110001" // 5 odd
         "0000101" // 6 even
         "010101"},
        // 2-digit add-on 12: 12 mod 4 = 0, both odd
        {bcCodeUPC_Supp2, "12", false,
         "1011"
         "0011001"
         "01"
         "0010011"},
        // 2-digit add-on 7: padded to 07, 7 mod 4 = 3, both even
        {bcCodeUPC_Supp2, "7", false,
         "1011"
         "0100111"
         "01"
         "0010001"},
        // 5-digit add-on 52495: 3 x (5 + 4 + 5) + 9 x (2 + 9) = 141, parity EOEOO
        {bcCodeUPC_Supp5, "52495", false,
         "1011"
         "0111001"
         "01"
         "0010011"
         "01"
         "0011101"
         "01"
         "0001011"
         "01"
         "0110001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(bitsOf(modulesOf(c.typ, c.text, c.checksum)), c.bits);
    }
}

TEST(BarcodePatterns, TextsAreNormalisedAsTheyAreStored) {
    struct Case {
        TBarcodeType typ;
        QByteArray text;
        bool checksum;
        QByteArray textAfter;
    };
    const Case cases[] = {
        {bcCodeUPC_A, "36000291452", false, "036000291452"},
        {bcCodeUPC_A, " 036000291450 ", true, "036000291450"}, // check digit not stored
        {bcCodeUPC_E0, "123", false, "0000123"},
        {bcCodeEAN13, "123", false, "123"},               // padded for the symbol only
        {bcCodeEAN8, "12345678901", true, "12345678901"}, // last 7 plus the check digit
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        TBarcodeImage barcode;
        barcode.SetTyp(c.typ);
        barcode.SetText(c.text);
        barcode.SetChecksum(c.checksum);
        EXPECT_NO_THROW(barcode.Width());
        EXPECT_EQ(barcode.Text(), c.textAfter);
    }
    // EAN-8 of the last 7 digits with their check digit
    EXPECT_EQ(modulesOf(bcCodeEAN8, "12345678901", true), modulesOf(bcCodeEAN8, "56789010"));
}

TEST(BarcodePatterns, FullAsciiGoesThroughTheBasicSet) {
    // Pairs of the published full-ASCII table.
    EXPECT_EQ(modulesOf(bcCode39Extended, QByteArray("a$\0~\x7F[", 6)),
              modulesOf(bcCode39, "+A/D%U%S%T%K"));
    EXPECT_EQ(modulesOf(bcCode39Extended, "AB-12", true), modulesOf(bcCode39, "AB-12", true));
    // Bytes past 127 are left out.
    EXPECT_EQ(modulesOf(bcCode39Extended, "A\xC0Z"), modulesOf(bcCode39, "AZ"));
    EXPECT_EQ(modulesOf(bcCode93Extended, "A\xC0Z"), modulesOf(bcCode93, "AZ"));
    // Plain Code 39 leaves out what its set lacks, the start character included.
    EXPECT_EQ(modulesOf(bcCode39, "a*B"), modulesOf(bcCode39, "B"));
}

} // namespace
