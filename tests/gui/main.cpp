// Entry point of the widget tests: one QApplication on the offscreen
// platform for the whole run, so tests need no display.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

// Qt starts threads of its own (image readers, the media backend, D-Bus) that
// may still be exiting when LeakSanitizer stops the world at the end of the
// run; its tracer then crashes now and then, failing a run whose tests all
// passed. Leaks of our own code are checked by the engine, converter and
// client test binaries, which have no Qt threads.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
