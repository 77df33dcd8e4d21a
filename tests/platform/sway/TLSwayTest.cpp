// Tilora's object graph on a real headless sway (two outputs, a bar on one, foot and an
// XWayland client), presses from a virtual keyboard through sway's own binding path.
#include "TLAppDelegate.h"
#include "TLApplication.h"
#include "TLBundle.h"
#include "TLClosingWindowControl.h"
#include "TLKeyTable.h"
#include "TLModifiers.h"
#include "TLPlacement.h"
#include "TLPlatform.h"
#include "TLPreferencesWindowController.h"
#include "TLShortcutRecorder.h"
#include "TLSwayDesktop.h"
#include "TLSwayPlatform.h"
#include "TLUserDefaults.h"
#include "TLWindowControl.h"
#include "TLWindowMover.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using Rect = TLSwayDesktop::Rect;
using namespace std::chrono_literals;

TLSwayDesktop* gSway = nullptr;
TLApplication* gTilora = nullptr;

// The combination the configuration takes: the default of "Rechts · unten".
constexpr const char* kTakenInConfig = "bindsym Ctrl+Mod1+c exec true";

class SwayEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sway_.start({true, kTakenInConfig}, &error)) << error;
        sway_.setEnvironment();
        qputenv("XDG_CONFIG_HOME", home_.path().toUtf8());
        app_ = std::make_unique<QApplication>(argc_, argv_);
        std::unique_ptr<TLPlatform> platform = TLPlatform::open(nullptr);
        ASSERT_TRUE(platform && platform->qtPlatformName().startsWith("wayland"));
        tilora_ = std::make_unique<TLApplication>(std::move(platform), TLBundle(QString()));
        tilora_->defaults().setBool(false, QString::fromLatin1(TLUserDefaults::kAutoUpdateEnabled));
        tilora_->delegate().setTerminateHandler([] {});
        tilora_->delegate().applicationDidFinishLaunching();
        gSway = &sway_;
        gTilora = tilora_.get();
    }
    void TearDown() override {
        gTilora = nullptr;
        tilora_.reset();
        app_.reset();
        sway_.stop();
    }

private:
    int argc_ = 1;
    char name_[8] = "tilora";
    char* argv_[2] = {name_, nullptr};
    TLSwayDesktop sway_;
    QTemporaryDir home_;
    std::unique_ptr<QApplication> app_;
    std::unique_ptr<TLApplication> tilora_;
};

// Runs the event loop (which carries sway's events to Tilora) until the condition holds.
bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeout.count()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// wtype arguments for a shortcut: modifiers held around the key, which is named as on a US
// keyboard (the test desktop's layout).
std::string keys(std::int64_t keyCode, std::uint32_t modifiers) {
    std::string held;
    for (auto [bit, name] : {std::pair{TLControlKey, "ctrl"}, std::pair{TLOptionKey, "alt"},
                             std::pair{TLShiftKey, "shift"}, std::pair{TLCmdKey, "logo"}}) {
        held += (modifiers & bit) != 0 ? std::string(" -M ") + name : "";
    }
    QString key = QKeySequence(TLKeyTable::byVirtualKeyCode(keyCode)->qtKey).toString();
    key = key.size() == 1 ? key.toLower() : key;
    std::string released = held;
    for (std::size_t at; (at = released.find("-M")) != std::string::npos;) {
        released[at + 1] = 'm';
    }
    return held + " -k " + key.toStdString() + released;
}

// Where a layout puts a window with this frame: the placement over the desktop as sway shows
// it (workspace areas from sway itself), in layout coordinates. The first output anchors.
Rect expected(const TLLayout& layout, const Rect& from) {
    const auto& outputs = TLSwayDesktop::outputs();
    const TLSwayDesktop::Output& a = outputs[0];
    std::vector<TLDisplay> displays;
    const auto global = [&](const Rect& r) {
        return TLRect{double(r.x - a.x), double(a.y + a.height - r.y - r.height), double(r.width),
                      double(r.height)};
    };
    for (const TLSwayDesktop::Output& o : outputs) {
        displays.push_back({global({o.x, o.y, o.width, o.height}), global(*gSway->visibleArea(o.name))});
    }
    const TLPlacementResult r =
        TLPlacement::place({displays, nullptr, nullptr}, {double(from.x - a.x), double(from.y - a.y)},
                           {double(from.width), double(from.height)}, layout.kind(), layout.frac());
    return {r.position.x + a.x, r.position.y + a.y, r.size.width, r.size.height};
}

// Presses the layout's shortcut and checks the window lands where the placement says.
void pressAndCheck(long long window, const TLLayout& layout, std::int64_t keyCode, std::uint32_t modifiers) {
    const Rect before = *gSway->frame(window);
    const Rect want = expected(layout, before);
    ASSERT_TRUE(gSway->press(keys(keyCode, modifiers)));
    // Until the window has kept that frame for a moment: sway 1.7 gives a floating window the
    // size of any late commit of its client, so a next press must wait for the client.
    std::optional<Rect> now;
    QElapsedTimer since;
    EXPECT_TRUE(pumpUntil([&] {
        if ((now = gSway->frame(window)) != want) {
            since.invalidate();
        } else if (!since.isValid()) {
            since.start();
        }
        return since.isValid() && since.elapsed() > 250;
    })) << layout.identifier()
        << " from " << testing::PrintToString(before) << ": " << testing::PrintToString(now) << " instead of "
        << testing::PrintToString(want);
}

void pressDefault(long long window, const char* identifier) {
    const TLLayout& layout = *TLLayout::layoutWithIdentifier(identifier);
    pressAndCheck(window, layout, layout.defaultKeyCode(), layout.defaultModifiers());
}

TEST(Sway, EveryLayoutOnBothOutputsFromItsDefaultHotKeyAndDisplayMovesBothWays) {
    auto foot = gSway->launchFoot("Probe");
    const auto window = gSway->waitForWindow("Probe");
    ASSERT_TRUE(window) << gSway->logs();
    // The first press finds the window tiled. Every layout on one output, then on the other;
    // the display moves both ways (with two outputs, each move changes the output).
    for (const auto& moves :
         {std::vector{"screen.next"}, std::vector{"screen.next", "screen.prev", "screen.prev"}}) {
        for (const TLLayout& layout : TLLayout::allLayouts()) {
            if (layout.kind() == TLLayoutKindFrac && layout.identifier() != "ninth.r.bot") {
                pressDefault(*window, layout.identifier().c_str());
            }
        }
        for (const char* move : moves) {
            pressDefault(*window, move);
        }
    }
}

TEST(Sway, AFullscreenXWaylandWindowLeavesFullscreenAndIsPlaced) {
    auto client = gSway->launchX11Client("X11 probe");
    const auto window = gSway->waitForWindow("X11 probe");
    ASSERT_TRUE(window) << gSway->logs();
    ASSERT_EQ(gSway->command("[con_id=" + std::to_string(*window) + "] fullscreen enable"),
              std::vector{true});
    pressDefault(*window, "half.top");
    EXPECT_EQ(gSway->container(*window)->value("fullscreen_mode").toInt(), 0);
    EXPECT_EQ(gSway->container(*window)->value("type").toString(), "floating_con");
}

TEST(Sway, AWindowClosedAtThePressFailsWithSwaysReason) {
    auto foot = gSway->launchFoot("Closing");
    const auto window = gSway->waitForWindow("Closing");
    ASSERT_TRUE(window);
    std::unique_ptr<TLPlatform> second = TLSwayPlatform::open(qEnvironmentVariable("SWAYSOCK"));
    ASSERT_TRUE(second);
    TLClosingWindowControl control(second->windowControl(), [&] {
        foot->terminate();
        TLSwayDesktop::waitUntil([&] { return !gSway->container(*window); });
    });
    QString message;
    EXPECT_FALSE(TLWindowMover(control).applyLayout(*TLLayout::layoutWithIdentifier("half.left"), &message));
    EXPECT_EQ(message, "foot-test lässt sein Fenster nicht ändern (No matching node.).");
}

TEST(Sway, ARefusedCombinationIsReportedAndARecordedOneWorks) {
    const std::size_t row = *TLLayout::indexOf(*TLLayout::layoutWithIdentifier("ninth.r.bot"));
    TLPreferencesWindowController& settings = gTilora->preferences();
    settings.showAndActivate();
    EXPECT_EQ(settings.statusLabel()->text().toStdString(),
              "Vom System verweigert (anderswo belegt?): Rechts · unten (⌃⌥C)");

    // Ctrl+Alt+K, as a keyboard on sway delivers it: the key's XKB code as native scan code.
    TLShortcutRecorder* recorder = settings.recorderAt(int(row));
    recorder->startRecording();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier,
                    quint32(TLKeyTable::byQtKey(Qt::Key_K, false)->evdev + 8), 'k', 0, QStringLiteral("k"));
    QApplication::sendEvent(recorder, &press);
    EXPECT_EQ(recorder->displayText(), "⌃⌥K");
    EXPECT_EQ(settings.statusLabel()->text().toStdString(), "");

    auto foot = gSway->launchFoot("Recorded");
    const auto window = gSway->waitForWindow("Recorded");
    ASSERT_TRUE(window);
    const TLLayout& layout = TLLayout::allLayouts()[row];
    pressAndCheck(*window, layout, TLKeyTable::byQtKey(Qt::Key_K, false)->virtualKeyCode,
                  TLControlKey | TLOptionKey);
}

TEST(Sway, EndingTakesTheBindingsBackAndLeavesTheConfigurationsOwn) {
    gTilora->finish();
    EXPECT_EQ(gSway->command("unbindsym Ctrl+Mod1+Left"), std::vector{false});
    EXPECT_EQ(gSway->command("unbindsym Ctrl+Mod1+k"), std::vector{false});
    EXPECT_EQ(gSway->command("unbindsym Ctrl+Mod1+c"), std::vector{true});
}

::testing::Environment* const gEnvironment = ::testing::AddGlobalTestEnvironment(new SwayEnvironment);

} // namespace
