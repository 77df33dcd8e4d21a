#include "TLUserDefaults.h"
#include "TLLog.h"
#include "TLTest.h"

#include <QDateTime>
#include <QPoint>

#include <random>

namespace {

const TLLog kQuiet{nullptr};

class TLUserDefaultsTest : public ::testing::Test {
protected:
    QString folder() const { return dir_.filePath("Tilora"); }
    QString path() const { return folder() + "/Tilora.plist"; }
    QStringList setAside() const {
        return QDir(folder()).entryList({"Tilora.plist.unreadable-*"}, QDir::AllEntries);
    }
    std::optional<QVariant> reread(const QString& key) const {
        return TLUserDefaults(path(), kQuiet).objectForKey(key);
    }

    QTemporaryDir dir_;
};

TEST_F(TLUserDefaultsTest, EveryTypeRoundTripsThroughTheFileWithItsType) {
    const QVariantList values = {
        true,
        qint64(-1),
        std::numeric_limits<qint64>::min(),
        std::numeric_limits<quint64>::max(),
        QStringLiteral("Fenster ⌃⌥⇧⌘ <&> \"' äöüß"),
        QDateTime(QDate(2026, 12, 6), QTime(19, 4, 2), Qt::UTC),
        QDateTime(QDate(1999, 6, 1), QTime(12, 0), Qt::OffsetFromUTC, 7200), // stored as the same instant
        QVariantMap{{"third.left", QVariantMap{{"keyCode", qint64(18)}}}},
        0.1,
        QByteArray("\x00\x01\xff", 3),
        QVariantList{qint64(1), QStringLiteral("x"), false}};
    TLUserDefaults defaults(path(), kQuiet);
    for (int i = 0; i < values.size(); ++i) {
        defaults.setObject(values[i], QString::number(i));
    }
    defaults.setObject(int(4096), "int");
    for (int i = 0; i < values.size(); ++i) {
        const std::optional<QVariant> read = reread(QString::number(i));
        EXPECT_EQ(read.value_or(QVariant()).typeId(), values[i].typeId()) << i;
        EXPECT_EQ(read, values[i]) << i;
    }
    EXPECT_EQ(reread("int"), QVariant(qint64(4096))); // plain ints come back as qint64
    EXPECT_TRUE(tlRead(path()).startsWith("<?xml"));
}

TEST_F(TLUserDefaultsTest, WritesReachOtherInstancesAndKeepWhatTheStoreDoesNotKnow) {
    ASSERT_TRUE(tlWrite(path(),
                        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                        "<key>Other</key><array><real>2.5</real><data>AAEC</data></array>"
                        "<key>Huge</key><integer>18446744073709551615</integer>"
                        "<key>Ref</key><dict><key>CF$UID</key><integer>1</integer></dict></dict></plist>"));
    TLUserDefaults first(path(), kQuiet), second(path(), kQuiet);
    first.setObject(QVariantMap{{"a", true}, {"b", true}}, TLUserDefaults::kShortcuts);
    first.setObject(QVariantMap{{"c", false}}, TLUserDefaults::kShortcuts);
    first.setBool(true, TLUserDefaults::kFirstLaunchDone);
    EXPECT_TRUE(second.boolForKey(TLUserDefaults::kFirstLaunchDone)) << "read again after another wrote";
    second.setObject(QStringLiteral("2.0"), TLUserDefaults::kTrustedWithVersion);
    EXPECT_EQ(first.stringForKey(TLUserDefaults::kTrustedWithVersion), QStringLiteral("2.0"));
    second.removeObjectForKey(TLUserDefaults::kFirstLaunchDone);
    second.setObject(QVariant(), TLUserDefaults::kTrustedWithVersion); // as a nil object: removed
    EXPECT_EQ(reread(TLUserDefaults::kShortcuts), QVariant(QVariantMap{{"c", false}}));
    EXPECT_FALSE(reread(TLUserDefaults::kFirstLaunchDone) || reread(TLUserDefaults::kTrustedWithVersion));
    EXPECT_EQ(reread("Other"), QVariant(QVariantList{2.5, QByteArray("\x00\x01\x02", 3)}));
    EXPECT_EQ(reread("Huge"), QVariant(std::numeric_limits<quint64>::max()));
    EXPECT_TRUE(reread("Ref"));
    // Values without a property-list form are refused and the old value stays.
    first.setObject(QStringLiteral("kept"), "k");
    for (const QVariant& refused : {QVariant(QPoint(1, 2)), QVariant(QString("cut") + QChar(0) + "off"),
                                    QVariant(QVariantMap{{"nested", QPoint(3, 4)}}), QVariant(QDateTime())}) {
        first.setObject(refused, "k");
    }
    EXPECT_EQ(reread("k"), QVariant(QStringLiteral("kept")));
}

TEST_F(TLUserDefaultsTest, FoldersAreMadeOnWriteAndAFailedWriteKeepsTheValueForThisRun) {
    TLUserDefaults defaults(dir_.filePath("a/b/Tilora.plist"), kQuiet);
    EXPECT_FALSE(defaults.boolForKey(TLUserDefaults::kFirstLaunchDone));
    EXPECT_FALSE(QFileInfo::exists(dir_.filePath("a"))) << "reading creates nothing";
    defaults.setBool(true, TLUserDefaults::kFirstLaunchDone);
    EXPECT_TRUE(TLUserDefaults(dir_.filePath("a/b/Tilora.plist"), kQuiet)
                    .boolForKey(TLUserDefaults::kFirstLaunchDone));
    // A regular file where the folder belongs: creating the folder fails even for root.
    ASSERT_TRUE(tlWrite(dir_.filePath("blocked"), "not a folder"));
    TLUserDefaults failing(dir_.filePath("blocked/Tilora/Tilora.plist"), kQuiet);
    failing.setBool(true, TLUserDefaults::kFirstLaunchDone);
    EXPECT_TRUE(failing.boolForKey(TLUserDefaults::kFirstLaunchDone));
    EXPECT_EQ(tlRead(dir_.filePath("blocked")), "not a folder");
}

TEST_F(TLUserDefaultsTest, AnUnreadableFileIsReadAsEmptyAndSetAsideBeforeTheFirstWrite) {
    const QByteArray files[] = {
        "\x01\x02 not a property list",
        "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict>\n<key>TLFirstLaunchDone</key><tr",
        "<plist version=\"1.0\"><array><true/></array></plist>",
        QByteArray("bplist00\xd1\x01\x02", 11),
        "",
        "folder"}; // a folder in place of the file is set aside whole
    for (const QByteArray& content : files) {
        SCOPED_TRACE(content.toStdString());
        QDir(folder()).removeRecursively();
        ASSERT_TRUE(content == "folder" ? tlWrite(path() + "/inside", "user data")
                                        : tlWrite(path(), content));
        TLUserDefaults defaults(path(), kQuiet);
        EXPECT_FALSE(defaults.objectForKey(TLUserDefaults::kFirstLaunchDone));
        EXPECT_TRUE(setAside().isEmpty()) << "reading leaves the file alone";
        defaults.setBool(true, TLUserDefaults::kFirstLaunchDone);
        defaults.setBool(false, TLUserDefaults::kAutoUpdateEnabled); // sets nothing else aside
        ASSERT_EQ(setAside().size(), 1);
        const QString aside = folder() + "/" + setAside().first();
        EXPECT_EQ(content == "folder" ? tlRead(aside + "/inside") : tlRead(aside),
                  content == "folder" ? "user data" : content);
        EXPECT_EQ(reread(TLUserDefaults::kFirstLaunchDone), QVariant(true));
    }
}

TEST(TLUserDefaultsPath, StandardStoreLivesUnderTheConfigHome) {
    TLScopedEnv home("HOME", QByteArray("/home/tester"));
    for (const char* unusable : {"", "cfg", "unset"}) {
        TLScopedEnv xdg("XDG_CONFIG_HOME", unusable == std::string("unset")
                                               ? std::nullopt
                                               : std::optional<QByteArray>(unusable));
        EXPECT_EQ(TLUserDefaults::standardFilePath(), "/home/tester/.config/Tilora/Tilora.plist");
    }
    TLScopedEnv xdg("XDG_CONFIG_HOME", QByteArray("/xdg/cfg"));
    EXPECT_EQ(TLUserDefaults::standardFilePath(), "/xdg/cfg/Tilora/Tilora.plist");
}

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
