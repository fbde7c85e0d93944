#include "printing/XMLUtils.h"

#include "common/DateUtils.h"
#include "platform/Error.h"

#include "TestUtil.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

namespace {

// ---------------------------------------------------------------------------------------
// ISO8601ToDateTime

using testutil::ScopedTimeZone;

// Seconds east of UTC of the zone's local time right now.
long offsetNowSeconds() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_gmtoff;
}

struct DateCase {
    const char* text;
    // The instant the text names, in UTC.
    int year, month, day, hour, minute, second;
};

const DateCase kReadableDates[] = {
    {"2015-06-01T10:30:00Z", 2015, 6, 1, 10, 30, 0},
    {"2015-06-01T10:30:00", 2015, 6, 1, 10, 30, 0}, // no zone: UTC
    {"2015-06-01 10:30", 2015, 6, 1, 10, 30, 0},
    {"2015-06-01T10:30", 2015, 6, 1, 10, 30, 0},
    {"2015-06-01T10", 2015, 6, 1, 10, 0, 0},
    {"2015-06-01T10:30:45Z", 2015, 6, 1, 10, 30, 45},
    {"2015-06-01T10:30:45.250Z", 2015, 6, 1, 10, 30, 0}, // a fraction loses the seconds
    {"2015-06-01T10:xx:15Z", 2015, 6, 1, 10, 0, 15},     // unreadable minutes count as 0
    {"2015-06-01T10:30:00+03:00", 2015, 6, 1, 7, 30, 0},
    {"2015-06-01T10:30:00-05:30", 2015, 6, 1, 16, 0, 0},
    {"2015-06-01T10:30:00-00:30", 2015, 6, 1, 11, 0, 0},
    {"2015-06-01T10:30:00+05:45", 2015, 6, 1, 4, 45, 0},
    {"2015-06-01T01:00:00+03:00", 2015, 5, 31, 22, 0, 0},
    {"2015-12-31T23:30:00-01:00", 2016, 1, 1, 0, 30, 0},
    {"2015-06-01", 2015, 6, 1, 0, 0, 0},
    {"2015-06", 2015, 6, 1, 0, 0, 0},
    {"2015", 2015, 1, 1, 0, 0, 0},
    {"2015-xx-yy", 2015, 1, 1, 0, 0, 0}, // unreadable month and day count as 1
    // Before the day-0 epoch the date-time type counts the time of day from a negative
    // day; the offset must still move the instant by exactly three hours.
    {"1899-12-30T01:00:00+03:00", 1899, 12, 29, 22, 0, 0},
    {"1899-12-29T18:00:00Z", 1899, 12, 29, 18, 0, 0},
};

const char* const kUnreadableDates[] = {
    "",
    "2015-06-01T10:30:00+0300", // offset without a colon: no offset minutes
    "2015-06-01T10:30:00+03",
    "2015-06-01T10:30:00+xx:00",
    "2015-06-01T10:30:00+03:xx",
    "2015-13-01T00:00:00Z",
    "2015-02-30",
    "2015-06-01T24:00:00",
    "2015-06-01T10:60",
    "2015-06-01Txx:30",
    "10:30:00", // a time alone: the year is not a number
    "T10:30:00",
    "June 2015",
    "0000-01-01",
};

// POSIX zone rules, so that the test needs no time-zone database.
const char* const kZones[] = {
    "UTC0",
    "<+03>-3",                    // UTC+3 all year
    "<-0930>9:30",                // behind UTC by a fraction of an hour
    "CET-1CEST,M3.5.0,M10.5.0/3", // daylight saving in summer
};

TEST(ISO8601ToDateTimeTest, GivesTheLocalTimeOfTheNamedInstant) {
    for (const char* zone : kZones) {
        ScopedTimeZone tz(zone);
        const long offset = offsetNowSeconds();
        for (const DateCase& c : kReadableDates) {
            const QDateTime local = QDateTime(QDate(c.year, c.month, c.day),
                                              QTime(c.hour, c.minute, c.second), QTimeZone::utc())
                                        .addSecs(offset);
            const TDateParts got = DecodeDateTime(ISO8601ToDateTime(QString::fromUtf8(c.text)));
            const QDateTime gotTime(QDate(got.Year, got.Month, got.Day),
                                    QTime(got.Hour, got.Minute, got.Second, got.MSec),
                                    QTimeZone::utc());
            EXPECT_EQ(gotTime, local) << c.text << " in " << zone;
        }
    }
}

TEST(ISO8601ToDateTimeTest, UnreadableTextsGiveZero) {
    for (const char* zone : kZones) {
        ScopedTimeZone tz(zone);
        for (const char* text : kUnreadableDates)
            EXPECT_EQ(ISO8601ToDateTime(QString::fromUtf8(text)), 0.0) << text << " in " << zone;
    }
}

TEST(ISO8601ToDateTimeTest, AConsoleAtUtcPlusThreeShowsThreeHoursLater) {
    ScopedTimeZone tz("<+03>-3");
    const std::optional<TDateTime> expected = EncodeDateTime(2015, 6, 1, 13, 30);
    ASSERT_TRUE(expected);
    EXPECT_NEAR(ISO8601ToDateTime(QStringLiteral("2015-06-01T10:30:00Z")), *expected, 1e-9);
    EXPECT_NEAR(ISO8601ToDateTime(QStringLiteral("2015-06-01T10:30:00")), *expected, 1e-9);
}

TEST(ISO8601ToDateTimeTest, FollowsAZoneChangedWhileRunning) {
    ScopedTimeZone tz("<+03>-3");
    ASSERT_EQ(offsetNowSeconds(), 3 * 3600);
    // Only the environment changes here; nobody told the C library to read it again.
    ::setenv("TZ", "<+05>-5", 1);
    const std::optional<TDateTime> expected = EncodeDateTime(2015, 6, 1, 15, 30);
    ASSERT_TRUE(expected);
    EXPECT_NEAR(ISO8601ToDateTime(QStringLiteral("2015-06-01T10:30:00Z")), *expected, 1e-9);
}

TEST(ISO8601ToDateTimeTest, UsesTheBiasInEffectNowForEveryDate) {
    // One winter and one summer instant: under a zone with daylight saving, exactly one
    // of them has a bias other than today's, yet both are shifted by today's.
    ScopedTimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
    const long offset = offsetNowSeconds();
    ASSERT_TRUE(offset == 3600 || offset == 7200) << "zone rule not applied: " << offset;
    const double shiftNow = offset / 86400.0;
    const struct {
        const char* text;
        int month;
    } instants[] = {{"2015-01-15T12:00:00Z", 1}, {"2015-07-15T12:00:00Z", 7}};
    for (const auto& instant : instants) {
        const std::optional<TDateTime> utc = EncodeDateTime(2015, instant.month, 15, 12);
        ASSERT_TRUE(utc);
        EXPECT_NEAR(ISO8601ToDateTime(QString::fromUtf8(instant.text)) - *utc, shiftNow, 1e-9)
            << instant.text;
    }
}

// ---------------------------------------------------------------------------------------
// Documents

const char kOrder[] = R"(<?xml version="1.0" encoding="utf-8"?>
<order>
  <name>42</name>
  <kiosk>
    <name>Киоск 1</name>
    <organization><name>ООО «Ромашка»</name><inn>7701234567</inn></organization>
  </kiosk>
  <invoice>
    <header>Добро пожаловать!
Приятного аппетита
  Спасибо</header>
    <item><type>DIV</type></item>
    <item><type>TEXT</type><text>Hello <b>bold</b> world<![CDATA[ <raw> & ]]><!-- not text --></text></item>
    <item type="DIV"><shortname>Кофе</shortname></item>
  </invoice>
</order>
)";

class XMLDocumentTest : public ::testing::Test {
protected:
    void SetUp() override {
        doc = CreateXMLDocument();
        ASSERT_TRUE(doc);
        doc->SetAsync(false);
        ASSERT_TRUE(doc->LoadXML(QString::fromUtf8(kOrder)))
            << doc->ParseErrorReason().toStdString();
        ASSERT_EQ(doc->ParseErrorCode(), 0);
    }

    std::unique_ptr<TXMLDocument> doc;
};

TEST_F(XMLDocumentTest, ReadsTheTextOfAPath) {
    const struct {
        const char* xpath;
        const char* text;
    } cases[] = {
        {"/order/name", "42"},
        {"/order/kiosk/name", "Киоск 1"},
        {"/order/kiosk/organization/inn", "7701234567"},
        // An element with child elements: the text of all its descendants, in order.
        {"/order/kiosk/organization", "ООО «Ромашка»7701234567"},
        {"/order/invoice/item/text", "Hello bold world <raw> & "},
        // Line breaks and inner blanks survive.
        {"/order/invoice/header", "Добро пожаловать!\nПриятного аппетита\n  Спасибо"},
        // Selects the first match only.
        {"/order/invoice/item/type", "DIV"},
        {"/order/missing", ""},
        {"/order/invoice/item/missing", ""},
        {"/nothing/at/all", ""},
        // Attributes are no elements: an item's type attribute is not its "type".
        {"/order/invoice/item/shortname/../type", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetXPathText(*doc, QString::fromUtf8(c.xpath)), QString::fromUtf8(c.text))
            << c.xpath;
}

TEST_F(XMLDocumentTest, SelectsItemsInDocumentOrderAndReadsRelativePaths) {
    const TXMLNodeList items = doc->SelectNodes(QStringLiteral("/order/invoice/item"));
    ASSERT_EQ(items.Count(), 3);
    EXPECT_EQ(GetXPathText(items.Item(0), QStringLiteral("type")), QStringLiteral("DIV"));
    EXPECT_EQ(GetXPathText(items.Item(1), QStringLiteral("type")), QStringLiteral("TEXT"));
    EXPECT_EQ(GetXPathText(items.Item(1), QStringLiteral("text")),
              QStringLiteral("Hello bold world <raw> & "));
    EXPECT_EQ(GetXPathText(items.Item(2), QStringLiteral("type")), QString());
    EXPECT_EQ(GetXPathText(items.Item(2), QStringLiteral("shortname")), QStringLiteral("Кофе"));
    // An absolute path from an element context still starts at the document.
    EXPECT_EQ(GetXPathText(items.Item(2), QStringLiteral("/order/name")), QStringLiteral("42"));
    // The same through the document, with the element as context.
    EXPECT_EQ(GetNodeText(doc->SelectSingleNode(items.Item(1), QStringLiteral("type"))),
              QStringLiteral("TEXT"));
    EXPECT_EQ(doc->SelectNodes(items.Item(0), QStringLiteral("type")).Count(), 1);

    EXPECT_TRUE(items.Item(3).isNull());
    EXPECT_TRUE(items.Item(-1).isNull());
    EXPECT_EQ(GetNodeText(items.Item(3)), QString());
    EXPECT_EQ(doc->SelectNodes(QStringLiteral("/order/invoice/none")).Count(), 0);
}

TEST_F(XMLDocumentTest, NodesOtherThanElements) {
    EXPECT_EQ(doc->DocumentElement().nodeName(), QStringLiteral("order"));
    const TXMLNode attribute = doc->SelectSingleNode(QStringLiteral("/order/invoice/item/@type"));
    ASSERT_FALSE(attribute.isNull());
    EXPECT_EQ(attribute.nodeName(), QStringLiteral("type"));
    EXPECT_EQ(GetNodeText(attribute), QStringLiteral("DIV"));
    EXPECT_TRUE(attribute.SelectSingleNode(QStringLiteral("x")).isNull());
    EXPECT_EQ(GetXPathText(*doc, QStringLiteral("/order/name/text()")), QStringLiteral("42"));
    EXPECT_EQ(GetNodeText(TXMLNode()), QString());
    EXPECT_EQ(GetXPathText(TXMLNode(), QStringLiteral("/order/name")), QString());
}

TEST_F(XMLDocumentTest, AFailingSelectionThrows) {
    const char* const bad[] = {"/order/[", "", "count(/order)", "/order/name + 1"};
    for (const char* xpath : bad) {
        EXPECT_THROW(doc->SelectSingleNode(QString::fromUtf8(xpath)), orvanta::Exception) << xpath;
        EXPECT_THROW(doc->SelectNodes(QString::fromUtf8(xpath)), orvanta::Exception) << xpath;
        EXPECT_THROW(GetXPathText(*doc, QString::fromUtf8(xpath)), orvanta::Exception) << xpath;
    }
    try {
        GetXPathText(*doc, QStringLiteral("/order/["));
        FAIL() << "no exception";
    } catch (const orvanta::Exception& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("/order/["))) << e.what();
    }
}

TEST_F(XMLDocumentTest, NodesOutliveTheirDocumentAndAReload) {
    const TXMLNode name = doc->SelectSingleNode(QStringLiteral("/order/name"));
    const TXMLNodeList items = doc->SelectNodes(QStringLiteral("/order/invoice/item"));
    ASSERT_TRUE(doc->LoadXML(QStringLiteral("<order><name>43</name></order>")));
    EXPECT_EQ(GetXPathText(*doc, QStringLiteral("/order/name")), QStringLiteral("43"));
    doc.reset();
    EXPECT_EQ(GetNodeText(name), QStringLiteral("42"));
    EXPECT_EQ(GetXPathText(items.Item(1), QStringLiteral("type")), QStringLiteral("TEXT"));
}

TEST_F(XMLDocumentTest, AFailedLoadLeavesNothingToRead) {
    // Malformed texts, some of which a lenient parser would take in part or in whole.
    const char* const malformed[] = {
        "",
        "   ",
        "<?xml version=\"1.0\"?>",
        "<order><name>1</order>",
        "<order><name>1</name>",
        "<order><name>1</name></order><order><name>2</name></order>",
        "junk<order><name>1</name></order>",
        "<order><name>1</name></order>junk",
        "<order><name a=\"1></name></order>",
        "not xml at all",
    };
    for (const char* text : malformed) {
        ASSERT_TRUE(doc->LoadXML(QString::fromUtf8(kOrder)));
        EXPECT_FALSE(doc->LoadXML(QString::fromUtf8(text))) << text;
        EXPECT_NE(doc->ParseErrorCode(), 0) << text;
        EXPECT_FALSE(doc->ParseErrorReason().isEmpty()) << text;
        EXPECT_TRUE(doc->DocumentElement().isNull()) << text;
        EXPECT_EQ(GetXPathText(*doc, QStringLiteral("/order/name")), QString()) << text;
    }
    ASSERT_TRUE(doc->LoadXML(QString::fromUtf8(kOrder)));
    EXPECT_EQ(doc->ParseErrorCode(), 0);
    EXPECT_TRUE(doc->ParseErrorReason().isEmpty());
}

// The operator's error box says where the document broke: line and column from 1, columns
// in characters (a Cyrillic letter is one, though two bytes), then what the parser saw.
TEST(XMLLoadTest, ParseErrorReasonTellsLineAndColumn) {
    const struct {
        const char* name;
        QString text;
        QString reason;
    } cases[] = {
        {"closing tag of another element", QStringLiteral("<order>\n  <name>1</nam>\n</order>"),
         QStringLiteral("строка 2, позиция 12: Start-end tags mismatch")},
        {"columns count characters", QStringLiteral("<заказ><имя>Чай</имя><цена a=5/></заказ>"),
         QStringLiteral("строка 1, позиция 30: Error parsing element attribute")},
        {"a Windows line break is one break",
         QStringLiteral("<order>\r\n<name>1</order>\r\n</order>"),
         QStringLiteral("строка 2, позиция 10: Start-end tags mismatch")},
        {"nothing at all", QString(),
         QStringLiteral("строка 1, позиция 1: No document element found")},
        {"a second root", QStringLiteral("<order/>\n<order/>"),
         QStringLiteral("строка 2, позиция 1: More than one document element")},
        {"text after the root", QStringLiteral("<order/>\n\n  хвост"),
         QStringLiteral("строка 3, позиция 3: Text outside the document element")},
    };
    const std::unique_ptr<TXMLDocument> doc = CreateXMLDocument();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(doc->LoadXML(c.text));
        EXPECT_EQ(doc->ParseErrorReason(), c.reason);
    }
    ASSERT_TRUE(doc->LoadXML(QStringLiteral("<order/>")));
    EXPECT_TRUE(doc->ParseErrorReason().isEmpty());
}

TEST(XMLLoadTest, TheDeclaredEncodingIsIgnored) {
    // The text reaches us decoded; whatever the declaration names, the characters are
    // the ones in the string.
    const char* const declarations[] = {
        R"(<?xml version="1.0" encoding="windows-1251"?>)",
        R"(<?xml version="1.0" encoding="UTF-16"?>)",
        R"(<?xml version="1.0" encoding="KOI8-R" standalone="yes"?>)",
        R"(<?xml version="1.0" encoding="ISO-8859-1"?>)",
        "\xEF\xBB\xBF", // a byte-order mark left in front of the text
        "",
    };
    for (const char* declaration : declarations) {
        const QString text = QString::fromUtf8(declaration) +
                             QStringLiteral("<order><name>Чек №1 — ёжик</name></order>");
        const std::unique_ptr<TXMLDocument> doc = CreateXMLDocument();
        ASSERT_TRUE(doc->LoadXML(text)) << declaration << doc->ParseErrorReason().toStdString();
        EXPECT_EQ(doc->ParseErrorCode(), 0);
        EXPECT_EQ(GetXPathText(*doc, QStringLiteral("/order/name")),
                  QStringLiteral("Чек №1 — ёжик"))
            << declaration;
    }
}

TEST(XMLLoadTest, WindowsLineBreaksReadAsLineBreaks) {
    const std::unique_ptr<TXMLDocument> doc = CreateXMLDocument();
    ASSERT_TRUE(doc->LoadXML(QStringLiteral("<order><invoice><footer>Строка 1\r\nСтрока 2\r\n"
                                            "</footer></invoice></order>")));
    EXPECT_EQ(GetXPathText(*doc, QStringLiteral("/order/invoice/footer")),
              QStringLiteral("Строка 1\nСтрока 2\n"));
}

TEST(XMLLoadTest, AFreshDocumentIsEmpty) {
    const std::unique_ptr<TXMLDocument> doc = CreateXMLDocument();
    EXPECT_EQ(doc->ParseErrorCode(), 0);
    EXPECT_TRUE(doc->DocumentElement().isNull());
    EXPECT_EQ(doc->SelectNodes(QStringLiteral("/order/invoice/item")).Count(), 0);
}

} // namespace
