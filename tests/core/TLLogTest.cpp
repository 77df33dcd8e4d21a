#include "TLLog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

// Runs `body` with standard error going to a temporary file and returns what was written.
std::string captureStandardError(void (*body)()) {
    std::FILE* file = std::tmpfile();
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(fileno(file), STDERR_FILENO);
    body();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::string written(4096, '\0');
    std::rewind(file);
    written.resize(std::fread(written.data(), 1, written.size(), file));
    std::fclose(file);
    return written;
}

constexpr const char* kLine = "Tilora: Zentrieren (⅔ Breite) – 100% kaputt: %s %n %%";

TEST(Log, WritesTheLineAsItIsEvenWithFormatCharacters) {
    // Layout names and error texts are data, never a format: "%s" or "%n" must come out as written.
    EXPECT_EQ(captureStandardError([] { TLLog().write(kLine); }), std::string(kLine) + '\n');
    std::string captured;
    TLLog([&captured](std::string_view line) { captured = line; }).write(kLine);
    EXPECT_EQ(captured, kLine);
}

} // namespace
