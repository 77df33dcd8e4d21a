#include "TLWindowMover.h"
#include "TLFakeDesktop.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QObject>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

using Calls = std::vector<std::string>;

const TLLayout& layout(const char* identifier) {
    const TLLayout* l = TLLayout::layoutWithIdentifier(identifier);
    EXPECT_NE(l, nullptr) << identifier;
    return *l;
}

class TLWindowMoverTest : public ::testing::Test {
protected:
    void SetUp() override {
        // One 1440 x 900 display with a 25-point bar at the top.
        desktop.displayList = {TLFakeDesktop::display(0, 0, 1440, 900, 25)};
        TLWindowMover::setPlatform(&desktop, &desktop);
    }
    void TearDown() override {
        TLWindowMover::setPlatform(nullptr, nullptr);
        EXPECT_EQ(desktop.liveElements, 0) << "every element is released";
    }

    // Runs applyLayout with and without an out-parameter; both must agree and fail alike.
    // desktop.calls holds the calls of the second run afterwards.
    QString failure(const char* identifier) {
        QString message = "untouched";
        EXPECT_FALSE(TLWindowMover::applyLayout(layout(identifier), &message));
        const Calls withMessage = desktop.calls;
        desktop.calls.clear();
        EXPECT_FALSE(TLWindowMover::applyLayout(layout(identifier)));
        EXPECT_EQ(desktop.calls, withMessage);
        EXPECT_TRUE(desktop.writes.empty());
        return message;
    }

    TLFakeDesktop desktop;
};

TEST_F(TLWindowMoverTest, UntrustedRequestsThePromptEveryTimeAndLooksNothingUp) {
    desktop.trusted = false;
    QString message;
    EXPECT_FALSE(TLWindowMover::applyLayout(layout("half.left"), &message));
    EXPECT_FALSE(TLWindowMover::applyLayout(layout("half.left"), &message));
    EXPECT_EQ(message,
              QString::fromUtf8("Tilora braucht die Freigabe unter Systemeinstellungen → Datenschutz & "
                                "Sicherheit → Bedienungshilfen."));
    EXPECT_EQ(desktop.promptRequests, 2);
    EXPECT_EQ(desktop.calls,
              (Calls{"isProcessTrusted", "requestTrustPrompt", "isProcessTrusted", "requestTrustPrompt"}));
}

TEST_F(TLWindowMoverTest, WithoutPlatformNothingIsTrusted) {
    TLWindowMover::setPlatform(nullptr, nullptr);
    EXPECT_FALSE(TLWindowMover::isTrusted());
    TLWindowMover::requestTrust();
    QString message;
    EXPECT_FALSE(TLWindowMover::applyLayout(layout("half.left"), &message));
    EXPECT_TRUE(message.startsWith("Tilora braucht die Freigabe"));
    EXPECT_TRUE(desktop.calls.empty());
}

TEST_F(TLWindowMoverTest, TrustIsAskedAnewOnEveryCall) {
    EXPECT_TRUE(TLWindowMover::isTrusted());
    desktop.trusted = false;
    EXPECT_FALSE(TLWindowMover::isTrusted());
    TLWindowMover::requestTrust();
    EXPECT_EQ(desktop.promptRequests, 1);
}

TEST_F(TLWindowMoverTest, NoFrontmostApplication) {
    desktop.application.reset();
    EXPECT_EQ(failure("half.left"), "Keine aktive Anwendung gefunden.");
    EXPECT_EQ(desktop.calls, (Calls{"isProcessTrusted", "frontmostApplication"}));
}

TEST_F(TLWindowMoverTest, FailedFocusedQueryFallsBackToTheMainWindow) {
    desktop.focused = {-25212, false};
    desktop.main = {0, true};
    ASSERT_TRUE(TLWindowMover::applyLayout(layout("half.left")));
    EXPECT_EQ(desktop.calls,
              (Calls{"isProcessTrusted", "frontmostApplication", "createApplicationElement",
                     "copyWindow:AXFocusedWindow", "copyWindow:AXMainWindow", "copyPosition:main",
                     "copySize:main", "displays", "setPosition:main", "setSize:main", "setPosition:main"}));
}

TEST_F(TLWindowMoverTest, FocusedWindowIsUsedWithoutAskingForTheMainWindow) {
    ASSERT_TRUE(TLWindowMover::applyLayout(layout("half.left")));
    EXPECT_EQ(std::count(desktop.calls.begin(), desktop.calls.end(), "copyWindow:AXMainWindow"), 0);
    EXPECT_EQ(desktop.calls.back(), "setPosition:focused");
}

TEST_F(TLWindowMoverTest, NoMovableWindowReportsTheLastQuery) {
    struct Row {
        TLFakeDesktop::WindowAnswer focused, main;
        std::optional<QString> name;
        const char* expected;
    };
    const Row rows[] = {
        {{0, false}, {0, false}, QString("Editor"), "Editor hat kein bewegbares Fenster (AXError 0)."},
        {{0, false}, {0, false}, std::nullopt, "Die App hat kein bewegbares Fenster (AXError 0)."},
        // The focused query's own error code is never reported.
        {{-25205, false}, {0, false}, QString("Editor"), "Editor hat kein bewegbares Fenster (AXError 0)."},
        {{-25205, false},
         {-25204, false},
         QString("Editor"),
         "Editor hat kein bewegbares Fenster (AXError -25204)."},
        {{0, false}, {3, false}, QString::fromUtf8("Büro"), "Büro hat kein bewegbares Fenster (AXError 3)."},
        // An error that still hands back a window is an error.
        {{0, false}, {9, true}, QString("Editor"), "Editor hat kein bewegbares Fenster (AXError 9)."},
    };
    for (const Row& row : rows) {
        desktop.calls.clear();
        desktop.focused = row.focused;
        desktop.main = row.main;
        desktop.application->localizedName = row.name;
        EXPECT_EQ(failure("half.left"), QString::fromUtf8(row.expected));
        EXPECT_EQ(std::count(desktop.calls.begin(), desktop.calls.end(), "copyPosition:main"), 0);
    }
}

TEST_F(TLWindowMoverTest, UnreadableFrameStopsBeforeThePlacement) {
    struct Row {
        std::int32_t positionError, sizeError;
        bool positionValue, sizeValue;
        bool sizeAsked;
    };
    const Row rows[] = {
        {-25204, 0, true, true, false}, // size is read only after the position
        {0, -25204, true, true, true},
        {0, 0, false, true, true}, // a value of the wrong kind
        {0, 0, true, false, true},
    };
    for (const Row& row : rows) {
        desktop.calls.clear();
        desktop.positionError = row.positionError;
        desktop.sizeError = row.sizeError;
        desktop.position = row.positionValue ? std::optional<TLPoint>(TLPoint{10, 10}) : std::nullopt;
        desktop.size = row.sizeValue ? std::optional<TLSize>(TLSize{300, 200}) : std::nullopt;
        EXPECT_EQ(failure("third.left"), "Fensterposition konnte nicht gelesen werden.");
        EXPECT_EQ(std::count(desktop.calls.begin(), desktop.calls.end(), "copySize:focused"),
                  row.sizeAsked ? 1 : 0);
        EXPECT_EQ(std::count(desktop.calls.begin(), desktop.calls.end(), "displays"), 0);
    }
}

TEST_F(TLWindowMoverTest, DisplayMoveOnASingleDisplayFailsAfterReadingAndWritesNothing) {
    for (const char* identifier : {"screen.next", "screen.prev"}) {
        desktop.calls.clear();
        EXPECT_EQ(failure(identifier), "Nur ein Bildschirm angeschlossen.");
        EXPECT_EQ(std::count(desktop.calls.begin(), desktop.calls.end(), "copySize:focused"), 1);
        EXPECT_EQ(std::count(desktop.calls.begin(), desktop.calls.end(), "displays"), 1);
    }
}

TEST_F(TLWindowMoverTest, SuccessWritesPositionSizePositionWithTheComputedFrame) {
    // Visible frame: 1440 x 875 below a 25-point bar; the right half starts at x 720, y 25.
    QString message = "untouched";
    ASSERT_TRUE(TLWindowMover::applyLayout(layout("half.right"), &message));
    EXPECT_EQ(message, "untouched");
    ASSERT_EQ(desktop.writes.size(), 3u);
    EXPECT_EQ(desktop.writes[0].kind, TLFakeDesktop::Write::Position);
    EXPECT_EQ(desktop.writes[1].kind, TLFakeDesktop::Write::Size);
    EXPECT_EQ(desktop.writes[2].kind, TLFakeDesktop::Write::Position);
    EXPECT_EQ(desktop.writes[0].a, 720);
    EXPECT_EQ(desktop.writes[0].b, 25);
    EXPECT_EQ(desktop.writes[1].a, 720);
    EXPECT_EQ(desktop.writes[1].b, 875);
    EXPECT_EQ(desktop.writes[2].a, desktop.writes[0].a);
    EXPECT_EQ(desktop.writes[2].b, desktop.writes[0].b);
}

TEST_F(TLWindowMoverTest, DisplayMoveGoesToTheNeighbour) {
    // A second display to the right, 1920 x 1080, no bar; the window moves there whole.
    desktop.displayList.push_back(TLFakeDesktop::display(1440, 0, 1920, 1080));
    ASSERT_TRUE(TLWindowMover::applyLayout(layout("screen.next")));
    ASSERT_EQ(desktop.writes.size(), 3u);
    EXPECT_GE(desktop.writes[0].a, 1440);
    EXPECT_LE(desktop.writes[0].a + desktop.writes[1].a, 1440 + 1920);
}

class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

TEST(TLWindowMoverSettings, OpensTheHelpPage) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("https", &recorder, "open");
    TLWindowMover::openAccessibilitySettings();
    QDesktopServices::unsetUrlHandler("https");
    ASSERT_EQ(recorder.opened.size(), 1);
    EXPECT_TRUE(recorder.opened[0].isValid());
    EXPECT_FALSE(recorder.opened[0].host().isEmpty());
}

} // namespace

#include "TLWindowMoverTest.moc"
