#include "TLPropertyList.h"
#include "TLBuildSettings.h"
#include "TLBundle.h"
#include "TLPropertyListGuard.h"
#include "TLTest.h"

#include <QDateTime>

#include <limits>

namespace {

QByteArray nestedXml(int depth, int closed) {
    return "<plist version=\"1.0\">" + QByteArray("<array>").repeated(depth) +
           QByteArray("</array>").repeated(closed) + "</plist>";
}

// `depth` nested arrays in binary form, each but the last holding `fanout` references to the next.
QByteArray nestedBinary(int depth, int fanout) {
    QByteArray data = "bplist00";
    const auto append = [&data](quint64 value, int bytes) {
        for (int i = bytes - 1; i >= 0; --i) {
            data.append(static_cast<char>(value >> (8 * i)));
        }
    };
    QList<quint64> offsets;
    for (int i = 0; i < depth; ++i) {
        offsets.append(data.size());
        const int refs = i + 1 < depth ? fanout : 0;
        append(0xA0 | refs, 1);
        for (int r = 0; r < refs; ++r) {
            append(i + 1, 4);
        }
    }
    const qsizetype table = data.size();
    for (quint64 offset : offsets) {
        append(offset, 4);
    }
    data.append(QByteArray(6, '\0'));
    append(4, 1); // offset size
    append(4, 1); // reference size
    append(depth, 8);
    append(0, 8);
    append(table, 8);
    return data;
}

TEST(TLPropertyListTest, UidsHaveNoValueAndAreLeftOutOfContainers) {
    TLPropertyList::Node dict(plist_new_dict());
    plist_dict_set_item(dict.get(), "uid", plist_new_uid(7));
    plist_dict_set_item(dict.get(), "kept", plist_new_bool(1));
    TLPropertyList::Node array(plist_new_array());
    plist_array_append_item(array.get(), plist_new_uid(1));
    plist_array_append_item(array.get(), plist_new_string("x"));

    EXPECT_FALSE(TLPropertyList::toVariant(plist_dict_get_item(dict.get(), "uid")));
    EXPECT_EQ(TLPropertyList::toVariant(dict.get()), QVariant(QVariantMap{{QStringLiteral("kept"), true}}));
    EXPECT_EQ(TLPropertyList::toVariant(array.get()), QVariant(QVariantList{QStringLiteral("x")}));
    EXPECT_FALSE(TLPropertyList::toVariant(nullptr));
}

// {"a\0ä": true, "b": 1} in binary form: reading that key aborted the process inside libplist.
const QByteArray
    kNulKey("bplist00\xd2\x01\x02\x03\x04\x63\x00\x61\x00\x00\x00\xe4\x51\x62\x09\x10\x01\x08\x0d\x14\x16"
            "\x17\0\0\0\0\0\0\x01\x01\0\0\0\0\0\0\0\x05\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x19",
            62);

TEST(TLPropertyListTest, ParseTakesPropertyListsWithinTheBoundsOnly) {
    // libplist would recurse (and crash) on the deep ones, also freeing the broken one, and copy
    // the shared array 2^60 times.
    const int limit = TLPropertyListGuard::kMaxDepth;
    const struct {
        const char* what;
        QByteArray data;
        bool parsed;
    } rows[] = {
        {"XML at the limit", nestedXml(limit, limit), true},
        {"XML one deeper", nestedXml(limit + 1, limit + 1), false},
        {"XML 200,000 deep, never closed", nestedXml(200000, 0), false},
        {"binary at the limit", nestedBinary(limit, 1), true},
        {"binary one deeper", nestedBinary(limit + 1, 1), false},
        {"binary 200,000 deep", nestedBinary(200000, 1), false},
        {"binary, shared 60 times over", nestedBinary(60, 2), false},
        {"binary key with a NUL byte", kNulKey, false},
        // Read as 1, and as 2 once written out as XML.
        {"binary {a: 1, a: 2}",
         QByteArray("bplist00\xd2\x01\x02\x03\x04\x51\x61\x51\x61\x10\x01\x10\x02\x08\x0d\x0f\x11\x13\0\0\0"
                    "\0\0\0\x01\x01\0\0\0\0\0\0\0\x05\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x15",
                    58),
         false},
        {"nothing", QByteArray(), false},
        {"text", QByteArray("plain text"), false},
        {"XML cut short", QByteArray("<plist version=\"1.0\"><dict><key>a</key></plist>"), false},
        {"binary header only", QByteArray("bplist00"), false},
        {"beyond the size limit", QByteArray(TLPropertyList::kMaxDataSize + 1, ' '), false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(TLPropertyList::parse(row.data) != nullptr, row.parsed) << row.what;
    }
    EXPECT_FALSE(TLPropertyList::readFile(QStringLiteral("/nonexistent/Info.plist")));
}

TEST(TLPropertyListTest, BinaryAsciiKeysEndAtTheirNulByte) {
    // As the XML form writes them.
    QByteArray ascii = kNulKey;
    ascii[19] = 'b'; // "a\0b"
    const TLPropertyList::Node node = TLPropertyList::parse(ascii);
    EXPECT_EQ(TLPropertyList::toVariant(node.get()), QVariant(QVariantMap{{"a", true}, {"b", 1LL}}));
}

TEST(TLPropertyListTest, ReadFileTakesWholeFilesUpToTheLimitOnly) {
    QTemporaryDir dir;
    const QString text(300 * 1024, QLatin1Char('x')); // read in several pieces
    const QByteArray xml = "<plist version=\"1.0\"><string>" + text.toUtf8() + "</string></plist>";
    for (const QByteArray& content : {xml, xml + QByteArray(TLPropertyList::kMaxDataSize, ' ')}) {
        QFile file(dir.filePath(QStringLiteral("Info.plist")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        const TLPropertyList::Node node = TLPropertyList::readFile(file.fileName());
        EXPECT_EQ(TLPropertyList::toVariant(node.get()), content.size() <= TLPropertyList::kMaxDataSize
                                                             ? std::optional(QVariant(text))
                                                             : std::nullopt);
    }
}

TEST(TLPropertyListTest, DatesConvertAroundTheEpochAndClampOutsideTheRange) {
    const struct {
        QDateTime date;
        int32_t seconds;
        int32_t microseconds;
    } rows[] = {
        {QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC), 0, 0},
        {QDateTime(QDate(2001, 1, 1), QTime(0, 0, 1, 250), Qt::UTC), 1, 250000},
        {QDateTime(QDate(2000, 12, 31), QTime(23, 59, 59, 500), Qt::UTC), -1, 500000},
        {QDateTime(QDate(2026, 12, 6), QTime(19, 4, 2), Qt::UTC), 818276642, 0},
        {QDateTime(QDate(2200, 1, 1), QTime(0, 0), Qt::UTC), std::numeric_limits<int32_t>::max(), 0},
        {QDateTime(QDate(1800, 1, 1), QTime(0, 0), Qt::UTC), std::numeric_limits<int32_t>::min(), 0},
    };
    for (const auto& row : rows) {
        int32_t seconds = 7;
        int32_t microseconds = 7;
        TLPropertyList::dateToPlist(row.date, &seconds, &microseconds);
        EXPECT_EQ(seconds, row.seconds) << row.date.toString(Qt::ISODateWithMs).toStdString();
        EXPECT_EQ(microseconds, row.microseconds) << row.date.toString(Qt::ISODateWithMs).toStdString();
    }
    EXPECT_EQ(TLPropertyList::dateFromPlist(-1, 500000), rows[2].date);
    // What libplist leaves in the microseconds of a date beyond its range stays in the range.
    const int32_t min = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(TLPropertyList::dateFromPlist(min, min), TLPropertyList::dateFromPlist(min, 0));
    // A local time is stored as the same instant.
    const QDateTime local(QDate(2026, 6, 1), QTime(12, 0), Qt::OffsetFromUTC, 7200);
    TLPropertyList::Node node = TLPropertyList::fromVariant(local);
    EXPECT_EQ(TLPropertyList::toVariant(node.get())->toDateTime().toMSecsSinceEpoch(),
              local.toMSecsSinceEpoch());
}

} // namespace

TEST(TLBundle, IsFoundFromTheExecutablePath) {
    const std::pair<const char*, const char*> rows[] = {
        {"/opt/Tilora.app/Contents/MacOS/Tilora", "/opt/Tilora.app"},
        {"/home/u/My Apps/Tilora.app/Contents/MacOS/tilora", "/home/u/My Apps/Tilora.app"},
        {"/opt/Tilora.app/Contents/Resources/../MacOS/Tilora", "/opt/Tilora.app"},
        {"/usr/bin/tilora", ""},
        {"/opt/Tilora.app/Contents/Tilora", ""},
        {"/opt/.app/Contents/MacOS/Tilora", ""},
    };
    for (const auto& [executable, bundle] : rows) {
        EXPECT_EQ(TLBundle::bundlePathForExecutable(executable), bundle) << executable;
    }
    EXPECT_TRUE(TLBundle::ofRunningExecutable().bundlePath().isEmpty()) << "a test program lies in no bundle";
}

TEST(TLBundle, ReadsItsInfoOnceAndUsesOnlyWellTypedSafeValues) {
    QTemporaryDir dir;
    const QString bundle = dir.filePath("Neue Fenster/Tilora.app"),
                  fallback = TLBuildSettings::kBundleIdentifier;
    const auto info = [](const QVariant& identifier, const QVariant& version, const QVariant& executable) {
        return QVariantMap{{"CFBundleIdentifier", identifier},
                           {"CFBundleShortVersionString", version},
                           {"CFBundleExecutable", executable}};
    };
    const auto write = [&](const QVariantMap& map) {
        ASSERT_TRUE(tlWrite(bundle + "/Contents/Info.plist",
                            TLPropertyList::toXml(TLPropertyList::fromVariant(map).get())));
    };
    write(info("org.example.Test", "2.3.1", "Tilora"));
    EXPECT_EQ(TLBundle::readInfoDictionary(bundle), info("org.example.Test", "2.3.1", "Tilora"));
    const TLBundle read(bundle);
    EXPECT_EQ(read.bundleIdentifier(), "org.example.Test");
    EXPECT_EQ(read.executablePath(), bundle + "/Contents/MacOS/Tilora");
    // An update replaces the files; the running program keeps the version it started with.
    write(info("org.example.Test", "2.4", "Tilora"));
    EXPECT_EQ(read.shortVersion(), "2.3.1");
    for (const QVariantMap& bad :
         {info(QString(""), qint64(2), "../../evil"), info(qint64(5), QVariantMap(), ".."),
          info(QVariantList(), true, QString(""))}) {
        write(bad);
        const TLBundle read(bundle);
        EXPECT_EQ(read.bundleIdentifier(), fallback);
        EXPECT_FALSE(read.shortVersion());
        EXPECT_FALSE(read.executablePath()) << bad.value("CFBundleExecutable").toString().toStdString();
    }
    for (const QByteArray& garbage : {QByteArray("garbage"), QByteArray("<plist><array/></plist>")}) {
        ASSERT_TRUE(tlWrite(bundle + "/Contents/Info.plist", garbage));
        EXPECT_FALSE(TLBundle::readInfoDictionary(bundle));
        EXPECT_TRUE(TLBundle(bundle).infoDictionary().isEmpty());
    }
    // XML can carry a NUL byte raw; the system would end the name there, at "..".
    const char nul[] =
        "<plist version=\"1.0\"><dict><key>CFBundleExecutable</key><string>..\0x</string></dict></plist>";
    ASSERT_TRUE(tlWrite(bundle + "/Contents/Info.plist", QByteArray(nul, sizeof nul - 1)));
    EXPECT_FALSE(TLBundle(bundle).executablePath());
    EXPECT_FALSE(TLBundle::readInfoDictionary(dir.filePath("missing.app")));
    EXPECT_EQ(TLBundle(QString()).bundleIdentifier(), fallback);
}
