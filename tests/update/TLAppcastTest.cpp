#include "TLAppcast.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

namespace {

QJsonObject object(const char* json) {
    return QJsonDocument::fromJson(json).object();
}

} // namespace

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

TEST(TLAppcast, NotesFallBackUnlessANonEmptyString) {
    const QString fallback = QStringLiteral("Siehe Changelog auf der Download-Seite.");
    EXPECT_EQ(TLAppcast::notesText(object(R"({"notes": "Neu: Viertel."})")), "Neu: Viertel.");
    EXPECT_EQ(TLAppcast::notesText(object(R"({"notes": ""})")), fallback);
    EXPECT_EQ(TLAppcast::notesText(object(R"({"notes": ["a"]})")), fallback);
    EXPECT_EQ(TLAppcast::notesText(object(R"({})")), fallback);
}

TEST(TLAppcast, InstallFieldsForThePreChecks) {
    struct Row {
        const char* json;
        bool hasUrl;
        const char* digest;
    };
    const Row rows[] = {
        {R"({"url": "https://x.example/T.zip", "sha256": "ABCdef"})", true, "abcdef"},
        {R"({"url": "file:///srv/updates/T.zip"})", true, ""},
        {R"({"url": "T.zip", "sha256": 12})", false, ""},
        {R"({"url": 5})", false, ""},
        {R"({"url": "http://[bad"})", false, ""},
        {R"({"sha256": "00"})", false, "00"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.json);
        const QJsonObject feed = object(row.json);
        EXPECT_EQ(TLAppcast::archiveUrl(feed).has_value(), row.hasUrl);
        EXPECT_EQ(TLAppcast::expectedDigest(feed), QString::fromUtf8(row.digest));
    }
}
