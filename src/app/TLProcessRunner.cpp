#include "TLProcessRunner.h"

#include <QProcess>

bool TLProcessRunner::run(const QString& program, const QStringList& arguments, QString* failure) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments, QIODevice::NotOpen);
    if (!process.waitForStarted(-1)) {
        if (failure) {
            *failure = process.errorString();
        }
        return false;
    }
    process.waitForFinished(-1);
    return true;
}
