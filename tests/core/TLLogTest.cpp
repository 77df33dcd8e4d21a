#include "TLLog.h"
#include "TLTest.h"

#include <cstdio>
#include <unistd.h>

TEST(TLLog, WritesTheLineAsItIsEvenWithFormatCharacters) {
    // Layout names and error texts are data, never a format: "%s" or "%n" come out as written.
    const char* line = "Tilora: Zentrieren (⅔ Breite) – 100% kaputt: %s %n %%";
    std::FILE* file = std::tmpfile();
    const int saved = dup(STDERR_FILENO);
    std::fflush(stderr);
    dup2(fileno(file), STDERR_FILENO);
    TLLog().write(line);
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::string written(4096, '\0');
    std::rewind(file);
    written.resize(std::fread(written.data(), 1, written.size(), file));
    std::fclose(file);
    EXPECT_EQ(written, std::string(line) + '\n');
    std::string captured;
    TLLog([&captured](std::string_view l) { captured = l; }).write(line);
    EXPECT_EQ(captured, line);
}
