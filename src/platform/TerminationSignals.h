#pragma once

#include <functional>

class QObject;

namespace orvanta {

// Turns SIGTERM, SIGINT and SIGHUP (a desktop session logging out, a service manager
// stopping the console, Ctrl+C in a terminal) into a call of onSignal on the main
// thread, so the console ends the same orderly way as through its own exit command.
// After the first signal the default action is restored: a second Ctrl+C ends a
// console that hangs. context owns the watcher; needs a running Qt event loop.
void watchTerminationSignals(QObject* context, std::function<void()> onSignal);

} // namespace orvanta
