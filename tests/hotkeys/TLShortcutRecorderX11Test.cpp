// The recorder on a real X server: a private Xvfb desktop with openbox, Qt on its xcb platform,
// the X11 hot-key backend holding real key grabs, and a user's keys and clicks through XTest.
#include "TLHotkeyManager.h"
#include "TLLayout.h"
#include "TLShortcutRecorder.h"
#include "TLTestDesktop.h"
#include "TLUserDefaults.h"
#include "TLX11HotKeyService.h"
#include "TLX11KeyboardLayout.h"
#include "TLXcb.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>
#include <xcb/xtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kCtrlOpt = 0x1800;
// X keycodes (evdev + 8).
constexpr xcb_keycode_t kEscape = 9;
constexpr xcb_keycode_t kDigit1 = 10;
constexpr xcb_keycode_t kTab = 23;
constexpr xcb_keycode_t kControlL = 37;
constexpr xcb_keycode_t kLetterA = 38;
constexpr xcb_keycode_t kAltL = 64;
constexpr xcb_keycode_t kCapsLock = 66;
constexpr xcb_keycode_t kSuperL = 133;

TLTestDesktop* gDesktop = nullptr;

// The desktop has to exist before Qt connects to it, so both live for the whole binary.
class X11Environment : public ::testing::Environment {
public:
    void SetUp() override {
        desktop_ = std::make_unique<TLTestDesktop>();
        std::string error;
        // With its panel: openbox is only sure to manage new windows once the panel is placed.
        ASSERT_TRUE(desktop_->start(&error)) << error;
        desktop_->setDisplayEnvironment();
        qputenv("QT_QPA_PLATFORM", "xcb");
        app_ = std::make_unique<QApplication>(argc_, argv_);
        gDesktop = desktop_.get();
    }
    void TearDown() override {
        gDesktop = nullptr;
        app_.reset();
        desktop_.reset();
    }

private:
    int argc_ = 1;
    char name_[8] = "tilora";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<TLTestDesktop> desktop_;
    std::unique_ptr<QApplication> app_;
};

::testing::Environment* const kEnvironment = ::testing::AddGlobalTestEnvironment(new X11Environment);

// The user at the keyboard and the mouse, on a connection of their own.
class User {
public:
    explicit User(const std::string& display) : c_(xcb_connect(display.c_str(), nullptr)) {}

    void press(xcb_keycode_t key) { fake(XCB_KEY_PRESS, key); }
    void release(xcb_keycode_t key) { fake(XCB_KEY_RELEASE, key); }
    // Presses the keys in order and releases them in reverse.
    void chord(const std::vector<xcb_keycode_t>& keys) {
        for (xcb_keycode_t key : keys) {
            press(key);
        }
        for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
            release(*it);
        }
    }
    void click(const QPoint& global) {
        xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c_.get())).data->root;
        xcb_test_fake_input(c_.get(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root,
                            static_cast<int16_t>(global.x()), static_cast<int16_t>(global.y()), 0);
        fake(XCB_BUTTON_PRESS, 1);
        fake(XCB_BUTTON_RELEASE, 1);
    }

private:
    void fake(uint8_t type, uint8_t detail) {
        xcb_test_fake_input(c_.get(), type, detail, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        // A round trip: the server has the input before the test looks for its effect.
        TLXcbReply<xcb_get_input_focus_reply_t> reply(
            xcb_get_input_focus_reply(c_.get(), xcb_get_input_focus(c_.get()), nullptr));
    }

    TLXcbConnection c_;
};

class RecorderX11Test : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(gDesktop, nullptr);
        ASSERT_TRUE(dir.isValid());
        keyboard = std::make_unique<TLX11KeyboardLayout>(gDesktop->displayName().c_str());
        ASSERT_TRUE(keyboard->isReady());
        TLKeyboardLayout::install(keyboard.get());
        service = std::make_unique<TLX11HotKeyService>(gDesktop->displayName().c_str());
        ASSERT_TRUE(service->isConnected());
        defaults = std::make_unique<TLUserDefaults>(dir.filePath(QStringLiteral("Tilora.plist")));
        manager = std::make_unique<TLHotkeyManager>(*defaults, *service);
        manager->setHandler([this](const TLLayout& layout) { pressed.push_back(layout.identifier()); });
        ASSERT_TRUE(manager->registerAll().isEmpty());
        user = std::make_unique<User>(gDesktop->displayName());

        window = std::make_unique<QWidget>();
        window->setWindowTitle(QStringLiteral("Recorder"));
        auto* layout = new QVBoxLayout(window.get());
        recorder = new TLShortcutRecorder;
        recorder->setFixedSize(130, 24);
        recorder->setHotkeyManager(manager.get());
        recorder->setBeep([this] { ++beeps; });
        recorder->setShortcut(manager->shortcutForLayout(*TLLayout::layoutWithIdentifier("third.left")));
        recorder->setOnChange([this](const TLShortcut& s) { changes.push_back(s); });
        layout->addWidget(recorder);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get(), 10000));
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    void TearDown() override {
        window.reset();
        manager.reset();
        TLKeyboardLayout::install(nullptr);
    }

    void clickRecorder() {
        const bool before = recorder->recording();
        user->click(recorder->mapToGlobal(recorder->rect().center()));
        QTRY_VERIFY_WITH_TIMEOUT(recorder->recording() != before, 5000);
    }

    QTemporaryDir dir;
    std::unique_ptr<TLX11KeyboardLayout> keyboard;
    std::unique_ptr<TLX11HotKeyService> service;
    std::unique_ptr<TLUserDefaults> defaults;
    std::unique_ptr<TLHotkeyManager> manager;
    std::unique_ptr<User> user;
    std::unique_ptr<QWidget> window;
    TLShortcutRecorder* recorder = nullptr;
    std::vector<std::string> pressed;
    std::vector<TLShortcut> changes;
    int beeps = 0;
};

TEST_F(RecorderX11Test, RecordsACombinationThatIsAHotKeyElsewhere) {
    // The grab works: ⌃⌥1 goes to the manager while nothing records.
    user->chord({kControlL, kAltL, kDigit1});
    QTRY_COMPARE_WITH_TIMEOUT(pressed.size(), std::size_t{1}, 5000);
    EXPECT_EQ(pressed[0], "third.left");

    clickRecorder();
    user->press(kControlL);
    user->press(kAltL);
    QTRY_COMPARE_WITH_TIMEOUT(recorder->displayText(), QStringLiteral("⌃⌥…"), 5000);
    user->press(kDigit1);
    QTRY_COMPARE_WITH_TIMEOUT(changes.size(), std::size_t{1}, 5000);
    user->release(kDigit1);
    user->release(kAltL);
    user->release(kControlL);
    EXPECT_EQ(changes[0].keyCode(), 18);
    EXPECT_EQ(changes[0].modifiers(), kCtrlOpt);
    EXPECT_EQ(pressed.size(), 1u) << "the grab must be released while recording";

    // Grabbed again afterwards.
    user->chord({kControlL, kAltL, kDigit1});
    QTRY_COMPARE_WITH_TIMEOUT(pressed.size(), std::size_t{2}, 5000);
    EXPECT_EQ(changes.size(), 1u);
}

TEST_F(RecorderX11Test, CapsLockTabAndSuperFromTheRealKeyboard) {
    clickRecorder();

    user->chord({kCapsLock}); // Caps Lock on
    user->chord({kLetterA});
    QTRY_COMPARE_WITH_TIMEOUT(beeps, 1, 5000);
    user->chord({kCapsLock}); // and off again
    EXPECT_TRUE(recorder->recording());

    user->chord({kTab});
    QTRY_COMPARE_WITH_TIMEOUT(beeps, 2, 5000);
    EXPECT_TRUE(recorder->recording());
    EXPECT_TRUE(recorder->hasFocus());

    user->chord({kSuperL, kLetterA});
    QTRY_COMPARE_WITH_TIMEOUT(changes.size(), std::size_t{1}, 5000);
    EXPECT_EQ(changes[0].keyCode(), 0);
    EXPECT_EQ(changes[0].modifiers(), 0x100u);
    EXPECT_EQ(recorder->displayText(), QStringLiteral("⌘A"));
    EXPECT_EQ(beeps, 2);
}

TEST_F(RecorderX11Test, EscapeAndSecondClickCancel) {
    clickRecorder();
    user->chord({kEscape});
    QTRY_VERIFY_WITH_TIMEOUT(!recorder->recording(), 5000);
    clickRecorder();
    clickRecorder();
    EXPECT_FALSE(recorder->recording());
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(recorder->displayText(), QStringLiteral("⌃⌥1"));
    EXPECT_FALSE(manager->suspended());
}

} // namespace
