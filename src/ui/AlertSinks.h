#pragma once

#include <QString>

#include <functional>

// Where the console's alerts go out. TOrderAlerts decides what to say and when; these
// carry it to the desktop. Two real ones exist (DesktopNotifications over the session
// bus, CanberraSound through the sound theme); the interfaces keep the decisions apart
// from the transport, so that another bus or another sound can be handed in.

class NotificationSink {
public:
    // Told when a notification that Show accepted could not be delivered after all
    // (the service went away, or refused it): the caller then shows it another way.
    using FailureHandler = std::function<void(const QString& summary, const QString& body)>;

    virtual ~NotificationSink() = default;

    // Shows the notification called key, replacing the one shown earlier under the same
    // key instead of stacking another. Urgent ones stay until closed. False when there
    // is no way to deliver it now (no session bus).
    virtual bool Show(const QString& key, const QString& summary, const QString& body,
                      bool urgent) = 0;
    // Withdraws the notification called key, if one is shown.
    virtual void Close(const QString& key) = 0;

    void SetFailureHandler(FailureHandler handler) { m_onFailure = std::move(handler); }

protected:
    void failed(const QString& summary, const QString& body) const {
        if (m_onFailure)
            m_onFailure(summary, body);
    }

private:
    FailureHandler m_onFailure;
};

class SoundSink {
public:
    virtual ~SoundSink() = default;
    // Asks for the alert sound; false when it cannot be played (the caller beeps).
    virtual bool Play() = 0;
};
