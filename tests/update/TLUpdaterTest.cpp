#include "TLUpdater.h"
#include "TLRecordingPresenter.h"
#include "TLTestHttpServer.h"
#include "TLUpdateTestSupport.h"
#include "TLUserDefaults.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <limits>
#include <memory>

using namespace TLUpdateTestSupport;

namespace {

const QDateTime kNow = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);

QByteArray feedJson(const QVariantMap& fields) {
    return QJsonDocument::fromVariant(fields).toJson();
}

class TLUpdaterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ensureApplication();
        ASSERT_TRUE(dir_.isValid());
        defaults_ = std::make_unique<TLUserDefaults>(dir_.filePath("Tilora.plist"));
        context_.bundlePath = dir_.filePath("Programme/Tilora.app");
        context_.bundleIdentifier = QStringLiteral("org.tilora.Tilora");
        context_.runningVersion = QStringLiteral("1.9");
        context_.feedUrl = server_.url("/appcast.json");
        context_.tempDir = dir_.path();
        context_.now = [this] { return now_; };
        presenter_.busyProbe = [this] { return updater_ && updater_->busy(); };
    }

    TLUpdater& updater() {
        if (!updater_) {
            updater_ = std::make_unique<TLUpdater>(*defaults_, presenter_, context_);
        }
        return *updater_;
    }

    void storeLastCheck(const QVariant& value) {
        defaults_->setObject(value, TLUserDefaults::kLastUpdateCheck);
    }
    std::optional<QVariant> lastCheck() const {
        return defaults_->objectForKey(TLUserDefaults::kLastUpdateCheck);
    }

    // Runs one check against the server and waits until it has been evaluated.
    void check(bool interactive) {
        updater().checkForUpdatesInteractive(interactive);
        ASSERT_TRUE(waitUntil([this] { return !updater().busy(); }));
    }

    QTemporaryDir dir_;
    std::unique_ptr<TLTestHttpServer> serverHolder_ =
        (ensureApplication(), std::make_unique<TLTestHttpServer>());
    TLTestHttpServer& server_ = *serverHolder_;
    std::unique_ptr<TLUserDefaults> defaults_;
    TLUpdaterContext context_;
    TLRecordingPresenter presenter_;
    QDateTime now_ = kNow;
    std::unique_ptr<TLUpdater> updater_;
};

} // namespace

TEST_F(TLUpdaterTest, FirstDelayFollowsTheLastValidRead) {
    struct Row {
        const char* what;
        std::optional<QVariant> stored;
        int expectedMs;
    };
    const Row rows[] = {
        {"first start", std::nullopt, 20000},
        {"23 h ago", QVariant(kNow.addSecs(-23 * 3600)), 3600000},
        {"10 s short of 24 h", QVariant(kNow.addSecs(-86400 + 10)), 20000},
        {"exactly 24 h", QVariant(kNow.addSecs(-86400)), 20000},
        {"25 h ago", QVariant(kNow.addSecs(-25 * 3600)), 20000},
        {"one hour in the future", QVariant(kNow.addSecs(3600)), 90000000},
        {"a string, not a date", QVariant(QStringLiteral("2026-03-01")), 20000},
        {"a number, not a date", QVariant(qint64(1234)), 20000},
        {"a year in the future: capped", QVariant(kNow.addYears(1)), std::numeric_limits<int>::max()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.stored) {
            storeLastCheck(*row.stored);
        } else {
            defaults_->removeObjectForKey(TLUserDefaults::kLastUpdateCheck);
        }
        updater().scheduleAutomaticChecks();
        ASSERT_NE(updater().timer(), nullptr);
        EXPECT_TRUE(updater().timer()->isSingleShot());
        EXPECT_EQ(updater().timer()->interval(), row.expectedMs);
    }
    EXPECT_TRUE(server_.requests().isEmpty());
}

TEST_F(TLUpdaterTest, SwitchCancelsAndReplansWithoutCheckingAtOnce) {
    EXPECT_TRUE(updater().isAutomaticCheckingEnabled()); // absent key: on
    storeLastCheck(kNow.addSecs(-23 * 3600));
    updater().scheduleAutomaticChecks();
    ASSERT_NE(updater().timer(), nullptr);

    updater().setAutomaticCheckingEnabled(false);
    EXPECT_EQ(updater().timer(), nullptr);
    EXPECT_FALSE(updater().isAutomaticCheckingEnabled());
    EXPECT_EQ(defaults_->objectForKey(TLUserDefaults::kAutoUpdateEnabled), QVariant(false));
    updater().scheduleAutomaticChecks();
    EXPECT_EQ(updater().timer(), nullptr);

    updater().setAutomaticCheckingEnabled(true);
    ASSERT_NE(updater().timer(), nullptr);
    EXPECT_EQ(updater().timer()->interval(), 3600000);
    QCoreApplication::processEvents();
    EXPECT_FALSE(updater().busy());
    EXPECT_TRUE(server_.requests().isEmpty());
}

TEST_F(TLUpdaterTest, FiringChecksSilentlyThenRepeatsDaily) {
    server_.serve("/appcast.json", feedJson({{"version", "1.9"}}));
    updater().scheduleAutomaticChecks();
    ASSERT_NE(updater().timer(), nullptr);
    // Fire the pending one-shot timer as the event loop would.
    QMetaObject::invokeMethod(updater().timer(), "timeout");
    EXPECT_TRUE(updater().busy());
    ASSERT_NE(updater().timer(), nullptr);
    EXPECT_FALSE(updater().timer()->isSingleShot());
    EXPECT_EQ(updater().timer()->interval(), 86400000);
    ASSERT_TRUE(waitUntil([this] { return !updater().busy(); }));
    EXPECT_EQ(server_.requestCount("/appcast.json"), 1);
    EXPECT_TRUE(presenter_.alerts.isEmpty()); // up to date, automatic: silent
    EXPECT_EQ(lastCheck(), QVariant(kNow));

    QMetaObject::invokeMethod(updater().timer(), "timeout");
    ASSERT_TRUE(
        waitUntil([this] { return server_.requestCount("/appcast.json") == 2 && !updater().busy(); }));
    EXPECT_EQ(updater().timer()->interval(), 86400000);
}

TEST_F(TLUpdaterTest, OutcomesOfOneCheck) {
    struct Row {
        const char* what;
        QByteArray body;
        int status;
        bool interactive;
        QString title; // empty: no alert
        QString text;
        bool writesLastCheck;
    };
    const QString readFailure = QString::fromUtf8(TLUpdater::kUnreadableFeed);
    const Row rows[] = {
        {"same version", feedJson({{"version", "1.9"}}), 200, true, "Tilora ist aktuell",
         "Version 1.9 ist die neueste Version.", true},
        {"same version, automatic", feedJson({{"version", "1.9"}}), 200, false, "", "", true},
        {"older feed", feedJson({{"version", "1.5"}}), 200, true, "Tilora ist aktuell",
         "Version 1.9 ist die neueste Version.", true},
        {"valid feed with an error status", feedJson({{"version", "1.9"}}), 500, true, "Tilora ist aktuell",
         "Version 1.9 ist die neueste Version.", true},
        {"version as a number", R"({"version": 2.0})", 200, true, "Update-Suche fehlgeschlagen", readFailure,
         false},
        {"top level array", R"([{"version": "2.0"}])", 200, true, "Update-Suche fehlgeschlagen", readFailure,
         false},
        {"broken JSON", R"({"version": "2.0")", 200, true, "Update-Suche fehlgeschlagen", readFailure, false},
        {"error page", "<html>Not Found</html>", 404, true, "Update-Suche fehlgeschlagen", readFailure,
         false},
        {"error page, automatic", "<html>Not Found</html>", 404, false, "", "", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        presenter_.alerts.clear();
        defaults_->removeObjectForKey(TLUserDefaults::kLastUpdateCheck);
        server_.serve("/appcast.json", row.body, row.status);
        check(row.interactive);
        if (row.title.isEmpty()) {
            EXPECT_TRUE(presenter_.alerts.isEmpty());
        } else {
            ASSERT_EQ(presenter_.alerts.size(), 1);
            EXPECT_EQ(presenter_.alerts[0].title, row.title);
            EXPECT_EQ(presenter_.alerts[0].text, row.text);
            EXPECT_FALSE(presenter_.alerts[0].busyWhileShown);
        }
        EXPECT_EQ(lastCheck().has_value(), row.writesLastCheck);
    }
}

TEST_F(TLUpdaterTest, OfferShowsVersionsAndNotesAndKeepsBusyWhileOpen) {
    struct Row {
        const char* what;
        QString running;
        QVariantMap feed;
        QString notes;
    };
    const QString fallback = QStringLiteral("Siehe Changelog auf der Download-Seite.");
    const Row rows[] = {
        {"1.9 to 1.10 with notes", "1.9", {{"version", "1.10"}, {"notes", "Schneller."}}, "Schneller."},
        {"empty notes", "1.9", {{"version", "2.0"}, {"notes", ""}}, fallback},
        {"notes not a string", "1.9", {{"version", "2.0"}, {"notes", 3}}, fallback},
        {"no short version runs as 0", "0", {{"version", "0.5"}}, fallback},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        presenter_.alerts.clear();
        context_.runningVersion = row.running;
        updater_.reset();
        server_.serve("/appcast.json", feedJson(row.feed));
        check(false); // an automatic check offers too
        ASSERT_EQ(presenter_.alerts.size(), 1);
        const auto& offer = presenter_.alerts[0];
        EXPECT_EQ(offer.title, QStringLiteral("Tilora %1 ist verfügbar").arg(row.feed["version"].toString()));
        EXPECT_EQ(offer.text, QStringLiteral("Installiert ist %1.\n\n%2\n\nDas Update wird geladen, geprüft, "
                                             "eingesetzt und Tilora startet neu.")
                                  .arg(row.running, row.notes));
        EXPECT_EQ(offer.buttons, QStringList({"Jetzt aktualisieren", "Später"}));
        EXPECT_TRUE(offer.busyWhileShown);
        EXPECT_GE(presenter_.activations, 1);
    }
}

TEST_F(TLUpdaterTest, BusyRefusesSecondCheck) {
    // A check started while the offer is open is refused: with an alert when interactive.
    server_.serve("/appcast.json", feedJson({{"version", "2.0"}}));
    int nested = 0;
    presenter_.whileShown = [this, &nested](const TLRecordingPresenter::Alert& a) {
        if (a.buttons.size() == 2 && nested++ == 0) {
            updater().checkForUpdatesInteractive(false);
            updater().checkForUpdatesInteractive(true);
        }
    };
    check(true);
    ASSERT_EQ(presenter_.alerts.size(), 2);
    EXPECT_EQ(presenter_.alerts[1].title, QStringLiteral("Update läuft bereits"));
    EXPECT_EQ(presenter_.alerts[1].text,
              QStringLiteral("Eine Update-Suche oder Installation ist gerade im Gang."));
    EXPECT_EQ(server_.requestCount("/appcast.json"), 1);
}

TEST_F(TLUpdaterTest, TransportFailuresReportTheirDescription) {
    // Nothing listens on the port of a server that has gone.
    int port = 0;
    {
        TLTestHttpServer gone;
        port = gone.port();
    }
    ASSERT_TRUE(updater().setFeedUrl(QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.json").arg(port))));
    check(true);
    ASSERT_EQ(presenter_.alerts.size(), 1);
    EXPECT_EQ(presenter_.alerts[0].title, QStringLiteral("Update-Suche fehlgeschlagen"));
    EXPECT_FALSE(presenter_.alerts[0].text.isEmpty());
    EXPECT_NE(presenter_.alerts[0].text, QString::fromUtf8(TLUpdater::kUnreadableFeed));
    EXPECT_FALSE(lastCheck().has_value());
}

TEST_F(TLUpdaterTest, StalledOrEndlessFeedEndsTheCheck) {
    context_.feedInactivityMs = 1500;
    context_.feedDeadlineMs = 4000;
    context_.feedMaxBytes = 4096;
    struct Row {
        const char* what;
        TLTestHttpServer::Mode mode;
        QByteArray body;
        QString text;
    };
    const QString timedOut = QString::fromUtf8(TLUpdater::kTimedOut);
    const Row rows[] = {
        {"no answer", TLTestHttpServer::Mode::NoAnswer, QByteArray(100, ' '), timedOut},
        {"headers, then silence", TLTestHttpServer::Mode::HeadersThenStall, QByteArray(100, ' '), timedOut},
        {"one byte at a time", TLTestHttpServer::Mode::Trickle, QByteArray(1000, ' '), timedOut},
        {"far too large", TLTestHttpServer::Mode::Normal, QByteArray(1 << 20, ' '),
         QString::fromUtf8(TLUpdater::kUnreadableFeed)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        presenter_.alerts.clear();
        TLTestHttpServer::Response response;
        response.mode = row.mode;
        response.body = row.body;
        response.trickleIntervalMs = 100;
        server_.setResponse("/appcast.json", response);
        check(true);
        ASSERT_EQ(presenter_.alerts.size(), 1);
        EXPECT_EQ(presenter_.alerts[0].text, row.text);
    }
}

TEST_F(TLUpdaterTest, FeedAddressMustBeHttpsOutsideLoopback) {
    EXPECT_TRUE(TLUpdater::isAllowedFeedUrl(QUrl("https://tilora.example.org/appcast.json")));
    EXPECT_TRUE(TLUpdater::isAllowedFeedUrl(QUrl("http://127.0.0.1:8080/appcast.json")));
    EXPECT_TRUE(TLUpdater::isAllowedFeedUrl(QUrl("http://localhost/appcast.json")));
    EXPECT_TRUE(TLUpdater::isAllowedFeedUrl(QUrl("http://[::1]/appcast.json")));
    EXPECT_FALSE(TLUpdater::isAllowedFeedUrl(QUrl("http://tilora.example.org/appcast.json")));
    EXPECT_FALSE(TLUpdater::isAllowedFeedUrl(QUrl("http://10.0.0.1/appcast.json")));
    EXPECT_FALSE(TLUpdater::isAllowedFeedUrl(QUrl("ftp://127.0.0.1/appcast.json")));
    EXPECT_FALSE(updater().setFeedUrl(QUrl("http://tilora.example.org/appcast.json")));
    EXPECT_EQ(updater().context().feedUrl, server_.url("/appcast.json"));
}

TEST_F(TLUpdaterTest, FeedFollowsRedirectsOnTheSameFooting) {
    server_.redirect("/appcast.json", server_.url("/v2/appcast.json").toString().toUtf8());
    server_.serve("/v2/appcast.json", feedJson({{"version", "1.9"}}));
    check(true);
    ASSERT_EQ(presenter_.alerts.size(), 1);
    EXPECT_EQ(presenter_.alerts[0].title, QStringLiteral("Tilora ist aktuell"));
}
