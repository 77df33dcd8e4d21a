#include "TLAppDelegate.h"
#include "TLApplication.h"
#include "TLBundle.h"
#include "TLLog.h"
#include "TLPlatform.h"
#include "TLQuitSignals.h"
#include "TLSingleInstance.h"
#include "TLUpdateRecovery.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    // Before anything else: finish or undo an update that was interrupted.
    TLUpdateRecovery::recoverAtLaunch(TLLog());
    // The session's window system, connected first: Qt aborts when its platform finds no
    // server, and a user starting Tilora outside a supported session gets a sentence instead.
    QString failure;
    std::unique_ptr<TLPlatform> platform = TLPlatform::open(&failure);
    if (!platform) {
        std::fprintf(stderr, "%s\n", failure.toLocal8Bit().constData());
        return 1;
    }
    // Tilora's own windows live on the same window system (unless the user says otherwise).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", platform->qtPlatformName());
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

    TLApplication tilora(std::move(platform), TLBundle::ofRunningExecutable());
    const TLQuitSignals quitSignals;
    TLAppDelegate& delegate = tilora.delegate();
    QObject::connect(&instance, &TLSingleInstance::activationRequested, &delegate,
                     &TLAppDelegate::showPreferences);

    // The launch sequence runs once the event loop is up, as after a finished launch.
    QTimer::singleShot(0, &delegate, &TLAppDelegate::applicationDidFinishLaunching);
    QApplication::exec();
    tilora.finish();
    return 0;
}
