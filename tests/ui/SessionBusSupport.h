#pragma once

#include <QDBusConnection>
#include <QList>
#include <QProcess>
#include <QString>

// A session bus of the test's own (dbus-daemon), optionally with a real notification
// service on it (dunst on its own Xvfb display), and a monitor that records every call
// made to the notification service, as the service received it.
class TestSessionBus {
public:
    struct NotifyCall {
        QString appName;
        quint32 replacesId = 0;
        QString summary;
        QString body;
        int urgency = -1; // the "urgency" hint; -1 when none was given
    };

    TestSessionBus() = default;
    ~TestSessionBus();
    TestSessionBus(const TestSessionBus&) = delete;
    TestSessionBus& operator=(const TestSessionBus&) = delete;

    // Starts dbus-daemon and the monitor; false with the reason when the machine cannot.
    bool Start(QString* why);
    // Starts Xvfb and dunst and waits until dunst owns org.freedesktop.Notifications.
    bool StartNotificationService(QString* why);

    QString Address() const { return m_address; }
    // A new connection to this bus under the given name.
    QDBusConnection Connect(const QString& name) const;

    // Returns once the monitor has printed every call made before: a marker call goes
    // over the bus and the monitor's output is read until the marker shows.
    bool Sync();

    // Calls to the notification service seen so far, in order.
    QList<NotifyCall> Notifications();
    QList<quint32> CloseCalls();
    // dunst's own count of the bubbles it shows now; -1 when dunstctl fails.
    int Displayed() const;

private:
    void readMonitor();

    QProcess m_daemon;
    QProcess m_monitor;
    QProcess m_xvfb;
    QProcess m_dunst;
    QString m_address;
    QByteArray m_monitorText;
    int m_syncs = 0;
};
