#pragma once

// Shared by the fuzz targets: an invariant check that stops the run with a message
// (assert would vanish with NDEBUG, and libFuzzer needs a crash to keep the input).

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond, what)                                                                     \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "%s:%d: invariant broken: %s (%s)\n", __FILE__, __LINE__, #cond,  \
                         QString(what).toLocal8Bit().constData());                                 \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

namespace fuzzsupport {

// Qt keeps the program's arguments by reference; these outlive every application object.
inline int& appArgc() {
    static int argc = 1;
    return argc;
}
inline char** appArgv() {
    static char name[] = "orvanta-fuzz";
    static char* argv[] = {name, nullptr};
    return argv;
}

} // namespace fuzzsupport
