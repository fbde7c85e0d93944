#include "ui/DesktopNotifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kAppName = QStringLiteral("orvanta-console");
// A notification service that does not answer within this is as good as none.
constexpr int kCallTimeout = 5000;

} // namespace

DesktopNotifications::DesktopNotifications(QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus)) {}

DesktopNotifications::~DesktopNotifications() {
    for (quint32 id : std::as_const(m_ids))
        closeId(id);
}

bool DesktopNotifications::Show(const QString& key, const QString& summary, const QString& body,
                                bool urgent) {
    if (!m_bus.isConnected())
        return false;
    m_closeWhenKnown.remove(key);
    const Next n{summary, body, urgent};
    if (m_inFlight.contains(key))
        m_queued.insert(key, n); // goes out with the id the pending answer brings
    else
        send(key, n);
    return true;
}

void DesktopNotifications::send(const QString& key, const Next& n) {
    QVariantMap hints;
    // Critical stays on screen until we withdraw it: a customer waits at the kiosk.
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(n.urgent ? 2 : 1));
    // We play our own sound; a service that plays one too would double it.
    hints.insert(QStringLiteral("suppress-sound"), true);
    hints.insert(QStringLiteral("desktop-entry"), kAppName);

    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << kAppName << m_ids.value(key) << QString() << n.summary << n.body << QStringList()
         << hints << qint32(-1);
    m_inFlight.insert(key);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeout), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, key, n](QDBusPendingCallWatcher* w) { answered(key, n, w); });
}

void DesktopNotifications::answered(const QString& key, const Next& sent,
                                    QDBusPendingCallWatcher* w) {
    w->deleteLater();
    m_inFlight.remove(key);
    const QDBusPendingReply<quint32> reply = *w;
    if (reply.isError()) {
        m_lastError = reply.error().name() + QStringLiteral(": ") + reply.error().message();
        m_ids.remove(key);
        m_closeWhenKnown.remove(key);
        failed(sent.summary, sent.body);
    } else {
        ++m_delivered;
        m_ids.insert(key, reply.value());
        emit delivered(key, reply.value());
        if (m_closeWhenKnown.remove(key)) {
            Close(key);
            return;
        }
    }
    if (m_queued.contains(key))
        send(key, m_queued.take(key));
}

void DesktopNotifications::Close(const QString& key) {
    m_queued.remove(key);
    if (m_inFlight.contains(key)) {
        // Shown but not yet answered: close it as soon as its id is known.
        m_closeWhenKnown.insert(key);
        return;
    }
    const auto it = m_ids.constFind(key);
    if (it == m_ids.constEnd())
        return;
    closeId(*it);
    m_ids.remove(key);
}

void DesktopNotifications::closeId(quint32 id) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                       QStringLiteral("CloseNotification"));
    call << id;
    // Nothing to wait for: a bubble the user already dismissed is simply gone.
    m_bus.send(call);
}
