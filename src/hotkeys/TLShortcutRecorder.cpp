#include "TLShortcutRecorder.h"

#include "TLEventFlags.h"
#include "TLHotkeyManager.h"
#include "TLKeyTable.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <utility>

namespace {

constexpr std::uint64_t kDeviceIndependentFlagsMask = 0xFFFF0000;

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

// The physical modifier keys by native key code (X keycode = evdev code + 8). A key's keysym
// can lie: Alt pressed under Shift gives Meta_L, which Qt takes for the Super key.
std::optional<std::uint64_t> physicalModifierFlag(quint32 nativeKeycode) {
    switch (nativeKeycode) {
    case 42 + 8: // left Shift
    case 54 + 8: // right Shift
        return TLEventFlags::Shift;
    case 29 + 8: // left Control
    case 97 + 8: // right Control
        return TLEventFlags::Control;
    case 56 + 8:  // left Alt
    case 100 + 8: // right Alt, unless the layout makes it AltGr (see modifierFlagOf)
        return TLEventFlags::Option;
    case 125 + 8: // left Super
    case 126 + 8: // right Super
        return TLEventFlags::Command;
    default:
        return std::nullopt;
    }
}

// The flag a modifier key's own event adds (press) or takes away (release); nothing for other keys.
std::optional<std::uint64_t> modifierFlagOf(const QKeyEvent& event) {
    const std::optional<std::uint64_t> byKeysym = modifierKeyFlag(event.key());
    if (!byKeysym || *byKeysym == 0) {
        return byKeysym;
    }
    return physicalModifierFlag(event.nativeScanCode()).value_or(*byKeysym);
}

// The held modifiers: from the native state where the event has one (the bits the hot keys are
// grabbed with: Shift, Control, Mod1 for Option, Mod4 for Command), else as Qt names them.
std::uint64_t deviceIndependentFlags(const QKeyEvent& event) {
    if (event.nativeScanCode() == 0 || event.nativeModifiers() == 0) {
        return TLEventFlags::fromQt(event.modifiers()) & kDeviceIndependentFlagsMask;
    }
    const quint32 state = event.nativeModifiers();
    return ((state & 0x1) ? TLEventFlags::Shift : 0) | ((state & 0x4) ? TLEventFlags::Control : 0) |
           ((state & 0x8) ? TLEventFlags::Option : 0) | ((state & 0x40) ? TLEventFlags::Command : 0);
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

TLShortcutRecorder::TLShortcutRecorder(TLHotkeyManager& manager, const TLKeyboardLayout& labels,
                                       QWidget* parent)
    : QWidget(parent), manager_(manager), labels_(labels) {
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
    shortcut_ = shortcut;
    update();
}

void TLShortcutRecorder::setOnChange(ChangeHandler handler) {
    onChange_ = std::move(handler);
}

void TLShortcutRecorder::setBeep(std::function<void()> beep) {
    beep_ = std::move(beep);
}

void TLShortcutRecorder::startRecording() {
    recording_ = true;
    liveFlags_ = 0;
    manager_.setSuspended(true);
    update();
}

void TLShortcutRecorder::stopRecording() {
    recording_ = false;
    liveFlags_ = 0;
    manager_.setSuspended(false);
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
        return TLKeyTable::virtualKeyCodeFromXKeycode(static_cast<int>(event.nativeScanCode()));
    }
    const TLKey* key = TLKeyTable::byQtKey(event.key(), event.modifiers().testFlag(Qt::KeypadModifier));
    return key ? std::optional<std::int64_t>(key->virtualKeyCode) : std::nullopt;
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
    const std::uint64_t own = modifierFlagOf(event).value_or(0);
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
    if (modifierFlagOf(*event)) {
        flagsChanged(*event);
        return;
    }
    const std::optional<std::int64_t> code = virtualKeyCodeForEvent(*event);
    const std::uint32_t mods = TLShortcut::carbonModifiersFromEventFlags(deviceIndependentFlags(*event));
    const TLKey* key = code ? TLKeyTable::byVirtualKeyCode(*code) : nullptr;
    if (code == TLKeyTable::kEscape && mods == 0) {
        stopRecording();
    } else if ((code == TLKeyTable::kDelete || code == TLKeyTable::kForwardDelete) && mods == 0) {
        commit(TLShortcut::unbound());
    } else if (code && mods != 0) {
        commit(TLShortcut::shortcutWithKeyCode(*code, mods));
    } else if (key && key->isFunctionKey()) {
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
    if (modifierFlagOf(*event)) {
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
        return shortcut_->displayString(labels_);
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
