#include "TLSystemServices.h"

#include "TLBundle.h"
#include "TLLoginItem.h"
#include "TLPreferencesWindowController.h"
#include "TLProcessRunner.h"
#include "TLUpdater.h"
#include "TLWindowMover.h"

#include <QDesktopServices>

bool TLSystemServices::isTrusted() {
    return mover_.isTrusted();
}

void TLSystemServices::requestTrust() {
    mover_.requestTrust();
}

bool TLSystemServices::applyLayout(const TLLayout& layout, QString* error) {
    return mover_.applyLayout(layout, error);
}

void TLSystemServices::showPreferences() {
    preferences_().showAndActivate();
}

bool TLSystemServices::loginItemAvailable() {
    return loginItem_.isAvailable();
}

bool TLSystemServices::enableLoginItem() {
    return loginItem_.setEnabled(true);
}

void TLSystemServices::scheduleAutomaticChecks() {
    updater_.scheduleAutomaticChecks();
}

void TLSystemServices::checkForUpdatesInteractive() {
    updater_.checkForUpdatesInteractive(true);
}

QString TLSystemServices::bundlePath() {
    return bundle_.bundlePath();
}

std::optional<QString> TLSystemServices::shortVersion() {
    return bundle_.shortVersion();
}

std::optional<QString> TLSystemServices::bundleIdentifier() {
    // What the bundle itself says; the caller falls back to the built-in identifier.
    const QVariant value = bundle_.infoDictionary().value(QStringLiteral("CFBundleIdentifier"));
    if (value.typeId() == QMetaType::QString && !value.toString().isEmpty()) {
        return value.toString();
    }
    return std::nullopt;
}

bool TLSystemServices::runTool(const QString& program, const QStringList& arguments, QString* failure) {
    return TLProcessRunner::run(program, arguments, failure);
}

void TLSystemServices::openUrl(const QUrl& url) {
    QDesktopServices::openUrl(url);
}
