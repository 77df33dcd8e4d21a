// Writes the store in a loop until it is killed (the atomicity test runs it): one record per
// write whose payload is derived from its counter, continuing from the counter already stored.
#include "TLLog.h"
#include "TLUserDefaults.h"

#include <QElapsedTimer>

#include <csignal>
#include <sys/prctl.h>

int main(int argc, char** argv) {
    prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlive the test
    QElapsedTimer running;
    running.start();
    const TLLog log{nullptr};
    TLUserDefaults defaults(QString::fromLocal8Bit(argc == 2 ? argv[1] : "/dev/null"), log);
    qint64 counter =
        defaults.dictionaryForKey("TLTestRecord").value_or(QVariantMap()).value("counter").toLongLong();
    defaults.setBool(true, TLUserDefaults::kFirstLaunchDone);
    while (running.elapsed() < 60000) {
        ++counter;
        defaults.setObject(
            QVariantMap{{"counter", counter}, {"payload", QString::number(counter).repeated(2000)}},
            "TLTestRecord");
    }
    return 1;
}
