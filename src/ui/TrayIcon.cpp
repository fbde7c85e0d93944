#include "ui/TrayIcon.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

TTrayIcon::TTrayIcon(QObject* parent)
    : QObject(parent)
    , m_tray(new QSystemTrayIcon(this))
    , m_waitTimer(new QTimer(this))
    , m_orderIcon(QStringLiteral(":/icons/tray-order.svg")) {
    m_waitTimer->setInterval(kTrayPoll);
    connect(m_waitTimer, &QTimer::timeout, this, &TTrayIcon::tryShow);
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // A StatusNotifierItem host (KDE Plasma, GNOME's AppIndicator
                // extension) reports a single click and never a double one: there a
                // click is the way in. An X11 tray keeps the double click.
                if (reason == QSystemTrayIcon::DoubleClick ||
                    (reason == QSystemTrayIcon::Trigger && StatusNotifierHost()))
                    DoubleClick();
            });
}

TTrayIcon::~TTrayIcon() {
    m_tray->hide();
}

void TTrayIcon::SetPopupMenu(QMenu* menu) {
    m_popupMenu = menu;
    // The tray opens the menu at the cursor on a right click.
    m_tray->setContextMenu(menu);
}

void TTrayIcon::SetHint(const QString& hint) {
    m_hint = hint;
    applyHint();
}

void TTrayIcon::SetShowHint(bool show) {
    m_showHint = show;
    applyHint();
}

void TTrayIcon::SetIconList(const QList<QIcon>& icons) {
    m_iconList = icons;
    applyIcon();
}

void TTrayIcon::SetIconIndex(int index) {
    if (index == m_iconIndex)
        return;
    m_iconIndex = index;
    applyIcon();
}

void TTrayIcon::SetOrderWaiting(bool waiting) {
    if (waiting == m_orderWaiting)
        return;
    m_orderWaiting = waiting;
    applyIcon();
}

QIcon TTrayIcon::ShownIcon() const {
    return m_tray->icon();
}

void TTrayIcon::ShowMessage(const QString& title, const QString& text) {
    m_tray->showMessage(title, text, QSystemTrayIcon::Information);
}

void TTrayIcon::SetIconVisible(bool visible) {
    m_iconVisible = visible;
    if (!visible) {
        m_waitTimer->stop();
        m_tray->hide();
        return;
    }
    m_waited = 0;
    tryShow();
}

bool TTrayIcon::Shown() const {
    return m_tray->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void TTrayIcon::DoubleClick() {
    emit doubleClicked();
    if (m_popupMenu && m_popupMenu->defaultAction())
        m_popupMenu->defaultAction()->trigger();
}

void TTrayIcon::applyIcon() {
    if (m_orderWaiting)
        m_tray->setIcon(m_orderIcon);
    else if (m_iconIndex >= 0 && m_iconIndex < m_iconList.size())
        m_tray->setIcon(m_iconList.at(m_iconIndex));
    else
        m_tray->setIcon(QIcon());
}

void TTrayIcon::applyHint() {
    m_tray->setToolTip(m_showHint ? m_hint : QString());
}

void TTrayIcon::tryShow() {
    if (!m_iconVisible)
        return;
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_waitTimer->stop();
        if (!m_tray->isVisible()) {
            m_tray->show();
            emit iconShown();
        }
        return;
    }
    // A session whose panel starts after us gets the icon as soon as the panel is
    // there; one without any panel gets the window instead.
    if (!m_waitTimer->isActive())
        m_waitTimer->start();
    if (m_fallbackSent)
        return;
    if (m_waited >= m_fallbackDelay) {
        m_fallbackSent = true;
        // Keep watching for a panel that comes late, but without hurry.
        m_waitTimer->setInterval(2000);
        emit trayUnavailable();
        return;
    }
    m_waited += kTrayPoll;
}

bool TTrayIcon::StatusNotifierHost() {
    // Qt puts the icon into a StatusNotifierItem host exactly when the desktop runs the
    // host's watcher on the session bus; else into the X11 notification area.
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() &&
           bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

QSystemTrayIcon* TTrayIcon::SystemTrayIcon() const {
    return m_tray;
}
