// Number, money and date texts: "." as decimal separator whatever the locale.
#include "common/FormatSettings.h"
#include "common/DateUtils.h"

#include <gtest/gtest.h>

#include <clocale>

namespace {

TEST(FormatSettings, FixedPointIsLocaleFree) {
    // With the C library switched to a locale whose decimal separator is a comma.
    if (!std::setlocale(LC_ALL, "ru_RU.UTF-8"))
        GTEST_SKIP() << "the ru_RU.UTF-8 locale is not installed (scripts/install-deps makes it)";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    InitFormatSettings(QLocale(QStringLiteral("ru_RU")));
    double v = 0;
    EXPECT_TRUE(TryStrToFloat(u"12.50", v));
    EXPECT_DOUBLE_EQ(v, 12.5);
    EXPECT_FALSE(TryStrToFloat(u"12,50", v));
    struct Case {
        double v;
        int decimals;
        const char* text;
    } cases[] = {
        {2, 1, "2.0"},      {1234.5, 2, "1234.50"}, {-0.001, 2, "0.00"},
        {-1.25, 1, "-1.3"}, {0.125, 2, "0.13"}, // halves away from zero, as receipts always had
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatFixed(c.v, c.decimals), QString::fromLatin1(c.text)) << c.text;
    std::setlocale(LC_ALL, "C");
}

TEST(FormatSettings, MoneyFollowsTheLocaleButKeepsTheDot) {
    InitFormatSettings(QLocale(QStringLiteral("ru_RU")));
    EXPECT_EQ(FormatSettings.DecimalSeparator, QLatin1Char('.'));
    const QString grouped = FormatMoney(1234567.5);
    EXPECT_TRUE(grouped.startsWith(QStringLiteral("1") + FormatSettings.ThousandSeparator +
                                   QStringLiteral("234")))
        << grouped.toStdString();
    EXPECT_TRUE(grouped.contains(QStringLiteral("567.50")));
    EXPECT_TRUE(grouped.contains(FormatSettings.CurrencyString));
    EXPECT_TRUE(FormatMoney(-5).contains(QStringLiteral("5.00")));
    EXPECT_NE(FormatMoney(-5), FormatMoney(5));

    InitFormatSettings(QLocale(QStringLiteral("en_US")));
    EXPECT_EQ(FormatMoney(1234.5), QStringLiteral("$1,234.50"));
    // A locale that groups with "." groups with a space instead, never like a decimal point.
    InitFormatSettings(QLocale(QStringLiteral("de_DE")));
    EXPECT_EQ(FormatSettings.ThousandSeparator, QStringLiteral(" "));
    EXPECT_TRUE(FormatMoney(1234.5).startsWith(QStringLiteral("1 234.50")));
}

TEST(FormatSettings, DatePatternWithLocaleNames) {
    InitFormatSettings(QLocale(QStringLiteral("en_US")));
    const double dt = *EncodeDateTime(2015, 6, 1, 13, 5, 9);
    EXPECT_EQ(FormatDateTime(QStringLiteral("ddd, dd mmm yyyy, hh:nn"), dt),
              QStringLiteral("Mon, 01 Jun 2015, 13:05"));
    EXPECT_EQ(FormatDateTime(QStringLiteral("ddd, dd mmm yyyy, hh:nn"), 0),
              QStringLiteral("Sat, 30 Dec 1899, 00:00"));
    InitFormatSettings(QLocale(QStringLiteral("ru_RU")));
    EXPECT_EQ(FormatDateTime(QStringLiteral("ddd"), dt),
              QLocale(QStringLiteral("ru_RU")).dayName(1, QLocale::ShortFormat));
}

TEST(FormatSettings, LocaleFreeReaders) {
    struct F {
        const char* text;
        bool ok;
        double v;
    } floats[] = {{"1.5", true, 1.5}, {" -2e3", true, -2000}, {"1,5", false, 0},
                  {"1.5 ", false, 0}, {"", false, 0},         {"inf", false, 0},
                  {"1e999", false, 0}};
    for (const auto& c : floats) {
        double v = 0;
        EXPECT_EQ(TryStrToFloat(QString::fromLatin1(c.text), v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_DOUBLE_EQ(v, c.v) << c.text;
        }
    }
    struct I {
        const char* text;
        bool ok;
        int v;
    } ints[] = {{"42", true, 42},   {" -7", true, -7},         {"+03", true, 3},
                {"$FF", true, 255}, {"0x10", true, 16},        {"4a", false, 0},
                {"", false, 0},     {"99999999999", false, 0}, {"1 ", false, 0}};
    for (const auto& c : ints) {
        int v = 0;
        EXPECT_EQ(TryStrToInt(QString::fromLatin1(c.text), v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.v) << c.text;
        }
    }
}

TEST(DateUtils, EncodeRejectsImpossibleDatesAndRoundTrips) {
    EXPECT_FALSE(EncodeDateTime(2015, 13, 1));
    EXPECT_FALSE(EncodeDateTime(2015, 2, 29));
    EXPECT_TRUE(EncodeDateTime(2016, 2, 29));
    EXPECT_FALSE(EncodeDateTime(2015, 6, 1, 24));
    EXPECT_DOUBLE_EQ(*EncodeDateTime(1899, 12, 30), 0);
    EXPECT_DOUBLE_EQ(*EncodeDateTime(1900, 1, 1, 12), 2.5);
    const TDateParts p = DecodeDateTime(*EncodeDateTime(2024, 2, 29, 23, 59, 58));
    EXPECT_EQ(p.Year, 2024);
    EXPECT_EQ(p.Month, 2);
    EXPECT_EQ(p.Day, 29);
    EXPECT_EQ(p.Hour, 23);
    EXPECT_EQ(p.Minute, 59);
    EXPECT_EQ(p.Second, 58);
    EXPECT_EQ(p.DayOfWeek, 4); // a Thursday
}

} // namespace
