#include "TLUserDefaults.h"
#include "TLLog.h"
#include "TLPropertyList.h"
#include "TLScopedEnv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPoint>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

namespace {

const TLLog kQuiet{nullptr};

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& data) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(data), data.size());
}

QStringList setAsideFiles(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("Tilora.plist.unreadable-*")},
                                  QDir::AllEntries | QDir::Hidden);
}

class TLUserDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString folder() const { return dir_.path() + QStringLiteral("/Tilora"); }
    QString path() const { return folder() + QStringLiteral("/Tilora.plist"); }

    QTemporaryDir dir_;
};

struct TypedValue {
    const char* name;
    QVariant value; // read back as written, with its type; plain ints come back as qint64
};

std::vector<TypedValue> typedValues() {
    const QVariantMap table{
        {QStringLiteral("third.left"),
         QVariantMap{{QStringLiteral("keyCode"), qint64(18)}, {QStringLiteral("modifiers"), qint64(0x1800)}}},
        {QStringLiteral("ninth.l.top"),
         QVariantMap{{QStringLiteral("keyCode"), qint64(-1)}, {QStringLiteral("modifiers"), qint64(0)}}}};
    return {
        {"true", true},
        {"false", false},
        {"minusOne", qint64(-1)},
        {"int64Min", std::numeric_limits<qint64>::min()},
        {"int64Max", std::numeric_limits<qint64>::max()},
        {"plainInt", int(4096)},
        {"uint64Max", std::numeric_limits<quint64>::max()},
        {"string", QStringLiteral("Fenster ⌃⌥⇧⌘ <&> \"' äöüß")},
        {"date", QDateTime(QDate(2026, 12, 6), QTime(19, 4, 2), Qt::UTC)},
        {"dictionary", table},
        {"real", 0.1},
        {"data", QByteArray("\x00\x01\xff", 3)},
        {"array", QVariantList{qint64(1), QStringLiteral("x"), true}},
    };
}

void expectSame(const std::optional<QVariant>& actual, const QVariant& written, const char* name) {
    const QVariant expected =
        written.typeId() == QMetaType::Int ? QVariant(qint64(written.toInt())) : written;
    ASSERT_TRUE(actual.has_value()) << name;
    EXPECT_EQ(actual->typeId(), expected.typeId()) << name << ": " << actual->typeName();
    EXPECT_EQ(*actual, expected) << name;
}

TEST_F(TLUserDefaultsTest, EveryTypeRoundTripsThroughTheFileAndAFreshInstance) {
    {
        TLUserDefaults defaults(path(), kQuiet);
        for (const TypedValue& v : typedValues()) {
            defaults.setObject(v.value, QString::fromLatin1(v.name));
        }
        for (const TypedValue& v : typedValues()) {
            expectSame(defaults.objectForKey(QString::fromLatin1(v.name)), v.value, v.name);
        }
    }
    TLUserDefaults restarted(path(), kQuiet);
    for (const TypedValue& v : typedValues()) {
        expectSame(restarted.objectForKey(QString::fromLatin1(v.name)), v.value, v.name);
    }
    EXPECT_TRUE(readAll(path()).startsWith("<?xml")) << "the file is an XML property list";
}

TEST_F(TLUserDefaultsTest, TypedGettersTellAbsentFromOtherTypes) {
    TLUserDefaults defaults(path(), kQuiet);
    defaults.setBool(false, TLUserDefaults::kAutoUpdateEnabled);
    defaults.setObject(QStringLiteral("1.2"), TLUserDefaults::kTrustedWithVersion);
    defaults.setObject(QVariantMap{{QStringLiteral("a"), true}}, TLUserDefaults::kShortcuts);

    TLUserDefaults reread(path(), kQuiet);
    EXPECT_FALSE(reread.boolForKey(TLUserDefaults::kFirstLaunchDone));
    EXPECT_FALSE(reread.objectForKey(TLUserDefaults::kFirstLaunchDone).has_value());
    // A stored false is there, unlike an absent key.
    EXPECT_FALSE(reread.boolForKey(TLUserDefaults::kAutoUpdateEnabled));
    EXPECT_TRUE(reread.objectForKey(TLUserDefaults::kAutoUpdateEnabled).has_value());

    EXPECT_EQ(reread.stringForKey(TLUserDefaults::kTrustedWithVersion), QStringLiteral("1.2"));
    EXPECT_FALSE(reread.stringForKey(TLUserDefaults::kShortcuts).has_value());
    EXPECT_FALSE(reread.stringForKey(TLUserDefaults::kAutoUpdateEnabled).has_value());

    EXPECT_EQ(reread.dictionaryForKey(TLUserDefaults::kShortcuts),
              QVariantMap({{QStringLiteral("a"), true}}));
    EXPECT_FALSE(reread.dictionaryForKey(TLUserDefaults::kTrustedWithVersion).has_value());
    EXPECT_FALSE(reread.dictionaryForKey(TLUserDefaults::kLastUpdateCheck).has_value());
}

TEST_F(TLUserDefaultsTest, BoolForKeyReadsNumbersAndWordsLikeBooleans) {
    const struct {
        QVariant stored;
        bool expected;
    } rows[] = {
        {qint64(-3), true},     {0.5, true}, {QString("YES"), true}, {QString("0"), false},
        {QVariantMap(), false},
    };
    TLUserDefaults defaults(path(), kQuiet);
    for (const auto& row : rows) {
        defaults.setObject(row.stored, QStringLiteral("k"));
        EXPECT_EQ(defaults.boolForKey(QStringLiteral("k")), row.expected)
            << row.stored.toString().toStdString();
    }
}

TEST_F(TLUserDefaultsTest, SetReplacesWholeValueAndRemoveMakesItAbsentAfterRestart) {
    TLUserDefaults defaults(path(), kQuiet);
    defaults.setObject(QVariantMap{{QStringLiteral("a"), true}, {QStringLiteral("b"), true}},
                       TLUserDefaults::kShortcuts);
    defaults.setObject(QVariantMap{{QStringLiteral("c"), false}}, TLUserDefaults::kShortcuts);
    defaults.setBool(true, TLUserDefaults::kFirstLaunchDone);
    defaults.removeObjectForKey(TLUserDefaults::kFirstLaunchDone);
    defaults.removeObjectForKey(QStringLiteral("never-set"));

    TLUserDefaults restarted(path(), kQuiet);
    EXPECT_EQ(restarted.dictionaryForKey(TLUserDefaults::kShortcuts),
              QVariantMap({{QStringLiteral("c"), false}}));
    EXPECT_FALSE(restarted.objectForKey(TLUserDefaults::kFirstLaunchDone).has_value());

    // An invalid value removes the key, as a nil object would.
    restarted.setObject(QVariant(), TLUserDefaults::kShortcuts);
    EXPECT_FALSE(TLUserDefaults(path(), kQuiet).objectForKey(TLUserDefaults::kShortcuts).has_value());
}

TEST_F(TLUserDefaultsTest, AnInstanceSeesWhatAnotherWroteAfterItsFirstRead) {
    TLUserDefaults first(path(), kQuiet);
    TLUserDefaults second(path(), kQuiet);
    EXPECT_FALSE(second.boolForKey(TLUserDefaults::kFirstLaunchDone));
    first.setBool(true, TLUserDefaults::kFirstLaunchDone);
    EXPECT_TRUE(second.boolForKey(TLUserDefaults::kFirstLaunchDone));
    // A write of the second keeps what the first wrote.
    second.setObject(QStringLiteral("2.0"), TLUserDefaults::kTrustedWithVersion);
    EXPECT_TRUE(first.boolForKey(TLUserDefaults::kFirstLaunchDone));
    EXPECT_EQ(first.stringForKey(TLUserDefaults::kTrustedWithVersion), QStringLiteral("2.0"));
}

TEST_F(TLUserDefaultsTest, ValuesWithoutPropertyListFormAreRefusedAndTheOldValueStays) {
    TLUserDefaults defaults(path(), kQuiet);
    defaults.setObject(QStringLiteral("kept"), TLUserDefaults::kTrustedWithVersion);
    const QVariant refused[] = {
        QVariant(QPoint(1, 2)),
        QVariant(QString(QStringLiteral("cut") + QChar(0) + QStringLiteral("off"))),
        QVariant(QVariantMap{{QStringLiteral("nested"), QVariant(QPoint(3, 4))}}),
        QVariant(QDateTime()),
    };
    for (const QVariant& value : refused) {
        defaults.setObject(value, TLUserDefaults::kTrustedWithVersion);
        EXPECT_EQ(defaults.stringForKey(TLUserDefaults::kTrustedWithVersion), QStringLiteral("kept"));
    }
    EXPECT_EQ(TLUserDefaults(path(), kQuiet).stringForKey(TLUserDefaults::kTrustedWithVersion),
              QStringLiteral("kept"));
}

TEST_F(TLUserDefaultsTest, MissingFoldersAreCreatedAndAFailedWriteKeepsTheValueForThisRun) {
    const QString deep = dir_.path() + QStringLiteral("/a/b/Tilora.plist");
    TLUserDefaults defaults(deep, kQuiet);
    EXPECT_FALSE(defaults.boolForKey(TLUserDefaults::kFirstLaunchDone));
    EXPECT_FALSE(QFileInfo::exists(deep)) << "reading creates nothing";
    defaults.setBool(true, TLUserDefaults::kFirstLaunchDone);
    EXPECT_TRUE(TLUserDefaults(deep, kQuiet).boolForKey(TLUserDefaults::kFirstLaunchDone));

    // A regular file where the folder should be: creating the folder fails even for root.
    writeAll(dir_.path() + QStringLiteral("/blocked"), "not a folder");
    const QString blocked = dir_.path() + QStringLiteral("/blocked/Tilora/Tilora.plist");
    TLUserDefaults failing(blocked, kQuiet);
    failing.setBool(true, TLUserDefaults::kFirstLaunchDone);
    EXPECT_TRUE(failing.boolForKey(TLUserDefaults::kFirstLaunchDone));
    EXPECT_FALSE(TLUserDefaults(blocked, kQuiet).objectForKey(TLUserDefaults::kFirstLaunchDone).has_value());
    EXPECT_EQ(readAll(dir_.path() + QStringLiteral("/blocked")), QByteArray("not a folder"));
}

struct Unreadable {
    const char* name;
    QByteArray content;
};

class TLUserDefaultsUnreadableTest : public TLUserDefaultsTest,
                                     public ::testing::WithParamInterface<Unreadable> {};

TEST_P(TLUserDefaultsUnreadableTest, IsReadAsEmptyAndSetAsideBeforeTheFirstWrite) {
    ASSERT_TRUE(QDir().mkpath(folder()));
    writeAll(path(), GetParam().content);

    TLUserDefaults defaults(path(), kQuiet);
    EXPECT_FALSE(defaults.objectForKey(TLUserDefaults::kFirstLaunchDone).has_value());
    EXPECT_FALSE(defaults.boolForKey(TLUserDefaults::kFirstLaunchDone));
    EXPECT_EQ(readAll(path()), GetParam().content) << "reading leaves the file alone";
    EXPECT_TRUE(setAsideFiles(folder()).isEmpty());

    defaults.setBool(true, TLUserDefaults::kFirstLaunchDone);

    const QStringList aside = setAsideFiles(folder());
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readAll(folder() + QLatin1Char('/') + aside.first()), GetParam().content);
    EXPECT_TRUE(TLUserDefaults(path(), kQuiet).boolForKey(TLUserDefaults::kFirstLaunchDone));

    // Later writes replace the now good file without setting anything else aside.
    defaults.setBool(false, TLUserDefaults::kFirstLaunchDone);
    EXPECT_EQ(setAsideFiles(folder()).size(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Files, TLUserDefaultsUnreadableTest,
    ::testing::Values(
        Unreadable{"garbage", QByteArray("\x01\x02 this is not a property list")},
        Unreadable{"truncatedXml", QByteArray("<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict>\n"
                                              "\t<key>TLFirstLaunchDone</key>\n\t<tr")},
        Unreadable{"arrayRoot", QByteArray("<plist version=\"1.0\"><array><true/></array></plist>")},
        Unreadable{"truncatedBinary", QByteArray("bplist00\xd1\x01\x02", 11)},
        Unreadable{"empty", QByteArray()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TLUserDefaultsTest, AFolderInPlaceOfTheFileIsSetAsideWhole) {
    ASSERT_TRUE(QDir().mkpath(path()));
    writeAll(path() + QStringLiteral("/inside"), "user data");
    TLUserDefaults defaults(path(), kQuiet);
    defaults.setBool(true, TLUserDefaults::kFirstLaunchDone);
    const QStringList aside = setAsideFiles(folder());
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readAll(folder() + QLatin1Char('/') + aside.first() + QStringLiteral("/inside")), "user data");
    EXPECT_TRUE(TLUserDefaults(path(), kQuiet).boolForKey(TLUserDefaults::kFirstLaunchDone));
}

TEST_F(TLUserDefaultsTest, ForeignKeysAndTypesSurviveARewrite) {
    ASSERT_TRUE(QDir().mkpath(folder()));
    writeAll(path(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                     "<key>Other</key><array><real>2.5</real><data>AAEC</data></array>"
                     "<key>Huge</key><integer>18446744073709551615</integer>"
                     "<key>Ref</key><dict><key>CF$UID</key><integer>1</integer></dict>"
                     "</dict></plist>");
    TLUserDefaults(path(), kQuiet).setBool(true, TLUserDefaults::kFirstLaunchDone);

    TLUserDefaults reread(path(), kQuiet);
    EXPECT_EQ(reread.objectForKey(QStringLiteral("Other")),
              QVariant(QVariantList{2.5, QByteArray("\x00\x01\x02", 3)}));
    expectSame(reread.objectForKey(QStringLiteral("Huge")), std::numeric_limits<quint64>::max(), "Huge");
    EXPECT_TRUE(reread.dictionaryForKey(QStringLiteral("Ref")).has_value());
    EXPECT_TRUE(reread.boolForKey(TLUserDefaults::kFirstLaunchDone));
}

TEST(TLUserDefaultsPathTest, StandardStoreLivesUnderTheConfigHome) {
    {
        TLScopedEnv home("HOME", QByteArray("/home/tester"));
        // Empty, relative or unset: not usable, so the folder under HOME.
        using Value = std::optional<QByteArray>;
        for (const Value& ignored : {Value(""), Value("relative/cfg"), Value()}) {
            TLScopedEnv xdg("XDG_CONFIG_HOME", ignored);
            EXPECT_EQ(TLUserDefaults::standardFilePath(),
                      QStringLiteral("/home/tester/.config/Tilora/Tilora.plist"))
                << ignored.value_or("unset").toStdString();
        }
    }
    TLScopedEnv xdg("XDG_CONFIG_HOME", QByteArray("/xdg/cfg"));
    EXPECT_EQ(TLUserDefaults::standardFilePath(), QStringLiteral("/xdg/cfg/Tilora/Tilora.plist"));
}

} // namespace
