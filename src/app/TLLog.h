#pragma once

#include <QString>

#include <functional>

// The diagnostic log: each line, already beginning with "Tilora: ", goes to syslog and to
// standard error. There are no levels.
class TLLog {
public:
    static void write(const QString& line);

    // Tests capture lines instead of writing them; an empty function restores the real log.
    static void setSinkForTesting(std::function<void(const QString&)> sink);
};
