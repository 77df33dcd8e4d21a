#pragma once

#include "TLPlatform.h"

#include <atomic>
#include <memory>

class TLSwayHotKeyService;
class TLSwayKeyboardLayout;
class TLSwaySession;
class TLSwayWindowControl;

// sway: the IPC session and the backends over it. The compositor's end (its shutdown event or
// the event connection closing) ends Tilora; the bindings, which sway would keep, are taken
// back at a normal end.
//
// Qt's Wayland plugin ends the process (status 1) the moment it finds the compositor's socket
// closed, often before sway's IPC has told anyone. Its last warning is taken as the same end:
// the end is reported (once) and the process exits at once with status 0, as Qt would have
// exited anyway and nothing is left to tidy up without a compositor.
class TLSwayPlatform final : public TLPlatform {
public:
    // nullptr (with the reason) when sway does not answer at socketPath.
    static std::unique_ptr<TLSwayPlatform> open(const QString& socketPath, QString* error = nullptr);
    ~TLSwayPlatform() override;

    // Wayland, else XWayland when Qt has no Wayland plugin.
    QByteArray qtPlatformName() const override { return "wayland;xcb"; }
    TLWindowControl& windowControl() override;
    TLHotKeyService& hotKeyService() override;
    TLKeyboardLayout& keyboardLayout() override;
    void setEndedHandler(std::function<void(const QString&)> handler) override;
    void finish() override;

private:
    explicit TLSwayPlatform(std::unique_ptr<TLSwaySession> session);
    TLSwayKeyboardLayout& keyboard();
    void reportEnd();
    static void handleQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message);

    std::unique_ptr<TLSwaySession> session_;
    std::unique_ptr<TLSwayWindowControl> windowControl_;
    std::unique_ptr<TLSwayKeyboardLayout> keyboardLayout_;
    std::unique_ptr<TLSwayHotKeyService> hotKeyService_;
    std::function<void(const QString&)> endedHandler_;
    std::atomic<bool> endReported_{false};
    QtMessageHandler previousHandler_ = nullptr;
};
