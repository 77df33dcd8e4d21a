#include "TLLog.h"

#include <QByteArray>

#include <cstdio>
#include <mutex>
#include <syslog.h>

namespace {

std::function<void(const QString&)>& testSink() {
    static std::function<void(const QString&)> sink;
    return sink;
}

} // namespace

void TLLog::write(const QString& line) {
    if (testSink()) {
        testSink()(line);
        return;
    }
    static std::once_flag opened;
    std::call_once(opened, [] { openlog("Tilora", LOG_PID, LOG_USER); });
    const QByteArray utf8 = line.toUtf8();
    // The text is passed as an argument, never as the format: a layout name or an error
    // message may contain '%'.
    syslog(LOG_NOTICE, "%s", utf8.constData());
    std::fprintf(stderr, "%s\n", utf8.constData());
    std::fflush(stderr);
}

void TLLog::setSinkForTesting(std::function<void(const QString&)> sink) {
    testSink() = std::move(sink);
}
