#include "TLWindowMover.h"
#include "TLFakeWindowControl.h"
#include "TLTest.h"

namespace {

using Calls = std::vector<std::string>;

class TLWindowMoverTest : public ::testing::Test {
protected:
    // The calls one application of the layout made and its message; without an out-parameter
    // it does the same.
    std::pair<Calls, QString> apply(const char* identifier) {
        const TLLayout& layout = *TLLayout::layoutWithIdentifier(identifier);
        desktop.calls.clear();
        const bool plain = mover.applyLayout(layout);
        const Calls without = desktop.calls;
        desktop.calls.clear();
        QString message = "untouched";
        EXPECT_EQ(mover.applyLayout(layout, &message), plain);
        EXPECT_EQ(desktop.calls, without);
        return {desktop.calls, message};
    }

    TLFakeWindowControl desktop;
    TLWindowMover mover{desktop};
};

TEST_F(TLWindowMoverTest, EachFailureHasItsMessageAndWritesNothing) {
    struct Row {
        bool trusted, application;
        std::optional<QString> name;
        std::optional<std::uint64_t> window;
        std::int32_t error;
        bool frame;
        const char* layout;
        const char* expected;
    };
    const Row rows[] = {
        {false, true, "Editor", 7, 0, true, "half.left",
         "Tilora braucht einen EWMH-fähigen Fenstermanager in dieser Sitzung."},
        {true, false, "Editor", 7, 0, true, "third.left", "Keine aktive Anwendung gefunden."},
        {true, true, "Editor", std::nullopt, 0, true, "third.left",
         "Editor hat kein bewegbares Fenster (AXError 0)."},
        {true, true, std::nullopt, std::nullopt, 0, true, "third.left",
         "Die App hat kein bewegbares Fenster (AXError 0)."},
        // An error that still comes with a window is an error.
        {true, true, "Büro %2 %1", 7, -25204, true, "third.left",
         "Büro %2 %1 hat kein bewegbares Fenster (AXError -25204)."},
        {true, true, "Editor", 7, 0, false, "third.left", "Fensterposition konnte nicht gelesen werden."},
        {true, true, "Editor", 7, 0, true, "screen.next", "Nur ein Bildschirm angeschlossen."},
        {true, true, "Editor", 7, 0, true, "screen.prev", "Nur ein Bildschirm angeschlossen."},
    };
    for (const Row& row : rows) {
        desktop.trusted = row.trusted;
        desktop.front.hasApplication = row.application;
        desktop.front.applicationName = row.name;
        desktop.front.window = row.window;
        desktop.front.windowError = row.error;
        desktop.front.frame = row.frame ? std::optional(TLRect{10, 10, 300, 200}) : std::nullopt;
        // Trust is asked anew each time: the prompt is requested and nothing is read.
        const Calls expected = row.trusted ? Calls{"isTrusted", "read"} : Calls{"isTrusted", "requestTrust"};
        EXPECT_EQ(apply(row.layout), std::pair(expected, QString::fromUtf8(row.expected)));
    }
}

TEST_F(TLWindowMoverTest, SuccessRequestsTheComputedFrameOnce) {
    const TLDisplay left = TLFakeWindowControl::display(0, 0, 1440, 900, 25);
    const TLDisplay right = TLFakeWindowControl::display(1440, 0, 1920, 1080);
    const struct {
        const char* layout;
        std::vector<TLDisplay> displays;
        TLRect frame;
        Calls tail;
    } rows[] = {
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
    for (const auto& row : rows) {
        desktop.front.displays = row.displays;
        desktop.front.frame = row.frame;
        Calls expected = {"isTrusted", "read"};
        expected.insert(expected.end(), row.tail.begin(), row.tail.end());
        EXPECT_EQ(apply(row.layout), std::pair(expected, QString("untouched")));
    }
}

TEST_F(TLWindowMoverTest, ARefusedFrameFailsWithTheWindowSystemsReason) {
    desktop.refusal = QString("No matching node.");
    desktop.front.applicationName = QString("100%1"); // a name is never taken for a placeholder
    EXPECT_EQ(apply("half.left"),
              std::pair(Calls{"isTrusted", "read", "setFrame 7 0,25 720x875"},
                        QString("100%1 lässt sein Fenster nicht ändern (No matching node.).")));
}

} // namespace
