#pragma once

#include <QByteArray>

#include <optional>

// Sets or clears an environment variable for one test and restores it afterwards.
class TLScopedEnv {
public:
    TLScopedEnv(const char* name, std::optional<QByteArray> value) : name_(name) {
        if (qEnvironmentVariableIsSet(name)) {
            saved_ = qgetenv(name);
        }
        if (value) {
            qputenv(name, *value);
        } else {
            qunsetenv(name);
        }
    }
    ~TLScopedEnv() {
        if (saved_) {
            qputenv(name_, *saved_);
        } else {
            qunsetenv(name_);
        }
    }
    TLScopedEnv(const TLScopedEnv&) = delete;
    TLScopedEnv& operator=(const TLScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<QByteArray> saved_;
};
