#pragma once

#include <QString>

// A failure reported to the caller: where it comes from, its code and a text for the user.
struct TLError {
    QString domain;
    qint64 code = 0;
    QString localizedDescription;
};
