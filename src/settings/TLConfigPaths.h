#pragma once

#include <QString>

#include <optional>

// The user's configuration folder after the XDG base directory rules.
class TLConfigPaths {
public:
    TLConfigPaths() = delete;

    // $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config (the home folder from the
    // password database when HOME is unset); absent when neither can be determined.
    static std::optional<QString> configHome();
};
