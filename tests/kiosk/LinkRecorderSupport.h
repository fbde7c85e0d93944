#pragma once

#include "kiosk/ClientThread.h"

#include <QString>

#include <chrono>
#include <memory>
#include <vector>

// Records what the kiosk link tells the main thread, with the time it arrived.
class LinkRecorder : public IKioskObserver {
public:
    using Clock = std::chrono::steady_clock;
    struct State {
        TDeviceItem* device;
        TThreadState state;
        Clock::time_point at;
    };
    struct Log {
        TDeviceItem* device;
        QString line;
        Clock::time_point at;
    };

    LinkRecorder() { SetKioskObserver(this); }
    ~LinkRecorder() override {
        if (KioskObserver() == this)
            SetKioskObserver(nullptr);
    }

    void WMKioskState(const std::shared_ptr<TDeviceItem>& device, TThreadState state) override {
        states.push_back({device.get(), state, Clock::now()});
    }
    void WMKioskPayBlock(const std::shared_ptr<TDeviceItem>& device) override {
        TDeviceLock lock(*device);
        payBlocks.push_back({device->OrderBilled, device->Invoice, device->OrderXML});
    }
    void WMKioskPayEnd(const std::shared_ptr<TDeviceItem>& device) override {
        payEnds.push_back(device.get());
    }
    void AddLogLine(const std::shared_ptr<TDeviceItem>& device, const QString& line) override {
        logs.push_back({device.get(), line, Clock::now()});
    }

    bool hasLog(const QString& line) const;
    int logCount(const QString& line) const;
    bool sawState(TThreadState state) const;
    int stateCount(TThreadState state) const;
    // Waits (pumping the main thread) until the given state was announced.
    bool waitForState(TThreadState state, int ms = 5000) const;
    bool waitForLog(const QString& line, int ms = 5000) const;
    std::vector<TThreadState> stateSequence() const;

    struct PayBlock {
        double sum;
        QString invoice;
        QString xml;
    };
    std::vector<State> states;
    std::vector<Log> logs;
    std::vector<PayBlock> payBlocks;
    std::vector<TDeviceItem*> payEnds;
};

// A device pointed at 127.0.0.1:port, enabled.
std::shared_ptr<TDeviceItem> makeDevice(int port,
                                        const QString& address = QStringLiteral("127.0.0.1"));
// Stops a device's thread and waits (pumping) until it has been replaced by a new one.
bool stopAndWait(TDeviceItem& device, int ms = 3000);
// Releases a device at the end of a test and waits (pumping) until its connection thread
// is suspended or finished, so that no thread outlives the test's kiosks.
void releaseAndWait(TDeviceItem& device, int ms = 3000);

// A kiosk program the console accepts, as a kiosk answers GET_VERSION.
inline const QByteArray kGoodVersion = "VERSION=Kiosk 14.2.0.7";

inline long long msBetween(std::chrono::steady_clock::time_point a,
                           std::chrono::steady_clock::time_point b) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
}
