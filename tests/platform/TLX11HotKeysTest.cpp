// The X11 hot-key backend and key labels against a real server: a private Xvfb desktop with
// openbox (no key bindings of its own), key presses injected through XTest.
#include "TLHotkeyManager.h"
#include "TLLayout.h"
#include "TLModifiers.h"
#include "TLTestDesktop.h"
#include "TLTestProcess.h"
#include "TLUserDefaults.h"
#include "TLX11HotKeyService.h"
#include "TLX11KeyboardLayout.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>
#include <xcb/xtest.h>

#define explicit xkb_explicit
#include <xcb/xkb.h>
#undef explicit

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kCtrlOpt = TLControlKey | TLOptionKey;
// X keycodes (evdev + 8) of the keys the tests press.
constexpr xcb_keycode_t kControlL = 37;
constexpr xcb_keycode_t kAltL = 64;
constexpr xcb_keycode_t kDigit1 = 10;
constexpr xcb_keycode_t kLetterZ = 52;
constexpr xcb_keycode_t kCapsLock = 66;
constexpr xcb_keycode_t kNumLock = 77;
constexpr std::uint16_t kCtrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "test_x11_hotkeys";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

// Runs the Qt event loop until the condition holds or the deadline passes.
bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s) {
    QTimer wake;
    wake.start(5);
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (std::chrono::milliseconds(clock.elapsed()) > timeout) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// A second X client of the test desktop.
class Client {
public:
    explicit Client(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_.get())).data->root;
    }
    xcb_connection_t* get() const { return c_.get(); }
    bool ok() const { return xcb_connection_has_error(c_.get()) == 0; }

    // True when the server granted the grab.
    bool grab(xcb_keycode_t key, std::uint16_t modifiers) {
        TLXcbError error(
            xcb_request_check(c_.get(), xcb_grab_key_checked(c_.get(), 1, root_, modifiers, key,
                                                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
        return !error;
    }
    void ungrab(xcb_keycode_t key, std::uint16_t modifiers) {
        TLXcbError error(
            xcb_request_check(c_.get(), xcb_ungrab_key_checked(c_.get(), key, root_, modifiers)));
    }

    // Presses the keys in order and releases them in reverse, like a user's chord.
    void chord(const std::vector<xcb_keycode_t>& keys) {
        for (xcb_keycode_t key : keys) {
            xcb_test_fake_input(c_.get(), XCB_KEY_PRESS, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        }
        for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
            xcb_test_fake_input(c_.get(), XCB_KEY_RELEASE, *it, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        }
        sync();
    }
    void sync() {
        TLXcbReply<xcb_get_input_focus_reply_t> reply(
            xcb_get_input_focus_reply(c_.get(), xcb_get_input_focus(c_.get()), nullptr));
    }

private:
    TLXcbConnection c_;
    xcb_window_t root_ = XCB_WINDOW_NONE;
};

// Requests of two clients reach the server in no fixed order: a release just sent by the
// service may still be on its way.
bool grabSoon(Client& client, xcb_keycode_t key, std::uint16_t modifiers) {
    return TLTestDesktop::waitUntil([&] { return client.grab(key, modifiers); }, 5s);
}

class TLX11HotKeysTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        app();
        desktop = new TLTestDesktop;
        std::string error;
        started = desktop->start(&error);
        startError = error;
    }
    static void TearDownTestSuite() {
        delete desktop;
        desktop = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(started) << startError << desktop->logs();
        ASSERT_TRUE(setxkbmap({"us"}));
        ASSERT_TRUE(dir.isValid());
    }

    static const std::string& display() { return desktop->displayName(); }

    static bool setxkbmap(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv = {"setxkbmap", "-display", display()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::string output;
        const std::optional<int> status = TLTestProcess::run(argv, {}, &output, 10s);
        EXPECT_EQ(status, 0) << output;
        return status == 0;
    }

    static inline TLTestDesktop* desktop = nullptr;
    static inline bool started = false;
    static inline std::string startError;
    QTemporaryDir dir;
};

// Records the presses a service delivers, with their hot-key identity.
struct PressLog {
    static TLOSStatus record(TLEventHandlerCallRef, TLEventRef event, void* userData) {
        TLHotKeyID id;
        if (TLGetEventHotKeyID(event, &id) == TLNoErr) {
            static_cast<PressLog*>(userData)->ids.push_back(id.id);
        }
        return TLNoErr;
    }
    std::vector<std::uint32_t> ids;
};

TEST_F(TLX11HotKeysTest, DefaultsRegisterAndAPressReachesTheHandlerOnTheMainThread) {
    TLX11HotKeyService service(display().c_str());
    TLX11KeyboardLayout keyboard(display().c_str());
    ASSERT_TRUE(service.isConnected());
    ASSERT_TRUE(keyboard.isReady());
    TLKeyboardLayout::install(&keyboard);
    TLUserDefaults defaults(dir.filePath("Tilora.plist"));
    TLHotkeyManager manager(defaults, service);
    std::vector<std::string> pressed;
    bool onMainThread = true;
    manager.setHandler([&](const TLLayout& layout) {
        pressed.push_back(layout.identifier());
        onMainThread = onMainThread && QThread::currentThread() == app().thread();
    });

    EXPECT_EQ(manager.registerAll(), QStringList{});

    Client keyboardUser(display());
    keyboardUser.chord({kControlL, kAltL, kDigit1});
    EXPECT_TRUE(pumpUntil([&] { return !pressed.empty(); }));
    EXPECT_EQ(pressed, std::vector<std::string>{"third.left"});
    EXPECT_TRUE(onMainThread);

    // Nothing is grabbed while suspended: another client may take the combination (which
    // also proves the server has seen the release before the next press).
    manager.setSuspended(true);
    Client probe(display());
    EXPECT_TRUE(probe.grab(kDigit1, kCtrlAlt));
    probe.ungrab(kDigit1, kCtrlAlt);
    keyboardUser.chord({kControlL, kAltL, kDigit1});
    QCoreApplication::processEvents();
    manager.setSuspended(false);
    keyboardUser.chord({kControlL, kAltL, kLetterZ}); // ⌃⌥Z: ninth.l.bot
    EXPECT_TRUE(pumpUntil([&] { return pressed.size() >= 2; }));
    EXPECT_EQ(pressed, (std::vector<std::string>{"third.left", "ninth.l.bot"}));
    TLKeyboardLayout::install(nullptr);
}

TEST_F(TLX11HotKeysTest, CombinationHeldByAnotherClientIsRefusedByName) {
    TLX11HotKeyService service(display().c_str());
    TLX11KeyboardLayout keyboard(display().c_str());
    TLKeyboardLayout::install(&keyboard);
    TLUserDefaults defaults(dir.filePath("Tilora.plist"));
    TLHotkeyManager manager(defaults, service);

    Client holder(display());
    ASSERT_TRUE(holder.grab(kDigit1, kCtrlAlt));
    EXPECT_EQ(manager.registerAll(), QStringList{"Linkes Drittel (⌃⌥1)"});

    holder.ungrab(kDigit1, kCtrlAlt);
    EXPECT_EQ(manager.registerAll(), QStringList{});
    // Now ours: the other client is refused.
    EXPECT_FALSE(holder.grab(kDigit1, kCtrlAlt));
    manager.unregisterAll();
    EXPECT_TRUE(grabSoon(holder, kDigit1, kCtrlAlt));
    TLKeyboardLayout::install(nullptr);
}

TEST_F(TLX11HotKeysTest, RefusalReleasesTheLockVariantsAlreadyTaken) {
    TLX11HotKeyService service(display().c_str());
    Client holder(display());
    // Another client holds only the Caps Lock variant of ⌃⌥1.
    ASSERT_TRUE(holder.grab(kDigit1, kCtrlAlt | XCB_MOD_MASK_LOCK));

    const auto results = service.registerHotKeys({{18, kCtrlOpt, {TLHotKeySignature, 0}}});
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0]);

    // The plain combination and its Num Lock variant were given back.
    Client third(display());
    EXPECT_TRUE(grabSoon(third, kDigit1, kCtrlAlt));
    EXPECT_TRUE(grabSoon(third, kDigit1, kCtrlAlt | XCB_MOD_MASK_2));
}

TEST_F(TLX11HotKeysTest, BatchRefusesDuplicatesAndKeysWithoutAPhysicalKey) {
    TLX11HotKeyService service(display().c_str());
    PressLog log;
    service.installEventHandler(&PressLog::record, &log);
    const std::vector<TLHotKeyRequest> requests = {
        {18, kCtrlOpt, {TLHotKeySignature, 0}},
        {18, kCtrlOpt, {TLHotKeySignature, 1}},    // the same combination again
        {55, kCtrlOpt, {TLHotKeySignature, 2}},    // Command itself: no key to grab
        {70000, kCtrlOpt, {TLHotKeySignature, 3}}, // no such key code
        {19, kCtrlOpt, {TLHotKeySignature, 4}},
    };
    const auto results = service.registerHotKeys(requests);
    ASSERT_EQ(results.size(), requests.size());
    EXPECT_TRUE(results[0]);
    EXPECT_FALSE(results[1]);
    EXPECT_FALSE(results[2]);
    EXPECT_FALSE(results[3]);
    EXPECT_TRUE(results[4]);
    // Held already by this service, also in a later batch.
    EXPECT_FALSE(service.registerHotKeys({requests[0]})[0]);

    Client keyboardUser(display());
    keyboardUser.chord({kControlL, kAltL, kDigit1});
    EXPECT_TRUE(pumpUntil([&] { return !log.ids.empty(); }));
    EXPECT_EQ(log.ids, std::vector<std::uint32_t>{0});

    service.unregisterHotKey(*results[0]);
    service.unregisterHotKey(*results[0]); // unknown by now: ignored
    Client other(display());
    EXPECT_TRUE(grabSoon(other, kDigit1, kCtrlAlt));
    EXPECT_FALSE(other.grab(kDigit1 + 1, kCtrlAlt)) << "⌃⌥2 is still registered";
}

TEST_F(TLX11HotKeysTest, PressesWithLocksOnAndAfterTheModifierMapChanges) {
    TLX11HotKeyService service(display().c_str());
    PressLog log;
    service.installEventHandler(&PressLog::record, &log);
    ASSERT_TRUE(service.registerHotKeys({{18, kCtrlOpt, {TLHotKeySignature, 7}}})[0]);
    Client keyboardUser(display());

    // Caps Lock on.
    keyboardUser.chord({kCapsLock});
    keyboardUser.chord({kControlL, kAltL, kDigit1});
    EXPECT_TRUE(pumpUntil([&] { return log.ids.size() == 1; }));
    keyboardUser.chord({kCapsLock});

    // Num Lock moves from Mod2 to Mod3: the service must grab the new variant by itself.
    TLXcbReply<xcb_get_modifier_mapping_reply_t> map(xcb_get_modifier_mapping_reply(
        keyboardUser.get(), xcb_get_modifier_mapping(keyboardUser.get()), nullptr));
    ASSERT_TRUE(map);
    const int per = map->keycodes_per_modifier;
    std::vector<xcb_keycode_t> keys(xcb_get_modifier_mapping_keycodes(map.get()),
                                    xcb_get_modifier_mapping_keycodes(map.get()) + 8 * per);
    bool moved = false;
    for (int k = 0; k < per; ++k) {
        if (keys[4 * per + k] == kNumLock) { // Mod2 is modifier index 4
            keys[4 * per + k] = 0;
            moved = true;
        }
    }
    ASSERT_TRUE(moved) << "Num Lock is expected on Mod2 in the default keymap";
    keys[5 * per] = kNumLock; // Mod3
    TLXcbReply<xcb_set_modifier_mapping_reply_t> set(xcb_set_modifier_mapping_reply(
        keyboardUser.get(), xcb_set_modifier_mapping(keyboardUser.get(), per, keys.data()), nullptr));
    ASSERT_TRUE(set);
    ASSERT_EQ(set->status, XCB_MAPPING_STATUS_SUCCESS);

    keyboardUser.chord({kNumLock});
    // The service learns of the change in its own time: press until a press gets through.
    const bool delivered = pumpUntil([&] {
        if (log.ids.size() == 2) {
            return true;
        }
        keyboardUser.chord({kControlL, kAltL, kDigit1});
        return pumpUntil([&] { return log.ids.size() == 2; }, 100ms);
    });
    EXPECT_TRUE(delivered);
    keyboardUser.chord({kNumLock});
}

TEST_F(TLX11HotKeysTest, KeyLabelsFollowTheServersLayoutAndGroup) {
    TLX11KeyboardLayout keyboard(display().c_str());
    ASSERT_TRUE(keyboard.isReady());
    TLKeyboardLayout::install(&keyboard);
    auto label = [](std::int64_t keyCode, std::uint32_t modifiers = 0) {
        return TLShortcut::shortcutWithKeyCode(keyCode, modifiers).displayString();
    };

    EXPECT_EQ(label(6, kCtrlOpt), "⌃⌥Z");
    EXPECT_EQ(label(16), "Y");
    EXPECT_EQ(label(18, kCtrlOpt), "⌃⌥1");
    EXPECT_EQ(label(27), "-");
    EXPECT_EQ(label(105), "#105") << "F13 has no text in the keymap";
    EXPECT_EQ(label(123, 0x1A00), "⌃⌥⇧←");

    ASSERT_TRUE(setxkbmap({"de"}));
    EXPECT_EQ(label(6, kCtrlOpt), "⌃⌥Y");
    EXPECT_EQ(label(16), "Z");
    EXPECT_EQ(keyboard.characterForKeyCode(27), "ß");
    EXPECT_EQ(label(27), "SS");
    EXPECT_EQ(label(50), "^") << "a dead key shows its own character";
    EXPECT_EQ(label(24), "´");
    EXPECT_EQ(label(33, TLShiftKey), "⇧Ü");

    ASSERT_TRUE(setxkbmap({"fr"}));
    EXPECT_EQ(label(6), "W");

    // Two layouts, the second one locked: the label follows the group.
    ASSERT_TRUE(setxkbmap({"-layout", "us,de"}));
    EXPECT_EQ(label(6), "Z");
    Client switcher(display());
    TLXcbReply<xcb_xkb_use_extension_reply_t> use(
        xcb_xkb_use_extension_reply(switcher.get(), xcb_xkb_use_extension(switcher.get(), 1, 0), nullptr));
    ASSERT_TRUE(use && use->supported);
    TLXcbError error(xcb_request_check(
        switcher.get(), xcb_xkb_latch_lock_state_checked(switcher.get(), XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1,
                                                         XCB_XKB_GROUP_2, 0, 0, 0)));
    ASSERT_FALSE(error);
    EXPECT_EQ(label(6), "Y");

    ASSERT_TRUE(setxkbmap({"us"}));
    EXPECT_EQ(label(6), "Z");
    TLKeyboardLayout::install(nullptr);
}

TEST_F(TLX11HotKeysTest, GrabsMeanPhysicalKeysWhateverTheLayout) {
    TLX11HotKeyService service(display().c_str());
    PressLog log;
    service.installEventHandler(&PressLog::record, &log);
    ASSERT_TRUE(service.registerHotKeys({{6, kCtrlOpt, {TLHotKeySignature, 5}}})[0]);
    ASSERT_TRUE(setxkbmap({"de"}));
    Client keyboardUser(display());
    keyboardUser.chord({kControlL, kAltL, kLetterZ}); // labelled Y on a German keyboard
    EXPECT_TRUE(pumpUntil([&] { return !log.ids.empty(); }));
    EXPECT_EQ(log.ids, std::vector<std::uint32_t>{5});
}

TEST_F(TLX11HotKeysTest, AHeldKeyFiresOnce) {
    TLX11HotKeyService service(display().c_str());
    PressLog log;
    service.installEventHandler(&PressLog::record, &log);
    ASSERT_TRUE(service.registerHotKeys(
        {{18, kCtrlOpt, {TLHotKeySignature, 0}}, {19, kCtrlOpt, {TLHotKeySignature, 1}}})[0]);
    Client keyboardUser(display());
    TLXcbReply<xcb_get_keyboard_control_reply_t> control(xcb_get_keyboard_control_reply(
        keyboardUser.get(), xcb_get_keyboard_control(keyboardUser.get()), nullptr));
    ASSERT_TRUE(control && control->global_auto_repeat) << "the server repeats held keys";

    // The user holds ⌃⌥1 well past the repeat delay (660 ms), then presses ⌃⌥2 once.
    for (xcb_keycode_t key : {kControlL, kAltL, kDigit1}) {
        xcb_test_fake_input(keyboardUser.get(), XCB_KEY_PRESS, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }
    keyboardUser.sync();
    pumpUntil([] { return false; }, 1000ms);
    xcb_test_fake_input(keyboardUser.get(), XCB_KEY_RELEASE, kDigit1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    keyboardUser.chord({static_cast<xcb_keycode_t>(kDigit1 + 1)});
    for (xcb_keycode_t key : {kAltL, kControlL}) {
        xcb_test_fake_input(keyboardUser.get(), XCB_KEY_RELEASE, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }
    keyboardUser.sync();
    EXPECT_TRUE(pumpUntil([&] { return !log.ids.empty() && log.ids.back() == 1; }));
    EXPECT_EQ(log.ids, (std::vector<std::uint32_t>{0, 1}));

    // A new keystroke of the same key counts again.
    keyboardUser.chord({kControlL, kAltL, kDigit1});
    EXPECT_TRUE(pumpUntil([&] { return log.ids.size() == 3; }));
    EXPECT_EQ(log.ids.back(), 0u);
}

TEST_F(TLX11HotKeysTest, WithoutAServerNothingIsRegisteredAndNothingCrashes) {
    TLX11HotKeyService service(":999999");
    EXPECT_FALSE(service.isConnected());
    const auto results = service.registerHotKeys({{18, kCtrlOpt, {TLHotKeySignature, 0}}});
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0]);
    service.unregisterHotKey(1);
    service.processEvents();

    TLX11KeyboardLayout keyboard(":999999");
    EXPECT_FALSE(keyboard.isReady());
    EXPECT_EQ(keyboard.characterForKeyCode(0), QString());
}

} // namespace
