#include "LinkRecorderSupport.h"

#include "TestUtil.h"

bool LinkRecorder::hasLog(const QString& line) const {
    return logCount(line) > 0;
}

int LinkRecorder::logCount(const QString& line) const {
    int n = 0;
    for (const auto& l : logs)
        n += l.line == line;
    return n;
}

bool LinkRecorder::sawState(TThreadState state) const {
    return stateCount(state) > 0;
}

int LinkRecorder::stateCount(TThreadState state) const {
    int n = 0;
    for (const auto& s : states)
        n += s.state == state;
    return n;
}

bool LinkRecorder::waitForState(TThreadState state, int ms) const {
    return testutil::waitUntil([&] { return sawState(state); }, ms);
}

bool LinkRecorder::waitForLog(const QString& line, int ms) const {
    return testutil::waitUntil([&] { return hasLog(line); }, ms);
}

std::vector<TThreadState> LinkRecorder::stateSequence() const {
    std::vector<TThreadState> out;
    for (const auto& s : states)
        out.push_back(s.state);
    return out;
}

std::shared_ptr<TDeviceItem> makeDevice(int port, const QString& address) {
    auto device = TDeviceItem::Create();
    device->Name = QStringLiteral("Киоск");
    device->SetAddress(address);
    device->SetPort(port);
    return device;
}

bool stopAndWait(TDeviceItem& device, int ms) {
    const auto old = device.SocketThread();
    device.DestroyThread(false);
    return testutil::waitUntil([&] { return device.SocketThread() != old; }, ms);
}

void releaseAndWait(TDeviceItem& device, int ms) {
    device.Release();
    testutil::waitUntil(
        [&] { return device.SocketThread()->Suspended() || device.SocketThread()->Finished(); },
        ms);
}
