#include "TLAppDelegate.h"
#include "TLHotkeyManager.h"
#include "TLPlatformBackends.h"
#include "TLSingleInstance.h"
#include "TLStatusIcon.h"
#include "TLSystemServices.h"
#include "TLUpdateRecovery.h"
#include "TLUserDefaults.h"

#include <QApplication>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Qt aborts when its X11 platform finds no server; a user starting Tilora outside an X11 session
// gets a sentence and an exit status instead.
bool x11Reachable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform && std::strcmp(platform, "xcb") != 0) {
        return true; // another platform was chosen on purpose
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool reachable = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reachable;
}

} // namespace

int main(int argc, char** argv) {
    // Before anything else: finish or undo an update that was interrupted.
    TLUpdateRecovery::recoverAtLaunch();
    if (!x11Reachable()) {
        std::fprintf(stderr, "Tilora braucht eine X11-Sitzung: keine Verbindung zum X-Server (DISPLAY=%s).\n",
                     std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
        return 1;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tilora"));
    QApplication::setWindowIcon(TLStatusIcon::applicationIcon());

    // A second start hands over to the running Tilora, which shows its settings window.
    TLSingleInstance instance;
    if (instance.claim() == TLSingleInstance::Role::Secondary) {
        return 0;
    }

    TLPlatformBackends::install();
    TLSystemServices services;
    TLAppDelegate delegate(TLHotkeyManager::shared(), TLUserDefaults::standard(), services);
    QObject::connect(&instance, &TLSingleInstance::activationRequested, &delegate,
                     &TLAppDelegate::showPreferences);

    // The launch sequence runs once the event loop is up, as after a finished launch.
    QTimer::singleShot(0, &delegate, &TLAppDelegate::applicationDidFinishLaunching);
    QApplication::exec();
    return 0;
}
