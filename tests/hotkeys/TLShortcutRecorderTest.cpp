#include "support/TLQtTestApplication.h"

#include "TLFakeHotKeyService.h"
#include "TLFakeKeyboardLayout.h"
#include "TLHotkeyManager.h"
#include "TLLayout.h"
#include "TLLog.h"
#include "TLModifiers.h"
#include "TLShortcutRecorder.h"
#include "TLUserDefaults.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QShortcut>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr quint32 kXLockMask = 0x2; // Caps Lock in an X key event's state
constexpr std::uint32_t kCtrlOpt = TLControlKey | TLOptionKey;
constexpr Qt::KeyboardModifiers kCtrlAlt = Qt::ControlModifier | Qt::AltModifier;

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        defaults = std::make_unique<TLUserDefaults>(dir.filePath(QStringLiteral("Tilora.plist")), log);
        manager = std::make_unique<TLHotkeyManager>(*defaults, service, keyboard);
        ASSERT_TRUE(manager->registerAll().isEmpty());
        boundCount = service.registered().size();
        ASSERT_GT(boundCount, 0u);

        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        layout->addWidget(before = new QPushButton(QStringLiteral("davor")));
        layout->addWidget(recorder = new TLShortcutRecorder(*manager, keyboard));
        layout->addWidget(other = new TLShortcutRecorder(*manager, keyboard));
        for (TLShortcutRecorder* r : {recorder, other}) {
            r->setBeep([this] { ++beeps; });
            r->setFixedSize(130, 24);
        }
        recorder->setShortcut(TLShortcut::shortcutWithKeyCode(18, kCtrlOpt));
        recorder->setOnChange([this](const TLShortcut& s) { changes.push_back(s); });
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    // Keys go where the platform would send them: to the widget with keyboard focus.
    static QWidget* focused() {
        QWidget* w = QApplication::focusWidget();
        EXPECT_NE(w, nullptr);
        return w;
    }

    static void press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(focused(), static_cast<Qt::Key>(key), mods);
    }

    // A key event as the X11 platform delivers it, with the X keycode and state.
    static void pressNative(int key, Qt::KeyboardModifiers mods, quint32 xKeycode, quint32 xState) {
        for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent event(type, key, mods, xKeycode, 0, xState);
            QApplication::sendEvent(focused(), &event);
        }
    }

    void startRecording(TLShortcutRecorder* r) {
        QTest::mouseClick(r, Qt::LeftButton);
        ASSERT_TRUE(r->recording());
        ASSERT_TRUE(manager->suspended());
        ASSERT_TRUE(service.registered().empty());
    }

    void TearDown() override { window.reset(); }

    bool hotKeysActive() const { return !manager->suspended() && service.registered().size() == boundCount; }

    QTemporaryDir dir;
    TLLog log{nullptr};
    TLFakeKeyboardLayout keyboard;
    std::unique_ptr<TLUserDefaults> defaults;
    TLFakeHotKeyService service;
    std::unique_ptr<TLHotkeyManager> manager;
    std::size_t boundCount = 0;
    std::unique_ptr<QWidget> window;
    QPushButton* before = nullptr;
    TLShortcutRecorder* recorder = nullptr;
    TLShortcutRecorder* other = nullptr;
    int beeps = 0;
    std::vector<TLShortcut> changes;
};

enum class Outcome { Beep, Cancel, Commit };

struct KeyRow {
    const char* name;
    int key;
    Qt::KeyboardModifiers mods;
    Outcome outcome;
    std::int64_t keyCode = -1; // of the committed shortcut; -1: cleared
    std::uint32_t modifiers = 0;
    quint32 xKeycode = 0; // 0: an event without a native key code
    quint32 xState = 0;
};

void PrintTo(const KeyRow& row, std::ostream* os) {
    *os << row.name;
}

class RecorderKeyRules : public RecorderTest, public ::testing::WithParamInterface<KeyRow> {};

TEST_P(RecorderKeyRules, DecidesOnTheKeyPress) {
    const KeyRow& row = GetParam();
    startRecording(recorder);

    if (row.xKeycode != 0) {
        pressNative(row.key, row.mods, row.xKeycode, row.xState);
    } else {
        press(row.key, row.mods);
    }

    EXPECT_EQ(beeps, row.outcome == Outcome::Beep ? 1 : 0);
    EXPECT_EQ(recorder->recording(), row.outcome == Outcome::Beep);
    EXPECT_TRUE(recorder->hasFocus()) << "a key must not move the focus";
    EXPECT_EQ(manager->suspended(), row.outcome == Outcome::Beep);
    if (row.outcome != Outcome::Beep) {
        EXPECT_TRUE(hotKeysActive());
    }
    if (row.outcome != Outcome::Commit) {
        EXPECT_TRUE(changes.empty());
        EXPECT_EQ(recorder->displayText(),
                  row.outcome == Outcome::Beep ? QStringLiteral("Tasten drücken…") : QStringLiteral("⌃⌥1"));
        return;
    }
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].keyCode(), row.keyCode);
    EXPECT_EQ(changes[0].modifiers(), row.modifiers);
    ASSERT_TRUE(recorder->shortcut().has_value());
    EXPECT_EQ(recorder->shortcut()->keyCode(), row.keyCode);
    EXPECT_EQ(recorder->displayText(),
              row.keyCode < 0 ? QStringLiteral("nicht belegt") : changes[0].displayString(keyboard));
}

const Qt::KeyboardModifiers kNone = Qt::NoModifier;

INSTANTIATE_TEST_SUITE_P(
    Keys, RecorderKeyRules,
    ::testing::Values(
        KeyRow{"LetterAlone", Qt::Key_A, kNone, Outcome::Beep},
        KeyRow{"TabAlone", Qt::Key_Tab, kNone, Outcome::Beep},
        KeyRow{"KeypadDigitAlone", Qt::Key_5, Qt::KeypadModifier, Outcome::Beep},
        KeyRow{"LetterWithCapsLock", Qt::Key_A, kNone, Outcome::Beep, -1, 0, 38, kXLockMask},
        KeyRow{"UnknownKeyWithModifier", Qt::Key_unknown, Qt::ControlModifier, Outcome::Beep, -1, 0, 255,
               0x4},
        KeyRow{"Escape", Qt::Key_Escape, kNone, Outcome::Cancel},
        KeyRow{"Backspace", Qt::Key_Backspace, kNone, Outcome::Commit, -1, 0},
        KeyRow{"ForwardDelete", Qt::Key_Delete, kNone, Outcome::Commit, -1, 0},
        KeyRow{"ShiftA", Qt::Key_A, Qt::ShiftModifier, Outcome::Commit, 0, TLShiftKey},
        KeyRow{"ControlOption1", Qt::Key_1, kCtrlAlt, Outcome::Commit, 18, kCtrlOpt},
        KeyRow{"AllFourModifiers", Qt::Key_Left, kCtrlAlt | Qt::ShiftModifier | Qt::MetaModifier,
               Outcome::Commit, 123, kCtrlOpt | TLShiftKey | TLCmdKey},
        KeyRow{"F5", Qt::Key_F5, kNone, Outcome::Commit, 96, 0},
        KeyRow{"F13", Qt::Key_F13, kNone, Outcome::Commit, 105, 0},
        KeyRow{"NativeF13", Qt::Key_F13, kNone, Outcome::Commit, 105, 0, 191, 0},
        KeyRow{"CommandEscape", Qt::Key_Escape, Qt::MetaModifier, Outcome::Commit, 53, TLCmdKey},
        KeyRow{"ShiftBackspace", Qt::Key_Backspace, Qt::ShiftModifier, Outcome::Commit, 51, TLShiftKey},
        KeyRow{"ControlTab", Qt::Key_Tab, Qt::ControlModifier, Outcome::Commit, 48, TLControlKey},
        KeyRow{"ControlKeypad5", Qt::Key_5, Qt::ControlModifier | Qt::KeypadModifier, Outcome::Commit, 87,
               TLControlKey},
        // German layout: the key labelled Y sits where US keyboards have Z (X keycode 52).
        KeyRow{"NativeKeycodeNotLabel", Qt::Key_Y, Qt::ControlModifier, Outcome::Commit, 6, TLControlKey, 52,
               0x4},
        KeyRow{"CapsLockDoesNotCount", Qt::Key_A, Qt::ShiftModifier, Outcome::Commit, 0, TLShiftKey, 38,
               kXLockMask | 0x1}),
    [](const ::testing::TestParamInfo<KeyRow>& info) { return std::string(info.param.name); });

TEST_F(RecorderTest, ShowsHeldModifiersLiveInFixedOrder) {
    constexpr auto Ctrl = Qt::ControlModifier;
    constexpr auto Alt = Qt::AltModifier;
    constexpr auto Shift = Qt::ShiftModifier;
    // X11 reports the state before the event: a modifier's own press comes without its flag, its
    // release with it. Toolkits that already include the key's own flag give the same result.
    const struct {
        QEvent::Type type;
        int key;
        Qt::KeyboardModifiers mods;
        const char* text;
    } steps[] = {
        {QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier, "⇧…"},
        {QEvent::KeyPress, Qt::Key_Control, Shift, "⌃⇧…"},
        {QEvent::KeyPress, Qt::Key_Alt, Shift | Ctrl, "⌃⌥⇧…"},
        {QEvent::KeyRelease, Qt::Key_Shift, Shift | Ctrl | Alt, "⌃⌥…"},
        {QEvent::KeyPress, Qt::Key_Super_L, Ctrl | Alt | Qt::MetaModifier, "⌃⌥⌘…"},
        {QEvent::KeyRelease, Qt::Key_Super_L, Ctrl | Alt, "⌃⌥…"},
        // Caps Lock is a modifier key that adds nothing, and it neither beeps nor commits.
        {QEvent::KeyPress, Qt::Key_CapsLock, Ctrl | Alt, "⌃⌥…"},
    };
    startRecording(recorder);
    for (const auto& step : steps) {
        QKeyEvent event(step.type, step.key, step.mods);
        QApplication::sendEvent(focused(), &event);
        EXPECT_EQ(recorder->displayText(), QString::fromUtf8(step.text)) << step.text;
    }
    EXPECT_EQ(beeps, 0);
    EXPECT_TRUE(changes.empty());

    press(Qt::Key_2, Ctrl | Alt);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].keyCode(), 19);
    EXPECT_EQ(recorder->liveFlags(), 0u);
    EXPECT_EQ(recorder->displayText(), QStringLiteral("⌃⌥2"));
}

TEST_F(RecorderTest, SecondClickCancelsAndAClickOnAnotherRecorderMovesTheRecording) {
    startRecording(recorder);
    QTest::mouseClick(recorder, Qt::LeftButton);
    EXPECT_FALSE(recorder->recording());
    EXPECT_TRUE(hotKeysActive());

    startRecording(recorder);
    QTest::mouseClick(other, Qt::LeftButton);
    EXPECT_FALSE(recorder->recording());
    EXPECT_TRUE(other->recording());
    EXPECT_TRUE(manager->suspended());
    EXPECT_TRUE(service.registered().empty());
    press(Qt::Key_Escape);
    EXPECT_TRUE(hotKeysActive());
    EXPECT_TRUE(changes.empty());
}

TEST_F(RecorderTest, TabFocusesWithoutRecording) {
    before->setFocus();
    press(Qt::Key_Tab);
    EXPECT_TRUE(recorder->hasFocus());
    EXPECT_FALSE(recorder->recording());
    EXPECT_FALSE(manager->suspended());
}

TEST_F(RecorderTest, DeactivatingTheWindowCancelsAndAClickThereDoesNotRecord) {
    startRecording(recorder);
    QWidget front;
    front.show();
    front.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&front));
    EXPECT_FALSE(recorder->recording());
    EXPECT_TRUE(hotKeysActive());

    // Without keyboard focus the keys would go elsewhere while the hot keys stay suspended.
    QTest::mouseClick(recorder, Qt::LeftButton);
    EXPECT_FALSE(recorder->recording());
    EXPECT_FALSE(manager->suspended());
    EXPECT_TRUE(changes.empty());
}

TEST_F(RecorderTest, WindowShortcutsAndHotKeysDoNotFireWhileRecording) {
    int fired = 0;
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_1), window.get());
    QObject::connect(shortcut, &QShortcut::activated, [&fired] { ++fired; });
    int handled = 0;
    manager->setHandler([&handled](const TLLayout&) { ++handled; });
    recorder->setFocus();
    press(Qt::Key_1, kCtrlAlt);
    ASSERT_EQ(fired, 1) << "the window shortcut works while the recorder is idle";
    ASSERT_TRUE(service.press(18, kCtrlOpt).has_value());
    ASSERT_TRUE(QTest::qWaitFor([&] { return handled == 1; }));

    startRecording(recorder);
    EXPECT_FALSE(service.press(18, kCtrlOpt).has_value());
    press(Qt::Key_1, kCtrlAlt);
    EXPECT_EQ(fired, 1);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].keyCode(), 18);

    ASSERT_TRUE(service.press(18, kCtrlOpt).has_value());
    ASSERT_TRUE(QTest::qWaitFor([&] { return handled == 2; }));
}

TEST_F(RecorderTest, ClosingTheWindowOrDestroyingTheRecorderEndsWithoutChange) {
    startRecording(other);
    delete other;
    other = nullptr;
    EXPECT_TRUE(hotKeysActive());

    startRecording(recorder);
    window->close();
    EXPECT_FALSE(recorder->recording());
    EXPECT_TRUE(changes.empty());
    EXPECT_TRUE(hotKeysActive());
}

TEST_F(RecorderTest, CallbackMayReplaceItselfWhileRunning) {
    // The settings window reconfigures every recorder from inside the callback.
    auto seen = std::make_shared<std::vector<std::int64_t>>();
    recorder->setOnChange([this, seen, padding = std::string(200, 'x')](const TLShortcut& s) {
        recorder->setOnChange([](const TLShortcut&) {});
        seen->push_back(s.keyCode() + static_cast<std::int64_t>(padding.size()));
    });
    startRecording(recorder);
    press(Qt::Key_F5);
    EXPECT_EQ(*seen, std::vector<std::int64_t>{96 + 200});
}

// Colour of the field inside the rounded rectangle, left of the centred text.
QColor fieldColour(TLShortcutRecorder* r) {
    const QImage image = r->grab().toImage();
    return image.pixelColor(4, image.height() / 2);
}

TEST_F(RecorderTest, ColoursFollowTheStateAndThePalette) {
    const QPalette& pal = recorder->palette();
    EXPECT_EQ(recorder->textColor(), pal.color(QPalette::Text));
    EXPECT_EQ(fieldColour(recorder).rgb(), pal.color(QPalette::Base).rgb());

    other->setShortcut(TLShortcut::unbound());
    EXPECT_EQ(other->displayText(), QStringLiteral("nicht belegt"));
    EXPECT_EQ(other->textColor().rgb(), pal.color(QPalette::Text).rgb());
    EXPECT_LT(other->textColor().alphaF(), 0.5f);

    startRecording(recorder);
    EXPECT_EQ(recorder->textColor(), pal.color(QPalette::Highlight));
    const QColor outside = recorder->grab().toImage().pixelColor(0, 0); // beyond the rounded corner
    const QColor accent = pal.color(QPalette::Highlight);
    const QColor field = fieldColour(recorder);
    for (int (QColor::*channel)() const : {&QColor::red, &QColor::green, &QColor::blue}) {
        EXPECT_NEAR((field.*channel)(), 0.12 * (accent.*channel)() + 0.88 * (outside.*channel)(), 3.0);
    }
}

} // namespace
