#include "TLWindowMover.h"

#include "TLAccessibility.h"
#include "TLBuildSettings.h"
#include "TLDisplays.h"
#include "TLPlacement.h"

#include <QDesktopServices>
#include <QUrl>

namespace {

TLAccessibility* gAccessibility = nullptr;
TLDisplays* gDisplays = nullptr;

bool fail(QString* error, const QString& message) {
    if (error) {
        *error = message;
    }
    return false;
}

} // namespace

void TLWindowMover::setPlatform(TLAccessibility* accessibility, TLDisplays* displays) {
    gAccessibility = accessibility;
    gDisplays = displays;
}

QString TLWindowMover::trustMessage() {
    return QStringLiteral("Tilora braucht die Freigabe unter Systemeinstellungen → Datenschutz & Sicherheit "
                          "→ Bedienungshilfen.");
}

QString TLWindowMover::noApplicationMessage() {
    return QStringLiteral("Keine aktive Anwendung gefunden.");
}

QString TLWindowMover::noWindowMessage(const std::optional<QString>& applicationName, std::int32_t error) {
    return QStringLiteral("%1 hat kein bewegbares Fenster (AXError %2).")
        .arg(applicationName ? *applicationName : QStringLiteral("Die App"))
        .arg(error);
}

QString TLWindowMover::unreadableFrameMessage() {
    return QStringLiteral("Fensterposition konnte nicht gelesen werden.");
}

QString TLWindowMover::singleDisplayMessage() {
    return QString::fromUtf8(TLPlacement::kSingleDisplayFailure);
}

bool TLWindowMover::isTrusted() {
    return gAccessibility && gAccessibility->isProcessTrusted();
}

void TLWindowMover::requestTrust() {
    if (gAccessibility) {
        gAccessibility->requestTrustPrompt();
    }
}

void TLWindowMover::openAccessibilitySettings() {
    // X11 has no permission pane; the help page explains what Tilora needs instead.
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(TLBuildSettings::kHelpUrl)));
}

bool TLWindowMover::applyLayout(const TLLayout& layout, QString* error) {
    // 1. Trust: the prompt is requested on every attempt made without access.
    if (!isTrusted()) {
        requestTrust();
        return fail(error, trustMessage());
    }
    TLAccessibility& ax = *gAccessibility;

    // 2. Frontmost application.
    std::optional<TLRunningApplication> application = ax.frontmostApplication();
    if (!application) {
        return fail(error, noApplicationMessage());
    }

    // 3.-4. Its focused window, else its main window. Only the last query's code is reported.
    TLAXElementPtr window;
    std::int32_t result = TLAccessibility::kSuccess;
    {
        TLAXElementPtr appElement = ax.createApplicationElement(*application);
        if (appElement) {
            result = ax.copyWindow(*appElement, TLAccessibility::WindowAttribute::FocusedWindow, &window);
            if (result != TLAccessibility::kSuccess || !window) {
                window.reset();
                result = ax.copyWindow(*appElement, TLAccessibility::WindowAttribute::MainWindow, &window);
            }
        }
    }
    if (result != TLAccessibility::kSuccess || !window) {
        return fail(error, noWindowMessage(application->localizedName, result));
    }

    // 5. Position, then size, each only if the previous read succeeded.
    std::optional<TLPoint> position;
    std::optional<TLSize> size;
    if (ax.copyPosition(*window, &position) != TLAccessibility::kSuccess ||
        ax.copySize(*window, &size) != TLAccessibility::kSuccess || !position || !size) {
        return fail(error, unreadableFrameMessage());
    }

    // 6. Placement on the current display configuration.
    TLDisplayConfiguration config;
    if (gDisplays) {
        TLDisplays* displays = gDisplays;
        config.displays = displays->displays();
        config.mainDisplay = [displays] { return displays->mainDisplay(); };
        config.mouseLocation = [displays] { return displays->mouseLocation(); };
    }
    TLPlacementResult placed = TLPlacement::place(config, *position, *size, layout.kind(), layout.frac());
    if (!placed.ok) {
        return fail(error, QString::fromStdString(placed.failure));
    }

    // 7. Position, size, position: the second move corrects an application that clamped the
    // first one against its old size.
    const TLPoint target{static_cast<double>(placed.position.x), static_cast<double>(placed.position.y)};
    ax.setPosition(*window, target);
    ax.setSize(*window, {static_cast<double>(placed.size.width), static_cast<double>(placed.size.height)});
    ax.setPosition(*window, target);
    return true;
}
