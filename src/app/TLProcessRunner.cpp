#include "TLProcessRunner.h"

#include <QProcess>

bool TLProcessRunner::run(const QString& program, const QStringList& arguments, QString* failure) {
    // Output goes where Tilora's goes; the tool reads nothing. (Opened without reading, Qt would
    // send the output to /dev/null behind the forwarding and warn about it at every run.)
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted(-1)) {
        if (failure) {
            *failure = process.errorString();
        }
        return false;
    }
    process.waitForFinished(-1);
    return true;
}
