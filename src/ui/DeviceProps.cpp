#include "ui/DeviceProps.h"
#include "ui/Boxes.h"

#include "kiosk/ClientThread.h"
#include "ui/WindowFont.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>

TfrmDeviceProps::TfrmDeviceProps(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("frmDeviceProps"));
    setWindowTitle(QStringLiteral("Настройка терминала"));
    ApplyWindowFont(this);
    setFixedSize(342, 176);

    auto label = [this](const char* name, const QString& text, int y) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setGeometry(12, y, 80, 21);
        return l;
    };
    Label1 = label("Label1", QStringLiteral("Название"), 14);
    edtName = new QLineEdit(this);
    edtName->setObjectName(QStringLiteral("edtName"));
    edtName->setGeometry(96, 12, 234, 23);

    Label2 = label("Label2", QStringLiteral("Адрес"), 46);
    edtAddress = new QLineEdit(this);
    edtAddress->setObjectName(QStringLiteral("edtAddress"));
    edtAddress->setGeometry(96, 44, 234, 23);

    Label3 = label("Label3", QStringLiteral("Порт"), 78);
    edtPort = new QSpinBox(this);
    edtPort->setObjectName(QStringLiteral("edtPort"));
    edtPort->setGeometry(96, 76, 90, 23);
    edtPort->setRange(kPortMin, kPortMax);
    edtPort->setSingleStep(1);
    // Leaving the field brings a typed value into range instead of dropping it.
    edtPort->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    edtPort->setValue(kPortInitial);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(8, 116, 326, 2);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(166, 136, 80, 28);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

    Button2 = new QPushButton(QStringLiteral("Отмена"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(252, 136, 80, 28);
    Button2->setAutoDefault(false);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(edtName, edtAddress);
    setTabOrder(edtAddress, edtPort);
    setTabOrder(edtPort, Button1);
    setTabOrder(Button1, Button2);
    edtName->setFocus();
}

void TfrmDeviceProps::GetProperties(const TDeviceItem& aDevice) {
    edtName->setText(aDevice.Name);
    edtAddress->setText(aDevice.Address());
    edtPort->setValue(qBound(kPortMin, aDevice.Port(), kPortMax));
}

void TfrmDeviceProps::ApplyProperties(TDeviceItem& aDevice) {
    aDevice.Name = edtName->text();
    // One step: a new place reconnects the kiosk at once, and only once.
    aDevice.SetPlace(edtAddress->text(), PortValue());
}

void TfrmDeviceProps::SetOtherDevices(const TDeviceItemList& devices, const TDeviceItem* self) {
    FOthers.clear();
    for (const auto& device : devices)
        if (device.get() != self)
            FOthers.append({device->Name, device->Address(), device->Port()});
}

int TfrmDeviceProps::PortValue() const {
    // The field's text is what counts: text that is no whole number reads as the
    // minimum, and a value typed out of range and confirmed with Enter while the field
    // still had the focus is brought into range, so no port outside 1024..65535 is
    // ever stored.
    bool ok = false;
    const int typed = edtPort->cleanText().trimmed().toInt(&ok);
    return ok ? qBound(kPortMin, typed, kPortMax) : kPortMin;
}

bool TfrmDeviceProps::FormCloseQuery() {
    if (edtName->text().isEmpty()) {
        showMessageBox(this, QMessageBox::Critical, QStringLiteral("Ошибка"),
                       QStringLiteral("Название не заполнено"));
        edtName->setFocus();
        return false;
    }
    if (edtAddress->text().isEmpty()) {
        showMessageBox(this, QMessageBox::Critical, QStringLiteral("Ошибка"),
                       QStringLiteral("Адрес не заполнен"));
        edtAddress->setFocus();
        return false;
    }
    const QString address = edtAddress->text().trimmed();
    for (const OtherPlace& other : std::as_const(FOthers)) {
        if (other.port != PortValue() || other.address.compare(address, Qt::CaseInsensitive) != 0)
            continue;
        const auto answer = showMessageBox(
            this, QMessageBox::Warning, QStringLiteral("Предупреждение"),
            QStringLiteral("Терминал \"%1\" уже настроен на адрес %2 : %3. Две записи одного "
                           "киоска отнимают друг у друга связь с ним. Сохранить всё равно?")
                .arg(other.name, other.address)
                .arg(other.port),
            QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            edtAddress->setFocus();
            return false;
        }
        break;
    }
    return true;
}

void TfrmDeviceProps::done(int result) {
    if (result == QDialog::Accepted && !FormCloseQuery())
        return;
    QDialog::done(result);
}
