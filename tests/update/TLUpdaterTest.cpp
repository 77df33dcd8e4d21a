#include "TLQtTestApplication.h"
#include "TLUpdateErrors.h"
#include "TLUpdateTestSupport.h"
#include "TLUpdaterFixture.h"

#include <QJsonDocument>

#include <limits>

using namespace TLUpdateTestSupport;

namespace {

const QDateTime kNow = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
const QString kCheckFailed = QStringLiteral("Update-Suche fehlgeschlagen");
const QString kUnreadable = QStringLiteral("Die Update-Information konnte nicht gelesen werden.");
const QString kUpToDate = QStringLiteral("Tilora ist aktuell");

QByteArray feedJson(const QVariantMap& fields) {
    return QJsonDocument::fromVariant(fields).toJson();
}

class TLUpdaterTest : public TLUpdaterFixture {
protected:
    TLUpdaterTest() {
        context_.runningVersion = QStringLiteral("1.9");
        context_.now = [] { return kNow; };
    }

    std::optional<QVariant> lastCheck() const {
        return defaults_.objectForKey(TLUserDefaults::kLastUpdateCheck);
    }
    int feedRequests() const { return server_.requestCount(QStringLiteral("/appcast.json")); }

    // Runs one check against the server and waits until it has been evaluated.
    void check(bool interactive) {
        presenter_.alerts.clear();
        updater().checkForUpdatesInteractive(interactive);
        ASSERT_TRUE(waitUntil([this] { return !updater().busy(); }));
    }
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
        {"a year in the future: capped", QVariant(kNow.addYears(1)), std::numeric_limits<int>::max()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        defaults_.removeObjectForKey(TLUserDefaults::kLastUpdateCheck);
        if (row.stored) {
            defaults_.setObject(*row.stored, TLUserDefaults::kLastUpdateCheck);
        }
        updater().scheduleAutomaticChecks();
        ASSERT_NE(updater().timer(), nullptr);
        EXPECT_TRUE(updater().timer()->isSingleShot());
        EXPECT_EQ(updater().timer()->interval(), row.expectedMs);
    }
    EXPECT_EQ(feedRequests(), 0);
}

TEST_F(TLUpdaterTest, SwitchCancelsAndReplansWithoutCheckingAtOnce) {
    EXPECT_TRUE(updater().isAutomaticCheckingEnabled()); // absent key: on
    defaults_.setObject(kNow.addSecs(-23 * 3600), TLUserDefaults::kLastUpdateCheck);
    updater().scheduleAutomaticChecks();
    ASSERT_NE(updater().timer(), nullptr);

    updater().setAutomaticCheckingEnabled(false);
    EXPECT_EQ(updater().timer(), nullptr);
    EXPECT_EQ(defaults_.objectForKey(TLUserDefaults::kAutoUpdateEnabled), QVariant(false));
    updater().scheduleAutomaticChecks();
    EXPECT_EQ(updater().timer(), nullptr);

    updater().setAutomaticCheckingEnabled(true);
    ASSERT_NE(updater().timer(), nullptr);
    EXPECT_EQ(updater().timer()->interval(), 3600000);
    QCoreApplication::processEvents();
    EXPECT_FALSE(updater().busy());
    EXPECT_EQ(feedRequests(), 0);
}

TEST_F(TLUpdaterTest, FiringChecksSilentlyThenRepeatsDaily) {
    server_.serve("/appcast.json", feedJson({{"version", "1.9"}}));
    updater().scheduleAutomaticChecks();
    for (int firing = 1; firing <= 2; ++firing) {
        SCOPED_TRACE(firing);
        ASSERT_NE(updater().timer(), nullptr);
        QMetaObject::invokeMethod(updater().timer(), "timeout"); // as the event loop would
        EXPECT_TRUE(updater().busy());
        ASSERT_NE(updater().timer(), nullptr);
        EXPECT_FALSE(updater().timer()->isSingleShot());
        EXPECT_EQ(updater().timer()->interval(), 86400000);
        ASSERT_TRUE(waitUntil([this] { return !updater().busy(); }));
        EXPECT_EQ(feedRequests(), firing);
    }
    EXPECT_TRUE(presenter_.alerts.isEmpty()); // up to date, automatic: silent
    EXPECT_EQ(lastCheck(), QVariant(kNow));
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
    const QString current = QStringLiteral("Version 1.9 ist die neueste Version.");
    const Row rows[] = {
        {"same version", feedJson({{"version", "1.9"}}), 200, true, kUpToDate, current, true},
        {"same version, automatic", feedJson({{"version", "1.9"}}), 200, false, "", "", true},
        {"older feed", feedJson({{"version", "1.5"}}), 200, true, kUpToDate, current, true},
        {"valid feed with an error status", feedJson({{"version", "1.9"}}), 500, true, kUpToDate, current,
         true},
        {"version as a number", R"({"version": 2.0})", 200, true, kCheckFailed, kUnreadable, false},
        {"error page, automatic", "<html>Not Found</html>", 404, false, "", "", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        defaults_.removeObjectForKey(TLUserDefaults::kLastUpdateCheck);
        server_.serve("/appcast.json", row.body, row.status);
        check(row.interactive);
        if (row.title.isEmpty()) {
            EXPECT_TRUE(presenter_.alerts.isEmpty());
        } else {
            expectAlert(row.title, row.text);
            EXPECT_FALSE(presenter_.alerts[0].busyWhileShown);
        }
        EXPECT_EQ(lastCheck().has_value(), row.writesLastCheck);
    }
}

TEST_F(TLUpdaterTest, OfferShowsVersionsAndNotesAndKeepsBusyWhileOpen) {
    struct Row {
        QString running;
        QVariantMap feed;
        QString notes;
    };
    const QString fallback = QStringLiteral("Siehe Changelog auf der Download-Seite.");
    const Row rows[] = {
        {"1.9", {{"version", "1.10"}, {"notes", "Schneller."}}, "Schneller."},
        {"1.9", {{"version", "2.0"}, {"notes", ""}}, fallback},
        {"0", {{"version", "0.5"}, {"notes", QVariantList{"a"}}}, fallback}, // no short version in the bundle
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.feed["version"].toString().toStdString());
        context_.runningVersion = row.running;
        updater_.reset();
        server_.serve("/appcast.json", feedJson(row.feed));
        check(false); // an automatic check offers too
        expectAlert(QStringLiteral("Tilora %1 ist verfügbar").arg(row.feed["version"].toString()),
                    QStringLiteral("Installiert ist %1.\n\n%2\n\nDas Update wird geladen, geprüft, "
                                   "eingesetzt und Tilora startet neu.")
                        .arg(row.running, row.notes));
        EXPECT_EQ(presenter_.alerts[0].buttons, QStringList({"Jetzt aktualisieren", "Später"}));
        EXPECT_TRUE(presenter_.alerts[0].busyWhileShown);
        EXPECT_GE(presenter_.activations, 1);
    }
}

TEST_F(TLUpdaterTest, BusyRefusesSecondCheck) {
    // A check started while the offer is open is refused: with an alert when interactive.
    server_.serve("/appcast.json", feedJson({{"version", "2.0"}}));
    presenter_.whileShown = [this](const TLRecordingPresenter::Alert& a) {
        if (a.buttons.size() == 2) {
            updater().checkForUpdatesInteractive(false);
            updater().checkForUpdatesInteractive(true);
        }
    };
    check(true);
    ASSERT_EQ(presenter_.alerts.size(), 2);
    EXPECT_EQ(presenter_.alerts[1].title, QStringLiteral("Update läuft bereits"));
    EXPECT_EQ(presenter_.alerts[1].text,
              QStringLiteral("Eine Update-Suche oder Installation ist gerade im Gang."));
    EXPECT_EQ(feedRequests(), 1);
}

TEST_F(TLUpdaterTest, FailedTransfersEndTheCheck) {
    context_.feedInactivityMs = 1500;
    context_.feedDeadlineMs = 4000;
    context_.feedMaxBytes = 4096;
    const QString timedOut = QString::fromUtf8(TLUpdateErrors::kTimedOut);
    const QString lost = QString::fromUtf8(TLUpdateErrors::kConnectionLost);
    const struct {
        TLTestHttpServer::Mode mode;
        int bodyBytes;
        QString text;
    } rows[] = {
        {TLTestHttpServer::Mode::HangUp, 100, lost},
        {TLTestHttpServer::Mode::NoAnswer, 100, timedOut},
        {TLTestHttpServer::Mode::HeadersThenStall, 100, timedOut},
        {TLTestHttpServer::Mode::Trickle, 100, timedOut}, // one byte per 100 ms: past the deadline
        {TLTestHttpServer::Mode::Truncated, 100, lost},
        {TLTestHttpServer::Mode::Normal, 1 << 20, kUnreadable}, // far too large for a feed
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.mode));
        server_.serve("/appcast.json", QByteArray(row.bodyBytes, ' '), row.mode);
        check(true);
        expectAlert(kCheckFailed, row.text);
        EXPECT_FALSE(lastCheck().has_value());
    }
}

TEST_F(TLUpdaterTest, FeedAddressMustBeHttpsOutsideLoopback) {
    const QPair<const char*, bool> rows[] = {
        {"https://tilora.example.org/appcast.json", true}, {"http://127.0.0.1:8080/appcast.json", true},
        {"http://localhost/appcast.json", true},           {"http://[::1]/appcast.json", true},
        {"http://tilora.example.org/appcast.json", false}, {"http://10.0.0.1/appcast.json", false},
        {"ftp://127.0.0.1/appcast.json", false},
    };
    for (const auto& [url, allowed] : rows) {
        EXPECT_EQ(updater().setFeedUrl(QUrl(url)), allowed) << url;
    }
    EXPECT_EQ(updater().context().feedUrl, QUrl("http://[::1]/appcast.json")); // the last one allowed
}

TEST_F(TLUpdaterTest, FeedFollowsRedirectsOnTheSameFooting) {
    server_.redirect("/appcast.json", server_.url("/v2/appcast.json").toString().toUtf8());
    server_.serve("/v2/appcast.json", feedJson({{"version", "1.9"}}));
    check(true);
    expectAlert(kUpToDate, QStringLiteral("Version 1.9 ist die neueste Version."));
}
