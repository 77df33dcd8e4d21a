#pragma once

#include "TLAppServices.h"

// The application's services: the window mover, the settings window, the login item, the
// updater and the running bundle, as their singletons and class operations provide them.
class TLSystemServices final : public TLAppServices {
public:
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
};
