#pragma once

#include "TLAppServices.h"
#include "TLLayout.h"
#include "TLProcessRunner.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <vector>

// Application services for tests: answers as configured and records every call in order.
// Tools are really started (through TLProcessRunner), so a missing tool fails as it would.
class TLRecordingAppServices final : public TLAppServices {
public:
    // Configuration.
    std::vector<bool> trustAnswers{false}; // one per isTrusted call; the last one repeats
    bool applySucceeds = true;
    QString applyError = QStringLiteral("Kein aktives Fenster.");
    bool loginAvailable = true;
    bool loginSucceeds = true;
    QString path = QStringLiteral("/opt/Tilora.app");
    std::optional<QString> version = QStringLiteral("1.1");
    std::optional<QString> identifier = QStringLiteral("org.tilora.Tilora");

    // Records.
    QStringList calls;
    std::vector<const TLLayout*> applied;
    std::vector<QStringList> toolRuns; // program followed by its arguments
    std::vector<QUrl> opened;

    bool isTrusted() override {
        calls << QStringLiteral("isTrusted");
        const std::size_t index = std::min(trustCalls_++, trustAnswers.size() - 1);
        return trustAnswers[index];
    }
    void requestTrust() override { calls << QStringLiteral("requestTrust"); }
    bool applyLayout(const TLLayout& layout, QString* error) override {
        calls << QStringLiteral("applyLayout");
        applied.push_back(&layout);
        if (!applySucceeds && error) {
            *error = applyError;
        }
        return applySucceeds;
    }
    void showPreferences() override { calls << QStringLiteral("showPreferences"); }
    bool loginItemAvailable() override {
        calls << QStringLiteral("loginItemAvailable");
        return loginAvailable;
    }
    bool enableLoginItem() override {
        calls << QStringLiteral("enableLoginItem");
        return loginSucceeds;
    }
    void scheduleAutomaticChecks() override { calls << QStringLiteral("scheduleAutomaticChecks"); }
    void checkForUpdatesInteractive() override { calls << QStringLiteral("checkForUpdatesInteractive"); }
    QString bundlePath() override { return path; }
    std::optional<QString> shortVersion() override { return version; }
    std::optional<QString> bundleIdentifier() override { return identifier; }
    bool runTool(const QString& program, const QStringList& arguments, QString* failure) override {
        calls << QStringLiteral("runTool");
        toolRuns.push_back(QStringList{program} + arguments);
        return TLProcessRunner::run(program, arguments, failure);
    }
    void openUrl(const QUrl& url) override {
        calls << QStringLiteral("openUrl");
        opened.push_back(url);
    }

private:
    std::size_t trustCalls_ = 0;
};
