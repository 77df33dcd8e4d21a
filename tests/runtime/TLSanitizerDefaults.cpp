// Sanitizer settings compiled into every test binary, so they hold however a test is started
// (ctest, a debugger, by hand). They only take effect in the sanitizer build.

// The names are the ones the sanitizers look for.
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
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n";
}

} // extern "C"
// NOLINTEND(bugprone-reserved-identifier)
