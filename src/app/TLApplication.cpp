#include "TLApplication.h"

#include "TLAppDelegate.h"
#include "TLBundle.h"
#include "TLHotkeyManager.h"
#include "TLLog.h"
#include "TLLoginItem.h"
#include "TLPlatform.h"
#include "TLPreferencesWindowController.h"
#include "TLQtUpdatePresenter.h"
#include "TLShared.h"
#include "TLSystemServices.h"
#include "TLUpdater.h"
#include "TLUserDefaults.h"
#include "TLWindowMover.h"
#include "TLXdgAutostart.h"

#include <QCoreApplication>

#include <optional>

// In the order of making: everything is made after what it uses, and goes before it.
struct TLApplication::Graph {
    Graph(std::unique_ptr<TLPlatform> windowSystem, const TLBundle& runningBundle)
        : bundle(runningBundle), platform(std::move(windowSystem)), windowControl(platform->windowControl()),
          hotKeyService(platform->hotKeyService()), keyboard(platform->keyboardLayout()),
          autostart(TLXdgAutostart::forBundle(bundle)), defaults(TLUserDefaults::standardFilePath(), log),
          mover(windowControl), loginItem(*autostart), hotkeys(defaults, hotKeyService, keyboard),
          updater(defaults, presenter, TLUpdaterContext::fromBundle(bundle)),
          services(
              mover, [this]() -> TLPreferencesWindowController& { return preferences(); }, loginItem, updater,
              bundle),
          delegate(hotkeys, defaults, services, keyboard, log) {}

    // The settings window is made when it is first shown: most runs never show it, and its
    // thirty rows of widgets would cost a fair part of the start.
    TLPreferencesWindowController& preferences() {
        if (!preferencesWindow) {
            preferencesWindow = std::make_unique<TLPreferencesWindowController>(
                TLPreferencesWindowController::Services{hotkeys, updater, mover, loginItem, keyboard});
            sharedPreferences.emplace(*preferencesWindow);
        }
        return *preferencesWindow;
    }

    TLLog log;
    TLBundle bundle;
    std::unique_ptr<TLPlatform> platform;
    TLWindowControl& windowControl;
    TLHotKeyService& hotKeyService;
    TLKeyboardLayout& keyboard;
    std::unique_ptr<TLXdgAutostart> autostart;
    TLUserDefaults defaults;
    TLWindowMover mover;
    TLLoginItem loginItem;
    TLHotkeyManager hotkeys;
    TLQtUpdatePresenter presenter;
    TLUpdater updater;
    std::unique_ptr<TLPreferencesWindowController> preferencesWindow;
    std::optional<TLShared<TLPreferencesWindowController>> sharedPreferences;
    TLSystemServices services;
    TLAppDelegate delegate;

    TLShared<TLUserDefaults> sharedDefaults{defaults};
    TLShared<TLHotkeyManager> sharedHotkeys{hotkeys};
    TLShared<TLUpdater> sharedUpdater{updater};
};

TLApplication::TLApplication(std::unique_ptr<TLPlatform> platform, const TLBundle& bundle)
    : graph_(std::make_unique<Graph>(std::move(platform), bundle)) {
    const TLLog& log = graph_->log;
    graph_->platform->setEndedHandler([&log](const QString& line) {
        log.write(line);
        QCoreApplication::quit();
    });
}

TLApplication::~TLApplication() = default;

TLAppDelegate& TLApplication::delegate() {
    return graph_->delegate;
}

TLPreferencesWindowController& TLApplication::preferences() {
    return graph_->preferences();
}

TLHotkeyManager& TLApplication::hotkeys() {
    return graph_->hotkeys;
}

TLUserDefaults& TLApplication::defaults() {
    return graph_->defaults;
}

void TLApplication::finish() {
    graph_->platform->finish();
}
