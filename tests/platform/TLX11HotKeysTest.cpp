// The X11 hot-key backend and key labels against a real server: a private Xvfb desktop with
// openbox (no key bindings of its own), key presses injected through XTest.
#include "TLHotkeyManager.h"
#include "TLLayout.h"
#include "TLLog.h"
#include "TLModifiers.h"
#include "TLTestDesktop.h"
#include "TLTestProcess.h"
#include "TLUserDefaults.h"
#include "TLX11Connection.h"
#include "TLX11HotKeyService.h"
#include "TLX11KeyboardLayout.h"
#include "TLXTestUser.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <QSignalSpy>

#include <gtest/gtest.h>

#include "TLXkb.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace TLXKey;

constexpr std::uint32_t kCtrlOpt = TLControlKey | TLOptionKey;
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

// Requests of two clients reach the server in no fixed order: a release just sent by the
// service may still be on its way.
bool grabSoon(TLXTestUser& client, xcb_keycode_t key, std::uint16_t modifiers) {
    return TLTestDesktop::waitUntil([&] { return client.grab(key, modifiers); }, 5s);
}

TLHotKeyRequest request(std::uint32_t keyCode, std::uint32_t id) {
    return {keyCode, kCtrlOpt, {TLHotKeySignature, id}};
}

class TLX11HotKeysTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        app();
        desktop = new TLTestDesktop;
        started = desktop->start(&startError);
        connection = started ? TLX11Connection::open(display().c_str()).release() : nullptr;
    }
    static void TearDownTestSuite() {
        delete connection;
        connection = nullptr;
        delete desktop;
        desktop = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(started && connection) << startError << desktop->logs();
        ASSERT_TRUE(setxkbmap({"us"}));
        ASSERT_TRUE(dir.isValid());
        service = std::make_unique<TLX11HotKeyService>(*connection);
        keyboard = std::make_unique<TLX11KeyboardLayout>(*connection);
        ASSERT_TRUE(keyboard->isReady());
        service->installEventHandler(&TLX11HotKeysTest::record, this);
    }
    void TearDown() override {
        keyboard.reset();
        service.reset();
    }

    // Moves Num Lock from Mod2 to Mod3 in the server's modifier map (setxkbmap puts it back).
    bool moveNumLockToMod3() {
        TLXcbReply<xcb_get_modifier_mapping_reply_t> map(
            xcb_get_modifier_mapping_reply(user.get(), xcb_get_modifier_mapping(user.get()), nullptr));
        if (!map) {
            return false;
        }
        const int per = map->keycodes_per_modifier;
        const xcb_keycode_t* mapped = xcb_get_modifier_mapping_keycodes(map.get());
        std::vector<xcb_keycode_t> keys(mapped, mapped + 8 * per);
        const auto mod2 = keys.begin() + 4 * per; // Mod2 is modifier index 4
        const auto numLock = std::find(mod2, mod2 + per, NumLock);
        if (numLock == mod2 + per) {
            return false; // Num Lock is expected on Mod2 in the default keymap
        }
        *numLock = 0;
        keys[5 * per] = NumLock; // Mod3
        TLXcbReply<xcb_set_modifier_mapping_reply_t> set(xcb_set_modifier_mapping_reply(
            user.get(), xcb_set_modifier_mapping(user.get(), static_cast<std::uint8_t>(per), keys.data()),
            nullptr));
        return set && set->status == XCB_MAPPING_STATUS_SUCCESS;
    }

    // The label of a shortcut once it equals `expected` (events are taken in meanwhile).
    QString labelSoon(std::int64_t keyCode, std::uint32_t modifiers, const QString& expected) {
        const TLShortcut shortcut = TLShortcut::shortcutWithKeyCode(keyCode, modifiers);
        pumpUntil([&] { return shortcut.displayString(*keyboard) == expected; }, 2s);
        return shortcut.displayString(*keyboard);
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

    // Records the presses the service delivers, by hot-key id (unless a manager took over).
    static TLOSStatus record(TLEventHandlerCallRef, TLEventRef event, void* userData) {
        TLHotKeyID id;
        if (TLGetEventHotKeyID(event, &id) == TLNoErr) {
            static_cast<TLX11HotKeysTest*>(userData)->ids.push_back(id.id);
        }
        return TLNoErr;
    }

    static inline TLTestDesktop* desktop = nullptr;
    static inline TLX11Connection* connection = nullptr;
    static inline bool started = false;
    static inline std::string startError;
    QTemporaryDir dir;
    TLLog log{nullptr};
    std::unique_ptr<TLX11HotKeyService> service;
    std::unique_ptr<TLX11KeyboardLayout> keyboard;
    TLXTestUser user{display()};
    std::vector<std::uint32_t> ids;
};

TEST_F(TLX11HotKeysTest, DefaultsRegisterAndAPressReachesTheHandlerOnTheMainThread) {
    TLUserDefaults defaults(dir.filePath("Tilora.plist"), log);
    TLHotkeyManager manager(defaults, *service, *keyboard);
    std::vector<std::string> pressed;
    bool onMainThread = true;
    manager.setHandler([&](const TLLayout& layout) {
        pressed.push_back(layout.identifier());
        onMainThread = onMainThread && QThread::currentThread() == app().thread();
    });

    EXPECT_EQ(manager.registerAll(), QStringList{});
    user.chord({ControlL, AltL, Digit1});
    EXPECT_TRUE(pumpUntil([&] { return !pressed.empty(); }));
    EXPECT_EQ(pressed, std::vector<std::string>{"third.left"});
    EXPECT_TRUE(onMainThread);

    // The physical key, whatever the layout: ⌃⌥ and the key labelled Y on a German keyboard.
    ASSERT_TRUE(setxkbmap({"de"}));
    user.chord({ControlL, AltL, LetterZ});
    EXPECT_TRUE(pumpUntil([&] { return pressed.size() >= 2; }));
    EXPECT_EQ(pressed, (std::vector<std::string>{"third.left", "ninth.l.bot"}));
}

TEST_F(TLX11HotKeysTest, CombinationHeldByAnotherClientIsRefusedByName) {
    TLUserDefaults defaults(dir.filePath("Tilora.plist"), log);
    TLHotkeyManager manager(defaults, *service, *keyboard);
    TLXTestUser holder(display());
    ASSERT_TRUE(holder.grab(Digit1, kCtrlAlt));
    EXPECT_EQ(manager.registerAll(), QStringList{"Linkes Drittel (⌃⌥1)"});

    holder.ungrab(Digit1, kCtrlAlt);
    EXPECT_EQ(manager.registerAll(), QStringList{});
    EXPECT_FALSE(holder.grab(Digit1, kCtrlAlt)) << "now ours";
    manager.unregisterAll();
    EXPECT_TRUE(grabSoon(holder, Digit1, kCtrlAlt));
}

TEST_F(TLX11HotKeysTest, RefusalReleasesTheLockVariantsAlreadyTaken) {
    TLXTestUser holder(display());
    // Another client holds only the Caps Lock variant of ⌃⌥1.
    ASSERT_TRUE(holder.grab(Digit1, kCtrlAlt | XCB_MOD_MASK_LOCK));
    EXPECT_FALSE(service->registerHotKeys({request(18, 0)}).at(0));

    // The plain combination and its Num Lock variant were given back.
    TLXTestUser third(display());
    EXPECT_TRUE(grabSoon(third, Digit1, kCtrlAlt));
    EXPECT_TRUE(grabSoon(third, Digit1, kCtrlAlt | XCB_MOD_MASK_2));
}

TEST_F(TLX11HotKeysTest, BatchRefusesDuplicatesAndKeysWithoutAPhysicalKey) {
    // The second asks for the first one's combination again; 55 is Command itself and 70000 no
    // key at all: nothing to grab for either.
    const std::vector<TLHotKeyRequest> requests = {request(18, 0), request(18, 1), request(55, 2),
                                                   request(70000, 3), request(19, 4)};
    const auto results = service->registerHotKeys(requests);
    ASSERT_EQ(results.size(), requests.size());
    const std::vector<bool> granted = {bool(results[0]), bool(results[1]), bool(results[2]), bool(results[3]),
                                       bool(results[4])};
    EXPECT_EQ(granted, (std::vector<bool>{true, false, false, false, true}));
    EXPECT_FALSE(service->registerHotKeys({requests[0]})[0]) << "held already, also in a later batch";

    user.chord({ControlL, AltL, Digit1});
    EXPECT_TRUE(pumpUntil([&] { return !ids.empty(); }));
    EXPECT_EQ(ids, std::vector<std::uint32_t>{0});

    service->unregisterHotKey(*results[0]);
    service->unregisterHotKey(*results[0]); // unknown by now: ignored
    TLXTestUser other(display());
    EXPECT_TRUE(grabSoon(other, Digit1, kCtrlAlt));
    EXPECT_FALSE(other.grab(Digit2, kCtrlAlt)) << "⌃⌥2 is still registered";
}

TEST_F(TLX11HotKeysTest, PressesWithLocksOnAndAfterTheModifierMapChanges) {
    ASSERT_TRUE(service->registerHotKeys({request(18, 7)})[0]);
    user.chord({CapsLock}); // on
    user.chord({ControlL, AltL, Digit1});
    EXPECT_TRUE(pumpUntil([&] { return ids.size() == 1; }));
    user.chord({CapsLock}); // off

    // Num Lock moves from Mod2 to Mod3: the service must grab the new variant by itself.
    ASSERT_TRUE(moveNumLockToMod3());

    user.chord({NumLock});
    // The service learns of the change in its own time: press until a press gets through.
    EXPECT_TRUE(pumpUntil([&] {
        user.chord({ControlL, AltL, Digit1});
        return pumpUntil([&] { return ids.size() >= 2; }, 100ms);
    }));
    user.chord({NumLock});
}

TEST_F(TLX11HotKeysTest, AMappingChangeThatCostsAGrabReportsItAndNeverLeavesOneUnheld) {
    TLUserDefaults defaults(dir.filePath("Tilora.plist"), log);
    TLHotkeyManager manager(defaults, *service, *keyboard);
    ASSERT_EQ(manager.registerAll(), QStringList{});
    QSignalSpy lost(&manager, &TLHotkeyManager::hotkeysLost);
    TLXTestUser other(display());

    // A new keymap with the same lock keys, and the first key event of another input device,
    // both announce a new keyboard: nothing changed, so no grab is given up even for a moment.
    ASSERT_TRUE(setxkbmap({"de"}));
    user.chord({ControlL, AltL, Digit2});
    EXPECT_FALSE(pumpUntil([&] { return other.grab(Digit1, kCtrlAlt); }, 500ms));
    EXPECT_EQ(lost.count(), 0);

    // Another program holds ⌃⌥1 with Mod3, where Num Lock is about to move: that hot key is lost
    // whole and reported by name; every other one keeps its new variant.
    ASSERT_TRUE(other.grab(Digit1, kCtrlAlt | XCB_MOD_MASK_3));
    ASSERT_TRUE(moveNumLockToMod3());
    ASSERT_TRUE(pumpUntil([&] { return lost.count() == 1; }));
    EXPECT_EQ(lost[0][0].toStringList(), QStringList{"Linkes Drittel (⌃⌥1)"});
    EXPECT_TRUE(grabSoon(other, Digit1, kCtrlAlt));
    EXPECT_FALSE(other.grab(Digit2, kCtrlAlt | XCB_MOD_MASK_3));
}

TEST_F(TLX11HotKeysTest, KeyLabelsFollowTheServersLayoutAndGroupFromMemory) {
    auto label = [&](std::int64_t keyCode, std::uint32_t modifiers = 0) {
        return TLShortcut::shortcutWithKeyCode(keyCode, modifiers).displayString(*keyboard);
    };
    EXPECT_EQ(label(6, kCtrlOpt), "⌃⌥Z");
    EXPECT_EQ(label(27), "-");
    EXPECT_EQ(label(105), "#105") << "F13 has no text in the keymap";

    ASSERT_TRUE(setxkbmap({"de"}));
    EXPECT_EQ(labelSoon(6, kCtrlOpt, "⌃⌥Y"), "⌃⌥Y");
    EXPECT_EQ(label(16), "Z");
    EXPECT_EQ(keyboard->characterForKeyCode(27), "ß");
    EXPECT_EQ(label(50), "^") << "a dead key shows its own character";
    EXPECT_EQ(label(24), "´");
    EXPECT_EQ(label(33, TLShiftKey), "⇧Ü");

    // Two layouts, the second one locked: the label follows the group.
    ASSERT_TRUE(setxkbmap({"-layout", "us,de"}));
    EXPECT_EQ(labelSoon(6, 0, "Z"), "Z");
    TLXcbReply<xcb_xkb_use_extension_reply_t> use(
        xcb_xkb_use_extension_reply(user.get(), xcb_xkb_use_extension(user.get(), 1, 0), nullptr));
    ASSERT_TRUE(use && use->supported);
    TLXcbError error(
        xcb_request_check(user.get(), xcb_xkb_latch_lock_state_checked(user.get(), XCB_XKB_ID_USE_CORE_KBD, 0,
                                                                       0, 1, XCB_XKB_GROUP_2, 0, 0, 0)));
    ASSERT_FALSE(error);
    EXPECT_EQ(labelSoon(6, 0, "Y"), "Y");

    ASSERT_TRUE(setxkbmap({"us"}));
    EXPECT_EQ(labelSoon(6, 0, "Z"), "Z");
}

TEST_F(TLX11HotKeysTest, AHeldKeyFiresOnceAlsoAcrossAKeymapChange) {
    ASSERT_TRUE(service->registerHotKeys({request(18, 0), request(19, 1)})[0]);
    TLXcbReply<xcb_get_keyboard_control_reply_t> control(
        xcb_get_keyboard_control_reply(user.get(), xcb_get_keyboard_control(user.get()), nullptr));
    ASSERT_TRUE(control && control->global_auto_repeat) << "the server repeats held keys";

    // The user holds ⌃⌥1 well past the repeat delay (660 ms), then presses ⌃⌥2 once.
    for (xcb_keycode_t key : {ControlL, AltL, Digit1}) {
        user.press(key);
    }
    // A keymap change meanwhile must not turn the held key into a second press.
    ASSERT_TRUE(setxkbmap({"de"}));
    pumpUntil([] { return false; }, 1000ms);
    user.release(Digit1);
    user.chord({Digit2});
    user.release(AltL);
    user.release(ControlL);
    EXPECT_TRUE(pumpUntil([&] { return !ids.empty() && ids.back() == 1; }));
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{0, 1}));

    // A new keystroke of the same key counts again.
    user.chord({ControlL, AltL, Digit1});
    EXPECT_TRUE(pumpUntil([&] { return ids.size() == 3; }));
    EXPECT_EQ(ids.back(), 0u);
}

TEST(TLX11HotKeysWithoutServerTest, NothingIsRegisteredAndNothingCrashes) {
    EXPECT_FALSE(TLX11Connection::open(":999999"));
    TLTestDesktop bare;
    std::string error;
    ASSERT_TRUE(bare.start({.windowManager = false}, &error)) << error;
    const auto connection = TLX11Connection::open(bare.displayName().c_str());
    ASSERT_TRUE(connection);
    TLX11HotKeyService service(*connection);
    bare.stop();
    EXPECT_FALSE(service.registerHotKeys({request(18, 0)}).at(0));
    service.unregisterHotKey(1);
    connection->dispatchPending();
    EXPECT_FALSE(connection->isConnected());
}

} // namespace
