#include "ui/OrderAlerts.h"

#include "common/RussianPlural.h"
#include "ui/CanberraSound.h"
#include "ui/DesktopNotifications.h"
#include "ui/OrderConfirm.h"
#include "ui/TrayIcon.h"

#include <QApplication>
#include <QStringList>
#include <QTimer>

namespace {

// The one bubble that stands for all waiting orders.
const QString kOrdersKey = QStringLiteral("orders");

QString ordersWord(int count) {
    return russianPlural(count, QStringLiteral("заказ"), QStringLiteral("заказа"),
                         QStringLiteral("заказов"));
}

QString orderLine(const QString& kiosk, double sum) {
    return QStringLiteral("%1: заказ на %2").arg(kiosk, TOrderAlerts::SumText(sum));
}

} // namespace

TOrderAlerts::TOrderAlerts(TTrayIcon* tray, QObject* parent)
    : TOrderAlerts(tray, std::make_unique<DesktopNotifications>(),
                   std::make_unique<CanberraSound>(), parent) {}

TOrderAlerts::TOrderAlerts(TTrayIcon* tray, std::unique_ptr<NotificationSink> notifications,
                           std::unique_ptr<SoundSink> sound, QObject* parent)
    : QObject(parent)
    , m_tray(tray)
    , m_notifications(std::move(notifications))
    , m_sound(std::move(sound))
    , m_repeat(new QTimer(this))
    , m_offlineTick(new QTimer(this)) {
    connect(m_repeat, &QTimer::timeout, this, &TOrderAlerts::remind);
    m_offlineTick->setInterval(1000);
    connect(m_offlineTick, &QTimer::timeout, this, &TOrderAlerts::checkOffline);
    if (m_notifications) {
        // The handler runs from a D-Bus reply; this object owns the sink, so it is alive.
        m_notifications->SetFailureHandler(
            [this](const QString& summary, const QString& body) { fallback(summary, body); });
    }
    updateTimers();
}

TOrderAlerts::~TOrderAlerts() {
    if (m_notifications)
        m_notifications->SetFailureHandler({});
    if (m_tray)
        m_tray->SetOrderWaiting(false);
}

void TOrderAlerts::Apply(const TAlertSettings& settings) {
    const bool repeatChanged = settings.RepeatSeconds != m_settings.RepeatSeconds;
    m_settings = settings;
    if (!m_settings.Notify && m_notifications)
        m_notifications->Close(kOrdersKey);
    if (repeatChanged)
        m_repeat->stop(); // restarted with the new period below
    updateTimers();
}

bool TOrderAlerts::Reachable(TThreadState state) {
    switch (state) {
    case tsConnected:
    case tsWorkingIdle:
    case tsWorkingOrder:
    case tsOrderingFinished:
        return true;
    default:
        return false;
    }
}

QString TOrderAlerts::SumText(double sum) {
    // The sum as the order window's title shows it, without its "Сумма заказа: ".
    const QString title = OrderSumText(sum);
    const qsizetype colon = title.indexOf(QStringLiteral(": "));
    return colon < 0 ? title : title.mid(colon + 2);
}

QString TOrderAlerts::OrderWaitsText(const QString& kiosk, double sum) {
    return QStringLiteral("%1: заказ на %2 ждёт подтверждения").arg(kiosk, SumText(sum));
}

QString TOrderAlerts::OrdersWaitText(int count) {
    return QStringLiteral("Ждут подтверждения: %1 %2").arg(count).arg(ordersWord(count));
}

QString TOrderAlerts::PaymentLostText(const QString& kiosk, double sum) {
    return QStringLiteral("%1: связь потеряна во время оплаты, заказ на %2 не подтверждён")
        .arg(kiosk, SumText(sum));
}

QString TOrderAlerts::OfflineText(const QString& kiosk, const QTime& since) {
    return QStringLiteral("%1: нет связи с %2").arg(kiosk, since.toString(QStringLiteral("hh:mm")));
}

QString TOrderAlerts::BackOnlineText(const QString& kiosk) {
    return QStringLiteral("%1: связь восстановлена").arg(kiosk);
}

void TOrderAlerts::OrderWindowOpened(const TDeviceItem& device, double sum) {
    const TDeviceItem* key = &device;
    auto it = std::find_if(m_waiting.begin(), m_waiting.end(),
                           [key](const Waiting& w) { return w.device == key; });
    if (it != m_waiting.end())
        m_waiting.erase(it); // a new order of the same kiosk: the newest sum counts
    m_waiting.append({key, device.Name, sum});

    // Announce the new order by name; the others that still wait go below it.
    QStringList others;
    for (const Waiting& w : std::as_const(m_waiting))
        if (w.device != key)
            others << orderLine(w.name, w.sum);
    const QString body =
        others.isEmpty() ? QString() : QStringLiteral("Ждут также:\n") + others.join(u'\n');
    notify(kOrdersKey, OrderWaitsText(device.Name, sum), body, true);
    sound();
    // The next reminder a full period after the newest order, not a moment after it.
    m_repeat->stop();
    updateTimers();
}

void TOrderAlerts::OrderWindowClosed(const TDeviceItem* device, bool lostDuringPayment) {
    auto it = std::find_if(m_waiting.begin(), m_waiting.end(),
                           [device](const Waiting& w) { return w.device == device; });
    if (it == m_waiting.end())
        return;
    const Waiting closed = *it;
    m_waiting.erase(it);
    if (m_waiting.isEmpty() && m_notifications)
        m_notifications->Close(kOrdersKey);
    if (lostDuringPayment)
        notify(kioskKey(device), PaymentLostText(closed.name, closed.sum), QString(), false);
    updateTimers();
}

void TOrderAlerts::KioskStateChanged(const TDeviceItem& device, TThreadState state) {
    const TDeviceItem* key = &device;
    if (!device.Enabled() || Reachable(state)) {
        const auto it = m_offline.constFind(key);
        if (it != m_offline.constEnd()) {
            // Only a kiosk reported as lost is reported back; a disabled one is simply
            // no longer watched.
            if (it->alerted && Reachable(state))
                notify(kioskKey(key), BackOnlineText(device.Name), QString(), false);
            m_offline.erase(it);
        }
    } else if (!m_offline.contains(key)) {
        // The time it went away is the first unreachable state; a kiosk that cycles
        // through waiting, connecting and error keeps it.
        Offline o;
        o.name = device.Name;
        o.since.start();
        o.wentAway = QTime::currentTime();
        m_offline.insert(key, o);
    } else {
        m_offline[key].name = device.Name;
    }
    updateTimers();
}

void TOrderAlerts::KioskRemoved(const TDeviceItem* device) {
    m_offline.remove(device);
    updateTimers();
}

void TOrderAlerts::remind() {
    if (m_waiting.isEmpty()) {
        updateTimers();
        return;
    }
    if (m_waiting.size() == 1) {
        const Waiting& w = m_waiting.constFirst();
        notify(kOrdersKey, OrderWaitsText(w.name, w.sum), QString(), true);
    } else {
        QStringList lines;
        for (const Waiting& w : std::as_const(m_waiting))
            lines << orderLine(w.name, w.sum);
        notify(kOrdersKey, OrdersWaitText(static_cast<int>(m_waiting.size())), lines.join(u'\n'),
               true);
    }
    sound();
}

void TOrderAlerts::checkOffline() {
    if (m_settings.OfflineAlertSeconds <= 0)
        return;
    const qint64 limit = qint64(m_settings.OfflineAlertSeconds) * 1000;
    for (auto it = m_offline.begin(); it != m_offline.end(); ++it) {
        if (it->alerted || it->since.elapsed() < limit)
            continue;
        it->alerted = true;
        notify(kioskKey(it.key()), OfflineText(it->name, it->wentAway), QString(), false);
    }
    updateTimers();
}

void TOrderAlerts::notify(const QString& key, const QString& summary, const QString& body,
                          bool urgent) {
    if (!m_settings.Notify)
        return;
    if (m_notifications && m_notifications->Show(key, summary, body, urgent)) {
        emit notified(summary, body, true);
        return;
    }
    fallback(summary, body);
}

void TOrderAlerts::fallback(const QString& summary, const QString& body) {
    if (m_tray)
        m_tray->ShowMessage(summary, body);
    emit notified(summary, body, false);
}

void TOrderAlerts::sound() {
    if (!m_settings.Sound)
        return;
    const bool themed = m_sound && m_sound->Play();
    if (!themed)
        QApplication::beep();
    emit soundPlayed(themed);
}

void TOrderAlerts::updateTimers() {
    const bool waiting = !m_waiting.isEmpty();
    if (m_tray)
        m_tray->SetOrderWaiting(waiting);
    if (waiting && m_settings.RepeatSeconds > 0) {
        if (!m_repeat->isActive())
            m_repeat->start(m_settings.RepeatSeconds * 1000);
    } else {
        m_repeat->stop();
    }
    // Watch only while some kiosk may still be reported.
    const bool watch = m_settings.OfflineAlertSeconds > 0 &&
                       std::any_of(m_offline.cbegin(), m_offline.cend(),
                                   [](const Offline& o) { return !o.alerted; });
    if (watch && !m_offlineTick->isActive())
        m_offlineTick->start();
    else if (!watch)
        m_offlineTick->stop();
}

QString TOrderAlerts::kioskKey(const TDeviceItem* device) {
    return QStringLiteral("kiosk:") + QString::number(reinterpret_cast<quintptr>(device), 16);
}
