// Decoding and matching of the kiosk's lines, as tables.
#include "kiosk/KioskProtocol.h"

#include "platform/Error.h"

#include <gtest/gtest.h>

namespace {

TEST(KioskProtocol, MatchesKeysAndWordsWithoutRegardToCase) {
    struct Case {
        const char* line;
        TKioskLineKind kind;
        const char* value;
    } cases[] = {
        {"VERSION=Kiosk 14.2.0.7", TKioskLineKind::Version, "Kiosk 14.2.0.7"},
        {"version=x", TKioskLineKind::Version, "x"},
        {"order_sum=12.50", TKioskLineKind::OrderSum, "12.50"},
        {"ORDER_XML=<Order/>", TKioskLineKind::OrderXml, "<Order/>"},
        {"Invoice=Abc", TKioskLineKind::Invoice, "Abc"}, // the value keeps its case
        {"pay_block", TKioskLineKind::PayBlock, ""},
        {"PAY_END", TKioskLineKind::PayEnd, ""},
        {"Session_Start", TKioskLineKind::SessionStart, ""},
        {"SESSION_STOP", TKioskLineKind::SessionStop, ""},
        {"ORDERING_FINISH", TKioskLineKind::OrderingFinish, ""},
        {"PAY_BLOCK ", TKioskLineKind::Ignored, ""},
        {" PAY_BLOCK", TKioskLineKind::Ignored, ""},
        {"VERSION", TKioskLineKind::Ignored, ""},
        {"KEEP_ALIVE", TKioskLineKind::Ignored, ""},
    };
    for (const auto& c : cases) {
        const TKioskLine m = MatchKioskLine(QString::fromUtf8(c.line));
        EXPECT_EQ(m.Kind, c.kind) << c.line;
        EXPECT_EQ(m.Value, QString::fromUtf8(c.value)) << c.line;
    }
}

TEST(KioskProtocol, PercentDecode) {
    struct Case {
        QString in;
        QString out;
    } cases[] = {
        {QStringLiteral("a%25b%0D%0Ac"), QStringLiteral("a%b\r\nc")},
        {QStringLiteral("%41%4a%4A"), QStringLiteral("AJJ")},
        {QStringLiteral("%D0%9A"), QStringLiteral("\u00D0\u009A")}, // bytes stay Latin-1 characters
        {QStringLiteral("Кофе 100%25"), QStringLiteral("Кофе 100%")},
        {QStringLiteral(""), QStringLiteral("")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PercentDecode(c.in), c.out) << c.in.toStdString();

    for (const QString& bad : {QStringLiteral("%"), QStringLiteral("a%2"), QStringLiteral("%G1"),
                               QStringLiteral("100%"), QStringLiteral("%%41")})
        EXPECT_THROW(PercentDecode(bad), orvanta::Exception) << bad.toStdString();
}

TEST(KioskProtocol, OrderSumReadsOnlyAPlainDotNumber) {
    struct Case {
        const char* text;
        double sum;
    } cases[] = {
        {"12.50", 12.5}, {"  -3", -3},   {"+1e2", 100}, {"2.5E-1", 0.25}, {"0", 0},
        {"12,50", -1},   {"12.50 ", -1}, {"", -1},      {"abc", -1},      {"1e", -1},
        {".5", 0.5},     {"5.", 5},      {"1 000", -1}, {"٣", -1},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(ParseOrderSum(QString::fromUtf8(c.text)), c.sum) << c.text;
}

TEST(KioskProtocol, LinesAreUtf8AndLoneCrOrLfSplitsThem) {
    struct Case {
        QByteArray raw;
        QStringList lines;
    } cases[] = {
        {"SESSION_START", {QStringLiteral("SESSION_START")}},
        {"A\rB\nC\r\n", {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}},
        {"\xD0\x9A\xD0\xB0\xD1\x81\xD1\x81\xD0\xB0", {QStringLiteral("Касса")}},
        // Invalid bytes become U+FFFD instead of losing the line.
        {"PAY\xFF_END", {QStringLiteral("PAY\uFFFD_END")}},
        {"\r\n", {}},
        {"", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeKioskLine(c.raw), c.lines) << c.raw.toHex().constData();
}

TEST(KioskProtocol, LineBufferKeepsPartialLinesAndSplitsOnCrLfOnly) {
    TLineBuffer buffer;
    auto append = [&](const QByteArray& b) {
        buffer.Append(b.constData(), static_cast<std::size_t>(b.size()));
    };
    append("SESSION_");
    EXPECT_FALSE(buffer.ExtractLine());
    append("START\r");
    EXPECT_FALSE(buffer.ExtractLine()); // CR alone at the end of a read
    append("\nPAY_END\r\n\r\nX\nY\r\nTAIL");
    EXPECT_EQ(buffer.ExtractLine(), QByteArray("SESSION_START"));
    EXPECT_EQ(buffer.ExtractLine(), QByteArray("PAY_END"));
    EXPECT_EQ(buffer.ExtractLine(), QByteArray(""));
    EXPECT_EQ(buffer.ExtractLine(), QByteArray("X\nY"));
    EXPECT_FALSE(buffer.ExtractLine());
    EXPECT_EQ(buffer.Size(), 4u);
    buffer.Clear();
    EXPECT_EQ(buffer.Size(), 0u);
}

TEST(KioskProtocol, LineBufferNoticesAnEndlessLine) {
    TLineBuffer buffer;
    const QByteArray block(1 << 20, 'x');
    for (int i = 0; i < 16; ++i)
        buffer.Append(block.constData(), static_cast<std::size_t>(block.size()));
    EXPECT_FALSE(buffer.ExtractLine());
    EXPECT_FALSE(buffer.Overlong()); // exactly 16 MiB is still a line in the making
    buffer.Append("y", 1);
    EXPECT_TRUE(buffer.Overlong());
}

TEST(KioskProtocol, CommandWords) {
    const std::pair<TKioskCommand, const char*> words[] = {
        {kcNone, ""},
        {kcGetVersion, "GET_VERSION"},
        {kcGetWorkState, "GET_WORK_STATE"},
        {kcConfirmOrder, "ORDER_CONFIRM"},
        {kcCancelOrder, "ORDER_CANCEL"},
        {kcReturnToOrder, "ORDER_RETURN"},
        {kcGetInvoice, "GET_INVOICE"},
        {kcGetXMLInvoice, "GET_XMLINVOICE"},
        {kcKeepAlive, "KEEP_ALIVE"},
    };
    for (const auto& [command, word] : words)
        EXPECT_EQ(KioskCommandWord(command), QByteArray(word));
}

} // namespace
