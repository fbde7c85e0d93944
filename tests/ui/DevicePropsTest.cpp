#include "UiTestSupport.h"

#include "kiosk/ClientThread.h"
#include "ui/DeviceProps.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <gtest/gtest.h>

TEST(DevicePropsTest, OkChecksNameThenAddressCancelChecksNothing) {
    struct Case {
        QString name;
        QString address;
        QString message; // empty: the dialog closes with OK
        const char* focus;
    } cases[] = {
        {"", "", "Название не заполнено", "edtName"},
        {"", "10.0.0.5", "Название не заполнено", "edtName"},
        {"Киоск", "", "Адрес не заполнен", "edtAddress"},
        {"  ", " ", "", nullptr}, // blanks are text
        {"Киоск", "10.0.0.5", "", nullptr},
    };
    for (const Case& c : cases) {
        TfrmDeviceProps dialog(nullptr);
        dialog.show();
        dialog.edtName->setText(c.name);
        dialog.edtAddress->setText(c.address);
        QString text, title;
        AnswerMessageBox(QMessageBox::Ok, &text, &title, c.message.isEmpty() ? 300 : 10000);
        dialog.Button1->click();
        EXPECT_EQ(text, c.message) << c.name.toStdString() << "/" << c.address.toStdString();
        if (c.message.isEmpty()) {
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
            EXPECT_FALSE(dialog.isVisible());
        } else {
            EXPECT_EQ(title, QStringLiteral("Ошибка"));
            EXPECT_TRUE(dialog.isVisible()) << "the dialog stays open";
            EXPECT_EQ(dialog.focusWidget() ? dialog.focusWidget()->objectName() : QString(),
                      QLatin1String(c.focus));
        }
    }

    TfrmDeviceProps dialog(nullptr);
    dialog.show();
    QString text;
    AnswerMessageBox(QMessageBox::Ok, &text, nullptr, 300);
    dialog.Button2->click();
    EXPECT_TRUE(text.isEmpty());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(DevicePropsTest, PortStartsAt1025AndStaysWithin1024To65535) {
    TfrmDeviceProps fresh(nullptr);
    EXPECT_EQ(fresh.windowTitle(), QStringLiteral("Настройка терминала"));
    EXPECT_EQ(fresh.edtName->text(), QString());
    EXPECT_EQ(fresh.edtPort->value(), 1025);
    EXPECT_EQ(fresh.edtPort->minimum(), 1024);
    EXPECT_EQ(fresh.edtPort->maximum(), 65535);

    struct Case {
        int stored;
        int shown;
    } cases[] = {{0, 1024},      {1023, 1024},   {1024, 1024}, {8080, 8080},
                 {65535, 65535}, {70000, 65535}, {-5, 1024}};
    for (const Case& c : cases) {
        auto device = TDeviceItem::Create();
        device->SetPort(c.stored);
        TfrmDeviceProps dialog(nullptr);
        dialog.GetProperties(*device);
        EXPECT_EQ(dialog.edtPort->value(), c.shown) << c.stored;
    }

    // What ApplyProperties stores: the field's text, taken as typed for the texts and
    // brought into range for the port.
    struct TextCase {
        const char* typed;
        int port;
    } texts[] = {{"4000", 4000}, {"abc", 1024}, {"", 1024}, {"99", 1024}};
    for (const TextCase& c : texts) {
        auto device = TDeviceItem::Create();
        TfrmDeviceProps dialog(nullptr);
        dialog.edtName->setText(QStringLiteral(" Киоск "));
        dialog.edtAddress->setText(QStringLiteral("kiosk-1.local"));
        dialog.edtPort->findChild<QLineEdit*>()->setText(QString::fromLatin1(c.typed));
        dialog.ApplyProperties(*device);
        EXPECT_EQ(device->Port(), c.port) << c.typed;
        EXPECT_EQ(device->Name, QStringLiteral(" Киоск ")) << "not trimmed";
        EXPECT_EQ(device->Address(), QStringLiteral("kiosk-1.local"));
    }
}
