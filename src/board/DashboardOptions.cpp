#include "board/DashboardOptions.h"

#include "board/ColorBox.h"
#include "board/Dashboard.h"
#include "common/GlobConst.h"
#include "platform/Error.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>

int MonitorListSelection(int monitor, int monitorCount) {
    return (monitor >= 0 && monitor < monitorCount) ? monitor : -1;
}

namespace {

TColorBox* makeColorBox(QWidget* parent, const char* name) {
    auto* box = new TColorBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

} // namespace

TfrmDashboardOptions::TfrmDashboardOptions(QWidget* owner)
    : QDialog(owner) {
    setObjectName(QStringLiteral("frmDashboardOptions"));
    setWindowTitle(QStringLiteral("Настройки информационного табло"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    PageControl = new QTabWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));

    // "Расположение"
    auto* TabSheet1 = new QWidget(PageControl);
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    cbxShowOnStartup = new QCheckBox(QStringLiteral("Показывать при старте"), TabSheet1);
    cbxShowOnStartup->setObjectName(QStringLiteral("cbxShowOnStartup"));
    cbxFullscreen = new QCheckBox(QStringLiteral("Полноэкранный режим"), TabSheet1);
    cbxFullscreen->setObjectName(QStringLiteral("cbxFullscreen"));
    cbxMonitors = new QComboBox(TabSheet1);
    cbxMonitors->setObjectName(QStringLiteral("cbxMonitors"));
    cbxMonitors->setMinimumWidth(140);
    auto* placeLayout = new QGridLayout(TabSheet1);
    placeLayout->addWidget(cbxShowOnStartup, 0, 0, 1, 2);
    placeLayout->addWidget(cbxFullscreen, 1, 0);
    placeLayout->addWidget(cbxMonitors, 1, 1, Qt::AlignLeft);
    placeLayout->setColumnStretch(2, 1);
    placeLayout->setRowStretch(2, 1);
    PageControl->addTab(TabSheet1, QStringLiteral("Расположение"));

    // "Цвета"
    auto* tshColors = new QWidget(PageControl);
    tshColors->setObjectName(QStringLiteral("tshColors"));
    auto* colorLayout = new QGridLayout(tshColors);
    cbFrameColor = makeColorBox(tshColors, "cbFrameColor");
    colorLayout->addWidget(new QLabel(QStringLiteral("Рамка ячейки"), tshColors), 0, 0);
    colorLayout->addWidget(cbFrameColor, 0, 2);
    struct Row {
        const char* caption;
        TColorBox** background;
        const char* backgroundName;
        TColorBox** text;
        const char* textName;
    };
    const Row rows[] = {
        {"Пустая ячейка", &cb_Empty_B, "cb_Empty_B", &cb_Empty_F, "cb_Empty_F"},
        {"Ожидание заказа", &cb_Idle_B, "cb_Idle_B", &cb_Idle_F, "cb_Idle_F"},
        {"Оформление заказа", &cb_Busy_B, "cb_Busy_B", &cb_Busy_F, "cb_Busy_F"},
        {"Завершение заказа", &cb_OrdFinish_B, "cb_OrdFinish_B", &cb_OrdFinish_F, "cb_OrdFinish_F"},
        {"Установка соединения", &cb_Disc_B, "cb_Disc_B", &cb_Disc_F, "cb_Disc_F"},
        {"Отключено", &cb_Off_B, "cb_Off_B", &cb_Off_F, "cb_Off_F"},
    };
    int line = 1;
    for (const Row& row : rows) {
        *row.background = makeColorBox(tshColors, row.backgroundName);
        *row.text = makeColorBox(tshColors, row.textName);
        colorLayout->addWidget(new QLabel(QString::fromUtf8(row.caption), tshColors), line, 0);
        colorLayout->addWidget(new QLabel(QStringLiteral("Фон:"), tshColors), line, 1);
        colorLayout->addWidget(*row.background, line, 2);
        colorLayout->addWidget(new QLabel(QStringLiteral("Текст:"), tshColors), line, 3);
        colorLayout->addWidget(*row.text, line, 4);
        ++line;
    }
    colorLayout->setRowStretch(line, 1);
    PageControl->addTab(tshColors, QStringLiteral("Цвета"));

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Отмена"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cbxFullscreen, &QCheckBox::clicked, this, &TfrmDashboardOptions::cbxFullscreenClick);
    connect(cbxShowOnStartup, &QCheckBox::clicked, this, &TfrmDashboardOptions::cbxFullscreenClick);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PageControl);
    layout->addLayout(buttons);
    resize(495, 357);

    FillMonitors(int(QGuiApplication::screens().size()));
    PageControl->setCurrentIndex(0);
}

void TfrmDashboardOptions::FillMonitors(int monitorCount) {
    cbxMonitors->clear();
    for (int i = 0; i < monitorCount; ++i)
        cbxMonitors->addItem(QStringLiteral("Монитор %1").arg(i + 1));
    SetData();
}

void TfrmDashboardOptions::SetData() {
    const TDashboardSettings& s = DashboardSettings;
    cbxShowOnStartup->setChecked(s.ShowOnStartup);
    cbxMonitors->setCurrentIndex(MonitorListSelection(s.Monitor, cbxMonitors->count()));
    cbxFullscreen->setChecked(s.Fullscreen);
    cbxFullscreenClick();
    cbFrameColor->SetSelected(s.CellFrame);
    cb_Empty_B->SetSelected(s.EmptyB);
    cb_Empty_F->SetSelected(s.EmptyF);
    cb_Idle_B->SetSelected(s.IdleB);
    cb_Idle_F->SetSelected(s.IdleF);
    cb_Busy_B->SetSelected(s.BusyB);
    cb_Busy_F->SetSelected(s.BusyF);
    cb_OrdFinish_B->SetSelected(s.OrdFinishB);
    cb_OrdFinish_F->SetSelected(s.OrdFinishF);
    cb_Disc_B->SetSelected(s.DiscB);
    cb_Disc_F->SetSelected(s.DiscF);
    cb_Off_B->SetSelected(s.OffB);
    cb_Off_F->SetSelected(s.OffF);
}

void TfrmDashboardOptions::GetData() {
    TDashboardSettings& s = DashboardSettings;
    s.ShowOnStartup = cbxShowOnStartup->isChecked();
    s.Fullscreen = cbxFullscreen->isChecked();
    s.Monitor = cbxMonitors->currentIndex(); // -1 when nothing is selected
    s.CellFrame = cbFrameColor->Selected();
    s.EmptyB = cb_Empty_B->Selected();
    s.EmptyF = cb_Empty_F->Selected();
    s.IdleB = cb_Idle_B->Selected();
    s.IdleF = cb_Idle_F->Selected();
    s.BusyB = cb_Busy_B->Selected();
    s.BusyF = cb_Busy_F->Selected();
    s.OrdFinishB = cb_OrdFinish_B->Selected();
    s.OrdFinishF = cb_OrdFinish_F->Selected();
    s.DiscB = cb_Disc_B->Selected();
    s.DiscF = cb_Disc_F->Selected();
    s.OffB = cb_Off_B->Selected();
    s.OffF = cb_Off_F->Selected();
}

void TfrmDashboardOptions::cbxFullscreenClick() {
    // Only enabled state changes: a disabled list keeps its selection, and GetData still
    // takes it.
    cbxMonitors->setEnabled(cbxFullscreen->isChecked());
}

void TfrmDashboardOptions::done(int result) {
    if (result == QDialog::Accepted)
        GetData();
    QDialog::done(result);
}

bool ExecuteDashboardOptions(QWidget* owner) {
    return ExecuteDashboardOptions(owner, IniFileName);
}

bool ExecuteDashboardOptions(QWidget* owner, const QString& iniFileName) {
    // Modal to the owner's window only: an application-modal box would also hold the
    // order windows the operator has to answer meanwhile. On the heap and watched, as the
    // owner may go away while the dialog is open and take the dialog with it.
    QPointer<TfrmDashboardOptions> dialog = new TfrmDashboardOptions(owner);
    dialog->setWindowModality(Qt::WindowModal);
    const int answer = dialog->exec();
    delete dialog;
    if (answer != QDialog::Accepted)
        return false;
    // The settings in memory are the new ones now, whether or not the file takes them:
    // the open board shows them at once rather than at its next state change or opening.
    ApplyDashboardSettings();
    try {
        SaveDashboardSettings(iniFileName);
    } catch (const orvanta::Exception& e) {
        QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Ошибка"),
                                                    e.message(), QMessageBox::Ok, owner);
        box->setWindowModality(Qt::WindowModal);
        box->exec();
        delete box;
        return false;
    }
    return true;
}
