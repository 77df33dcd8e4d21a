#include "TLAppcast.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

TEST(TLAppcast, ValidityOfFeeds) {
    struct Row {
        const char* json;
        bool valid;
    };
    const Row rows[] = {
        {R"({"version": "1.3", "notes": "x", "url": "https://a/b.zip", "sha256": "ab"})", true},
        {R"({"version": "1.3", "extra": [1, 2]})", true},
        {R"({"version": ""})", true},
        {R"({"version": 1.3})", false},
        {R"({"version": null})", false},
        {R"({"notes": "no version"})", false},
        {R"([{"version": "1.3"}])", false},
        {R"("1.3")", false},
        {R"({"version": "1.3")", false},
        {"", false},
        {"<html>404</html>", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.json);
        EXPECT_EQ(TLAppcast::parse(row.json).has_value(), row.valid);
    }
    EXPECT_EQ(TLAppcast::version(*TLAppcast::parse(R"({"version": "1.10"})")), "1.10");
}
