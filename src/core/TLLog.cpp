#include "TLLog.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <syslog.h>

namespace {

void writeToSystem(std::string_view line) {
    static std::once_flag opened;
    std::call_once(opened, [] { openlog("Tilora", LOG_PID, LOG_USER); });
    const std::string text(line);
    // The text is passed as an argument, never as the format: a layout name or an error
    // message may contain '%'.
    syslog(LOG_NOTICE, "%s", text.c_str());
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

} // namespace

TLLog::TLLog() : sink_(&writeToSystem) {}

TLLog::TLLog(Sink sink) : sink_(std::move(sink)) {}

void TLLog::write(std::string_view utf8Line) const {
    if (sink_) {
        sink_(utf8Line);
    }
}
