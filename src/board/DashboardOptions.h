#pragma once

#include "board/DashboardSettings.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QPushButton;
class QTabWidget;
class TColorBox;

// The row cbxMonitors shows for a stored monitor number: the number itself when such a
// monitor is listed, else none (-1).
int MonitorListSelection(int monitor, int monitorCount);

// "Настройки информационного табло": placement and colours of the board. On OK the
// controls are copied into DashboardSettings; the caller saves them.
class TfrmDashboardOptions : public QDialog {
    Q_OBJECT
public:
    explicit TfrmDashboardOptions(QWidget* owner = nullptr);

    // Lists monitorCount monitors ("Монитор 1" ...) and shows DashboardSettings again.
    // Creation lists the screens present.
    void FillMonitors(int monitorCount);

    void SetData();
    void GetData();
    void cbxFullscreenClick();

    void done(int result) override;

    QTabWidget* PageControl = nullptr;
    QCheckBox* cbxShowOnStartup = nullptr;
    QCheckBox* cbxFullscreen = nullptr;
    QComboBox* cbxMonitors = nullptr;
    TColorBox* cbFrameColor = nullptr;
    TColorBox* cb_Empty_B = nullptr;
    TColorBox* cb_Empty_F = nullptr;
    TColorBox* cb_Idle_B = nullptr;
    TColorBox* cb_Idle_F = nullptr;
    TColorBox* cb_Busy_B = nullptr;
    TColorBox* cb_Busy_F = nullptr;
    TColorBox* cb_OrdFinish_B = nullptr;
    TColorBox* cb_OrdFinish_F = nullptr;
    TColorBox* cb_Disc_B = nullptr;
    TColorBox* cb_Disc_F = nullptr;
    TColorBox* cb_Off_B = nullptr;
    TColorBox* cb_Off_F = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;
};

// The main window's "Настройка информационного табло...": shows the dialog modal to
// owner's window and, on OK, applies the settings to the open board and saves them to
// iniFileName. A failed save is shown in a message box (the settings in memory and the
// board keep the new values). True when the operator pressed OK and the file was written.
bool ExecuteDashboardOptions(QWidget* owner);
bool ExecuteDashboardOptions(QWidget* owner, const QString& iniFileName);
