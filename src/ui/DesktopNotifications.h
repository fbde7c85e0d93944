#pragma once

#include "ui/AlertSinks.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

class QDBusPendingCallWatcher;

// Desktop notifications through the notification service of the session bus
// (org.freedesktop.Notifications). Calls go out asynchronously, so a slow or hung
// service never holds the main thread; the id the service answers is kept per key and
// handed back as replaces_id, so a reminder replaces its previous bubble.
class DesktopNotifications : public QObject, public NotificationSink {
    Q_OBJECT
public:
    // The bus is the session bus unless another connection is given (tests hand in
    // the connection to a bus of their own).
    explicit DesktopNotifications(QDBusConnection bus = QDBusConnection::sessionBus(),
                                  QObject* parent = nullptr);
    // Withdraws what is still shown: an order reminder must not outlive the console.
    ~DesktopNotifications() override;

    bool Show(const QString& key, const QString& summary, const QString& body,
              bool urgent) override;
    void Close(const QString& key) override;

    // The id the service gave the notification called key; 0 while none is known.
    quint32 Id(const QString& key) const { return m_ids.value(key); }
    // Notifications the service accepted, and the error of the last one it did not.
    int Delivered() const { return m_delivered; }
    QString LastError() const { return m_lastError; }

signals:
    // The service answered a Notify call (with the id it gave).
    void delivered(const QString& key, quint32 id);

private:
    struct Next {
        QString summary;
        QString body;
        bool urgent;
    };

    void send(const QString& key, const Next& n);
    void answered(const QString& key, const Next& sent, QDBusPendingCallWatcher* w);
    void closeId(quint32 id);

    QDBusConnection m_bus;
    QHash<QString, quint32> m_ids;
    // One Notify per key on its way at a time: a second one sent before the first is
    // answered would not know the id to replace and would stack a bubble beside it.
    QSet<QString> m_inFlight;
    QHash<QString, Next> m_queued;  // the newest text for a key whose Notify is on its way
    QSet<QString> m_closeWhenKnown; // closed while its Notify was still on its way
    int m_delivered = 0;
    QString m_lastError;
};
