#include "platform/SystemLog.h"

#include <mutex>

#include <syslog.h>

namespace orvanta {

namespace {

std::mutex& sinkMutex() {
    static auto* mutex = new std::mutex; // never destroyed: threads may log during exit
    return *mutex;
}

SystemLogSink& sink() {
    static auto* current = new SystemLogSink;
    return *current;
}

void openOnce() {
    static std::once_flag opened;
    // LOG_NDELAY: the socket is opened now, not by the first worker that logs.
    std::call_once(opened, [] { ::openlog(kSystemLogIdent, LOG_PID | LOG_NDELAY, LOG_USER); });
}

} // namespace

void systemLog(LogPriority priority, const QString& text) {
    {
        std::lock_guard lock(sinkMutex());
        if (sink()) {
            sink()(priority, text);
            return;
        }
    }
    openOnce();
    const QByteArray utf8 = text.toUtf8();
    ::syslog(static_cast<int>(priority), "%s", utf8.constData());
}

void setSystemLogSink(SystemLogSink value) {
    std::lock_guard lock(sinkMutex());
    sink() = std::move(value);
}

} // namespace orvanta
