#pragma once

#include <QString>
#include <QStringList>

// Runs a tool synchronously and waits for it to end. Exit status and output are not looked at;
// only a tool that cannot be started counts as a failure.
class TLProcessRunner {
public:
    // False when the program could not be started; failure then holds the reason.
    static bool run(const QString& program, const QStringList& arguments, QString* failure = nullptr);
};
