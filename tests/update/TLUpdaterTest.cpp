#include "TLTest.h"
#include "TLUpdateErrors.h"
#include "TLUpdateTestSupport.h"

namespace {

const QDateTime kNow = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
const QString kUpToDate = QString(TLUpdater::kUpToDateText).arg("1.9");

QByteArray feed(const QVariantMap& fields) {
    return QJsonDocument::fromVariant(fields).toJson();
}

class TLUpdaterTest : public TLUpdaterFixture {
protected:
    TLUpdaterTest() {
        context_.runningVersion = "1.9";
        context_.now = [] { return kNow; };
    }
    std::optional<QVariant> lastCheck() const {
        return defaults_.objectForKey(TLUserDefaults::kLastUpdateCheck);
    }
    int feedRequests() const { return server_.requestCount("/appcast.json"); }
    // Runs one check against the server and waits until it has been evaluated.
    void check(bool interactive) {
        presenter_.alerts.clear();
        updater().checkForUpdatesInteractive(interactive);
        ASSERT_TRUE(tlWaitFor([this] { return !updater().busy(); }));
    }
};

TEST_F(TLUpdaterTest, FirstDelayFollowsTheLastValidReadAndTheSwitch) {
    const std::pair<std::optional<QVariant>, int> rows[] = {
        {std::nullopt, 20000},
        {kNow.addSecs(-23 * 3600), 3600000},
        {kNow.addSecs(-86400 + 10), 20000},
        {kNow.addSecs(-86400), 20000},
        {kNow.addSecs(3600), 90000000},                       // an hour in the future
        {QString("2026-03-01"), 20000},                       // a string, not a date
        {kNow.addYears(1), std::numeric_limits<int>::max()}}; // capped
    for (const auto& [stored, delay] : rows) {
        defaults_.removeObjectForKey(TLUserDefaults::kLastUpdateCheck);
        if (stored) {
            defaults_.setObject(*stored, TLUserDefaults::kLastUpdateCheck);
        }
        updater().scheduleAutomaticChecks();
        ASSERT_NE(updater().timer(), nullptr);
        EXPECT_TRUE(updater().timer()->isSingleShot());
        EXPECT_EQ(updater().timer()->interval(), delay) << stored.value_or("absent").toString().toStdString();
    }
    EXPECT_TRUE(updater().isAutomaticCheckingEnabled()) << "absent key: on";
    updater().setAutomaticCheckingEnabled(false);
    EXPECT_EQ(updater().timer(), nullptr);
    EXPECT_EQ(defaults_.objectForKey(TLUserDefaults::kAutoUpdateEnabled), QVariant(false));
    updater().scheduleAutomaticChecks();
    EXPECT_EQ(updater().timer(), nullptr);
    defaults_.setObject(kNow.addSecs(-23 * 3600), TLUserDefaults::kLastUpdateCheck);
    updater().setAutomaticCheckingEnabled(true); // replans without checking at once
    EXPECT_EQ(updater().timer()->interval(), 3600000);
    QCoreApplication::processEvents();
    EXPECT_EQ(feedRequests(), 0);
}

TEST_F(TLUpdaterTest, FiringChecksSilentlyThenRepeatsDaily) {
    server_.serve("/appcast.json", feed({{"version", "1.9"}}));
    updater().scheduleAutomaticChecks();
    for (int firing = 1; firing <= 2; ++firing) {
        QMetaObject::invokeMethod(updater().timer(), "timeout"); // as the event loop would
        EXPECT_TRUE(updater().busy());
        EXPECT_FALSE(updater().timer()->isSingleShot());
        EXPECT_EQ(updater().timer()->interval(), 86400000);
        ASSERT_TRUE(tlWaitFor([this] { return !updater().busy(); }));
        EXPECT_EQ(feedRequests(), firing);
    }
    EXPECT_TRUE(presenter_.alerts.isEmpty());
    EXPECT_EQ(lastCheck(), QVariant(kNow));
}

TEST_F(TLUpdaterTest, OutcomesOfOneCheck) {
    const QString failed = TLUpdater::kCheckFailedTitle, unreadable = TLUpdater::kUnreadableFeed;
    const QString timedOut = TLUpdateErrors::kTimedOut, lost = TLUpdateErrors::kConnectionLost;
    using Mode = TLTestHttpServer::Mode;
    context_.feedInactivityMs = 1500;
    context_.feedDeadlineMs = 4000;
    context_.feedMaxBytes = 4096;
    const struct {
        QByteArray body;
        int status;
        Mode mode;
        bool interactive;
        QString title, text; // no title: no alert
        bool writesLastCheck;
    } rows[] = {
        {feed({{"version", "1.9"}}), 200, Mode::Normal, true, TLUpdater::kUpToDateTitle, kUpToDate, true},
        {feed({{"version", "1.9"}}), 200, Mode::Normal, false, "", "", true},
        {feed({{"version", "1.5"}}), 200, Mode::Normal, true, TLUpdater::kUpToDateTitle, kUpToDate, true},
        {feed({{"version", "1.9"}}), 500, Mode::Normal, true, TLUpdater::kUpToDateTitle, kUpToDate, true},
        {R"({"version": 2.0})", 200, Mode::Normal, true, failed, unreadable, false},
        {R"([{"version": "2.0"}])", 200, Mode::Normal, true, failed, unreadable, false},
        {R"({"version": "2.0")", 200, Mode::Normal, true, failed, unreadable, false},
        {"<html>Not Found</html>", 404, Mode::Normal, false, "", "", false},
        {QByteArray(100, ' '), 200, Mode::HangUp, true, failed, lost, false},
        {QByteArray(100, ' '), 200, Mode::NoAnswer, true, failed, timedOut, false},
        {QByteArray(100, ' '), 200, Mode::HeadersThenStall, true, failed, timedOut, false},
        {QByteArray(100, ' '), 200, Mode::Trickle, true, failed, timedOut, false}, // past the deadline
        {QByteArray(100, ' '), 200, Mode::Truncated, true, failed, lost, false},
        {QByteArray(1 << 20, ' '), 200, Mode::Normal, true, failed, unreadable,
         false}, // too large for a feed
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.body.left(30).toStdString() + " " + std::to_string(int(row.mode)));
        defaults_.removeObjectForKey(TLUserDefaults::kLastUpdateCheck);
        row.mode == Mode::Normal ? server_.serve("/appcast.json", row.body, row.status)
                                 : server_.serve("/appcast.json", row.body, row.mode);
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

TEST_F(TLUpdaterTest, OfferShowsVersionsAndNotesKeepsBusyAndRefusesASecondCheck) {
    const QString fallback = "Siehe Changelog auf der Download-Seite.";
    const std::tuple<QString, QVariantMap, QString> rows[] = {
        {"1.9", {{"version", "1.10"}, {"notes", "Schneller."}}, "Schneller."},
        {"1.9", {{"version", "2.0"}, {"notes", ""}}, fallback},
        {"0", {{"version", "0.5"}, {"notes", QVariantList{"a"}}}, fallback}, // no short version in the bundle
    };
    for (const auto& [running, fields, notes] : rows) {
        context_.runningVersion = running;
        updater_.reset();
        server_.serve("/appcast.json", feed(fields));
        check(false); // an automatic check offers too
        expectAlert(QString(TLUpdater::kOfferTitle).arg(fields["version"].toString()),
                    QString(TLUpdater::kOfferText).arg(running, notes));
        EXPECT_EQ(presenter_.alerts[0].buttons, QStringList({"Jetzt aktualisieren", "Später"}));
        EXPECT_TRUE(presenter_.alerts[0].busyWhileShown);
        EXPECT_GE(presenter_.activations, 1);
    }
    // A check started while the offer is open is refused, with an alert when interactive.
    presenter_.whileShown = [this](const TLRecordingPresenter::Alert& a) {
        if (a.buttons.size() == 2) {
            updater().checkForUpdatesInteractive(false);
            updater().checkForUpdatesInteractive(true);
        }
    };
    check(true);
    ASSERT_EQ(presenter_.alerts.size(), 2);
    EXPECT_EQ(presenter_.alerts[1].title, "Update läuft bereits");
    EXPECT_EQ(presenter_.alerts[1].text, "Eine Update-Suche oder Installation ist gerade im Gang.");
    EXPECT_EQ(feedRequests(), 4);
}

TEST_F(TLUpdaterTest, FeedAddressesAreHttpsOrLoopbackAlsoAfterRedirects) {
    const std::pair<const char*, bool> rows[] = {
        {"https://tilora.example.org/appcast.json", true}, {"http://127.0.0.1:8080/appcast.json", true},
        {"http://localhost/appcast.json", true},           {"http://[::1]/appcast.json", true},
        {"http://tilora.example.org/appcast.json", false}, {"http://10.0.0.1/appcast.json", false},
        {"http://127.example.org/appcast.json", false},    {"ftp://127.0.0.1/appcast.json", false}};
    for (const auto& [url, allowed] : rows) {
        EXPECT_EQ(updater().setFeedUrl(QUrl(url)), allowed) << url;
    }
    EXPECT_EQ(updater().context().feedUrl, QUrl("http://[::1]/appcast.json")); // the last one allowed
    updater().setFeedUrl(server_.url("/appcast.json"));
    server_.redirect("/appcast.json", server_.url("/v2/appcast.json").toString().toUtf8());
    server_.serve("/v2/appcast.json", feed({{"version", "1.9"}}));
    check(true);
    expectAlert(TLUpdater::kUpToDateTitle, kUpToDate);
}

} // namespace
