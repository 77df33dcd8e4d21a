#include "TLLog.h"
#include "TLTest.h"
#include "TLUserDefaults.h"

#include <random>

namespace {

// What a restarted program reads: the counter of the record, and whether it is whole.
std::pair<qint64, bool> readRecord(const QString& path) {
    const TLLog quiet{nullptr};
    TLUserDefaults defaults(path, quiet);
    const QVariantMap record = defaults.dictionaryForKey("TLTestRecord").value_or(QVariantMap());
    const qint64 counter = record.value("counter").toLongLong();
    return {counter, defaults.boolForKey(TLUserDefaults::kFirstLaunchDone) &&
                         record.value("payload") == QString::number(counter).repeated(2000)};
}

TEST(TLUserDefaultsAtomicity, AKilledWriterLeavesACompleteOldOrNewValue) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Tilora/Tilora.plist");
    std::mt19937 random(20261206);
    qint64 last = 0;
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(round);
        QProcess writer;
        writer.start(TL_SETTINGS_WRITER, {path});
        ASSERT_TRUE(writer.waitForStarted());
        std::pair<qint64, bool> seen;
        for (QDeadlineTimer deadline(20000); !deadline.hasExpired() && seen.first <= last;) {
            seen = readRecord(path); // until this writer has stored a record of its own
        }
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 15)(random)));
        writer.kill();
        ASSERT_TRUE(writer.waitForFinished());
        ASSERT_EQ(writer.exitStatus(), QProcess::CrashExit) << "the writer ended on its own";
        ASSERT_GT(seen.first, last) << "the writer stored nothing in time";
        EXPECT_TRUE(seen.second) << "a concurrent read saw a torn record";
        const auto after = readRecord(path);
        ASSERT_TRUE(after.second);
        EXPECT_GE(after.first, seen.first);
        last = after.first;
    }
    EXPECT_TRUE(QDir(dir.filePath("Tilora")).entryList({"*.unreadable-*"}, QDir::AllEntries).isEmpty());
}

} // namespace
