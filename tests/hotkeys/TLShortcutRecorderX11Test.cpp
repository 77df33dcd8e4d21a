// The recorder on the shared test desktop: Qt on its xcb platform, the X11 hot-key backend
// holding real key grabs, and a user's keys and clicks through XTest.
#include "TLHotkeyManager.h"
#include "TLLayout.h"
#include "TLLog.h"
#include "TLShortcutRecorder.h"
#include "TLTestDesktop.h"
#include "TLTestFiles.h"
#include "TLUserDefaults.h"
#include "TLX11Connection.h"
#include "TLX11HotKeyService.h"
#include "TLX11KeyboardLayout.h"
#include "TLXTestUser.h"

#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using namespace TLXKey;

TEST(RecorderOnX11, RecordsFromTheRealKeyboardWhileTheGrabsAreReleased) {
    ASSERT_EQ(tlDesktop().run({"setxkbmap", "us"}), 0);
    const auto connection = TLX11Connection::open();
    TLX11KeyboardLayout keyboard(*connection);
    TLX11HotKeyService service(*connection);
    QTemporaryDir dir;
    TLLog log{nullptr};
    TLUserDefaults defaults(dir.filePath("Tilora.plist"), log);
    TLHotkeyManager manager(defaults, service, keyboard);
    std::vector<std::string> pressed;
    manager.setHandler([&](const TLLayout& layout) { pressed.push_back(layout.identifier()); });
    ASSERT_TRUE(keyboard.isReady() && manager.registerAll().isEmpty());
    QWidget window;
    TLShortcutRecorder* recorder = new TLShortcutRecorder(manager, keyboard, &window);
    recorder->setFixedSize(130, 24);
    int beeps = 0;
    std::vector<TLShortcut> changes;
    recorder->setBeep([&] { ++beeps; });
    recorder->setShortcut(manager.shortcutForLayout(TLLayout::allLayouts().front()));
    recorder->setOnChange([&](const TLShortcut& s) { changes.push_back(s); });
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 10000));
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    TLXTestUser user(tlDesktop().displayName());
    const auto click = [&] {
        const bool before = recorder->recording();
        const QPoint centre = recorder->mapToGlobal(recorder->rect().center());
        user.click(centre.x(), centre.y());
        return tlWaitFor([&] { return recorder->recording() != before; }, 5000);
    };

    // The grab works while nothing records; while recording ⌃⌥1 goes to the recorder.
    user.chord({ControlL, AltL, Digit1});
    ASSERT_TRUE(tlWaitFor([&] { return pressed.size() == 1; }, 5000));
    ASSERT_TRUE(click());
    user.press(ControlL);
    user.press(AltL);
    ASSERT_TRUE(tlWaitFor([&] { return recorder->displayText() == "⌃⌥…"; }, 5000));
    user.press(Digit1);
    ASSERT_TRUE(tlWaitFor([&] { return changes.size() == 1; }, 5000));
    user.release(Digit1);
    user.release(AltL);
    user.release(ControlL);
    EXPECT_EQ(std::pair(changes[0].keyCode(), changes[0].modifiers()), std::pair(std::int64_t(18), 0x1800u));
    user.chord({ControlL, AltL, Digit1}); // grabbed again afterwards
    ASSERT_TRUE(tlWaitFor([&] { return pressed.size() == 2; }, 5000));

    // Caps Lock on, a letter beeps; Tab beeps and keeps the focus; Super+A records ⌘A; Escape cancels.
    ASSERT_TRUE(click());
    user.chord({CapsLock});
    user.chord({LetterA});
    ASSERT_TRUE(tlWaitFor([&] { return beeps == 1; }, 5000));
    user.chord({CapsLock});
    user.chord({Tab});
    ASSERT_TRUE(tlWaitFor([&] { return beeps == 2; }, 5000));
    EXPECT_TRUE(recorder->recording() && recorder->hasFocus());
    user.chord({SuperL, LetterA});
    ASSERT_TRUE(tlWaitFor([&] { return changes.size() == 2; }, 5000));
    EXPECT_EQ(recorder->displayText(), "⌘A");
    ASSERT_TRUE(click());
    user.chord({Escape});
    ASSERT_TRUE(tlWaitFor([&] { return !recorder->recording(); }, 5000));
    EXPECT_EQ(changes.size(), 2u);
    EXPECT_EQ(recorder->displayText(), "⌘A");
    EXPECT_FALSE(manager.suspended());
}

} // namespace
