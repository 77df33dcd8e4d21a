#include "TLWindowMover.h"

#include "TLBuildSettings.h"
#include "TLPlacement.h"
#include "TLWindowControl.h"

#include <QDesktopServices>
#include <QUrl>

namespace {

bool fail(QString* error, const QString& message) {
    if (error) {
        *error = message;
    }
    return false;
}

} // namespace

QString TLWindowMover::trustMessage() {
    return QStringLiteral("Tilora braucht einen EWMH-fähigen Fenstermanager in dieser Sitzung.");
}

QString TLWindowMover::noApplicationMessage() {
    return QStringLiteral("Keine aktive Anwendung gefunden.");
}

QString TLWindowMover::noWindowMessage(const std::optional<QString>& applicationName, std::int32_t error) {
    // One arg() for both: a name holding "%1" or "%2" must not take the second value.
    return QStringLiteral("%1 hat kein bewegbares Fenster (AXError %2).")
        .arg(applicationName ? *applicationName : QStringLiteral("Die App"), QString::number(error));
}

QString TLWindowMover::unreadableFrameMessage() {
    return QStringLiteral("Fensterposition konnte nicht gelesen werden.");
}

QString TLWindowMover::cannotChangeMessage(const std::optional<QString>& applicationName,
                                           const QString& reason) {
    return QStringLiteral("%1 lässt sein Fenster nicht ändern (%2).")
        .arg(applicationName ? *applicationName : QStringLiteral("Die App"), reason);
}

bool TLWindowMover::isTrusted() const {
    return control_.isTrusted();
}

void TLWindowMover::requestTrust() {
    control_.requestTrust();
}

void TLWindowMover::openAccessibilitySettings() {
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(TLBuildSettings::kHelpUrl)));
}

bool TLWindowMover::applyLayout(const TLLayout& layout, QString* error) {
    // 1. Trust: the prompt is requested on every attempt made without access.
    if (!isTrusted()) {
        requestTrust();
        return fail(error, trustMessage());
    }
    // 2.-5. The frontmost application, its focused (else main) window and that window's frame.
    const TLFrontmostWindow front = control_.readFrontmostWindow();
    if (!front.hasApplication) {
        return fail(error, noApplicationMessage());
    }
    if (front.windowError != 0 || !front.window) {
        return fail(error, noWindowMessage(front.applicationName, front.windowError));
    }
    if (!front.frame) {
        return fail(error, unreadableFrameMessage());
    }

    // 6. Placement on the display configuration of the same read.
    TLDisplayConfiguration config;
    config.displays = front.displays;
    config.mainDisplay = [main = front.mainDisplay] { return main; };
    config.mouseLocation = [this] { return control_.mouseLocation(); };
    const TLRect& frame = *front.frame;
    const TLPlacementResult placed = TLPlacement::place(
        config, {frame.x, frame.y}, {frame.width, frame.height}, layout.kind(), layout.frac());
    if (!placed.ok) {
        return fail(error, QString::fromStdString(placed.failure));
    }

    // 7. The new frame, written the way the window system takes it; a window system that
    //    answers may refuse it.
    QString reason;
    if (!control_.setFrame(*front.window, placed.position, placed.size, &reason)) {
        return fail(error, cannotChangeMessage(front.applicationName, reason));
    }
    return true;
}
