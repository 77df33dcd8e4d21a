#include "TLProcessRunner.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(ProcessRunner, ReportsAProgramThatCannotBeStarted) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString failure;
    EXPECT_FALSE(TLProcessRunner::run(dir.filePath(QStringLiteral("no-such-tool")), {QStringLiteral("reset")},
                                      &failure));
    EXPECT_FALSE(failure.isEmpty());
    // Without a place for the reason it still just answers.
    EXPECT_FALSE(TLProcessRunner::run(dir.filePath(QStringLiteral("no-such-tool")), {}));
}

TEST(ProcessRunner, PassesArgumentsInOrderAndWaitsForTheEnd) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString script = dir.filePath(QStringLiteral("tool.sh"));
    const QString out = dir.filePath(QStringLiteral("args.txt"));
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    // The record is written in one go at the very end: it exists only if run() waited.
    file.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.tmp\"\nmv \"$0.tmp\" \"" +
               out.toUtf8() + "\"\nexit 3\n");
    file.close();
    ASSERT_TRUE(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    QString failure;
    // A tool that fails after starting counts as run: its status is not looked at.
    EXPECT_TRUE(TLProcessRunner::run(
        script,
        {QStringLiteral("reset"), QStringLiteral("Accessibility"), QStringLiteral("org.example.with space")},
        &failure));
    EXPECT_TRUE(failure.isEmpty());
    QFile record(out);
    ASSERT_TRUE(record.open(QIODevice::ReadOnly));
    EXPECT_EQ(record.readAll(), QByteArray("reset\nAccessibility\norg.example.with space\n"));
}

} // namespace
