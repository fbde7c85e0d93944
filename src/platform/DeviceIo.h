#pragma once

#include <QtGlobal>

namespace orvanta {

// Reads what a device sends back (a serial line, a printer's device file), open
// non-blocking: up to max bytes, waiting at most timeoutMs for the first of them. Returns
// the bytes read; 0 when none came in time, or the device hung up or failed. A read that
// returns 0 with nothing waiting (a raw tty without VMIN, the usblp driver) is taken as
// "nothing yet", never as the end.
qsizetype readWithin(int fd, char* buffer, qsizetype max, int timeoutMs);

} // namespace orvanta
