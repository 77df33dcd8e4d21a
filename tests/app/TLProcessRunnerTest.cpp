#include "TLProcessRunner.h"
#include "TLTest.h"

TEST(TLProcessRunner, PassesArgumentsWaitsForTheEndAndReportsWhatCannotStart) {
    QTemporaryDir dir;
    QString failure;
    EXPECT_FALSE(TLProcessRunner::run(dir.filePath("no-such-tool"), {"reset"}, &failure));
    EXPECT_FALSE(failure.isEmpty());
    EXPECT_FALSE(TLProcessRunner::run(dir.filePath("no-such-tool"), {}));
    // The record is written in one go at the very end: it exists only if run() waited. A tool
    // that fails after starting counts as run.
    const QString script = dir.filePath("tool.sh"), out = dir.filePath("args.txt");
    ASSERT_TRUE(tlWrite(
        script, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.tmp\"\nmv \"$0.tmp\" \"" +
                    out.toUtf8() + "\"\nexit 3\n"));
    ASSERT_TRUE(QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner));
    failure.clear();
    static QStringList messages; // of Qt, while the tool runs
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { messages << text; });
    EXPECT_TRUE(TLProcessRunner::run(script, {"reset", "Accessibility", "org.example.with space"}, &failure));
    qInstallMessageHandler(previous);
    EXPECT_EQ(messages, QStringList());
    EXPECT_TRUE(failure.isEmpty());
    EXPECT_EQ(tlRead(out), "reset\nAccessibility\norg.example.with space\n");
}
