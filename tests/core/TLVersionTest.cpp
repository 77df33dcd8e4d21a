#include "TLVersion.h"
#include "TLTest.h"

namespace {

int sign(std::weak_ordering o) {
    return o < 0 ? -1 : o > 0 ? 1 : 0;
}

} // namespace

TEST(TLVersion, OrdersByTable) {
    const struct {
        const char *a, *b;
        int expected; // sign of compare(a, b)
    } rows[] = {
        // digit runs by value
        {"1.9", "1.10", -1},
        {"1.6", "1.5", 1},
        // a proper prefix orders first
        {"1.2", "1.2.0", -1},
        {"", "0", -1},
        // leading zeros: a run counts by its value
        {"1.01", "1.1", 0},
        {"1.00", "1.0.0", -1},
        // runs longer than any integer type
        {"1.123456789012345678901234567890", "1.123456789012345678901234567891", -1},
        // other characters by code, case-sensitive
        {"1.0B", "1.0a", -1},
        {"1.0-beta", "1.0.1", -1}, // '-' (0x2D) before '.' (0x2E)
        {"1a", "1.0", 1},          // 'a' after '.'
        {"a1", "1", 1},            // a letter after a digit character
        {"v1.ü", "v1.z", 1},       // UTF-8 beyond ASCII after ASCII letters
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.a) + " vs " + row.b);
        EXPECT_EQ(sign(TLVersion::compare(row.a, row.b)), row.expected);
        EXPECT_EQ(sign(TLVersion::compare(row.b, row.a)), -row.expected);
    }
}
