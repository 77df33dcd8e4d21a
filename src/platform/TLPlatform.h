#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class TLHotKeyService;
class TLKeyboardLayout;
class TLWindowControl;

// The window system Tilora runs on, as the rest of the program sees it: the backends of the
// window, hot-key and keyboard-layout interfaces, and the few moments of a run that belong to
// the session. main picks it once; nothing above this layer knows which one runs.
class TLPlatform {
public:
    virtual ~TLPlatform() = default;

    // The session's window system, connected: sway when WAYLAND_DISPLAY and SWAYSOCK are set
    // and its IPC answers, else X11 when an X server answers at DISPLAY. Called before the
    // application object exists. nullptr, with a sentence for the user, when neither works.
    static std::unique_ptr<TLPlatform> open(QString* failure);

    // The Qt platform plugin Tilora's own windows use on this window system.
    virtual QByteArray qtPlatformName() const = 0;

    // The backends, made on first use, once the application object exists.
    virtual TLWindowControl& windowControl() = 0;
    virtual TLHotKeyService& hotKeyService() = 0;
    virtual TLKeyboardLayout& keyboardLayout() = 0;

    // Called once, with the log line to write, when the window system has gone for good.
    virtual void setEndedHandler(std::function<void(const QString& logLine)> handler) = 0;
    // Before a normal end: gives back what the window system would keep after Tilora is gone.
    virtual void finish() = 0;
};
