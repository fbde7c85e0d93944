#include "printing/PrinterStatus.h"

#include <gtest/gtest.h>

#include <QByteArray>

namespace {

TEST(PrinterStatusTest, BitsOfTheThreeAnswers) {
    const struct {
        const char* name;
        quint8 printer, offline, paper;
        QString words;
        bool blocks;
    } cases[] = {
        {"all clear", 0x12, 0x12, 0x12, "в порядке", false},
        {"drawer pin and feed button mean nothing here", 0x16, 0x1A, 0x12, "в порядке", false},
        {"offline", 0x1A, 0x12, 0x12, "не в сети", true},
        {"cover open", 0x1A, 0x16, 0x12, "открыта крышка", true},
        {"stopped by paper end", 0x1A, 0x32, 0x12, "нет бумаги", true},
        {"paper end sensor", 0x12, 0x12, 0x72, "нет бумаги", true},
        {"paper end outranks an open cover", 0x1A, 0x36, 0x7E, "нет бумаги", true},
        {"near end", 0x12, 0x12, 0x1E, "бумага заканчивается", false},
        {"error", 0x12, 0x52, 0x12, "ошибка принтера", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<EscPosPrinterStatus> s =
            EscPosPrinterStatus::fromAnswers(c.printer, c.offline, c.paper);
        ASSERT_TRUE(s.has_value());
        EXPECT_EQ(s->words(), c.words);
        EXPECT_EQ(s->blocksPrinting(), c.blocks);
    }
    EXPECT_EQ(EscPosPrinterStatus{}.words(), QStringLiteral("состояние неизвестно"));
    EXPECT_FALSE(EscPosPrinterStatus{}.blocksPrinting());
}

TEST(PrinterStatusTest, OnlyStatusBytesAreAnswers) {
    // Bit 0 clear, bit 1 set, bit 4 set, bit 7 clear.
    for (const quint8 notStatus : {0x00, 0x10, 0x02, 0x13, 0x92, 0x41, 0xFF, 0x30})
        EXPECT_FALSE(EscPosPrinterStatus::fromAnswers(0x12, notStatus, 0x12)) << int(notStatus);
    int valid = 0;
    for (int b = 0; b < 256; ++b)
        valid += EscPosPrinterStatus::isStatusByte(static_cast<quint8>(b));
    EXPECT_EQ(valid, 16); // the four free bits 2, 3, 5, 6
}

} // namespace
