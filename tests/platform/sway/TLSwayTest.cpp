// Tilora's object graph in this process on a real headless sway (the bar's output and a scaled
// one, foot and an XWayland client); presses come from a virtual keyboard through sway's own
// binding path.
#include "TLAppDelegate.h"
#include "TLApplication.h"
#include "TLBundle.h"
#include "TLKeyTable.h"
#include "TLModifiers.h"
#include "TLPlacement.h"
#include "TLPlatform.h"
#include "TLPreferencesWindowController.h"
#include "TLShortcutRecorder.h"
#include "TLSwayDesktop.h"
#include "TLSwaySession.h"
#include "TLSwayWindowControl.h"
#include "TLTest.h"
#include "TLUserDefaults.h"

#include <QKeySequence>
#include <QLabel>

namespace {

using Rect = TLSwayDesktop::Rect;

// The default of "Rechts · unten", taken by the configuration.
const QString kTakenInConfig = "bindsym Ctrl+Mod1+c exec true";

const TLLayout& layout(const char* identifier) {
    return *TLLayout::layoutWithIdentifier(identifier);
}

// wtype arguments for a shortcut: modifiers held around the key, named as on a US keyboard.
QString keys(std::int64_t keyCode, std::uint32_t modifiers) {
    QStringList held, released;
    for (auto [bit, name] : {std::pair{TLControlKey, "ctrl"}, std::pair{TLOptionKey, "alt"},
                             std::pair{TLShiftKey, "shift"}, std::pair{TLCmdKey, "logo"}}) {
        if ((modifiers & bit) != 0) {
            held << "-M" << name;
            released << "-m" << name;
        }
    }
    const QString key = QKeySequence(TLKeyTable::byVirtualKeyCode(keyCode)->qtKey).toString();
    return (held + QStringList{"-k", key.size() == 1 ? key.toLower() : key} + released).join(' ');
}

class Sway : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        // Both outputs off the layout's edges, the second one scaled.
        ASSERT_TRUE(sway.start(&error, true,
                               kTakenInConfig + "\noutput HEADLESS-1 position 1440 120\n"
                                                "output HEADLESS-2 mode 2880x1800 scale 2"))
            << error;
        sway.setEnvironment();
        qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
        std::unique_ptr<TLPlatform> platform = TLPlatform::open(nullptr);
        ASSERT_TRUE(platform);
        tilora = std::make_unique<TLApplication>(std::move(platform), TLBundle(QString()));
        tilora->defaults().setBool(false, QString::fromLatin1(TLUserDefaults::kAutoUpdateEnabled));
        tilora->delegate().setTerminateHandler([] {});
        tilora->delegate().applicationDidFinishLaunching();
    }
    static void TearDownTestSuite() {
        tilora.reset();
        sway.stop();
    }
    void SetUp() override { ASSERT_TRUE(tilora) << sway.logs(); }

    // Where a layout puts a window with this frame: the placement over the outputs and workspace
    // areas as sway reports them, anchored at HEADLESS-1 (no output lies at the layout's origin).
    static Rect expected(const TLLayout& layout, const Rect& from) {
        const Rect a = *sway.output("HEADLESS-1");
        const auto global = [&](const Rect& r) {
            return TLRect{double(r.x - a.x), double(a.y + a.height - r.y - r.height), double(r.width),
                          double(r.height)};
        };
        std::vector<TLDisplay> displays;
        for (const char* o : TLSwayDesktop::kOutputs) {
            displays.push_back({global(*sway.output(o)), global(*sway.visibleArea(o))});
        }
        const TLPlacementResult r =
            TLPlacement::place({displays, nullptr, nullptr}, {double(from.x - a.x), double(from.y - a.y)},
                               {double(from.width), double(from.height)}, layout.kind(), layout.frac());
        return {r.position.x + a.x, r.position.y + a.y, r.size.width, r.size.height};
    }
    // Presses the shortcut and checks the window lands where the placement says and stays there
    // (sway 1.7 gives a floating window the size of a late commit of its client).
    static void pressAndCheck(long long window, const TLLayout& layout, std::int64_t keyCode,
                              std::uint32_t modifiers) {
        const Rect before = *sway.frame(window), want = expected(layout, before);
        ASSERT_TRUE(sway.press(keys(keyCode, modifiers)));
        std::optional<Rect> now;
        QElapsedTimer since;
        EXPECT_TRUE(tlWaitFor([&] {
            if ((now = sway.frame(window)) != want) {
                since.invalidate();
            } else if (!since.isValid()) {
                since.start();
            }
            return since.isValid() && since.elapsed() > 250;
        })) << layout.identifier()
            << " from " << testing::PrintToString(before) << ": " << testing::PrintToString(now);
    }
    static void pressDefault(long long window, const char* identifier) {
        pressAndCheck(window, layout(identifier), layout(identifier).defaultKeyCode(),
                      layout(identifier).defaultModifiers());
    }

    static inline TLSwayDesktop sway;
    static inline QTemporaryDir home;
    static inline std::unique_ptr<TLApplication> tilora;
};

TEST_F(Sway, EveryLayoutOnBothOutputsFromItsDefaultHotKeyAndDisplayMovesBothWays) {
    auto foot = sway.launch({"foot", "--title", "Probe", "sleep", "1000"});
    const auto window = sway.waitForWindow("Probe");
    ASSERT_TRUE(window) << sway.logs();
    // The first press finds the window tiled. Every layout on the bar's output, then on the
    // scaled one; with two outputs, each display move changes the output.
    for (const auto& moves :
         {std::vector{"screen.next"}, std::vector{"screen.next", "screen.prev", "screen.prev"}}) {
        for (const TLLayout& l : TLLayout::allLayouts()) {
            if (l.kind() == TLLayoutKindFrac && l.identifier() != "ninth.r.bot") {
                pressDefault(*window, l.identifier().c_str());
            }
        }
        for (const char* move : moves) {
            pressDefault(*window, move);
        }
    }
}

TEST_F(Sway, AFullscreenXWaylandWindowLeavesFullscreenAndIsPlaced) {
    auto client = sway.launch(
        {TL_TEST_CLIENT_PATH, "--title", "X11 probe", "--class", "X11Probe", "--size", "640x400"});
    const auto window = sway.waitForWindow("X11 probe");
    ASSERT_TRUE(window) << sway.logs();
    ASSERT_EQ(sway.command(QString("[con_id=%1] fullscreen enable").arg(*window)), std::vector{true});
    pressDefault(*window, "half.top");
    EXPECT_EQ(sway.container(*window)->value("fullscreen_mode").toInt(), 0);
    EXPECT_EQ(sway.container(*window)->value("type").toString(), "floating_con");
}

TEST_F(Sway, AWindowClosedAfterTheReadIsRefusedWithSwaysReason) {
    auto foot = sway.launch({"foot", "--title", "Closing", "--app-id", "foot-test", "sleep", "1000"});
    const auto window = sway.waitForWindow("Closing");
    ASSERT_TRUE(window);
    auto session = TLSwaySession::open(qEnvironmentVariable("SWAYSOCK"));
    TLSwayWindowControl control(*session);
    const TLFrontmostWindow front = control.readFrontmostWindow();
    ASSERT_EQ(front.window, std::optional<std::uint64_t>(*window));
    EXPECT_EQ(front.applicationName, std::optional<QString>("foot-test"));
    foot.reset();
    ASSERT_TRUE(TLTestDesktop::waitUntil([&] { return !sway.container(*window); }));
    QString reason;
    EXPECT_FALSE(control.setFrame(*front.window, {0, 0}, {400, 300}, &reason));
    EXPECT_EQ(reason, "No matching node.");
}

TEST_F(Sway, ARefusedCombinationIsReportedAndARecordedOneWorks) {
    const std::size_t row = *TLLayout::indexOf(layout("ninth.r.bot"));
    TLPreferencesWindowController& settings = tilora->preferences();
    settings.showAndActivate();
    EXPECT_EQ(settings.statusLabel()->text(),
              "Vom System verweigert (anderswo belegt?): Rechts · unten (⌃⌥C)");

    // Ctrl+Alt+K, as a keyboard on sway delivers it: the key's XKB code as native scan code.
    const TLKey& k = *TLKeyTable::byQtKey(Qt::Key_K, false);
    TLShortcutRecorder* recorder = settings.recorderAt(int(row));
    recorder->startRecording();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier, quint32(k.evdev + 8),
                    'k', 0, "k");
    QApplication::sendEvent(recorder, &press);
    EXPECT_EQ(recorder->displayText(), "⌃⌥K");
    EXPECT_EQ(settings.statusLabel()->text(), "");

    auto foot = sway.launch({"foot", "--title", "Recorded", "sleep", "1000"});
    const auto window = sway.waitForWindow("Recorded");
    ASSERT_TRUE(window);
    pressAndCheck(*window, TLLayout::allLayouts()[row], k.virtualKeyCode, TLControlKey | TLOptionKey);
}

} // namespace
