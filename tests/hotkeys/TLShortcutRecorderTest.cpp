#include "TLShortcutRecorder.h"
#include "TLFakeHotKeyService.h"
#include "TLFakeKeyboardLayout.h"
#include "TLHotkeyManager.h"
#include "TLLayout.h"
#include "TLLog.h"
#include "TLModifiers.h"
#include "TLTest.h"
#include "TLUserDefaults.h"

#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace {

constexpr std::uint32_t kCtrlOpt = TLControlKey | TLOptionKey;
constexpr Qt::KeyboardModifiers kCtrlAlt = Qt::ControlModifier | Qt::AltModifier;

// Two recorders in a window over the real hot-key manager and a fake service.
class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(manager.registerAll().isEmpty());
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(before = new QPushButton("davor"));
        layout->addWidget(recorder = new TLShortcutRecorder(manager, keyboard));
        layout->addWidget(other = new TLShortcutRecorder(manager, keyboard));
        for (TLShortcutRecorder* r : {recorder, other}) {
            r->setBeep([this] { ++beeps; });
            r->setFixedSize(130, 24);
        }
        recorder->setShortcut(TLShortcut::shortcutWithKeyCode(18, kCtrlOpt));
        recorder->setOnChange([this](const TLShortcut& s) { changes.push_back(s); });
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    void startRecording(TLShortcutRecorder* r) {
        QTest::mouseClick(r, Qt::LeftButton);
        ASSERT_TRUE(r->recording() && manager.suspended() && service.registered.empty());
    }
    // Keys go where the platform sends them: to the widget with keyboard focus. A native key
    // code and state (X keycode and state) make it an event as the X11 platform delivers it.
    static void press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier, quint32 xKeycode = 0,
                      quint32 xState = 0) {
        for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent event(type, key, mods, xKeycode, 0, xState);
            QApplication::sendEvent(QApplication::focusWidget(), &event);
        }
    }
    bool hotKeysActive() const { return !manager.suspended() && service.registered.size() == 30; }

    QTemporaryDir dir;
    TLLog log{nullptr};
    TLFakeKeyboardLayout keyboard;
    TLFakeHotKeyService service;
    TLUserDefaults defaults{dir.filePath("Tilora.plist"), log};
    TLHotkeyManager manager{defaults, service, keyboard};
    QWidget window;
    QPushButton* before = nullptr;
    TLShortcutRecorder *recorder = nullptr, *other = nullptr;
    int beeps = 0;
    std::vector<TLShortcut> changes;
};

TEST_F(RecorderTest, DecidesOnTheKeyPress) {
    enum Outcome { Wait, Beep, Cancel, Commit }; // Wait: still recording, without a beep
    constexpr quint32 kLock = 0x2;               // Caps Lock in an X key event's state
    const struct {
        const char* name;
        int key;
        Qt::KeyboardModifiers mods;
        Outcome outcome;
        std::int64_t keyCode; // of the committed shortcut; -1: cleared
        std::uint32_t modifiers;
        quint32 xKeycode, xState;
    } rows[] = {
        {"modifier alone", Qt::Key_Shift, {}, Wait, 0, 0, 50, 0},
        {"letter alone", Qt::Key_A, {}, Beep, 0, 0, 0, 0},
        {"tab alone", Qt::Key_Tab, {}, Beep, 0, 0, 0, 0},
        {"letter with Caps Lock", Qt::Key_A, {}, Beep, 0, 0, 38, kLock},
        {"unknown key with a modifier", Qt::Key_unknown, Qt::ControlModifier, Beep, 0, 0, 255, 0x4},
        {"escape", Qt::Key_Escape, {}, Cancel, 0, 0, 0, 0},
        {"backspace", Qt::Key_Backspace, {}, Commit, -1, 0, 0, 0},
        {"forward delete", Qt::Key_Delete, {}, Commit, -1, 0, 0, 0},
        {"control backspace", Qt::Key_Backspace, Qt::ControlModifier, Commit, 51, TLControlKey, 0, 0},
        {"shift A", Qt::Key_A, Qt::ShiftModifier, Commit, 0, TLShiftKey, 0, 0},
        {"native F13", Qt::Key_F13, {}, Commit, 105, 0, 191, 0},
        {"command escape", Qt::Key_Escape, Qt::MetaModifier, Commit, 53, TLCmdKey, 0, 0},
        {"control tab", Qt::Key_Tab, Qt::ControlModifier, Commit, 48, TLControlKey, 0, 0},
        // German layout: the key labelled Y sits where US keyboards have Z (X keycode 52).
        {"native key code, not label", Qt::Key_Y, Qt::ControlModifier, Commit, 6, TLControlKey, 52, 0x4},
        {"Caps Lock does not count", Qt::Key_A, Qt::ShiftModifier, Commit, 0, TLShiftKey, 38, kLock | 0x1},
        // Alt under Shift gives Meta_L, and Qt adds Meta: the X state says Shift and Mod1.
        {"shift alt 1 as X11 sends it", Qt::Key_Exclam,
         Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier, Commit, 18, TLShiftKey | TLOptionKey, 10,
         0x9},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        beeps = 0;
        changes.clear();
        recorder->setShortcut(TLShortcut::shortcutWithKeyCode(18, kCtrlOpt));
        if (recorder->recording()) {
            press(Qt::Key_Escape);
        }
        startRecording(recorder);
        press(row.key, row.mods, row.xKeycode, row.xState);
        EXPECT_EQ(beeps, row.outcome == Beep);
        EXPECT_EQ(recorder->recording(), row.outcome <= Beep);
        EXPECT_TRUE(recorder->hasFocus()) << "a key must not move the focus";
        EXPECT_EQ(hotKeysActive(), row.outcome > Beep);
        ASSERT_EQ(changes.size(), row.outcome == Commit ? 1u : 0u);
        EXPECT_EQ(recorder->displayText(), row.outcome <= Beep     ? "Tasten drücken…"
                                           : row.outcome == Cancel ? "⌃⌥1"
                                           : row.keyCode < 0       ? "nicht belegt"
                                                                   : changes[0].displayString(keyboard));
        if (row.outcome == Commit) {
            EXPECT_EQ(
                std::tuple(changes[0].keyCode(), changes[0].modifiers(), recorder->shortcut()->keyCode()),
                std::tuple(row.keyCode, row.modifiers, row.keyCode));
        }
    }
    // Held, as X11 sends Shift, then Alt (Meta_L under Shift, and Qt adds Meta): the physical key counts.
    startRecording(recorder);
    for (const auto& [key, mods, xKeycode, xState] :
         {std::tuple(int(Qt::Key_Shift), Qt::KeyboardModifiers(), 50, 0),
          std::tuple(int(Qt::Key_Meta), Qt::ShiftModifier | Qt::MetaModifier, 64, 1)}) {
        QKeyEvent event(QEvent::KeyPress, key, mods, xKeycode, 0, xState);
        QApplication::sendEvent(recorder, &event);
    }
    EXPECT_EQ(recorder->displayText(), "⌥⇧…");
}

TEST_F(RecorderTest, RecordingEndsUnchangedOnEveryWayOut) {
    startRecording(recorder);
    QTest::mouseClick(recorder, Qt::LeftButton); // a second click
    EXPECT_TRUE(hotKeysActive());
    startRecording(recorder);
    QTest::mouseClick(other, Qt::LeftButton); // moves the recording
    EXPECT_TRUE(!recorder->recording() && other->recording() && manager.suspended());
    press(Qt::Key_Escape);
    EXPECT_TRUE(hotKeysActive());

    startRecording(recorder);
    QWidget front;
    front.show();
    front.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&front));
    EXPECT_FALSE(recorder->recording());
    EXPECT_TRUE(hotKeysActive());
    // Without keyboard focus the keys would go elsewhere while the hot keys stay suspended.
    QTest::mouseClick(recorder, Qt::LeftButton);
    EXPECT_FALSE(recorder->recording() || manager.suspended());

    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    startRecording(other);
    delete other;
    EXPECT_TRUE(hotKeysActive());
    startRecording(recorder);
    window.close();
    EXPECT_FALSE(recorder->recording());
    EXPECT_TRUE(hotKeysActive());
    EXPECT_TRUE(changes.empty());
}

TEST_F(RecorderTest, TabFocusesWithoutRecordingAndRecordingSilencesTheWindowsShortcuts) {
    before->setFocus();
    press(Qt::Key_Tab);
    EXPECT_TRUE(recorder->hasFocus());
    EXPECT_FALSE(recorder->recording() || manager.suspended());
    int fired = 0;
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_1), &window);
    QObject::connect(shortcut, &QShortcut::activated, [&fired] { ++fired; });
    QTest::keyClick(recorder, Qt::Key_1, kCtrlAlt);
    ASSERT_EQ(fired, 1) << "the window shortcut works while the recorder is idle";
    startRecording(recorder);
    QTest::keyClick(recorder, Qt::Key_1, kCtrlAlt);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(changes.size(), 1u);
}

TEST_F(RecorderTest, CallbackMayReplaceItselfWhileRunning) {
    // The settings window reconfigures every recorder from inside the callback.
    auto seen = std::make_shared<std::vector<std::int64_t>>();
    recorder->setOnChange([this, seen, padding = std::string(200, 'x')](const TLShortcut& s) {
        recorder->setOnChange([](const TLShortcut&) {});
        seen->push_back(s.keyCode() + std::int64_t(padding.size()));
    });
    startRecording(recorder);
    press(Qt::Key_F5);
    EXPECT_EQ(*seen, std::vector<std::int64_t>{96 + 200});
}

} // namespace
