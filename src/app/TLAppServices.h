#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

class TLLayout;

// What the application shell asks of the rest of Tilora and of the system. The application
// uses TLSystemServices, which forwards to the singletons and the platform; tests record calls.
class TLAppServices {
public:
    virtual ~TLAppServices() = default;

    // Window control.
    virtual bool isTrusted() = 0;
    virtual void requestTrust() = 0;
    virtual bool applyLayout(const TLLayout& layout, QString* error) = 0;

    // The settings window, brought up to date and to the front.
    virtual void showPreferences() = 0;

    // Start at login.
    virtual bool loginItemAvailable() = 0;
    virtual bool enableLoginItem() = 0;

    // Updates.
    virtual void scheduleAutomaticChecks() = 0;
    virtual void checkForUpdatesInteractive() = 0;

    // The running bundle.
    virtual QString bundlePath() = 0;
    virtual std::optional<QString> shortVersion() = 0;
    virtual std::optional<QString> bundleIdentifier() = 0;

    // Runs a tool to its end; false (with the reason) when it cannot be started.
    virtual bool runTool(const QString& program, const QStringList& arguments, QString* failure) = 0;

    // Opens an address in the browser or mail client.
    virtual void openUrl(const QUrl& url) = 0;
};
