#pragma once

#include <QDialog>
#include <QList>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class TDeviceItem;
class TDeviceItemList;

// The dialog in which the operator names a kiosk and gives its address and port. It
// only edits the fields; saving and reconnecting are the caller's business.
class TfrmDeviceProps : public QDialog {
    Q_OBJECT
public:
    explicit TfrmDeviceProps(QWidget* owner);

    static constexpr int kPortMin = 1024;
    static constexpr int kPortMax = 65535;
    static constexpr int kPortInitial = 1025;

    void GetProperties(const TDeviceItem& aDevice);
    // The other kiosks of the list: OK warns when one of them has the same address and
    // port, since two records of one kiosk take its connection from each other.
    void SetOtherDevices(const TDeviceItemList& devices, const TDeviceItem* self);
    void ApplyProperties(TDeviceItem& aDevice);
    // The port as the field's text gives it, within 1024..65535.
    int PortValue() const;

    // The check of an OK close; true when the dialog may close.
    bool FormCloseQuery();

    void done(int result) override;

    QLabel* Label1 = nullptr;
    QLineEdit* edtName = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* edtAddress = nullptr;
    QLabel* Label3 = nullptr;
    QSpinBox* edtPort = nullptr;
    QFrame* Bevel1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;

private:
    struct OtherPlace {
        QString name, address;
        int port;
    };
    QList<OtherPlace> FOthers;
};
