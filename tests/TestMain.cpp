// One main for every test program: an application object (widgets where the program
// was built with them, on the offscreen platform), the main-thread dispatcher wired to
// its event loop, then GoogleTest.
#include "platform/MainThread.h"

#include <gtest/gtest.h>

#ifdef ORVANTA_TEST_GUI
#include <QApplication>
#else
#include <QCoreApplication>
#endif

#include <memory>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("ORVANTA_SOURCE_DIR"))
        qputenv("ORVANTA_SOURCE_DIR", ORVANTA_TEST_SOURCE_DIR);
    if (qEnvironmentVariableIsEmpty("ORVANTA_BINARY_DIR"))
        qputenv("ORVANTA_BINARY_DIR", ORVANTA_TEST_BINARY_DIR);
#ifdef ORVANTA_TEST_GUI
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    orvanta::installQtDispatcherWaker();
    return RUN_ALL_TESTS();
}
