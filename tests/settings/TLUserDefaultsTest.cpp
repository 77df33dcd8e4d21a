#include "TLUserDefaults.h"
#include "TLLog.h"
#include "TLTest.h"

#include <QDateTime>
#include <QPoint>

#include <sys/stat.h>

namespace {

const TLLog kQuiet{nullptr};

class TLUserDefaultsTest : public ::testing::Test {
protected:
    QString folder() const { return dir_.filePath("Tilora"); }
    QString path() const { return folder() + "/Tilora.plist"; }
    QStringList setAside() const {
        return QDir(folder()).entryList({"Tilora.plist.unreadable-*"}, QDir::AllEntries);
    }
    std::optional<QVariant> reread(const char* key) const {
        return TLUserDefaults(path(), kQuiet).objectForKey(key);
    }

    QTemporaryDir dir_;
};

TEST_F(TLUserDefaultsTest, EveryTypeRoundTripsThroughTheFileWithItsType) {
    const QVariantList values = {true,
                                 qint64(-1),
                                 std::numeric_limits<qint64>::min(),
                                 std::numeric_limits<quint64>::max(),
                                 QStringLiteral("Fenster ⌃⌥⇧⌘ <&> \"' äöüß"),
                                 QDateTime(QDate(2026, 12, 6), QTime(19, 4, 2), Qt::UTC),
                                 QVariantMap{{"third.left", QVariantMap{{"keyCode", qint64(18)}}}},
                                 0.1,
                                 QByteArray("\x00\x01\xff", 3),
                                 QVariantList{qint64(1), QStringLiteral("x"), false}};
    TLUserDefaults defaults(path(), kQuiet);
    for (int i = 0; i < values.size(); ++i) {
        defaults.setObject(values[i], QString::number(i));
    }
    defaults.setObject(int(4096), "int");
    TLUserDefaults restarted(path(), kQuiet);
    for (int i = 0; i < values.size(); ++i) {
        const std::optional<QVariant> read = restarted.objectForKey(QString::number(i));
        ASSERT_TRUE(read) << i;
        EXPECT_EQ(read->typeId(), values[i].typeId()) << i << ": " << read->typeName();
        EXPECT_EQ(*read, values[i]) << i;
    }
    EXPECT_EQ(restarted.objectForKey("int"), QVariant(qint64(4096))); // plain ints come back as qint64
    EXPECT_TRUE(tlRead(path()).startsWith("<?xml"));
}

TEST_F(TLUserDefaultsTest, TypedGettersTellAbsentFromOtherTypes) {
    TLUserDefaults defaults(path(), kQuiet);
    defaults.setBool(false, TLUserDefaults::kAutoUpdateEnabled);
    defaults.setObject(QStringLiteral("1.2"), TLUserDefaults::kTrustedWithVersion);
    defaults.setObject(QVariantMap{{"a", true}}, TLUserDefaults::kShortcuts);
    EXPECT_FALSE(defaults.objectForKey(TLUserDefaults::kFirstLaunchDone));
    EXPECT_TRUE(defaults.objectForKey(TLUserDefaults::kAutoUpdateEnabled)) << "a stored false is there";
    EXPECT_EQ(defaults.stringForKey(TLUserDefaults::kTrustedWithVersion), QStringLiteral("1.2"));
    EXPECT_FALSE(defaults.stringForKey(TLUserDefaults::kShortcuts));
    EXPECT_EQ(defaults.dictionaryForKey(TLUserDefaults::kShortcuts), QVariantMap({{"a", true}}));
    EXPECT_FALSE(defaults.dictionaryForKey(TLUserDefaults::kTrustedWithVersion));
    const std::pair<QVariant, bool> booleans[] = {{qint64(-3), true},
                                                  {0.5, true},
                                                  {QString("YES"), true},
                                                  {QString("0"), false},
                                                  {QVariantMap(), false}};
    for (const auto& [stored, expected] : booleans) {
        defaults.setObject(stored, "k");
        EXPECT_EQ(defaults.boolForKey("k"), expected) << stored.toString().toStdString();
    }
}

TEST_F(TLUserDefaultsTest, WritesReplaceRemoveAndReachOtherInstances) {
    TLUserDefaults first(path(), kQuiet), second(path(), kQuiet);
    EXPECT_FALSE(second.boolForKey(TLUserDefaults::kFirstLaunchDone));
    first.setObject(QVariantMap{{"a", true}, {"b", true}}, TLUserDefaults::kShortcuts);
    first.setObject(QVariantMap{{"c", false}}, TLUserDefaults::kShortcuts);
    // The value it already holds writes nothing (a write would bring a new file, a new inode).
    const auto inode = [&] {
        struct stat info {};
        return ::stat(QFile::encodeName(path()).constData(), &info) == 0 ? info.st_ino : 0;
    };
    const ino_t written = inode();
    first.setObject(QVariantMap{{"c", false}}, TLUserDefaults::kShortcuts);
    EXPECT_EQ(inode(), written);
    first.setBool(true, TLUserDefaults::kFirstLaunchDone);
    EXPECT_TRUE(second.boolForKey(TLUserDefaults::kFirstLaunchDone)) << "read again after another wrote";
    second.setObject(QStringLiteral("2.0"), TLUserDefaults::kTrustedWithVersion);
    EXPECT_EQ(first.stringForKey(TLUserDefaults::kTrustedWithVersion), QStringLiteral("2.0"));
    second.removeObjectForKey(TLUserDefaults::kFirstLaunchDone);
    second.setObject(QVariant(), TLUserDefaults::kTrustedWithVersion); // as a nil object: removed
    EXPECT_EQ(reread(TLUserDefaults::kShortcuts), QVariant(QVariantMap{{"c", false}}));
    EXPECT_FALSE(reread(TLUserDefaults::kFirstLaunchDone));
    EXPECT_FALSE(reread(TLUserDefaults::kTrustedWithVersion));
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
        "<plist version=\"1.0\"><array><true/></array></plist>", QByteArray("bplist00\xd1\x01\x02", 11), ""};
    for (const QByteArray& content : files) {
        SCOPED_TRACE(content.toStdString());
        QDir(folder()).removeRecursively();
        ASSERT_TRUE(tlWrite(path(), content));
        TLUserDefaults defaults(path(), kQuiet);
        EXPECT_FALSE(defaults.objectForKey(TLUserDefaults::kFirstLaunchDone));
        EXPECT_TRUE(setAside().isEmpty()) << "reading leaves the file alone";
        defaults.setBool(true, TLUserDefaults::kFirstLaunchDone);
        defaults.setBool(false, TLUserDefaults::kAutoUpdateEnabled); // sets nothing else aside
        ASSERT_EQ(setAside().size(), 1);
        EXPECT_EQ(tlRead(folder() + "/" + setAside().first()), content);
        EXPECT_EQ(reread(TLUserDefaults::kFirstLaunchDone), QVariant(true));
    }
    // A folder in place of the file is set aside whole.
    QDir(folder()).removeRecursively();
    ASSERT_TRUE(tlWrite(path() + "/inside", "user data"));
    TLUserDefaults(path(), kQuiet).setBool(true, TLUserDefaults::kFirstLaunchDone);
    ASSERT_EQ(setAside().size(), 1);
    EXPECT_EQ(tlRead(folder() + "/" + setAside().first() + "/inside"), "user data");
}

TEST_F(TLUserDefaultsTest, ForeignKeysAndTypesSurviveARewrite) {
    ASSERT_TRUE(tlWrite(path(),
                        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                        "<key>Other</key><array><real>2.5</real><data>AAEC</data></array>"
                        "<key>Huge</key><integer>18446744073709551615</integer>"
                        "<key>Ref</key><dict><key>CF$UID</key><integer>1</integer></dict></dict></plist>"));
    TLUserDefaults(path(), kQuiet).setBool(true, TLUserDefaults::kFirstLaunchDone);
    EXPECT_EQ(reread("Other"), QVariant(QVariantList{2.5, QByteArray("\x00\x01\x02", 3)}));
    EXPECT_EQ(reread("Huge"), QVariant(std::numeric_limits<quint64>::max()));
    EXPECT_TRUE(reread("Ref"));
}

TEST_F(TLUserDefaultsTest, TheFirstReadRemovesTemporaryFilesThatKilledWritesLeft) {
    // Old and fresh temporary files of writes, and other files that look alike.
    const QStringList names = {"Tilora.plist.Ab12Cd", "Tilora.plist.Xy34Zw", "Tilora.plist.unreadable-1",
                               "Tilora.plist.1-2.3"};
    for (const QString& name : names) {
        QFile file(folder() + "/" + name);
        ASSERT_TRUE(tlWrite(file.fileName(), "x") && file.open(QIODevice::ReadWrite));
        file.setFileTime(QDateTime::currentDateTime().addSecs(name.contains("Xy") ? 0 : -120),
                         QFileDevice::FileModificationTime);
    }
    EXPECT_FALSE(TLUserDefaults(path(), kQuiet).boolForKey(TLUserDefaults::kFirstLaunchDone));
    EXPECT_EQ(QDir(folder()).entryList(QDir::Files, QDir::Name), (QStringList{names[3], names[1], names[2]}));
}

TEST(TLUserDefaultsPath, StandardStoreLivesUnderTheConfigHome) {
    TLScopedEnv home("HOME", QByteArray("/home/tester"));
    for (const std::optional<QByteArray>& unusable :
         {std::optional<QByteArray>(""), std::optional<QByteArray>("cfg"), std::optional<QByteArray>()}) {
        TLScopedEnv xdg("XDG_CONFIG_HOME", unusable);
        EXPECT_EQ(TLUserDefaults::standardFilePath(), "/home/tester/.config/Tilora/Tilora.plist");
    }
    TLScopedEnv xdg("XDG_CONFIG_HOME", QByteArray("/xdg/cfg"));
    EXPECT_EQ(TLUserDefaults::standardFilePath(), "/xdg/cfg/Tilora/Tilora.plist");
}

} // namespace
