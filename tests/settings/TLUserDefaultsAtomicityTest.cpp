#include "TLLog.h"
#include "TLUserDefaults.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>
#include <thread>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const TLLog kQuiet{nullptr};

struct Record {
    qint64 counter = 0;
    bool complete = false;
};

// Reads the file as a restarted program would; a record is complete when its payload matches.
Record readRecord(const QString& path) {
    TLUserDefaults defaults(path, kQuiet);
    const auto record = defaults.dictionaryForKey(QStringLiteral("TLTestRecord"));
    if (!record || !defaults.boolForKey(TLUserDefaults::kFirstLaunchDone)) {
        return {};
    }
    const qint64 counter = record->value(QStringLiteral("counter")).toLongLong();
    const QString expected = QString::number(counter).repeated(2000) + QStringLiteral("|end");
    return {counter, record->value(QStringLiteral("payload")).toString() == expected};
}

pid_t spawnWriter(const QString& path) {
    const QByteArray program = TL_SETTINGS_WRITER;
    const QByteArray file = QFile::encodeName(path);
    char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>(file.constData()), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, program.constData(), nullptr, nullptr, argv, environ) != 0) {
        return -1;
    }
    return pid;
}

TEST(TLUserDefaultsAtomicityTest, AKilledWriterLeavesACompleteOldOrNewValue) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path() + QStringLiteral("/Tilora");
    const QString path = folder + QStringLiteral("/Tilora.plist");
    std::mt19937 random(20261206);
    std::uniform_int_distribution<int> delayMs(0, 15);

    qint64 last = 0;
    constexpr int kRounds = 30;
    for (int round = 0; round < kRounds; ++round) {
        const pid_t pid = spawnWriter(path);
        ASSERT_GT(pid, 0);
        // Wait until this writer has stored at least one record of its own.
        const QDeadlineTimer deadline(20000);
        Record seen;
        while (!deadline.hasExpired()) {
            seen = readRecord(path);
            if (seen.counter > last) {
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs(random)));
        ASSERT_EQ(::kill(pid, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended on its own, status " << status;
        ASSERT_GT(seen.counter, last) << "round " << round << ": the writer stored nothing in time";
        EXPECT_TRUE(seen.complete) << "a concurrent read saw a torn record";

        const Record after = readRecord(path);
        ASSERT_TRUE(after.complete) << "round " << round;
        EXPECT_GE(after.counter, seen.counter) << "round " << round;
        last = after.counter;
    }
    EXPECT_TRUE(QDir(folder).entryList({QStringLiteral("*.unreadable-*")}, QDir::AllEntries).isEmpty());
}

} // namespace
