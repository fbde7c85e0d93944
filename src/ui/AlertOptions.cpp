#include "ui/AlertOptions.h"

#include "common/GlobConst.h"
#include "platform/Error.h"
#include "ui/WindowFont.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

TfrmAlertOptions::TfrmAlertOptions(QWidget* owner, QString iniFileName)
    : QDialog(owner)
    , m_iniFileName(std::move(iniFileName)) {
    setObjectName(QStringLiteral("frmAlertOptions"));
    setWindowTitle(QStringLiteral("Оповещения"));
    ApplyWindowFont(this);

    chkSound = new QCheckBox(QStringLiteral("Звуковой сигнал, когда заказ ждёт подтверждения"));
    chkSound->setObjectName(QStringLiteral("chkSound"));
    chkNotify = new QCheckBox(QStringLiteral("Уведомления на рабочем столе"));
    chkNotify->setObjectName(QStringLiteral("chkNotify"));

    spnRepeat = new QSpinBox;
    spnRepeat->setObjectName(QStringLiteral("spnRepeat"));
    spnRepeat->setRange(0, TAlertSettings::kMaxRepeatSeconds);
    spnRepeat->setSuffix(QStringLiteral(" с"));
    spnRepeat->setSpecialValueText(QStringLiteral("не повторять"));

    spnOffline = new QSpinBox;
    spnOffline->setObjectName(QStringLiteral("spnOffline"));
    spnOffline->setRange(0, TAlertSettings::kMaxOfflineAlertSeconds);
    spnOffline->setSuffix(QStringLiteral(" с"));
    spnOffline->setSpecialValueText(QStringLiteral("не сообщать"));

    auto* form = new QFormLayout;
    form->addRow(chkSound);
    form->addRow(chkNotify);
    form->addRow(QStringLiteral("Повторять напоминание каждые:"), spnRepeat);
    form->addRow(QStringLiteral("Сообщать о потере связи с киоском через:"), spnOffline);

    auto* buttons = new QDialogButtonBox;
    btnOK = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void TfrmAlertOptions::SetData(const TAlertSettings& s) {
    chkSound->setChecked(s.Sound);
    spnRepeat->setValue(s.RepeatSeconds);
    chkNotify->setChecked(s.Notify);
    spnOffline->setValue(s.OfflineAlertSeconds);
}

TAlertSettings TfrmAlertOptions::GetData() const {
    TAlertSettings s;
    s.Sound = chkSound->isChecked();
    s.RepeatSeconds = spnRepeat->value();
    s.Notify = chkNotify->isChecked();
    s.OfflineAlertSeconds = spnOffline->value();
    return s;
}

void TfrmAlertOptions::accept() {
    const TAlertSettings s = GetData();
    try {
        SaveAlertSettings(s, m_iniFileName);
    } catch (const orvanta::Exception& e) {
        // Modal to this dialog only, like the dialog itself.
        auto* box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Ошибка"), e.message(),
                                    QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("msgSaveError"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return;
    }
    emit applied(s);
    QDialog::accept();
}

TfrmAlertOptions* ShowAlertOptions(QWidget* parent,
                                   std::function<void(const TAlertSettings&)> applied) {
    return ShowAlertOptions(parent, IniFileName, std::move(applied));
}

TfrmAlertOptions* ShowAlertOptions(QWidget* parent, const QString& iniFileName,
                                   std::function<void(const TAlertSettings&)> applied) {
    auto* dialog = new TfrmAlertOptions(parent, iniFileName);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->SetData(LoadAlertSettings(iniFileName));
    if (applied)
        QObject::connect(dialog, &TfrmAlertOptions::applied, dialog, std::move(applied));
    // Never application-modal: an order window must stay usable while this is open.
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
    return dialog;
}
