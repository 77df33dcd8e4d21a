// The main of every test binary: one QApplication for all its tests, on the offscreen platform
// unless the caller chose another; binaries built with TL_TEST_ON_DESKTOP first bring up the
// shared test desktop and put Qt on it.
#include "TLTest.h"
#include "TLTestDesktop.h"

#ifdef TL_TEST_ON_DESKTOP
TLTestDesktop& tlDesktop() {
    static TLTestDesktop desktop;
    return desktop;
}
#endif

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
#ifdef TL_TEST_ON_DESKTOP
    std::string error;
    const std::string wm = qEnvironmentVariable("TL_TEST_WM", QStringLiteral("openbox")).toStdString();
    std::printf("[ desktop  ] window manager: %s\n", wm.c_str());
    if (!tlDesktop().start(&error, wm)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    qputenv("DISPLAY", tlDesktop().displayName().c_str());
    qputenv("QT_QPA_PLATFORM", "xcb");
#endif
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int code = 0;
    {
        QApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        code = RUN_ALL_TESTS();
    }
#ifdef TL_TEST_ON_DESKTOP
    tlDesktop().stop();
#endif
    return code;
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
