#include "TLAppDelegate.h"
#include "TLApplication.h"
#include "TLBundle.h"
#include "TLLog.h"
#include "TLSingleInstance.h"
#include "TLUpdateRecovery.h"
#include "TLX11Connection.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    // Before anything else: finish or undo an update that was interrupted.
    TLUpdateRecovery::recoverAtLaunch(TLLog());
    // The program's one X connection, opened first: Qt aborts when its X11 platform finds no
    // server, and a user starting Tilora outside an X11 session gets a sentence instead.
    std::unique_ptr<TLX11Connection> connection = TLX11Connection::open();
    if (!connection) {
        std::fprintf(stderr, "Tilora braucht eine X11-Sitzung: keine Verbindung zum X-Server (DISPLAY=%s).\n",
                     std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
        return 1;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tilora"));

    // A second start hands over to the running Tilora, which shows its settings window.
    TLSingleInstance instance;
    switch (instance.claim()) {
    case TLSingleInstance::Role::Secondary:
        return 0;
    case TLSingleInstance::Role::Unresponsive:
        TLLog().write(
            QStringLiteral("Tilora: Tilora läuft bereits, antwortet aber nicht – dieser Start endet"));
        return 1;
    case TLSingleInstance::Role::Primary:
    case TLSingleInstance::Role::Failed:
        break;
    }

    TLApplication tilora(std::move(connection), TLBundle::ofRunningExecutable());
    TLAppDelegate& delegate = tilora.delegate();
    QObject::connect(&instance, &TLSingleInstance::activationRequested, &delegate,
                     &TLAppDelegate::showPreferences);

    // The launch sequence runs once the event loop is up, as after a finished launch.
    QTimer::singleShot(0, &delegate, &TLAppDelegate::applicationDidFinishLaunching);
    QApplication::exec();
    return 0;
}
