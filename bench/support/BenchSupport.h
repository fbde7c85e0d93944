#pragma once

#include <QString>

// What several benchmarks share: the order they measure with, and the set-up of a
// console process around them.
namespace bench {

// Sale lines of the order the figures are taken with: a large order of a busy cafe.
constexpr int kOrderLines = 50;

// The order document of kOrderLines sale lines, as a kiosk sends it.
QString fiftyLineDocument();
// Its invoice text, as the order window shows it.
QString fiftyLineInvoice();

// Runs the benchmarks of the command line as the console runs: a QApplication (offscreen
// unless QT_QPA_PLATFORM says otherwise) whose event loop also runs what the worker
// threads hand to the operator's thread. Returns the exit code.
int runConsoleBenchmarks(int argc, char** argv);

} // namespace bench
