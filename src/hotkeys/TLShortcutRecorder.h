#pragma once

#include "TLShortcut.h"

#include <QColor>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>

class QKeyEvent;
class TLHotkeyManager;
class TLKeyboardLayout;

// Shows one shortcut and, after a click, records a new combination from the keyboard. While
// it records, every system hot key is suspended so that a combination already in use reaches
// the recorder instead of moving a window. Only one recorder can record at a time: the
// suspension is a single flag of the manager, and focus moves from one recorder to the next.
class TLShortcutRecorder : public QWidget {
    Q_OBJECT

public:
    using ChangeHandler = std::function<void(const TLShortcut&)>;

    // manager: whose hot keys are suspended while recording; labels: how shortcuts are shown.
    TLShortcutRecorder(TLHotkeyManager& manager, const TLKeyboardLayout& labels, QWidget* parent = nullptr);
    ~TLShortcutRecorder() override;

    bool recording() const { return recording_; }
    // Modifier keys held while recording, as event modifier flags (TLEventFlags); 0 when idle.
    std::uint64_t liveFlags() const { return liveFlags_; }

    const std::optional<TLShortcut>& shortcut() const { return shortcut_; }
    void setShortcut(std::optional<TLShortcut> shortcut);

    // Called with the recorded value (an unbound shortcut when the user cleared it); never
    // after a cancelled recording.
    const ChangeHandler& onChange() const { return onChange_; }
    void setOnChange(ChangeHandler handler);

    // Refusal signal for a key that cannot be a shortcut; QApplication::beep() by default.
    void setBeep(std::function<void()> beep);

    void startRecording();
    void stopRecording();
    void commit(const TLShortcut& shortcut);

    // What the view shows and in which colour (see paintEvent).
    QString displayText() const;
    QColor textColor() const;

    // The virtual key code of a key event: the physical key from the native scan code (the X
    // keycode on X11), or, when the event has none (synthesised events, platforms without
    // X keycodes), the US-layout position of Qt's key. Absent for keys that no virtual key
    // code describes.
    static std::optional<std::int64_t> virtualKeyCodeForEvent(const QKeyEvent& event);

    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void flagsChanged(const QKeyEvent& event);

    bool recording_ = false;
    std::uint64_t liveFlags_ = 0;
    std::optional<TLShortcut> shortcut_;
    ChangeHandler onChange_;
    TLHotkeyManager& manager_;
    const TLKeyboardLayout& labels_;
    std::function<void()> beep_;
};
