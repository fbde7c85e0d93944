#pragma once

#include <QIcon>
#include <QList>
#include <QObject>
#include <QString>

class QMenu;
class QSystemTrayIcon;
class QTimer;

// The console's icon in the notification area. It only shows the icon, its hint and
// its menu, and reports what happens to it; showing and hiding the main window is the
// window's business.
//
// Where the desktop has no notification area when the icon is made visible, the
// component keeps looking for one for FallbackDelay milliseconds and then emits
// trayUnavailable(), so that the owner can show its window instead of leaving the
// program unreachable.
class TTrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TTrayIcon(QObject* parent = nullptr);
    ~TTrayIcon() override;

    static constexpr int kFallbackDelay = 5000;
    static constexpr int kTrayPoll = 250;

    void SetPopupMenu(QMenu* menu);
    QMenu* PopupMenu() const { return m_popupMenu; }

    void SetHint(const QString& hint);
    QString Hint() const { return m_hint; }
    void SetShowHint(bool show);
    bool ShowHint() const { return m_showHint; }

    void SetIconList(const QList<QIcon>& icons);
    const QList<QIcon>& IconList() const { return m_iconList; }
    void SetIconIndex(int index);
    int IconIndex() const { return m_iconIndex; }

    // While an order waits for the operator, the icon shows that instead of the
    // connection picture, whatever SetIconIndex says meanwhile.
    void SetOrderWaiting(bool waiting);
    bool OrderWaiting() const { return m_orderWaiting; }
    // The image the icon shows now.
    QIcon ShownIcon() const;

    // A balloon message from the icon: the way to reach the operator where the desktop
    // has no notification service.
    void ShowMessage(const QString& title, const QString& text);

    void SetIconVisible(bool visible);
    bool IconVisible() const { return m_iconVisible; }

    // True once the icon actually stands in a notification area.
    bool Shown() const;

    void SetFallbackDelay(int ms) { m_fallbackDelay = ms; }

    // What a left double click does: the popup menu's default item. A single click does
    // the same where the tray host reports no double clicks (StatusNotifierHost).
    void DoubleClick();
    static bool StatusNotifierHost();
    // The icon as Qt shows it; for tests that play the tray host's part.
    QSystemTrayIcon* SystemTrayIcon() const;

signals:
    void doubleClicked();
    // No notification area appeared within the fallback delay.
    void trayUnavailable();
    // The icon was placed in a notification area (at once or later).
    void iconShown();

private:
    void applyIcon();
    void applyHint();
    void tryShow();

    QSystemTrayIcon* m_tray = nullptr;
    QTimer* m_waitTimer = nullptr;
    QMenu* m_popupMenu = nullptr;
    QString m_hint;
    bool m_showHint = false;
    QList<QIcon> m_iconList;
    int m_iconIndex = 0;
    QIcon m_orderIcon;
    bool m_orderWaiting = false;
    bool m_iconVisible = false;
    bool m_fallbackSent = false;
    int m_fallbackDelay = kFallbackDelay;
    int m_waited = 0;
};
