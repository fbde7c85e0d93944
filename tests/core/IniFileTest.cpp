// The configuration file rules, on real files in a temporary folder.
#include "core/IniFile.h"

#include "TestUtil.h"
#include "platform/CodePages.h"
#include "platform/Error.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class IniFile : public ::testing::Test {
protected:
    QString path(const QString& name = QStringLiteral("c.ini")) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(IniFile, MissingFileGivesTheDefaults) {
    TIniFile ini(path(QStringLiteral("none.ini")));
    EXPECT_EQ(ini.ReadString(QStringLiteral("A"), QStringLiteral("K"), QStringLiteral("d")),
              QStringLiteral("d"));
    EXPECT_EQ(ini.ReadInteger(QStringLiteral("A"), QStringLiteral("K"), 7), 7);
    EXPECT_TRUE(ini.ReadBool(QStringLiteral("A"), QStringLiteral("K"), true));
}

TEST_F(IniFile, ReadsValuesByTheProfileRules) {
    testutil::writeFile(path(),
                        "; comment\n[Printing]\nPrinterType = 0 \nComRate=abc\nBarCodeOrder=2\n"
                        "Code1=\"  spaced  \"\nHex=$1F\nNeg=-16777201\n[other]\nx=1\n");
    TIniFile ini(path());
    const QString s = QStringLiteral("printing");
    EXPECT_EQ(ini.ReadInteger(s, QStringLiteral("printertype"), 3), 0);
    EXPECT_EQ(ini.ReadInteger(s, QStringLiteral("ComRate"), 19200), 19200); // not a number
    EXPECT_TRUE(ini.ReadBool(s, QStringLiteral("BarCodeOrder"), false));
    EXPECT_EQ(ini.ReadString(s, QStringLiteral("Code1"), {}), QStringLiteral("  spaced  "));
    EXPECT_EQ(ini.ReadInteger(s, QStringLiteral("Hex"), 0), 31);
    EXPECT_EQ(ini.ReadInteger(s, QStringLiteral("Neg"), 0), -16777201);
    EXPECT_FALSE(ini.ValueExists(s, QStringLiteral("x")));
}

TEST_F(IniFile, LongValuesAreCutTo2047Characters) {
    testutil::writeFile(path(), "[S]\nK=" + QByteArray(5000, 'a') + "\n");
    EXPECT_EQ(TIniFile(path()).ReadString(QStringLiteral("S"), QStringLiteral("K"), {}).size(),
              2047);
}

TEST_F(IniFile, WritingKeepsUnknownSectionsKeysAndComments) {
    testutil::writeFile(path(), "; kept\n[Other]\nkey=value\n\n[DeviceList]\nCount=1\n");
    {
        TIniFile ini(path());
        ini.WriteInteger(QStringLiteral("devicelist"), QStringLiteral("COUNT"), 2);
        ini.WriteString(QStringLiteral("DeviceList0"), QStringLiteral("Name"),
                        QStringLiteral("Киоск «Юг»"));
        ini.WriteBool(QStringLiteral("DeviceList0"), QStringLiteral("Enabled"), false);
        ini.WriteString(QStringLiteral("DeviceList0"), QStringLiteral("Address"),
                        QStringLiteral(" padded "));
        ini.UpdateFile();
    }
    const QString text = QString::fromUtf8(testutil::readFile(path()));
    EXPECT_TRUE(text.startsWith(QStringLiteral("; kept\n[Other]\nkey=value\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("Count=2\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("Enabled=0\n")));
    TIniFile ini(path());
    EXPECT_EQ(ini.ReadString(QStringLiteral("DeviceList0"), QStringLiteral("Name"), {}),
              QStringLiteral("Киоск «Юг»"));
    EXPECT_EQ(ini.ReadString(QStringLiteral("DeviceList0"), QStringLiteral("Address"), {}),
              QStringLiteral(" padded "));
    EXPECT_EQ(ini.ReadString(QStringLiteral("Other"), QStringLiteral("key"), {}),
              QStringLiteral("value"));
}

TEST_F(IniFile, ReadsCodePage1251WhenTheFileIsNotUtf8) {
    testutil::writeFile(path(), "[DeviceList0]\r\nName=" + orvanta::toCp1251(u"Касса №2") + "\r\n");
    EXPECT_EQ(
        TIniFile(path()).ReadString(QStringLiteral("DeviceList0"), QStringLiteral("Name"), {}),
        QStringLiteral("Касса №2"));
}

TEST_F(IniFile, FailedSaveRaisesWithTheFileNameAndKeepsTheOldFile) {
    // A folder that is gone, and a name that is taken by a folder.
    const QString gone = dir.filePath(QStringLiteral("gone/c.ini"));
    TIniFile ini(gone);
    ini.WriteInteger(QStringLiteral("S"), QStringLiteral("K"), 1);
    try {
        ini.UpdateFile();
        FAIL() << "saved into a missing folder";
    } catch (const orvanta::Exception& e) {
        EXPECT_TRUE(e.message().contains(gone)) << e.message().toStdString();
    }

    testutil::writeFile(path(), "[S]\nK=old\n");
    TIniFile writer(path());
    writer.WriteString(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("new"));
    // The folder becomes unwritable for renames by replacing the file's place with a folder.
    ASSERT_TRUE(QFile::rename(path(), path(QStringLiteral("kept.ini"))));
    ASSERT_TRUE(QDir().mkpath(path() + QStringLiteral("/x")));
    EXPECT_THROW(writer.UpdateFile(), orvanta::Exception);
    EXPECT_EQ(testutil::readFile(path(QStringLiteral("kept.ini"))), QByteArray("[S]\nK=old\n"));
    // Nothing half-written is left beside it.
    const QStringList left = QDir(dir.path()).entryList(QDir::Files);
    EXPECT_EQ(left, QStringList{QStringLiteral("kept.ini")});
}

TEST_F(IniFile, WrittenValueReadsTheSameBeforeAndAfterSaving) {
    // Line breaks cannot be stored; the value read from memory must already be the one
    // the file will give back, blanks at the edges included.
    const struct {
        const char* written;
        const char* readBack;
    } cases[] = {
        {"\nline", " line"},
        {"a\r\nb", "a  b"},
        {"end\r", "end "},
        {"  both  ", "  both  "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        const QString expected = QString::fromUtf8(c.readBack);
        {
            TIniFile ini(path());
            ini.WriteString(QStringLiteral("S"), QStringLiteral("K"), QString::fromUtf8(c.written));
            EXPECT_EQ(ini.ReadString(QStringLiteral("S"), QStringLiteral("K"), QString()),
                      expected);
            ini.UpdateFile();
        }
        EXPECT_EQ(TIniFile(path()).ReadString(QStringLiteral("S"), QStringLiteral("K"), QString()),
                  expected);
    }
}

} // namespace
