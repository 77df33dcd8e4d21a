// A stand-in for the installed application in the end-to-end update tests: it runs from inside a
// bundle in a temporary install folder and, like Tilora, first recovers from an interrupted
// update. Without arguments (as the relaunch starts it) it appends "started <version>" to the
// file $TL_E2E_MARKER and ends. With the arguments feed URL, log file and pid file it checks the
// feed with an updater built from its own bundle, accepts the offer and logs what it is shown.
// $TL_E2E_PUBLIC_KEY pins a key, $TL_E2E_KILL_AT names the installation step at which it kills
// itself (stopping its children first, so that only their death with it can end them),
// $TL_E2E_RENAME_PAIR swaps as on a file system without exchange.
#include "TLBundle.h"
#include "TLLog.h"
#include "TLNetworkTransfers.h"
#include "TLUpdatePresenter.h"
#include "TLUpdateRecovery.h"
#include "TLUpdater.h"
#include "TLUserDefaults.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QTimer>

#include <csignal>
#include <sys/types.h>

namespace {

class LoggingPresenter : public TLUpdatePresenter {
public:
    explicit LoggingPresenter(const QString& logPath) : log_(logPath) { log_.open(QIODevice::WriteOnly); }

    void activate() override {}
    int runModalAlert(const QString& title, const QString& text, const QStringList& buttons) override {
        write(buttons.isEmpty() ? "alert" : "offer", title, text);
        if (buttons.isEmpty()) {
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return 0; // accept the offer
    }
    void terminate() override {
        write("terminate", QString(), QString());
        QCoreApplication::quit();
    }

private:
    void write(const char* kind, const QString& title, QString text) {
        text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
        log_.write(QByteArray(kind) + '\t' + title.toUtf8() + '\t' + text.toUtf8() + '\n');
        log_.flush();
    }
    QFile log_;
};

void stopChildren() {
    QDirIterator it(QStringLiteral("/proc"), {QStringLiteral("[0-9]*")}, QDir::Dirs);
    while (it.hasNext()) {
        QFile stat(it.next() + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QByteArray text = stat.readAll(); // "pid (name) state ppid ..."
        if (text.mid(text.lastIndexOf(')') + 2).split(' ').value(1).toLongLong() ==
            QCoreApplication::applicationPid()) {
            ::kill(it.fileName().toInt(), SIGSTOP);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    TLUpdateRecovery::recoverAtLaunch(TLLog());
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 1) {
        QFile marker(qEnvironmentVariable("TL_E2E_MARKER"));
        marker.open(QIODevice::Append);
        marker.write("started " + TLBundle::ofRunningExecutable().shortVersion().value_or("?").toUtf8() +
                     '\n');
        return 0;
    }
    QFile pidFile(args.value(3));
    if (args.size() != 4 || !pidFile.open(QIODevice::WriteOnly)) {
        return 2;
    }
    pidFile.write(QByteArray::number(QCoreApplication::applicationPid()));
    pidFile.close();

    TLUpdaterContext context = TLUpdaterContext::fromBundle(TLBundle::ofRunningExecutable());
    context.feedUrl = QUrl(args[1]);
    context.allowHttpLoopback = true;
    context.transfers = &TLNetworkTransfers::create;
    context.publicKey = qEnvironmentVariable("TL_E2E_PUBLIC_KEY");
    context.renameExchangeRefused = qEnvironmentVariableIsSet("TL_E2E_RENAME_PAIR");
    context.stepHook = [killAt = qgetenv("TL_E2E_KILL_AT")](const char* step) {
        if (killAt == step) {
            stopChildren();
            std::raise(SIGKILL);
        }
    };
    LoggingPresenter presenter(args[2]);
    const TLLog log;
    TLUserDefaults defaults(TLUserDefaults::standardFilePath(), log);
    TLUpdater updater(defaults, presenter, context);
    QTimer::singleShot(0, &updater, [&updater] { updater.checkForUpdatesInteractive(true); });
    QTimer::singleShot(60000, [] { QCoreApplication::exit(3); });
    return app.exec();
}
