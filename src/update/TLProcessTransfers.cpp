#include "TLProcessTransfers.h"

#include <QProcess>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

constexpr qint64 kMaxReport = 64 * 1024; // far more than the helper ever says

// The outcome the helper reported, for a fetch with what it wrote to its output up to `maxData`
// bytes (more is too large); a helper that ended without a report failed.
TLTransfers::Outcome readReport(QProcess& process, std::optional<qint64> maxData) {
    TLTransfers::Outcome outcome;
    outcome.error = process.errorString();
    for (const QByteArray& line : process.readAllStandardError().right(kMaxReport).split('\n')) {
        if (line.startsWith("@status ")) {
            outcome.status = line.mid(8).toInt();
            outcome.error.reset();
        } else if (line == "@toolarge") {
            outcome.tooLarge = true;
            outcome.error.reset();
        } else if (line.startsWith("@error ")) {
            outcome.error = QString::fromUtf8(line.mid(7));
        }
    }
    if (!maxData) {
        return outcome;
    }
    process.setReadChannel(QProcess::StandardOutput);
    outcome.data = process.read(*maxData + 1);
    if (outcome.data.size() > *maxData && !outcome.error) {
        outcome = {std::nullopt, true, outcome.status, {}};
    }
    return outcome;
}

} // namespace

TLProcessTransfers::TLProcessTransfers(QString helper) : helper_(std::move(helper)) {}

TLProcessTransfers::~TLProcessTransfers() {
    for (QProcess* process : findChildren<QProcess*>()) {
        process->disconnect(this);
        process->kill();
        process->waitForFinished();
    }
}

QProcess* TLProcessTransfers::run(const char* mode, const QUrl& url, const Limits& limits, Done done) {
    auto* process = new QProcess(this);
    const pid_t parent = ::getpid();
    process->setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127); // the parent is already gone
        }
    });
    process->setStandardInputFile(QProcess::nullDevice());
    process->setReadChannel(QProcess::StandardError);
    process->setProgram(helper_);
    process->setArguments({QString::fromLatin1(mode), url.toString(QUrl::FullyEncoded),
                           QString::number(limits.inactivityMs), QString::number(limits.deadlineMs),
                           QString::number(limits.maxBytes), limits.httpLoopbackAllowed ? "1" : "0"});
    const std::optional<qint64> maxData =
        qstrcmp(mode, "fetch") == 0 ? std::optional(limits.maxBytes) : std::nullopt;
    const auto end = [process, maxData, done = std::move(done)] {
        process->disconnect();
        process->deleteLater();
        done(readReport(*process, maxData));
    };
    connect(process, &QProcess::finished, this, end);
    connect(process, &QProcess::errorOccurred, this, [end](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            end();
        }
    });
    return process;
}

void TLProcessTransfers::fetch(const QUrl& url, const Limits& limits, Done done) {
    run("fetch", url, limits, std::move(done))->start();
}

void TLProcessTransfers::download(const QUrl& url, const Limits& limits, int fd,
                                  std::function<void()> firstBytes, Done done) {
    QProcess* process = run("download", url, limits, std::move(done));
    // The helper writes into the file this process opened, through a descriptor of its own.
    process->setStandardOutputFile(QStringLiteral("/proc/self/fd/%1").arg(fd));
    auto told = std::make_shared<bool>(false);
    connect(process, &QProcess::readyReadStandardError, this,
            [process, told, firstBytes = std::move(firstBytes)] {
                if (!*told && process->peek(kMaxReport).contains("@body\n")) {
                    *told = true;
                    if (firstBytes) {
                        firstBytes();
                    }
                }
            });
    process->start();
}
