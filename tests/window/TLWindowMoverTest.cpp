#include "TLWindowMover.h"
#include "TLFakeDesktop.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

using Calls = std::vector<std::string>;

const TLLayout& layout(const char* identifier) {
    const TLLayout* l = TLLayout::layoutWithIdentifier(identifier);
    EXPECT_NE(l, nullptr) << identifier;
    return *l;
}

const QString kTrustMessage = QString::fromUtf8(
    "Tilora braucht die Freigabe unter Systemeinstellungen → Datenschutz & Sicherheit → Bedienungshilfen.");

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

    // Runs applyLayout with and without an out-parameter; both must fail alike and write
    // nothing. desktop.calls holds the calls of the second run afterwards.
    QString failure(const char* identifier) {
        desktop.calls.clear();
        QString message = "untouched";
        EXPECT_FALSE(TLWindowMover::applyLayout(layout(identifier), &message));
        const Calls withMessage = desktop.calls;
        desktop.calls.clear();
        EXPECT_FALSE(TLWindowMover::applyLayout(layout(identifier)));
        EXPECT_EQ(desktop.calls, withMessage);
        EXPECT_EQ(desktop.count("set"), 0u);
        return message;
    }

    TLFakeDesktop desktop;
};

TEST_F(TLWindowMoverTest, UntrustedRequestsThePromptEveryTimeAndLooksNothingUp) {
    EXPECT_TRUE(TLWindowMover::isTrusted());
    desktop.trusted = false; // asked anew on every call
    EXPECT_EQ(failure("half.left"), kTrustMessage);
    EXPECT_EQ(desktop.promptRequests, 2);
    EXPECT_EQ(desktop.calls, (Calls{"isProcessTrusted", "requestTrustPrompt"}));

    TLWindowMover::setPlatform(nullptr, nullptr); // no backend: nothing is trusted
    EXPECT_EQ(failure("half.left"), kTrustMessage);
    EXPECT_TRUE(desktop.calls.empty());
}

TEST_F(TLWindowMoverTest, NoFrontmostApplication) {
    desktop.application.reset();
    EXPECT_EQ(failure("half.left"), "Keine aktive Anwendung gefunden.");
    EXPECT_EQ(desktop.calls, (Calls{"isProcessTrusted", "frontmostApplication"}));
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
         QString("Büro"),
         "Büro hat kein bewegbares Fenster (AXError -25204)."},
        // An error that still hands back a window is an error.
        {{0, false}, {9, true}, QString("Editor"), "Editor hat kein bewegbares Fenster (AXError 9)."},
    };
    for (const Row& row : rows) {
        desktop.focused = row.focused;
        desktop.main = row.main;
        desktop.application->localizedName = row.name;
        EXPECT_EQ(failure("half.left"), QString::fromUtf8(row.expected));
        EXPECT_EQ(desktop.count("copyPosition"), 0u);
    }
}

TEST_F(TLWindowMoverTest, UnreadableFrameStopsBeforeThePlacement) {
    struct Row {
        std::int32_t positionError, sizeError;
        bool positionValue, sizeValue;
        std::size_t sizeReads;
    };
    const Row rows[] = {
        {-25204, 0, true, true, 0}, // size is read only after the position
        {0, -25204, true, true, 1},
        {0, 0, false, true, 1}, // a value of the wrong kind
        {0, 0, true, false, 1},
    };
    for (const Row& row : rows) {
        desktop.positionError = row.positionError;
        desktop.sizeError = row.sizeError;
        desktop.position = row.positionValue ? std::optional<TLPoint>(TLPoint{10, 10}) : std::nullopt;
        desktop.size = row.sizeValue ? std::optional<TLSize>(TLSize{300, 200}) : std::nullopt;
        EXPECT_EQ(failure("third.left"), "Fensterposition konnte nicht gelesen werden.");
        EXPECT_EQ(desktop.count("copySize:focused"), row.sizeReads);
        EXPECT_EQ(desktop.count("displays"), 0u);
    }
}

TEST_F(TLWindowMoverTest, DisplayMoveOnASingleDisplayFailsAfterReadingAndWritesNothing) {
    for (const char* identifier : {"screen.next", "screen.prev"}) {
        EXPECT_EQ(failure(identifier), "Nur ein Bildschirm angeschlossen.");
        EXPECT_EQ(desktop.count("copySize:focused"), 1u);
        EXPECT_EQ(desktop.count("displays"), 1u);
    }
}

// Success: exactly three writes, position, size, position, both positions the same point.
TEST_F(TLWindowMoverTest, SuccessWritesPositionSizePositionWithTheComputedFrame) {
    auto expectMoved = [this](const char* identifier, const Calls& tail) {
        desktop.calls.clear();
        QString message = "untouched";
        ASSERT_TRUE(TLWindowMover::applyLayout(layout(identifier), &message));
        EXPECT_EQ(message, "untouched");
        Calls expected = {"isProcessTrusted", "frontmostApplication", "createApplicationElement",
                          "copyWindow:AXFocusedWindow"};
        expected.insert(expected.end(), tail.begin(), tail.end());
        EXPECT_EQ(desktop.calls, expected);
    };
    // Visible frame: 1440 x 875 below a 25-point bar.
    expectMoved("half.right",
                {"copyPosition:focused", "copySize:focused", "displays", "setPosition:focused 720,25",
                 "setSize:focused 720,875", "setPosition:focused 720,25"});

    desktop.focused = {-25212, false};
    expectMoved("half.left", {"copyWindow:AXMainWindow", "copyPosition:main", "copySize:main", "displays",
                              "setPosition:main 0,25", "setSize:main 720,875", "setPosition:main 0,25"});

    // A second display to the right, 1920 x 1080 without a bar.
    desktop.focused = {};
    desktop.displayList.push_back(TLFakeDesktop::display(1440, 0, 1920, 1080));
    expectMoved("screen.next",
                {"copyPosition:focused", "copySize:focused", "displays", "setPosition:focused 1573,-87",
                 "setSize:focused 1067,741", "setPosition:focused 1573,-87"});
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
