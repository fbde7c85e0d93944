#pragma once

namespace orvanta {

// Every kiosk costs the console two descriptors (its socket and a wake-up); the usual
// soft limit of 1024 would stop a venue of 500 kiosks. Raises the soft limit of open
// files to the hard one and returns the limit now in force.
long raiseOpenFileLimit();

} // namespace orvanta
