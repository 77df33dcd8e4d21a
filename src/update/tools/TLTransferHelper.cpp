// The network side of the updater, a process of its own that the program runs for every check
// and download (see TLProcessTransfers): the body goes to standard output, the report to
// standard error. When the transfer ends, so does everything the network stack took.
//
//   tilora-transfer fetch|download URL INACTIVITY_MS DEADLINE_MS MAX_BYTES HTTP_LOOPBACK(0|1)
#include "TLNetworkTransfers.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

namespace {

void report(const char* line) {
    std::fputs(line, stderr);
    std::fflush(stderr);
}

void finish(const TLTransfers::Outcome& outcome) {
    if (outcome.tooLarge) {
        report("@toolarge\n");
    } else if (outcome.error) {
        report(("@error " + outcome.error->simplified().toUtf8() + '\n').constData());
    } else {
        report(("@status " + QByteArray::number(outcome.status) + '\n').constData());
    }
    QCoreApplication::exit(0);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 7 || (args[1] != QLatin1String("fetch") && args[1] != QLatin1String("download"))) {
        std::fprintf(stderr,
                     "usage: tilora-transfer fetch|download URL INACTIVITY_MS DEADLINE_MS MAX_BYTES 0|1\n");
        return 2;
    }
    const QUrl url(args[2], QUrl::StrictMode);
    const TLTransfers::Limits limits{args[3].toInt(), args[4].toInt(), args[5].toLongLong(),
                                     args[6] == QLatin1String("1")};
    if (!TLTransfers::isAllowedUrl(url, limits.httpLoopbackAllowed)) {
        report("@error Unzulässige Adresse\n");
        return 0;
    }
    TLNetworkTransfers transfers;
    if (args[1] == QLatin1String("fetch")) {
        transfers.fetch(url, limits, [](const TLTransfers::Outcome& outcome) {
            for (qsizetype done = 0; done < outcome.data.size();) {
                const ssize_t n = ::write(STDOUT_FILENO, outcome.data.constData() + done,
                                          static_cast<size_t>(outcome.data.size() - done));
                if (n <= 0) {
                    break;
                }
                done += n;
            }
            finish(outcome);
        });
    } else {
        transfers.download(
            url, limits, STDOUT_FILENO, [] { report("@body\n"); }, finish);
    }
    return QCoreApplication::exec();
}
