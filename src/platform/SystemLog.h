#pragma once

#include <QString>

#include <functional>

namespace orvanta {

// How bad a system log entry is; the values are syslog's priorities.
enum class LogPriority { Error = 3, Warning = 4, Info = 6 };

// The system log (syslog, read by journalctl -t orvanta-console): why a kiosk went red
// stays on record after the console is closed. Only connection events and errors go
// here, never what a customer ordered. Safe to call from any thread.
void systemLog(LogPriority priority, const QString& text);

// While a sink is set, entries go to it instead of syslog, so that tests see exactly
// what was logged without depending on a log daemon. An empty function restores syslog.
using SystemLogSink = std::function<void(LogPriority priority, const QString& text)>;
void setSystemLogSink(SystemLogSink sink);

// The identifier the console's entries carry.
inline constexpr char kSystemLogIdent[] = "orvanta-console";

} // namespace orvanta
