#include "common/RussianPlural.h"

#include <gtest/gtest.h>

TEST(RussianPlural, TheFormFollowsTheLastDigitsAsRussianSaysACount) {
    const struct {
        qint64 count;
        const char* word;
    } cases[] = {
        {0, "заказов"},     {1, "заказ"},    {2, "заказа"},    {4, "заказа"},    {5, "заказов"},
        {11, "заказов"},    {12, "заказов"}, {14, "заказов"},  {21, "заказ"},    {22, "заказа"},
        {25, "заказов"},    {101, "заказ"},  {111, "заказов"}, {112, "заказов"}, {1001, "заказ"},
        {20000, "заказов"}, {-1, "заказ"},   {-13, "заказов"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(russianPlural(c.count, QStringLiteral("заказ"), QStringLiteral("заказа"),
                                QStringLiteral("заказов")),
                  QString::fromUtf8(c.word))
            << c.count;
}
