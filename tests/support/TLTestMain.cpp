// The main of every test binary: one QApplication for all its tests, on the offscreen platform
// unless the caller chose another.
#include "TLTest.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return RUN_ALL_TESTS();
}

// Sanitizer settings, compiled into every test binary so that they hold however it is started.
// NOLINTBEGIN(bugprone-reserved-identifier)
extern "C" {
const char* __asan_default_options() {
    return "detect_leaks=1:abort_on_error=0";
}
const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}
// Caches that system libraries keep for the life of the process.
const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}
}
// NOLINTEND(bugprone-reserved-identifier)
