// Writes the store in a loop until it is killed; the atomicity test runs it.
// Each write stores one dictionary whose payload is derived from its counter, so a reader
// can tell a complete value from a torn one. It continues from the counter already stored.
#include "TLLog.h"
#include "TLUserDefaults.h"

#include <QElapsedTimer>
#include <QString>
#include <QVariantMap>

#include <cstdio>
#include <signal.h>
#include <sys/prctl.h>

namespace {

QString payloadFor(qint64 counter) {
    return QString::number(counter).repeated(2000) + QStringLiteral("|end");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    // Never outlive the test: die with it, and stop on its own after a while.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    QElapsedTimer running;
    running.start();
    const TLLog log{nullptr};
    TLUserDefaults defaults(QString::fromLocal8Bit(argv[1]), log);
    qint64 counter = 0;
    if (auto stored = defaults.dictionaryForKey(QStringLiteral("TLTestRecord"))) {
        counter = stored->value(QStringLiteral("counter")).toLongLong();
    }
    defaults.setBool(true, TLUserDefaults::kFirstLaunchDone);
    while (running.elapsed() < 60000) {
        ++counter;
        defaults.setObject(QVariantMap{{QStringLiteral("counter"), counter},
                                       {QStringLiteral("payload"), payloadFor(counter)}},
                           QStringLiteral("TLTestRecord"));
    }
    return 1;
}
