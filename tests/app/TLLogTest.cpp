#include "TLLog.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

namespace {

// Runs `body` with standard error going to a file and returns what was written.
QByteArray captureStandardError(const std::function<void()>& body) {
    QTemporaryDir dir;
    const QByteArray path = dir.filePath(QStringLiteral("stderr")).toLocal8Bit();
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int file = open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(file, STDERR_FILENO);
    close(file);
    body();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    QFile written(QString::fromLocal8Bit(path));
    written.open(QIODevice::ReadOnly);
    return written.readAll();
}

TEST(Log, WritesTheLineAsItIsEvenWithFormatCharacters) {
    // Layout names and error texts are data, never a format: "%s" or "%n" must come out as written.
    const QString line = QStringLiteral("Tilora: Zentrieren (⅔ Breite) – 100% kaputt: %s %n %%");
    const QByteArray written = captureStandardError([&] { TLLog::write(line); });
    EXPECT_EQ(written, line.toUtf8() + '\n');
}

} // namespace
