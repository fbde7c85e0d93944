// The device records and list: configuration, status texts, the command queue.
#include "kiosk/ClientThread.h"

#include "TestUtil.h"
#include "core/IniFile.h"
#include "platform/CodePages.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class DeviceList : public ::testing::Test {
protected:
    QString ini(const QByteArray& content) {
        const QString path = dir.filePath(QStringLiteral("console.ini"));
        testutil::writeFile(path, content);
        return path;
    }
    QTemporaryDir dir;
};

TEST_F(DeviceList, LoadsWhatTheFileHolds) {
    struct Case {
        QByteArray content;
        int count;
    } cases[] = {
        {"", 0},
        {"[DeviceList]\n", 0},
        {"[DeviceList]\nCount=0\n[DeviceList0]\nName=A\n", 0},
        {"[DeviceList]\nCount=2\n[DeviceList0]\nName=A\n[DeviceList1]\nName=B\n", 2},
    };
    for (const auto& c : cases) {
        TDeviceItemList list;
        list.LoadFromIni(TIniFile(ini(c.content)), QStringLiteral("DeviceList"));
        EXPECT_EQ(list.Count(), c.count) << c.content.constData();
    }
}

TEST_F(DeviceList, DamagedCountIsBounded) {
    TDeviceItemList list;
    list.LoadFromIni(TIniFile(ini("[DeviceList]\nCount=2000000000\n")),
                     QStringLiteral("DeviceList"));
    EXPECT_EQ(list.Count(), TDeviceItemList::kMaxDevices);
}

TEST_F(DeviceList, MissingSectionGivesAnEnabledEmptyRecord) {
    TDeviceItemList list;
    list.LoadFromIni(
        TIniFile(ini("[devicelist]\ncount=3\n"
                     "[DeviceList0]\nEnabled=0\nName=Первый\nAddress=10.0.0.1\nPort=5001\n"
                     "[DEVICELIST1]\nname=Второй\n")),
        QStringLiteral("DeviceList"));
    ASSERT_EQ(list.Count(), 3);
    EXPECT_FALSE(list[0]->Enabled());
    EXPECT_EQ(list[0]->Name, QStringLiteral("Первый"));
    EXPECT_EQ(list[0]->Address(), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(list[0]->Port(), 5001);
    EXPECT_TRUE(list[1]->Enabled());
    EXPECT_EQ(list[1]->Name, QStringLiteral("Второй"));
    EXPECT_TRUE(list[2]->Enabled());
    EXPECT_TRUE(list[2]->Name.isEmpty());
    EXPECT_TRUE(list[2]->Address().isEmpty());
    EXPECT_EQ(list[2]->Port(), 0);
    for (const auto& item : list)
        EXPECT_EQ(item->ThreadState(), tsSuspended); // loaded threads are not started
}

TEST_F(DeviceList, DeletingTheMiddleKeepsOrderAndLeavesOldSections) {
    const QString path = ini("");
    {
        TDeviceItemList list;
        for (const char* name : {"Один", "Два", "Три"}) {
            auto item = TDeviceItem::Create();
            item->Name = QString::fromUtf8(name);
            item->SetAddress(QStringLiteral("host-") + item->Name);
            item->SetPort(6000);
            list.Add(item);
        }
        TIniFile file(path);
        list.SaveToIni(file, QStringLiteral("DeviceList"));
        file.UpdateFile();
        list.Delete(1);
        TIniFile again(path);
        list.SaveToIni(again, QStringLiteral("DeviceList"));
        again.UpdateFile();
    }
    TIniFile file(path);
    EXPECT_EQ(file.ReadInteger(QStringLiteral("DeviceList"), QStringLiteral("Count"), -1), 2);
    EXPECT_EQ(file.ReadString(QStringLiteral("DeviceList0"), QStringLiteral("Name"), {}),
              QStringLiteral("Один"));
    EXPECT_EQ(file.ReadString(QStringLiteral("DeviceList1"), QStringLiteral("Name"), {}),
              QStringLiteral("Три"));
    EXPECT_EQ(file.ReadString(QStringLiteral("DeviceList2"), QStringLiteral("Name"), {}),
              QStringLiteral("Три"));

    TDeviceItemList loaded;
    loaded.LoadFromIni(file, QStringLiteral("DeviceList"));
    ASSERT_EQ(loaded.Count(), 2);
    EXPECT_EQ(loaded[1]->Address(), QStringLiteral("host-Три"));
}

TEST_F(DeviceList, ReadsAFileWrittenOnWindowsInCodePage1251) {
    const QByteArray content =
        "[DeviceList]\r\nCount=1\r\n[DeviceList0]\r\nName=" + orvanta::toCp1251(u"Киоск у входа") +
        "\r\nPort=5000\r\n";
    TDeviceItemList list;
    list.LoadFromIni(TIniFile(ini(content)), QStringLiteral("DeviceList"));
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list[0]->Name, QStringLiteral("Киоск у входа"));
}

TEST_F(DeviceList, StatusTextOfARecordWithoutARunningThread) {
    auto item = TDeviceItem::Create();
    EXPECT_EQ(item->GetStatusString(), QStringLiteral("Остановлен"));
    item->SetEnabled(false);
    EXPECT_EQ(item->GetStatusString(), QStringLiteral("Выключен"));
    EXPECT_FALSE(item->ThreadTerminating());
    EXPECT_TRUE(item->Version().IsZero());
    EXPECT_EQ(item->OrderBilled, 0);
}

TEST_F(DeviceList, CommandsQueueInOrderWithoutDeduplication) {
    auto item = TDeviceItem::Create();
    item->AddKioskCommand(kcConfirmOrder);
    item->AddKioskCommand(kcConfirmOrder);
    item->AddKioskCommand(kcReturnToOrder);
    const std::vector<TKioskCommand> expected = {kcConfirmOrder, kcConfirmOrder, kcReturnToOrder};
    EXPECT_EQ(item->PendingCommands(), expected);
    EXPECT_FALSE(item->KioskAliveRequested());
    item->SetKioskAlive();
    EXPECT_TRUE(item->KioskAliveRequested());
}

} // namespace
