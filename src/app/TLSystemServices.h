#pragma once

#include "TLAppServices.h"

#include <functional>

class TLBundle;
class TLLoginItem;
class TLPreferencesWindowController;
class TLUpdater;
class TLWindowMover;

// The application's services: the window mover, the settings window (made on first use), the
// login item, the updater and the running bundle, as main made them.
class TLSystemServices final : public TLAppServices {
public:
    using Preferences = std::function<TLPreferencesWindowController&()>;

    TLSystemServices(TLWindowMover& mover, Preferences preferences, TLLoginItem& loginItem,
                     TLUpdater& updater, const TLBundle& bundle)
        : mover_(mover), preferences_(std::move(preferences)), loginItem_(loginItem), updater_(updater),
          bundle_(bundle) {}

    bool isTrusted() override;
    void requestTrust() override;
    bool applyLayout(const TLLayout& layout, QString* error) override;
    void showPreferences() override;
    bool loginItemAvailable() override;
    bool enableLoginItem() override;
    void scheduleAutomaticChecks() override;
    void checkForUpdatesInteractive() override;
    QString bundlePath() override;
    std::optional<QString> shortVersion() override;
    std::optional<QString> bundleIdentifier() override;
    bool runTool(const QString& program, const QStringList& arguments, QString* failure) override;
    void openUrl(const QUrl& url) override;

private:
    TLWindowMover& mover_;
    Preferences preferences_;
    TLLoginItem& loginItem_;
    TLUpdater& updater_;
    const TLBundle& bundle_;
};
