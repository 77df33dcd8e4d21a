// A stand-in for the installed application in the end-to-end update test: it runs from inside
// a bundle in a temporary install folder, checks the feed it is given through an updater built
// as the application builds it, accepts the offer and records what it is shown. Arguments: feed URL, log
// file, pid file.
#include "TLBundle.h"
#include "TLLog.h"
#include "TLUpdatePresenter.h"
#include "TLUpdater.h"
#include "TLUserDefaults.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

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

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        return 2;
    }
    QFile pidFile(args[3]);
    if (!pidFile.open(QIODevice::WriteOnly)) {
        return 2;
    }
    pidFile.write(QByteArray::number(QCoreApplication::applicationPid()));
    pidFile.close();

    LoggingPresenter presenter(args[2]);
    const TLLog log;
    TLUserDefaults defaults(TLUserDefaults::standardFilePath(), log);
    TLUpdater updater(defaults, presenter, TLUpdaterContext::fromBundle(TLBundle::ofRunningExecutable()));
    if (!updater.setFeedUrl(QUrl(args[1]))) {
        return 2;
    }
    QTimer::singleShot(0, [&updater] { updater.checkForUpdatesInteractive(true); });
    QTimer::singleShot(60000, [] { QCoreApplication::exit(3); });
    return app.exec();
}
