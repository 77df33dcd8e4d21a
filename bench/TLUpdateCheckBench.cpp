// What an automatic update check leaves behind in the process: threads and resident memory
// before the first check and once it has ended, as the program runs it (with the transfer helper
// of the built bundle). The feed comes from a child process on
// 127.0.0.1, over plain HTTP by the name "localhost" (so the name is looked up), and over HTTPS
// from `openssl s_server` with a certificate made for the run, which the check refuses after
// the handshake: the TLS machinery is loaded and used as by a real check.
//
//   bench_update_check
#include "TLBenchLoopback.h"
#include "TLLog.h"
#include "TLUpdatePresenter.h"
#include "TLUpdater.h"
#include "TLUserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class QuietPresenter : public TLUpdatePresenter {
public:
    void activate() override {}
    int runModalAlert(const QString&, const QString& text, const QStringList&) override {
        last = text;
        return 1;
    }
    QString last;
    void terminate() override {}
};

// Answers every request with the feed until killed.
[[noreturn]] void serveFeed(int listener, const QByteArray& feed) {
    const QByteArray answer = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                              QByteArray::number(feed.size()) + "\r\nConnection: close\r\n\r\n" + feed;
    for (;;) {
        const int client = ::accept(listener, nullptr, nullptr);
        char request[4096];
        (void)::read(client, request, sizeof request);
        (void)::write(client, answer.constData(), static_cast<size_t>(answer.size()));
        ::close(client);
    }
}

struct Footprint {
    int threads = 0;
    double residentMiB = 0;
    double anonymousMiB = 0; // of it, not backed by files (heap, stacks)
    QStringList threadNames;
};

Footprint footprint() {
    Footprint f;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        comm.open(QIODevice::ReadOnly);
        f.threadNames << QString::fromUtf8(comm.readAll().trimmed());
    }
    f.threads = static_cast<int>(f.threadNames.size());
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            f.residentMiB = line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
        } else if (line.startsWith("RssAnon:")) {
            f.anonymousMiB = line.mid(8).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
    }
    return f;
}

// Runs one check of the feed and waits until it has ended and settled.
void check(TLUpdater& updater, const QUrl& feed, bool interactive = false) {
    updater.setFeedUrl(feed);
    updater.checkForUpdatesInteractive(interactive);
    QElapsedTimer clock;
    clock.start();
    while (updater.busy() && clock.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    // Let deferred deletions run and threads that end by themselves end.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 1500) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ::usleep(20000);
    }
}

void print(const char* what, const Footprint& before, const Footprint& after) {
    std::printf(
        "%-34s threads %2d -> %2d (%+d)   resident %5.1f MB -> %5.1f MB (%+.1f MB, %+.1f MB anonymous)\n",
        what, before.threads, after.threads, after.threads - before.threads, before.residentMiB,
        after.residentMiB, after.residentMiB - before.residentMiB, after.anonymousMiB - before.anonymousMiB);
    QStringList added = after.threadNames;
    for (const QString& name : before.threadNames) {
        added.removeOne(name);
    }
    if (!added.isEmpty()) {
        std::printf("%-34s threads left: %s\n", "", qPrintable(added.join(QStringLiteral(", "))));
    }
}

} // namespace

int main(int argc, char** argv) {
    const QByteArray feed = R"({"version": "1.0", "notes": "", "url": "", "sha256": ""})";
    const auto [listener, port] = tlListenOnLoopback();
    if (listener < 0) {
        return 1;
    }
    const pid_t server = ::fork();
    if (server == 0) {
        serveFeed(listener, feed);
    }
    ::close(listener);

    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const TLLog log{nullptr};
    TLUserDefaults defaults(dir.filePath(QStringLiteral("Tilora.plist")), log);
    QuietPresenter presenter;
    TLUpdaterContext context;
    context.bundlePath = QStringLiteral(TL_BUNDLE_PATH);
    context.runningVersion = QStringLiteral("1.0");
    context.tempDir = dir.path();
    context.feedInactivityMs = 5000;
    TLUpdater updater(defaults, presenter, context);

    // HTTPS from openssl, with a throw-away certificate the check does not trust.
    QProcess tls;
    const auto [tlsListener, tlsPort] = tlListenOnLoopback();
    ::close(tlsListener);
    QProcess request;
    request.setStandardOutputFile(QProcess::nullDevice());
    request.setStandardErrorFile(QProcess::nullDevice());
    request.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                   "-days", "1", "-subj", "/CN=localhost", "-keyout", dir.filePath("key.pem"), "-out",
                   dir.filePath("cert.pem")});
    const bool haveTls = request.waitForFinished() && request.exitCode() == 0;
    if (haveTls) {
        tls.setWorkingDirectory(dir.path());
        tls.setStandardOutputFile(QProcess::nullDevice());
        tls.setStandardErrorFile(QProcess::nullDevice());
        tls.start(QStringLiteral("openssl"),
                  {"s_server", "-quiet", "-accept", QStringLiteral("127.0.0.1:%1").arg(tlsPort), "-cert",
                   "cert.pem", "-key", "key.pem", "-WWW"});
        tls.waitForStarted();
        ::usleep(300000);
    }

    const Footprint start = footprint();
    check(updater, QUrl(QStringLiteral("http://localhost:%1/appcast.json").arg(port)));
    const Footprint afterFirst = footprint();
    check(updater, QUrl(QStringLiteral("http://localhost:%1/appcast.json").arg(port)));
    const Footprint afterSecond = footprint();
    if (!defaults.objectForKey(QString::fromUtf8(TLUserDefaults::kLastUpdateCheck))) {
        std::fprintf(stderr, "bench_update_check: the check did not read the feed\n");
        return 1;
    }
    print("first check (HTTP, name looked up)", start, afterFirst);
    print("second check", afterFirst, afterSecond);
    Footprint last = afterSecond;
    if (haveTls) {
        check(updater, QUrl(QStringLiteral("https://localhost:%1/appcast.json").arg(tlsPort)), true);
        last = footprint();
        print("a check over HTTPS after them", afterSecond, last);
        std::printf("%-34s (it ended with: %s)\n", "", qPrintable(presenter.last));
        tls.kill();
        tls.waitForFinished();
    } else {
        std::printf("(no openssl: the HTTPS check was left out)\n");
    }
    // Threads that a pool keeps for a while end on their own.
    QElapsedTimer idle;
    idle.start();
    while (idle.elapsed() < 31000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
        ::usleep(100000);
    }
    print("31 s later", last, footprint());
    print("all in all", start, footprint());
    ::kill(server, SIGKILL);
    ::waitpid(server, nullptr, 0);
    return 0;
}
