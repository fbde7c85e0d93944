#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include <QStringList>

#include <ostream>

// Readable values in failure messages of tests that compare Qt strings; one definition
// for every test program.
void PrintTo(const QString& value, std::ostream* os);
void PrintTo(const QStringList& value, std::ostream* os);

namespace testutil {

// Runs the event loop and the main-thread dispatcher until pred holds or ms pass.
// The bound is there so that a fault fails the test instead of hanging it.
bool waitUntil(const std::function<bool()>& pred, int ms = 5000);

// Runs the event loop and the dispatcher for ms milliseconds.
void pump(int ms);

// A free TCP port on loopback (bound once and released).
int freePort();

// Path of a program built with the project (kiosk-sim) or a source file.
QString binaryPath(const QString& relative);
QString sourcePath(const QString& relative);

QByteArray readFile(const QString& path);

// Sets the time zone (TZ) for the life of the object and puts the previous one back:
// dates of order documents are read in local time, so a test fixes the zone it means.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone);
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    bool m_hadZone = false;
    QByteArray m_zone;
};

// Whether every piece occurs in text, one after the other.
::testing::AssertionResult inOrder(const QString& text, const QStringList& pieces);
void writeFile(const QString& path, const QByteArray& bytes);

} // namespace testutil
