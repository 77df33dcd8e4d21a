// Resident memory of the updater while it downloads and hashes a large archive: a child process
// serves <MiB> of data over HTTP on 127.0.0.1; the updater installs it into a bundle in a
// temporary folder (the data is no zip, so the installation ends after the digest check, which
// reads the whole file). Prints the peak resident size of this process (VmHWM).
//
//   bench_update_download [MiB]   (default 1024)
#include "TLBenchLoopback.h"
#include "TLLog.h"
#include "TLNetworkTransfers.h"
#include "TLUpdatePresenter.h"
#include "TLUpdater.h"
#include "TLUserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class QuietPresenter : public TLUpdatePresenter {
public:
    void activate() override {}
    int runModalAlert(const QString& title, const QString& text, const QStringList&) override {
        message = title + QStringLiteral(": ") + text;
        return 0;
    }
    void terminate() override {}
    QString message;
};

// Answers one request with `bytes` bytes, written in pieces as the client takes them.
[[noreturn]] void serve(int listener, qint64 bytes) {
    const int client = ::accept(listener, nullptr, nullptr);
    char request[4096];
    (void)::read(client, request, sizeof request);
    const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(bytes) +
                            "\r\nConnection: close\r\n\r\nPK\x03\x04";
    (void)::write(client, head.constData(), static_cast<size_t>(head.size()));
    QByteArray chunk(1 << 20, 'x');
    for (qint64 left = bytes - 4; left > 0;) {
        const ssize_t n =
            ::write(client, chunk.constData(), static_cast<size_t>(std::min<qint64>(left, chunk.size())));
        if (n <= 0) {
            break;
        }
        left -= n;
    }
    ::close(client);
    ::_exit(0);
}

long peakResidentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    const qint64 mebibytes = argc > 1 ? std::atoll(argv[1]) : 1024;
    const qint64 bytes = mebibytes << 20;
    const auto [listener, port] = tlListenOnLoopback(1);
    if (listener < 0) {
        std::perror("bench_update_download: listen");
        return 1;
    }
    const pid_t server = ::fork();
    if (server == 0) {
        serve(listener, bytes);
    }
    ::close(listener);

    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const TLLog log;
    TLUserDefaults defaults(dir.filePath(QStringLiteral("Tilora.plist")), log);
    QuietPresenter presenter;
    TLUpdaterContext context;
    context.bundlePath = dir.filePath(QStringLiteral("Programme/Tilora.app"));
    context.tempDir = dir.filePath(QStringLiteral("tmp"));
    context.extractTool = QStringLiteral("/usr/bin/bsdtar");
    context.transfers = &TLNetworkTransfers::create;
    context.allowHttpLoopback = true;
    context.maxArchiveBytes = bytes;
    QDir().mkpath(context.bundlePath);
    QDir().mkpath(context.tempDir);
    TLUpdater updater(defaults, presenter, context);
    const QString url = QStringLiteral("http://127.0.0.1:%1/Tilora.zip").arg(port);

    QElapsedTimer clock;
    clock.start();
    QObject::connect(&updater, &TLUpdater::installationFinished, &app, &QCoreApplication::quit);
    updater.installFromAppcast(QJsonObject{{"version", "2.0"}, {"url", url}, {"sha256", QString(64, '0')}});
    QCoreApplication::exec();
    ::waitpid(server, nullptr, 0);

    std::printf("download and digest of %lld MiB: %.1f s, peak resident %.1f MiB\n  (%s)\n", mebibytes,
                clock.elapsed() / 1000.0, peakResidentKiB() / 1024.0, qPrintable(presenter.message));
    return 0;
}
