#include "TLWindowMover.h"
#include "TLFakeWindowControl.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

using Calls = std::vector<std::string>;

const TLLayout& layout(const char* identifier) {
    return *TLLayout::layoutWithIdentifier(identifier);
}

class TLWindowMoverTest : public ::testing::Test {
protected:
    // applyLayout with and without an out-parameter: both fail alike and write nothing.
    QString failure(const char* identifier) {
        desktop.calls.clear();
        QString message = "untouched";
        EXPECT_FALSE(mover.applyLayout(layout(identifier), &message));
        const Calls withMessage = desktop.calls;
        desktop.calls.clear();
        EXPECT_FALSE(mover.applyLayout(layout(identifier)));
        EXPECT_EQ(desktop.calls, withMessage);
        EXPECT_EQ(desktop.count("setFrame"), 0u);
        return message;
    }

    TLFakeWindowControl desktop;
    TLWindowMover mover{desktop};
};

TEST_F(TLWindowMoverTest, UntrustedRequestsThePromptEveryTimeAndReadsNothing) {
    desktop.trusted = false; // asked anew on every call
    EXPECT_EQ(failure("half.left"), "Tilora braucht die Freigabe unter Systemeinstellungen → Datenschutz & "
                                    "Sicherheit → Bedienungshilfen.");
    EXPECT_EQ(desktop.calls, (Calls{"isTrusted", "requestTrust"}));
}

TEST_F(TLWindowMoverTest, EachMissingPartOfTheReadHasItsMessage) {
    struct Row {
        bool application;
        std::optional<QString> name;
        std::optional<std::uint64_t> window;
        std::int32_t error;
        bool frame;
        const char* expected;
    };
    const Row rows[] = {
        {false, QString("Editor"), 7, 0, true, "Keine aktive Anwendung gefunden."},
        {true, QString("Editor"), std::nullopt, 0, true, "Editor hat kein bewegbares Fenster (AXError 0)."},
        {true, std::nullopt, std::nullopt, 0, true, "Die App hat kein bewegbares Fenster (AXError 0)."},
        // An error that still comes with a window is an error.
        {true, QString("Büro"), 7, -25204, true, "Büro hat kein bewegbares Fenster (AXError -25204)."},
        {true, QString("Editor"), 7, 0, false, "Fensterposition konnte nicht gelesen werden."},
    };
    for (const Row& row : rows) {
        desktop.front.hasApplication = row.application;
        desktop.front.applicationName = row.name;
        desktop.front.window = row.window;
        desktop.front.windowError = row.error;
        desktop.front.frame = row.frame ? std::optional<TLRect>(TLRect{10, 10, 300, 200}) : std::nullopt;
        EXPECT_EQ(failure("third.left"), QString::fromUtf8(row.expected));
        EXPECT_EQ(desktop.calls, (Calls{"isTrusted", "read"})) << row.expected;
    }
}

TEST_F(TLWindowMoverTest, DisplayMoveOnASingleDisplayFailsAfterTheRead) {
    for (const char* identifier : {"screen.next", "screen.prev"}) {
        EXPECT_EQ(failure(identifier), "Nur ein Bildschirm angeschlossen.");
        EXPECT_EQ(desktop.calls, (Calls{"isTrusted", "read"}));
    }
}

TEST_F(TLWindowMoverTest, SuccessRequestsTheComputedFrameOnce) {
    struct Row {
        const char* layout;
        std::vector<TLDisplay> displays;
        TLRect frame;
        Calls tail;
    };
    const TLDisplay left = TLFakeWindowControl::display(0, 0, 1440, 900, 25);
    const TLDisplay right = TLFakeWindowControl::display(1440, 0, 1920, 1080);
    const Row rows[] = {
        // Visible frame: 1440 x 875 below a 25-point bar.
        {"half.right", {left}, {100, 100, 800, 600}, {"setFrame 7 720,25 720x875"}},
        {"screen.next", {left, right}, {100, 100, 800, 600}, {"setFrame 7 1573,-87 1067x741"}},
        // A window on no display goes to the display under the mouse.
        {"half.left",
         {left, right},
         {-5000, 100, 800, 600},
         {"mouseLocation", "setFrame 7 1440,-180 960x1080"}},
    };
    desktop.mouse = TLPoint{2000, 500};
    for (const Row& row : rows) {
        desktop.calls.clear();
        desktop.front.displays = row.displays;
        desktop.front.frame = row.frame;
        QString message = "untouched";
        ASSERT_TRUE(mover.applyLayout(layout(row.layout), &message)) << message.toStdString();
        EXPECT_EQ(message, "untouched");
        Calls expected = {"isTrusted", "read"};
        expected.insert(expected.end(), row.tail.begin(), row.tail.end());
        EXPECT_EQ(desktop.calls, expected) << row.layout;
    }
}

TEST_F(TLWindowMoverTest, ARefusedFrameFailsWithTheWindowSystemsReason) {
    desktop.refusal = QString("No matching node.");
    desktop.front.applicationName = QString("100%1"); // a name is never taken for a placeholder
    QString message;
    EXPECT_FALSE(mover.applyLayout(layout("half.left"), &message));
    EXPECT_EQ(message, "100%1 lässt sein Fenster nicht ändern (No matching node.).");
    EXPECT_EQ(desktop.count("setFrame"), 1u);
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
    EXPECT_FALSE(recorder.opened[0].host().isEmpty());
}

} // namespace

#include "TLWindowMoverTest.moc"
