#include "TLShortcutRecorder.h"

#include "TLEventFlags.h"
#include "TLHotkeyManager.h"
#include "TLKeyCodes.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <array>
#include <utility>

namespace {

constexpr std::uint64_t kDeviceIndependentFlagsMask = 0xFFFF0000;

constexpr std::int64_t kEscape = 53;
constexpr std::int64_t kDelete = 51;
constexpr std::int64_t kForwardDelete = 117;

// F1 to F20: the only keys that may stand alone as a shortcut.
constexpr std::array<std::int64_t, 20> kFunctionKeys{122, 120, 99,  118, 96,  97,  98, 100, 101, 109,
                                                     103, 111, 105, 107, 113, 106, 64, 79,  80,  90};

bool isFunctionKey(std::int64_t code) {
    return std::find(kFunctionKeys.begin(), kFunctionKeys.end(), code) != kFunctionKeys.end();
}

struct QtKeyCode {
    int qtKey;
    std::int64_t virtualKeyCode;
};

// Where the keys sit on a US keyboard. Only used when an event carries no native key code.
constexpr QtKeyCode kQtKeys[] = {
    {Qt::Key_A, 0},          {Qt::Key_S, 1},          {Qt::Key_D, 2},
    {Qt::Key_F, 3},          {Qt::Key_H, 4},          {Qt::Key_G, 5},
    {Qt::Key_Z, 6},          {Qt::Key_X, 7},          {Qt::Key_C, 8},
    {Qt::Key_V, 9},          {Qt::Key_B, 11},         {Qt::Key_Q, 12},
    {Qt::Key_W, 13},         {Qt::Key_E, 14},         {Qt::Key_R, 15},
    {Qt::Key_Y, 16},         {Qt::Key_T, 17},         {Qt::Key_1, 18},
    {Qt::Key_2, 19},         {Qt::Key_3, 20},         {Qt::Key_4, 21},
    {Qt::Key_6, 22},         {Qt::Key_5, 23},         {Qt::Key_Equal, 24},
    {Qt::Key_9, 25},         {Qt::Key_7, 26},         {Qt::Key_Minus, 27},
    {Qt::Key_8, 28},         {Qt::Key_0, 29},         {Qt::Key_BracketRight, 30},
    {Qt::Key_O, 31},         {Qt::Key_U, 32},         {Qt::Key_BracketLeft, 33},
    {Qt::Key_I, 34},         {Qt::Key_P, 35},         {Qt::Key_Return, 36},
    {Qt::Key_L, 37},         {Qt::Key_J, 38},         {Qt::Key_Apostrophe, 39},
    {Qt::Key_K, 40},         {Qt::Key_Semicolon, 41}, {Qt::Key_Backslash, 42},
    {Qt::Key_Comma, 43},     {Qt::Key_Slash, 44},     {Qt::Key_N, 45},
    {Qt::Key_M, 46},         {Qt::Key_Period, 47},    {Qt::Key_Tab, 48},
    {Qt::Key_Backtab, 48},   {Qt::Key_Space, 49},     {Qt::Key_QuoteLeft, 50},
    {Qt::Key_Backspace, 51}, {Qt::Key_Escape, 53},    {Qt::Key_F17, 64},
    {Qt::Key_Enter, 76},     {Qt::Key_F18, 79},       {Qt::Key_F19, 80},
    {Qt::Key_F20, 90},       {Qt::Key_F5, 96},        {Qt::Key_F6, 97},
    {Qt::Key_F7, 98},        {Qt::Key_F3, 99},        {Qt::Key_F8, 100},
    {Qt::Key_F9, 101},       {Qt::Key_F11, 103},      {Qt::Key_F13, 105},
    {Qt::Key_F16, 106},      {Qt::Key_F14, 107},      {Qt::Key_F10, 109},
    {Qt::Key_F12, 111},      {Qt::Key_F15, 113},      {Qt::Key_Insert, 114},
    {Qt::Key_Home, 115},     {Qt::Key_PageUp, 116},   {Qt::Key_Delete, 117},
    {Qt::Key_F4, 118},       {Qt::Key_End, 119},      {Qt::Key_F2, 120},
    {Qt::Key_PageDown, 121}, {Qt::Key_F1, 122},       {Qt::Key_Left, 123},
    {Qt::Key_Right, 124},    {Qt::Key_Down, 125},     {Qt::Key_Up, 126},
    {Qt::Key_Help, 114},
};

// The numeric keypad reports digits and operators with Qt::KeypadModifier.
constexpr QtKeyCode kQtKeypadKeys[] = {
    {Qt::Key_Period, 65}, {Qt::Key_Asterisk, 67}, {Qt::Key_Plus, 69}, {Qt::Key_Slash, 75},
    {Qt::Key_Minus, 78},  {Qt::Key_Equal, 81},    {Qt::Key_0, 82},    {Qt::Key_1, 83},
    {Qt::Key_2, 84},      {Qt::Key_3, 85},        {Qt::Key_4, 86},    {Qt::Key_5, 87},
    {Qt::Key_6, 88},      {Qt::Key_7, 89},        {Qt::Key_8, 91},    {Qt::Key_9, 92},
};

template <std::size_t N>
std::optional<std::int64_t> lookUp(const QtKeyCode (&table)[N], int qtKey) {
    for (const QtKeyCode& entry : table) {
        if (entry.qtKey == qtKey) {
            return entry.virtualKeyCode;
        }
    }
    return std::nullopt;
}

// Keys that only change the modifier state. They never become the key of a shortcut; the
// value is the flag the key contributes (0 for locks and level shifts, which play no part).
std::optional<std::uint64_t> modifierKeyFlag(int qtKey) {
    switch (qtKey) {
    case Qt::Key_Shift:
        return TLEventFlags::Shift;
    case Qt::Key_Control:
        return TLEventFlags::Control;
    case Qt::Key_Alt:
        return TLEventFlags::Option;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
        return TLEventFlags::Command;
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_Mode_switch:
        return 0;
    default:
        return std::nullopt;
    }
}

std::uint64_t deviceIndependentFlags(const QKeyEvent& event) {
    return TLEventFlags::fromQt(event.modifiers()) & kDeviceIndependentFlagsMask;
}

// Colours by the palette role that plays the part of the named system colour.
QColor accentColor(const QPalette& palette) {
    return palette.color(QPalette::Highlight);
}
QColor separatorColor(const QPalette& palette) {
    return palette.color(QPalette::Mid);
}
QColor controlBackgroundColor(const QPalette& palette) {
    return palette.color(QPalette::Base);
}
QColor labelColor(const QPalette& palette) {
    return palette.color(QPalette::Text);
}
QColor tertiaryLabelColor(const QPalette& palette) {
    QColor color = palette.color(QPalette::Text);
    color.setAlphaF(0.35f);
    return color;
}

} // namespace

TLShortcutRecorder::TLShortcutRecorder(QWidget* parent) : QWidget(parent) {
    // Reachable by click and by Tab; tabbing in only focuses, it does not record.
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
}

TLShortcutRecorder::~TLShortcutRecorder() {
    // A recorder that goes away mid-recording must not leave the hot keys suspended.
    if (recording_) {
        stopRecording();
    }
}

void TLShortcutRecorder::setShortcut(std::optional<TLShortcut> shortcut) {
    shortcut_ = std::move(shortcut);
    update();
}

void TLShortcutRecorder::setOnChange(ChangeHandler handler) {
    onChange_ = std::move(handler);
}

void TLShortcutRecorder::setHotkeyManager(TLHotkeyManager* manager) {
    manager_ = manager;
}

void TLShortcutRecorder::setBeep(std::function<void()> beep) {
    beep_ = std::move(beep);
}

TLHotkeyManager& TLShortcutRecorder::manager() const {
    return manager_ != nullptr ? *manager_ : TLHotkeyManager::shared();
}

void TLShortcutRecorder::startRecording() {
    recording_ = true;
    liveFlags_ = 0;
    manager().setSuspended(true);
    update();
}

void TLShortcutRecorder::stopRecording() {
    recording_ = false;
    liveFlags_ = 0;
    manager().setSuspended(false);
    update();
}

void TLShortcutRecorder::commit(const TLShortcut& shortcut) {
    stopRecording();
    setShortcut(shortcut);
    // The callback may reconfigure this recorder (the settings window reloads its table from
    // inside it), replacing onChange_ while it runs: call a copy.
    if (ChangeHandler handler = onChange_) {
        handler(shortcut);
    }
}

std::optional<std::int64_t> TLShortcutRecorder::virtualKeyCodeForEvent(const QKeyEvent& event) {
    if (event.nativeScanCode() != 0) {
        return TLKeyCodes::virtualKeyCodeFromXKeycode(static_cast<int>(event.nativeScanCode()));
    }
    if (event.modifiers().testFlag(Qt::KeypadModifier)) {
        if (auto code = lookUp(kQtKeypadKeys, event.key())) {
            return code;
        }
    }
    return lookUp(kQtKeys, event.key());
}

bool TLShortcutRecorder::event(QEvent* event) {
    if (recording_) {
        switch (event->type()) {
        case QEvent::ShortcutOverride:
            // Claim every combination, so that neither window shortcuts nor buttons see it.
            event->accept();
            return true;
        case QEvent::KeyPress:
            // Directly, before QWidget::event() would turn Tab into focus navigation.
            keyPressEvent(static_cast<QKeyEvent*>(event));
            return true;
        case QEvent::KeyRelease:
            keyReleaseEvent(static_cast<QKeyEvent*>(event));
            return true;
        default:
            break;
        }
    }
    if (event->type() == QEvent::ParentAboutToChange && recording_) {
        stopRecording();
    }
    return QWidget::event(event);
}

void TLShortcutRecorder::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    if (recording_) {
        stopRecording();
        return;
    }
    // Record only with keyboard focus: in a window that is not active, the keys would go
    // elsewhere while the hot keys stay suspended.
    setFocus(Qt::MouseFocusReason);
    if (hasFocus()) {
        startRecording();
    }
}

void TLShortcutRecorder::flagsChanged(const QKeyEvent& event) {
    // Depending on the platform, a modifier key's own event may or may not already include its
    // flag; set or clear it explicitly.
    std::uint64_t flags = deviceIndependentFlags(event);
    const std::uint64_t own = modifierKeyFlag(event.key()).value_or(0);
    if (event.type() == QEvent::KeyPress) {
        flags |= own;
    } else {
        flags &= ~own;
    }
    liveFlags_ = flags;
    update();
}

void TLShortcutRecorder::keyPressEvent(QKeyEvent* event) {
    if (!recording_) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    if (modifierKeyFlag(event->key())) {
        flagsChanged(*event);
        return;
    }
    const std::optional<std::int64_t> code = virtualKeyCodeForEvent(*event);
    const std::uint32_t mods = TLShortcut::carbonModifiersFromEventFlags(deviceIndependentFlags(*event));
    if (code == kEscape && mods == 0) {
        stopRecording();
    } else if ((code == kDelete || code == kForwardDelete) && mods == 0) {
        commit(TLShortcut::unbound());
    } else if (code && mods != 0) {
        commit(TLShortcut::shortcutWithKeyCode(*code, mods));
    } else if (code && isFunctionKey(*code)) {
        commit(TLShortcut::shortcutWithKeyCode(*code, 0));
    } else if (beep_) {
        beep_();
    } else {
        QApplication::beep();
    }
}

void TLShortcutRecorder::keyReleaseEvent(QKeyEvent* event) {
    if (!recording_) {
        QWidget::keyReleaseEvent(event);
        return;
    }
    event->accept();
    if (modifierKeyFlag(event->key())) {
        flagsChanged(*event);
    }
}

void TLShortcutRecorder::focusOutEvent(QFocusEvent* event) {
    if (recording_) {
        stopRecording();
    }
    QWidget::focusOutEvent(event);
}

void TLShortcutRecorder::hideEvent(QHideEvent* event) {
    if (recording_) {
        stopRecording();
    }
    QWidget::hideEvent(event);
}

QString TLShortcutRecorder::displayText() const {
    if (recording_) {
        const QString glyphs =
            TLShortcut::modifierGlyphs(TLShortcut::carbonModifiersFromEventFlags(liveFlags_));
        return glyphs.isEmpty() ? QStringLiteral("Tasten drücken…") : glyphs + QStringLiteral("…");
    }
    if (shortcut_ && shortcut_->isBound()) {
        return shortcut_->displayString();
    }
    return QStringLiteral("nicht belegt");
}

QColor TLShortcutRecorder::textColor() const {
    if (recording_) {
        return accentColor(palette());
    }
    if (shortcut_ && shortcut_->isBound()) {
        return labelColor(palette());
    }
    return tertiaryLabelColor(palette());
}

QSize TLShortcutRecorder::sizeHint() const {
    return {130, 24};
}

void TLShortcutRecorder::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath path;
    path.addRoundedRect(r, 5, 5);

    const QPalette& pal = palette();
    QColor stroke = separatorColor(pal);
    QColor fill = controlBackgroundColor(pal);
    if (recording_) {
        stroke = accentColor(pal);
        fill = stroke;
        fill.setAlphaF(0.12f);
    }
    painter.fillPath(path, fill);
    painter.strokePath(path, QPen(stroke, 1));

    painter.setFont(font());
    painter.setPen(textColor());
    painter.drawText(r, Qt::AlignCenter | Qt::TextSingleLine | Qt::TextDontClip, displayText());
}
