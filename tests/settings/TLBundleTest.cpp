#include "TLBundle.h"
#include "TLPropertyList.h"

#include <TLBuildSettings.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(TLBundleTest, BundleIsFoundFromTheExecutablePath) {
    const struct {
        const char* executable;
        const char* bundle;
    } rows[] = {
        {"/opt/Tilora.app/Contents/MacOS/Tilora", "/opt/Tilora.app"},
        {"/home/u/My Apps/Tilora.app/Contents/MacOS/tilora", "/home/u/My Apps/Tilora.app"},
        {"/opt/Tilora.app/Contents/Resources/../MacOS/Tilora", "/opt/Tilora.app"},
        {"/usr/bin/tilora", ""},
        {"/opt/Tilora.app/Contents/Tilora", ""},
        {"/opt/.app/Contents/MacOS/Tilora", ""},
        {"", ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(TLBundle::bundlePathForExecutable(QString::fromUtf8(row.executable)),
                  QString::fromUtf8(row.bundle))
            << row.executable;
    }
}

class TLBundleFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        bundle_ = dir_.path() + QStringLiteral("/Neue Fenster/Tilora.app");
        ASSERT_TRUE(QDir().mkpath(bundle_ + QStringLiteral("/Contents/MacOS")));
    }
    void writeInfo(const QByteArray& data) {
        QFile file(bundle_ + QStringLiteral("/Contents/Info.plist"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(data), data.size());
    }
    void writeInfo(const QVariantMap& info, bool binary) {
        TLPropertyList::Node node = TLPropertyList::fromVariant(info);
        ASSERT_TRUE(node);
        if (!binary) {
            writeInfo(TLPropertyList::toXml(node.get()));
            return;
        }
        char* raw = nullptr;
        uint32_t length = 0;
        plist_to_bin(node.get(), &raw, &length);
        std::unique_ptr<char, decltype(&std::free)> bytes(raw, &std::free);
        writeInfo(QByteArray(bytes.get(), length));
    }

    QTemporaryDir dir_;
    QString bundle_;
};

TEST_F(TLBundleFilesTest, ReadsInfoFromXmlAndBinaryFiles) {
    const QVariantMap info{{QStringLiteral("CFBundleIdentifier"), QStringLiteral("org.example.Test")},
                           {QStringLiteral("CFBundleShortVersionString"), QStringLiteral("2.3.1")},
                           {QStringLiteral("CFBundleExecutable"), QStringLiteral("Tilora")}};
    for (bool binary : {false, true}) {
        writeInfo(info, binary);
        const std::optional<QVariantMap> read = TLBundle::readInfoDictionary(bundle_);
        ASSERT_TRUE(read);
        EXPECT_EQ(*read, info) << binary;
        const TLBundle bundle(bundle_);
        EXPECT_EQ(bundle.bundlePath(), bundle_);
        EXPECT_EQ(bundle.bundleIdentifier(), QStringLiteral("org.example.Test"));
        EXPECT_EQ(bundle.shortVersion(), QStringLiteral("2.3.1"));
        EXPECT_EQ(bundle.executablePath(), bundle_ + QStringLiteral("/Contents/MacOS/Tilora"));
    }
}

TEST_F(TLBundleFilesTest, MissingBadOrWrongTypedInfoIsNotUsed) {
    EXPECT_FALSE(TLBundle::readInfoDictionary(bundle_)) << "no Info.plist";
    EXPECT_FALSE(TLBundle::readInfoDictionary(QString()));
    const QString fallback = QString::fromUtf8(TLBuildSettings::kBundleIdentifier);
    for (const QByteArray& bad : {QByteArray("garbage"), QByteArray("<plist><array/></plist>")}) {
        writeInfo(bad);
        EXPECT_FALSE(TLBundle::readInfoDictionary(bundle_)) << bad.toStdString();
        const TLBundle bundle(bundle_);
        EXPECT_TRUE(bundle.infoDictionary().isEmpty());
        EXPECT_FALSE(bundle.executablePath());
        EXPECT_EQ(bundle.bundleIdentifier(), fallback);
    }
    const struct {
        QVariant identifier;
        QVariant version;
        QVariant executable;
    } rows[] = {
        {QString(""), qint64(2), QStringLiteral("../../evil")},
        {qint64(5), QVariantMap(), QStringLiteral("..")},
        {QVariantList(), true, QString("")},
    };
    for (const auto& row : rows) {
        writeInfo(QVariantMap{{QStringLiteral("CFBundleIdentifier"), row.identifier},
                              {QStringLiteral("CFBundleShortVersionString"), row.version},
                              {QStringLiteral("CFBundleExecutable"), row.executable}},
                  false);
        const TLBundle bundle(bundle_);
        EXPECT_EQ(bundle.bundleIdentifier(), fallback);
        EXPECT_FALSE(bundle.shortVersion());
        EXPECT_FALSE(bundle.executablePath()) << row.executable.toString().toStdString();
    }
    // XML can carry a NUL byte raw; the system would end the name there, at "..".
    const char xml[] =
        "<plist version=\"1.0\"><dict><key>CFBundleExecutable</key><string>..\0x</string></dict></plist>";
    writeInfo(QByteArray(xml, sizeof xml - 1));
    EXPECT_FALSE(TLBundle(bundle_).executablePath());
}

TEST_F(TLBundleFilesTest, TheRunningVersionIsTheOneReadFirst) {
    EXPECT_TRUE(TLBundle::ofRunningExecutable().bundlePath().isEmpty()) << "a test program lies in no bundle";
    writeInfo(QVariantMap{{QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.0")}}, false);
    const TLBundle running(bundle_);
    EXPECT_EQ(running.shortVersion(), QStringLiteral("1.0"));
    // An update replaces the files; the running program keeps the version it started with.
    writeInfo(QVariantMap{{QStringLiteral("CFBundleShortVersionString"), QStringLiteral("2.0")}}, false);
    EXPECT_EQ(running.shortVersion(), QStringLiteral("1.0"));
    EXPECT_EQ(TLBundle::readInfoDictionary(bundle_)->value(QStringLiteral("CFBundleShortVersionString")),
              QStringLiteral("2.0"));
    EXPECT_TRUE(TLBundle(QString()).infoDictionary().isEmpty());
    EXPECT_EQ(TLBundle(QString()).bundleIdentifier(), QString::fromUtf8(TLBuildSettings::kBundleIdentifier));
}

} // namespace
