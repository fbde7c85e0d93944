#pragma once

#include "kiosk/ClientThread.h"
#include "ui/AlertSettings.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTime>

#include <memory>

class NotificationSink;
class QTimer;
class SoundSink;
class TTrayIcon;

// Makes sure a customer who waits is never missed, and a kiosk that falls silent is
// noticed, even while the console sits hidden in the tray.
//
// The main window tells it what happens; it decides what the operator hears and sees:
// - OrderWindowOpened(device, sum): when an order window opens (sum = the device's
//   OrderBilled as the window shows it). At once a notification "<kiosk>: заказ на
//   <sum> ждёт подтверждения", the alert sound and the tray's "order waits" icon.
//   While any order waits, one combined reminder repeats every RepeatSeconds (the same
//   text for one order, "Ждут подтверждения: N заказов" with a line per kiosk for
//   more), each time replacing the previous bubble and with the sound.
// - OrderWindowClosed(device, lostDuringPayment): whenever an order window goes away,
//   however it ends. When the last one goes, the reminder is withdrawn, the repeating
//   stops and the tray icon is itself again. lostDuringPayment says the window closed
//   because the kiosk's connection ended during payment; the operator is then told
//   "<kiosk>: связь потеряна во время оплаты, заказ на <sum> не подтверждён".
// - KioskStateChanged(device, state): on every state notification of a kiosk. A kiosk
//   that is enabled and not Reachable() for OfflineAlertSeconds gives one notification
//   "<kiosk>: нет связи с hh:mm", and its return "<kiosk>: связь восстановлена".
// - KioskRemoved(device): when a kiosk leaves the list, so that it is never reported.
// - Apply(settings): after the settings were loaded or edited.
//
// Device pointers serve only as keys: names and sums are copied when they are told, so
// a device deleted while its window was open is never dereferenced.
//
// Notifications go to the desktop's notification service; where the session has none
// (or it fails), to the tray icon's balloon. The sound is the sound theme's
// "message-new-instant", or the system beep where that cannot be played. Offline and
// return notices make no sound: the sound means "a customer waits".
// Main thread only.
class TOrderAlerts : public QObject {
    Q_OBJECT
public:
    // The real backends: the session bus's notification service and libcanberra.
    explicit TOrderAlerts(TTrayIcon* tray, QObject* parent = nullptr);
    // Other backends (a notification service on another bus, for one).
    TOrderAlerts(TTrayIcon* tray, std::unique_ptr<NotificationSink> notifications,
                 std::unique_ptr<SoundSink> sound, QObject* parent = nullptr);
    ~TOrderAlerts() override;

    void Apply(const TAlertSettings& settings);
    const TAlertSettings& Settings() const { return m_settings; }

    void OrderWindowOpened(const TDeviceItem& device, double sum);
    void OrderWindowClosed(const TDeviceItem* device, bool lostDuringPayment = false);
    void KioskStateChanged(const TDeviceItem& device, TThreadState state);
    void KioskRemoved(const TDeviceItem* device);

    // Connected, waiting for a customer, taking an order or finishing one: the kiosk
    // answers. Every other state is a kiosk the console cannot reach.
    static bool Reachable(TThreadState state);

    int WaitingOrders() const { return static_cast<int>(m_waiting.size()); }

    // The texts, one place for each.
    static QString SumText(double sum);
    static QString OrderWaitsText(const QString& kiosk, double sum);
    static QString OrdersWaitText(int count);
    static QString PaymentLostText(const QString& kiosk, double sum);
    static QString OfflineText(const QString& kiosk, const QTime& since);
    static QString BackOnlineText(const QString& kiosk);

signals:
    // Every notification as it goes out; desktop is false when it went to the tray.
    void notified(const QString& summary, const QString& body, bool desktop);
    // Every alert sound; themed is false when it fell back to the beep.
    void soundPlayed(bool themed);

private:
    struct Waiting {
        const TDeviceItem* device;
        QString name;
        double sum;
    };
    struct Offline {
        QString name;
        QElapsedTimer since;
        QTime wentAway;
        bool alerted = false;
    };

    void notify(const QString& key, const QString& summary, const QString& body, bool urgent);
    void fallback(const QString& summary, const QString& body);
    void sound();
    void remind();
    void checkOffline();
    void updateTimers();
    static QString kioskKey(const TDeviceItem* device);

    TTrayIcon* m_tray;
    std::unique_ptr<NotificationSink> m_notifications;
    std::unique_ptr<SoundSink> m_sound;
    TAlertSettings m_settings;
    QList<Waiting> m_waiting; // in the order the windows opened
    QHash<const TDeviceItem*, Offline> m_offline;
    QTimer* m_repeat;
    QTimer* m_offlineTick;
};
