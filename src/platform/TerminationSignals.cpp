#include "platform/TerminationSignals.h"

#include <QObject>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace orvanta {

namespace {

int signalPipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Only async-signal-safe calls here: the byte wakes the event loop, which does the rest.
void onSignalHandler(int number) {
    const char byte = static_cast<char>(number);
    [[maybe_unused]] auto n = ::write(signalPipe[1], &byte, 1);
    for (int s : kSignals)
        ::signal(s, SIG_DFL);
}

} // namespace

void watchTerminationSignals(QObject* context, std::function<void()> onSignal) {
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context,
                     [notifier, onSignal = std::move(onSignal)] {
                         char buffer[16];
                         while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
                         }
                         notifier->setEnabled(false);
                         onSignal();
                     });
    struct sigaction action {};
    action.sa_handler = onSignalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : kSignals)
        ::sigaction(s, &action, nullptr);
}

} // namespace orvanta
