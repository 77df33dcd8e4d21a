#include "TLSwayPlatform.h"

#include "TLSwayHotKeyService.h"
#include "TLSwayKeyboardLayout.h"
#include "TLSwaySession.h"
#include "TLSwayWindowControl.h"

#include <cstdio>
#include <cstdlib>

namespace {

// The one platform whose end Qt's messages may announce.
std::atomic<TLSwayPlatform*> gPlatform{nullptr};

} // namespace

std::unique_ptr<TLSwayPlatform> TLSwayPlatform::open(const QString& socketPath, QString* error) {
    std::unique_ptr<TLSwaySession> session = TLSwaySession::open(socketPath, error);
    return session ? std::unique_ptr<TLSwayPlatform>(new TLSwayPlatform(std::move(session))) : nullptr;
}

TLSwayPlatform::TLSwayPlatform(std::unique_ptr<TLSwaySession> session) : session_(std::move(session)) {
    session_->setEndedHandler([this] { reportEnd(); });
    gPlatform = this;
    previousHandler_ = qInstallMessageHandler(&TLSwayPlatform::handleQtMessage);
}

// Backends first: they stop listening to the session before it goes.
TLSwayPlatform::~TLSwayPlatform() {
    qInstallMessageHandler(previousHandler_);
    gPlatform = nullptr;
    hotKeyService_.reset();
    keyboardLayout_.reset();
    windowControl_.reset();
}

TLWindowControl& TLSwayPlatform::windowControl() {
    if (!windowControl_) {
        windowControl_ = std::make_unique<TLSwayWindowControl>(*session_);
    }
    return *windowControl_;
}

TLSwayKeyboardLayout& TLSwayPlatform::keyboard() {
    if (!keyboardLayout_) {
        keyboardLayout_ = std::make_unique<TLSwayKeyboardLayout>(*session_);
    }
    return *keyboardLayout_;
}

TLKeyboardLayout& TLSwayPlatform::keyboardLayout() {
    return keyboard();
}

TLHotKeyService& TLSwayPlatform::hotKeyService() {
    if (!hotKeyService_) {
        hotKeyService_ = std::make_unique<TLSwayHotKeyService>(*session_, keyboard());
    }
    return *hotKeyService_;
}

void TLSwayPlatform::setEndedHandler(std::function<void(const QString&)> handler) {
    endedHandler_ = std::move(handler);
}

void TLSwayPlatform::reportEnd() {
    if (!endReported_.exchange(true) && endedHandler_) {
        endedHandler_(QStringLiteral("Tilora: sway wurde beendet, Tilora endet auch."));
    }
}

void TLSwayPlatform::handleQtMessage(QtMsgType type, const QMessageLogContext& context,
                                     const QString& message) {
    TLSwayPlatform* platform = gPlatform;
    // Qt's Wayland plugin says this right before it ends the process.
    if (platform && type == QtWarningMsg && message.startsWith(QLatin1String("The Wayland connection"))) {
        platform->reportEnd();
        std::_Exit(0);
    }
    if (platform && platform->previousHandler_) {
        platform->previousHandler_(type, context, message);
    } else {
        std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, message).toLocal8Bit().constData());
    }
}

void TLSwayPlatform::finish() {
    if (hotKeyService_) {
        hotKeyService_->releaseAll();
    }
}
