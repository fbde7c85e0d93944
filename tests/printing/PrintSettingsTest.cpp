#include "printing/PrintSettings.h"

#include "PrintSettingsSupport.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <optional>

namespace {

using Settings = testutil::PrintSettingsSnapshot;

// The values a fresh process starts with, taken by the first test before it changes
// anything (not at static initialisation, whose order between files is not fixed).
const Settings& defaults() {
    static const Settings values = Settings::current();
    return values;
}

class PrintSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        defaults().apply();
    }
    void TearDown() override { defaults().apply(); }

    QString path() const { return dir.filePath(QStringLiteral("Console.ini")); }

    QTemporaryDir dir;
};

TEST_F(PrintSettingsTest, FreshFileGivesTheDefaults) {
    const Settings expected{3,
                            QString(),
                            QStringLiteral("Courier New Cyr"),
                            8,
                            1,
                            19200,
                            QStringLiteral("<1B>t<07><1B><33><08>"),
                            QString(),
                            QStringLiteral("<1C>p<01><00>"),
                            QStringLiteral("<1D>V<42><08>"),
                            false,
                            false,
                            ecSerial,
                            QStringLiteral("/dev/usb/lp0"),
                            QString(),
                            9100,
                            QString(),
                            true,
                            false};
    EXPECT_EQ(defaults(), expected);
    // A file without the section is not a configuration: nothing may print by guess.
    LoadPrintSettings(path(), QStringLiteral("Printing"));
    EXPECT_EQ(Settings::current(), expected);
    testutil::writeFile(path(), "[Printing]\r\n");
    LoadPrintSettings(path(), QStringLiteral("Printing"));
    EXPECT_TRUE(PrintSettingsConfigured);
}

TEST_F(PrintSettingsTest, SaveThenLoadReturnsEverySetting) {
    const Settings saved{0,
                         QStringLiteral("Чековый принтер"),
                         QStringLiteral("DejaVu Sans Mono"),
                         11,
                         34,
                         115200,
                         QStringLiteral(" <1B>@ "), // blanks at the edges must survive
                         QStringLiteral("\"<1B>d<03>\""),
                         QStringLiteral("<<x>>"),
                         QString(),
                         true,
                         true,
                         ecCupsRaw,
                         QStringLiteral("/dev/usb/lp1"),
                         QStringLiteral("192.168.0.40"),
                         9101,
                         QStringLiteral("Чеки"),
                         false,
                         true};
    saved.apply();
    SavePrintSettings(path(), QStringLiteral("Printing"));
    defaults().apply();
    LoadPrintSettings(path(), QStringLiteral("printing")); // section names ignore case
    EXPECT_EQ(Settings::current(), saved);

    // Keys in the order of the settings, integers in decimal, booleans as 1 and 0.
    const QString text = QString::fromUtf8(testutil::readFile(path()));
    const QStringList keys = {"PrinterType=0",
                              "PrinterName=",
                              "PrinterFontName=",
                              "PrinterFontSize=11",
                              "ComPort=34",
                              "ComRate=115200",
                              "Code1=",
                              "Code2=",
                              "Code3=",
                              "Code4=",
                              "BarCodeOrder=1",
                              "BarCodePrice=1",
                              "EscPosConnection=3",
                              "EscPosDevice=/dev/usb/lp1",
                              "EscPosHost=192.168.0.40",
                              "EscPosPort=9101",
                              "EscPosQueue=",
                              "EscPosStatus=0"};
    qsizetype at = 0;
    for (const QString& key : keys) {
        const qsizetype found = text.indexOf(QLatin1Char('\n') + key, at);
        EXPECT_GE(found, 0) << key.toStdString() << " in\n" << text.toStdString();
        at = std::max(found, at);
    }
}

TEST_F(PrintSettingsTest, MissingOrUnreadableValuesKeepTheSetting) {
    testutil::writeFile(path(), "[Printing]\r\n"
                                "PrinterType=1\r\n"
                                "PrinterFontSize=large\r\n"
                                "ComPort=5\r\n"
                                "ComRate=\r\n"
                                "BarCodeOrder=yes\r\n"
                                "BarCodePrice=1\r\n"
                                "Code4=\r\n");
    ComRate = 9600; // a value loaded before, kept when the file has none that reads
    BarCodeOrder = true;
    LoadPrintSettings(path(), QStringLiteral("Printing"));
    EXPECT_EQ(PrinterType, 1); // unsupported types load unchanged
    EXPECT_EQ(PrinterFontSize, 8);
    EXPECT_EQ(ComPort, 5);
    EXPECT_EQ(ComRate, 9600);
    EXPECT_TRUE(BarCodeOrder);
    EXPECT_TRUE(BarCodePrice);
    EXPECT_EQ(Code4, QString()); // a present empty text is a value
    EXPECT_EQ(Code1, defaults().code1);
    EXPECT_EQ(PrinterFontName, defaults().fontName);
}

TEST_F(PrintSettingsTest, SaveToAFolderThatDoesNotExistRaises) {
    EXPECT_THROW(SavePrintSettings(dir.filePath(QStringLiteral("none/Console.ini")),
                                   QStringLiteral("Printing")),
                 std::exception);
}

struct DecodeCase {
    const char16_t* text;
    std::optional<QByteArray> bytes;
};

TEST(DecodeCodeTextTest, Table) {
    using B = QByteArray;
    const DecodeCase cases[] = {
        {u"", B()},
        {u"<1B>t<07><1B><33><08>", B("\x1B\x74\x07\x1B\x33\x08", 6)},
        {u"<1d>V<42><08>", B("\x1D\x56\x42\x08", 4)},
        {u"<1D>V<42><08>", B("\x1D\x56\x42\x08", 4)},
        {u"<>", B("\x00", 1)},
        {u"<<", B("<")},
        {u"<1<41>", B("\x3C\x34\x31\x3E", 4)},
        {u"<1B5>", B("\xB5")},
        {u"<123456789AbC>", B("\xBC")}, // only the low eight bits of a long value
        {u"E<1B", B("E")},              // an escape open at the end is dropped
        {u"<", B()},
        {u"<1G>", std::nullopt},
        {u"<1B>E1<1G>", std::nullopt}, // nothing of a rejected text, not even its start
        {u"< 1B>", std::nullopt},
        {u"<1B> <1B>", B("\x1B\x20\x1B", 3)},
        {u">", B(">")},
        {u"<1C>p<01><00>", B("\x1C\x70\x01\x00", 4)},
        {u"\u00E9", B("\xE9")},        // one byte: its code
        {u"<1B>\u042F", std::nullopt}, // no byte is the code of a Cyrillic letter
    };
    for (const DecodeCase& c : cases) {
        const QString text = QString::fromUtf16(c.text);
        const std::optional<QByteArray> got = DecodeCodeText(text);
        SCOPED_TRACE(text.toStdString());
        ASSERT_EQ(got.has_value(), c.bytes.has_value());
        if (got) {
            EXPECT_EQ(got->toHex(' ').toStdString(), c.bytes->toHex(' ').toStdString());
        }
    }
}

} // namespace
