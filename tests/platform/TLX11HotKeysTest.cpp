// The X11 hot-key backend and key labels against the real server of the shared test desktop,
// with key presses injected through XTest.
#include "TLHotkeyManager.h"
#include "TLLayout.h"
#include "TLLog.h"
#include "TLModifiers.h"
#include "TLTest.h"
#include "TLTestDesktop.h"
#include "TLUserDefaults.h"
#include "TLX11Connection.h"
#include "TLX11HotKeyService.h"
#include "TLX11KeyboardLayout.h"
#include "TLXTestUser.h"
#include "TLXkb.h"

namespace {

using namespace TLXKey;
constexpr std::uint32_t kCtrlOpt = TLControlKey | TLOptionKey;
constexpr std::uint16_t kCtrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;

TLHotKeyRequest request(std::uint32_t keyCode, std::uint32_t id) {
    return {keyCode, kCtrlOpt, {TLHotKeySignature, id}};
}

class X11HotKeys : public ::testing::Test {
protected:
    static void SetUpTestSuite() { connection = TLX11Connection::open(tlDesktop().displayName().c_str()); }
    static void TearDownTestSuite() { connection.reset(); }
    void SetUp() override {
        ASSERT_EQ(usLayout, 0);
        ASSERT_TRUE(connection && keyboard.isReady());
        service.installEventHandler(
            [](TLEventHandlerCallRef, TLEventRef event, void* ids) {
                TLHotKeyID id;
                if (TLGetEventHotKeyID(event, &id) == TLNoErr) {
                    static_cast<std::vector<std::uint32_t>*>(ids)->push_back(id.id);
                }
                return TLNoErr;
            },
            &ids);
    }
    static int setxkbmap(const QStringList& arguments) {
        return tlDesktop().run(QStringList{"setxkbmap"} + arguments);
    }
    // Requests of two clients reach the server in no fixed order: a release just sent by the
    // service may still be on its way.
    static bool grabSoon(TLXTestUser& client, xcb_keycode_t key, std::uint16_t modifiers) {
        return tlWaitFor([&] { return client.grab(key, modifiers); }, 5000);
    }
    // Moves Num Lock from Mod2 to Mod3 in the server's modifier map.
    static bool moveNumLockToMod3() {
        return tlDesktop().run({"xmodmap", "-e", "remove mod2 = Num_Lock", "-e", "add mod3 = Num_Lock"}) == 0;
    }
    QString label(std::int64_t keyCode, std::uint32_t modifiers = 0) const {
        return TLShortcut::shortcutWithKeyCode(keyCode, modifiers).displayString(keyboard);
    }

    static inline std::unique_ptr<TLX11Connection> connection;
    const int usLayout = setxkbmap({"us"}); // before the backends read it; also puts the modifier map back
    TLX11KeyboardLayout keyboard{*connection};
    TLX11HotKeyService service{*connection};
    QTemporaryDir dir;
    TLLog log{nullptr};
    TLUserDefaults defaults{dir.filePath("Tilora.plist"), log};
    TLXTestUser user{tlDesktop().displayName()}, other{tlDesktop().displayName()};
    std::vector<std::uint32_t> ids;
};

TEST_F(X11HotKeys, DefaultsRegisterAndAPressOfThePhysicalKeyReachesTheHandlerOnTheMainThread) {
    TLHotkeyManager manager(defaults, service, keyboard);
    std::vector<std::string> pressed;
    manager.setHandler([&](const TLLayout& layout) {
        EXPECT_EQ(QThread::currentThread(), qApp->thread());
        pressed.push_back(layout.identifier());
    });
    EXPECT_EQ(manager.registerAll(), QStringList{});
    user.chord({ControlL, AltL, Digit1});
    EXPECT_TRUE(tlWaitFor([&] { return !pressed.empty(); }));
    // The physical key whatever the layout: ⌃⌥ and the key labelled Y on a German keyboard.
    ASSERT_EQ(setxkbmap({"de"}), 0);
    user.chord({ControlL, AltL, LetterZ});
    EXPECT_TRUE(tlWaitFor([&] { return pressed.size() >= 2; }));
    EXPECT_EQ(pressed, (std::vector<std::string>{"third.left", "ninth.l.bot"}));
}

TEST_F(X11HotKeys, ARefusalIsReportedByNameAndReleasesTheLockVariantsAlreadyTaken) {
    TLHotkeyManager manager(defaults, service, keyboard);
    ASSERT_TRUE(other.grab(Digit1, kCtrlAlt | XCB_MOD_MASK_LOCK)); // only the Caps Lock variant
    EXPECT_EQ(manager.registerAll(), QStringList{"Linkes Drittel (⌃⌥1)"});
    for (const std::uint16_t mask :
         {kCtrlAlt, std::uint16_t(kCtrlAlt | XCB_MOD_MASK_2), std::uint16_t(kCtrlAlt | XCB_MOD_MASK_LOCK)}) {
        EXPECT_TRUE(grabSoon(other, Digit1, mask)) << "given back: " << mask; // the last one was held already
        other.ungrab(Digit1, mask);
    }
    EXPECT_EQ(manager.registerAll(), QStringList{});
    EXPECT_FALSE(other.grab(Digit1, kCtrlAlt)) << "now ours";
    manager.unregisterAll();
    EXPECT_TRUE(grabSoon(other, Digit1, kCtrlAlt));
}

TEST_F(X11HotKeys, ABatchRefusesDuplicatesAndKeysWithoutAPhysicalKey) {
    // The second asks for the first one's combination again; 55 is Command itself, 70000 no key.
    const auto results = service.registerHotKeys(
        {request(18, 0), request(18, 1), request(55, 2), request(70000, 3), request(19, 4)});
    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ((std::vector<bool>{bool(results[0]), bool(results[1]), bool(results[2]), bool(results[3]),
                                 bool(results[4])}),
              (std::vector<bool>{true, false, false, false, true}));
    EXPECT_FALSE(service.registerHotKeys({request(18, 0)})[0]) << "held already, also in a later batch";
    user.chord({ControlL, AltL, Digit1});
    EXPECT_TRUE(tlWaitFor([&] { return !ids.empty(); }));
    EXPECT_EQ(ids, std::vector<std::uint32_t>{0});
    service.unregisterHotKey(*results[0]);
    service.unregisterHotKey(*results[0]); // unknown by now: ignored
    EXPECT_TRUE(grabSoon(other, Digit1, kCtrlAlt));
    EXPECT_FALSE(other.grab(Digit2, kCtrlAlt)) << "⌃⌥2 is still registered";
}

TEST_F(X11HotKeys, PressesCountWithLocksOnAndAfterTheModifierMapChanges) {
    ASSERT_TRUE(service.registerHotKeys({request(18, 7)})[0]);
    user.chord({CapsLock});
    user.chord({ControlL, AltL, Digit1});
    EXPECT_TRUE(tlWaitFor([&] { return ids.size() == 1; }));
    user.chord({CapsLock});
    // Num Lock moves from Mod2 to Mod3: the service grabs the new variant by itself, in its own
    // time; press until a press gets through.
    ASSERT_TRUE(moveNumLockToMod3());
    user.chord({NumLock});
    EXPECT_TRUE(tlWaitFor([&] {
        user.chord({ControlL, AltL, Digit1});
        return tlWaitFor([&] { return ids.size() >= 2; }, 100);
    }));
    user.chord({NumLock});
}

TEST_F(X11HotKeys, AMappingChangeThatCostsAGrabReportsItAndNeverLeavesOneUnheld) {
    TLHotkeyManager manager(defaults, service, keyboard);
    ASSERT_EQ(manager.registerAll(), QStringList{});
    QSignalSpy lost(&manager, &TLHotkeyManager::hotkeysLost);
    // A new keymap with the same lock keys, and the first key event of another input device,
    // both announce a new keyboard: nothing changed, so no grab is given up even for a moment.
    ASSERT_EQ(setxkbmap({"de"}), 0);
    user.chord({ControlL, AltL, Digit2});
    EXPECT_FALSE(tlWaitFor([&] { return other.grab(Digit1, kCtrlAlt); }, 500));
    EXPECT_EQ(lost.count(), 0);
    // Another program holds ⌃⌥1 with Mod3, where Num Lock is about to move: that hot key is lost
    // whole and reported by name; every other one keeps its new variant.
    ASSERT_TRUE(other.grab(Digit1, kCtrlAlt | XCB_MOD_MASK_3));
    ASSERT_TRUE(moveNumLockToMod3());
    ASSERT_TRUE(tlWaitFor([&] { return lost.count() == 1; }));
    EXPECT_EQ(lost[0][0].toStringList(), QStringList{"Linkes Drittel (⌃⌥1)"});
    EXPECT_TRUE(grabSoon(other, Digit1, kCtrlAlt));
    EXPECT_FALSE(other.grab(Digit2, kCtrlAlt | XCB_MOD_MASK_3));
}

TEST_F(X11HotKeys, KeyLabelsFollowTheServersLayoutAndGroupFromMemory) {
    EXPECT_EQ(label(6, kCtrlOpt) + label(27) + label(105), "⌃⌥Z-#105"); // F13 has no text in the keymap
    ASSERT_EQ(setxkbmap({"de"}), 0);
    EXPECT_TRUE(tlWaitFor([&] { return label(6, kCtrlOpt) == "⌃⌥Y"; }, 2000));
    // A dead key shows its own character.
    EXPECT_EQ(label(16) + label(27) + label(50) + label(24) + label(33, TLShiftKey), "ZSS^´⇧Ü");
    EXPECT_EQ(keyboard.characterForKeyCode(27), "ß");
    // Two layouts, the second one locked: the label follows the group.
    ASSERT_EQ(setxkbmap({"-layout", "us,de"}), 0);
    EXPECT_TRUE(tlWaitFor([&] { return label(6) == "Z"; }, 2000));
    TLXcbReply<xcb_xkb_use_extension_reply_t> use(
        xcb_xkb_use_extension_reply(user.get(), xcb_xkb_use_extension(user.get(), 1, 0), nullptr));
    ASSERT_TRUE(use && use->supported);
    ASSERT_FALSE(TLXcbError(
        xcb_request_check(user.get(), xcb_xkb_latch_lock_state_checked(user.get(), XCB_XKB_ID_USE_CORE_KBD, 0,
                                                                       0, 1, XCB_XKB_GROUP_2, 0, 0, 0))));
    EXPECT_TRUE(tlWaitFor([&] { return label(6) == "Y"; }, 2000));
}

TEST_F(X11HotKeys, AHeldKeyFiresOnceAlsoAcrossAKeymapChange) {
    ASSERT_TRUE(service.registerHotKeys({request(18, 0), request(19, 1)})[0]);
    // The user holds ⌃⌥1 past the repeat delay (660 ms) while the keymap changes, then presses ⌃⌥2.
    for (xcb_keycode_t key : {ControlL, AltL, Digit1}) {
        user.press(key);
    }
    ASSERT_EQ(setxkbmap({"de"}), 0);
    tlWaitFor([] { return false; }, 1000);
    user.release(Digit1);
    user.chord({Digit2});
    user.release(AltL);
    user.release(ControlL);
    EXPECT_TRUE(tlWaitFor([&] { return !ids.empty() && ids.back() == 1; }));
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{0, 1}));
    user.chord({ControlL, AltL, Digit1}); // a new keystroke counts again
    EXPECT_TRUE(tlWaitFor([&] { return ids.size() == 3; }));
}

} // namespace
