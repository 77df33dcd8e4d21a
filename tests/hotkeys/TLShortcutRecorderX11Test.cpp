// The recorder on a real X server: a private Xvfb desktop with openbox, Qt on its xcb platform,
// the X11 hot-key backend holding real key grabs, and a user's keys and clicks through XTest.
#include "TLHotkeyManager.h"
#include "TLLayout.h"
#include "TLLog.h"
#include "TLShortcutRecorder.h"
#include "TLTestDesktop.h"
#include "TLUserDefaults.h"
#include "TLX11Connection.h"
#include "TLX11HotKeyService.h"
#include "TLX11KeyboardLayout.h"
#include "TLXTestUser.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kCtrlOpt = 0x1800;
using namespace TLXKey;

TLX11Connection* gConnection = nullptr;

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
        connection_ = TLX11Connection::open();
        ASSERT_TRUE(connection_);
        gConnection = connection_.get();
    }
    void TearDown() override {
        gConnection = nullptr;
        connection_.reset();
        app_.reset();
        desktop_.reset();
    }

private:
    int argc_ = 1;
    char name_[8] = "tilora";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<TLTestDesktop> desktop_;
    std::unique_ptr<QApplication> app_;
    std::unique_ptr<TLX11Connection> connection_;
};

::testing::Environment* const kEnvironment = ::testing::AddGlobalTestEnvironment(new X11Environment);

class RecorderX11Test : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(keyboard.isReady());
        manager.setHandler([this](const TLLayout& layout) { pressed.push_back(layout.identifier()); });
        ASSERT_TRUE(manager.registerAll().isEmpty());

        window = std::make_unique<QWidget>();
        recorder = new TLShortcutRecorder(manager, keyboard, window.get());
        recorder->setFixedSize(130, 24);
        recorder->setBeep([this] { ++beeps; });
        recorder->setShortcut(manager.shortcutForLayout(*TLLayout::layoutWithIdentifier("third.left")));
        recorder->setOnChange([this](const TLShortcut& s) { changes.push_back(s); });
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get(), 10000));
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    void TearDown() override { window.reset(); }

    void clickRecorder() {
        const bool before = recorder->recording();
        const QPoint centre = recorder->mapToGlobal(recorder->rect().center());
        user.click(centre.x(), centre.y());
        ASSERT_TRUE(QTest::qWaitFor([&] { return recorder->recording() != before; }, 5000));
    }

    QTemporaryDir dir;
    TLX11KeyboardLayout keyboard{*gConnection};
    TLX11HotKeyService service{*gConnection};
    TLLog log{nullptr};
    TLUserDefaults defaults{dir.filePath(QStringLiteral("Tilora.plist")), log};
    TLHotkeyManager manager{defaults, service, keyboard};
    TLXTestUser user{qEnvironmentVariable("DISPLAY").toStdString()};
    std::unique_ptr<QWidget> window;
    TLShortcutRecorder* recorder = nullptr;
    std::vector<std::string> pressed;
    std::vector<TLShortcut> changes;
    int beeps = 0;
};

TEST_F(RecorderX11Test, RecordsACombinationThatIsAHotKeyElsewhere) {
    // The grab works: ⌃⌥1 goes to the manager while nothing records.
    user.chord({ControlL, AltL, Digit1});
    ASSERT_TRUE(QTest::qWaitFor([&] { return pressed.size() == std::size_t{1}; }, 5000));
    EXPECT_EQ(pressed[0], "third.left");

    clickRecorder();
    user.press(ControlL);
    user.press(AltL);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder->displayText() == QStringLiteral("⌃⌥…"); }, 5000));
    user.press(Digit1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return changes.size() == std::size_t{1}; }, 5000));
    user.release(Digit1);
    user.release(AltL);
    user.release(ControlL);
    EXPECT_EQ(changes[0].keyCode(), 18);
    EXPECT_EQ(changes[0].modifiers(), kCtrlOpt);
    EXPECT_EQ(pressed.size(), 1u) << "the grab must be released while recording";

    // Grabbed again afterwards.
    user.chord({ControlL, AltL, Digit1});
    ASSERT_TRUE(QTest::qWaitFor([&] { return pressed.size() == std::size_t{2}; }, 5000));
    EXPECT_EQ(changes.size(), 1u);
}

TEST_F(RecorderX11Test, CapsLockTabSuperAndEscapeFromTheRealKeyboard) {
    clickRecorder();

    user.chord({CapsLock}); // Caps Lock on
    user.chord({LetterA});
    ASSERT_TRUE(QTest::qWaitFor([&] { return beeps == 1; }, 5000));
    user.chord({CapsLock}); // and off again
    EXPECT_TRUE(recorder->recording());

    user.chord({Tab});
    ASSERT_TRUE(QTest::qWaitFor([&] { return beeps == 2; }, 5000));
    EXPECT_TRUE(recorder->recording());
    EXPECT_TRUE(recorder->hasFocus());

    user.chord({SuperL, LetterA});
    ASSERT_TRUE(QTest::qWaitFor([&] { return changes.size() == std::size_t{1}; }, 5000));
    EXPECT_EQ(changes[0].keyCode(), 0);
    EXPECT_EQ(changes[0].modifiers(), 0x100u);
    EXPECT_EQ(recorder->displayText(), QStringLiteral("⌘A"));
    EXPECT_EQ(beeps, 2);

    clickRecorder();
    user.chord({Escape});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder->recording(); }, 5000));
    EXPECT_EQ(changes.size(), 1u);
    EXPECT_EQ(recorder->displayText(), QStringLiteral("⌘A"));
    EXPECT_FALSE(manager.suspended());
}

} // namespace
