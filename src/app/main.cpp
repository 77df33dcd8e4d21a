#include "TLAppDelegate.h"
#include "TLHotkeyManager.h"
#include "TLPlatformBackends.h"
#include "TLSingleInstance.h"
#include "TLStatusIcon.h"
#include "TLSystemServices.h"
#include "TLUserDefaults.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tilora"));
    QApplication::setWindowIcon(TLStatusIcon::applicationIcon());
    QApplication::setQuitOnLastWindowClosed(false);

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
