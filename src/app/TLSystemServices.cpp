#include "TLSystemServices.h"

#include "TLBundle.h"
#include "TLLoginItem.h"
#include "TLPreferencesWindowController.h"
#include "TLProcessRunner.h"
#include "TLUpdater.h"
#include "TLWindowMover.h"

#include <QDesktopServices>

bool TLSystemServices::isTrusted() {
    return TLWindowMover::isTrusted();
}

void TLSystemServices::requestTrust() {
    TLWindowMover::requestTrust();
}

bool TLSystemServices::applyLayout(const TLLayout& layout, QString* error) {
    return TLWindowMover::applyLayout(layout, error);
}

void TLSystemServices::showPreferences() {
    TLPreferencesWindowController::shared().showAndActivate();
}

bool TLSystemServices::loginItemAvailable() {
    return TLLoginItem::isAvailable();
}

bool TLSystemServices::enableLoginItem() {
    return TLLoginItem::setEnabled(true);
}

void TLSystemServices::scheduleAutomaticChecks() {
    TLUpdater::shared().scheduleAutomaticChecks();
}

void TLSystemServices::checkForUpdatesInteractive() {
    TLUpdater::shared().checkForUpdatesInteractive(true);
}

QString TLSystemServices::bundlePath() {
    return TLBundle::main().bundlePath();
}

std::optional<QString> TLSystemServices::shortVersion() {
    return TLBundle::main().shortVersion();
}

std::optional<QString> TLSystemServices::bundleIdentifier() {
    // What the bundle itself says; the caller falls back to the built-in identifier.
    const QVariant value = TLBundle::main().infoDictionary().value(QStringLiteral("CFBundleIdentifier"));
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
