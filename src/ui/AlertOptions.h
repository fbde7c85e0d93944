#pragma once

#include "ui/AlertSettings.h"

#include <QDialog>
#include <QString>

#include <functional>

class QCheckBox;
class QPushButton;
class QSpinBox;

// "Оповещения": how the console calls the operator (sound, reminders, desktop
// notifications, the silent-kiosk alert). OK writes the settings into the
// configuration file and closes; a file that cannot be written is reported and the
// dialog stays open, so nothing the operator typed is lost.
class TfrmAlertOptions : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAlertOptions(QWidget* owner, QString iniFileName);

    void SetData(const TAlertSettings& settings);
    TAlertSettings GetData() const;

    void accept() override;

    QCheckBox* chkSound = nullptr;
    QSpinBox* spnRepeat = nullptr;
    QCheckBox* chkNotify = nullptr;
    QSpinBox* spnOffline = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

signals:
    // The settings were saved; emitted before the dialog closes.
    void applied(const TAlertSettings& settings);

private:
    QString m_iniFileName;
};

// The main window's "Оповещения...": shows the dialog for the settings in IniFileName
// (or iniFileName), modal to parent's window only, so that order windows stay usable,
// and returns at once. After a successful OK, applied gets the saved settings (hand
// them to TOrderAlerts::Apply). The dialog deletes itself when closed.
TfrmAlertOptions* ShowAlertOptions(QWidget* parent,
                                   std::function<void(const TAlertSettings&)> applied);
TfrmAlertOptions* ShowAlertOptions(QWidget* parent, const QString& iniFileName,
                                   std::function<void(const TAlertSettings&)> applied);
