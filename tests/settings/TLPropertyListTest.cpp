#include "TLPropertyList.h"
#include "TLBuildSettings.h"
#include "TLBundle.h"
#include "TLPropertyListGuard.h"
#include "TLTest.h"

namespace {

QByteArray nestedXml(int depth) {
    return "<plist version=\"1.0\">" + QByteArray("<array>").repeated(depth) +
           QByteArray("</array>").repeated(depth) + "</plist>";
}

TEST(TLPropertyListTest, NestingAndSharingAreBounded) {
    // libplist would recurse, and crash, on the deep ones.
    const int limit = TLPropertyListGuard::kMaxDepth;
    const struct {
        const char* what;
        QByteArray data;
        bool parsed;
    } rows[] = {
        {"XML at the limit", nestedXml(limit), true},
        {"XML one deeper", nestedXml(limit + 1), false},
        {"XML 200,000 deep", nestedXml(200000), false},
        {"binary header only", "bplist00", false},
        {"unclosed XML", "<plist version=\"1.0\"><dict><key>a</key></plist>", false},
        {"larger than any settings file", QByteArray(TLPropertyList::kMaxDataSize + 1, ' '), false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(TLPropertyList::parse(row.data) != nullptr, row.parsed) << row.what;
    }
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
    EXPECT_FALSE(TLBundle::readInfoDictionary(dir.filePath("missing.app")));
    EXPECT_EQ(TLBundle(QString()).bundleIdentifier(), fallback);
}
