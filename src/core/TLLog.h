#pragma once

#include <functional>
#include <string_view>

// The diagnostic log every layer writes to: each line, already beginning with "Tilora: ", goes
// to syslog and to standard error. There are no levels. A test gives a sink of its own.
class TLLog {
public:
    using Sink = std::function<void(std::string_view utf8Line)>;

    // The system log and standard error.
    TLLog();
    explicit TLLog(Sink sink);

    void write(std::string_view utf8Line) const;

    // Any text type with a UTF-8 form (QString).
    template <typename Text>
    requires requires(const Text& text) { text.toUtf8(); }
    void write(const Text& line) const {
        const auto utf8 = line.toUtf8();
        write(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
    }

private:
    Sink sink_;
};
