#include "TLUpdateTestSupport.h"
#include "TLTest.h"

#include "TLFileOps.h"
#include "TLPropertyList.h"

#include <QCryptographicHash>

#include <filesystem>
#include <stdexcept>

QByteArray tlBundleInfo(const QString& version, const QString& identifier, const QString& executable) {
    QVariantMap info{{"CFBundleIdentifier", identifier}, {"CFBundleShortVersionString", version}};
    if (!executable.isEmpty()) {
        info.insert("CFBundleExecutable", executable);
    }
    return TLPropertyList::toXml(TLPropertyList::fromVariant(info).get());
}

void tlWriteBundle(const QString& path, const QByteArray& info, const QString& executable,
                   const QByteArray& data) {
    tlWrite(path + "/Contents/Info.plist", info);
    tlWrite(path + "/Contents/MacOS/" + executable, data);
}

QString tlSha256(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

static QByteArray runTool(const QString& program, const QStringList& arguments) {
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished() || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
        throw std::runtime_error(program.toStdString() +
                                 " failed: " + tool.readAllStandardError().toStdString());
    }
    return tool.readAllStandardOutput();
}

TLTestKey tlMakeKey(const QString& folder) {
    const QString name = QDir(folder).filePath(QStringLiteral("key-%1").arg(QDir(folder).count()));
    runTool("minisign", {"-G", "-W", "-p", name + ".pub", "-s", name + ".sec"});
    return {name + ".sec", QString::fromUtf8(tlRead(name + ".pub")).split('\n').value(1)};
}

QString tlSign(const TLTestKey& key, const QByteArray& data, const QString& trustedComment) {
    QTemporaryDir dir;
    tlWrite(dir.filePath("data"), data);
    runTool("minisign", {"-S", "-s", key.secretKeyFile, "-m", dir.filePath("data"), "-x", dir.filePath("sig"),
                         "-t", trustedComment});
    return QString::fromUtf8(tlRead(dir.filePath("sig")));
}

QByteArray TLTestZip::bytes() const {
    if (!raw.isEmpty()) {
        return raw;
    }
    // Each entry is staged under a plain name ("e<i>") and renamed in the archive, so that any
    // name can be stored, also those no file system would hold for us.
    QTemporaryDir stage;
    QStringList arguments{"-cf", "-", "--format", format, "-n", "-P", "-C", stage.path()}, staged;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        const std::string path =
            QFile::encodeName(stage.filePath(QStringLiteral("e%1").arg(i))).toStdString();
        if (e.kind == 'l') {
            std::filesystem::create_symlink(e.data.toStdString(), path);
        } else {
            e.kind == 'd' ? (void)std::filesystem::create_directory(path)
                          : (void)tlWrite(QString::fromStdString(path), e.data);
            std::filesystem::permissions(path, std::filesystem::perms(e.mode));
        }
        arguments << "-s" << QStringLiteral("|^e%1$|%2|").arg(i).arg(e.name);
        staged << QStringLiteral("e%1").arg(i);
    }
    return runTool("bsdtar", arguments + staged);
}

TLUpdaterFixture::TLUpdaterFixture() {
    context_.bundlePath = dir_.filePath("Programme/Tilora.app");
    context_.bundleIdentifier = "org.tilora.Tilora";
    context_.feedUrl = server_.url("/appcast.json");
    context_.tempDir = dir_.filePath("tmp");
    context_.extractTool = "/usr/bin/bsdtar";
    context_.allowHttpLoopback = true;
    QDir().mkpath(context_.tempDir);
    presenter_.busyProbe = [this] { return updater_ && updater_->busy(); };
}

TLUpdaterFixture::~TLUpdaterFixture() {
    updater_.reset();
    TLFileOps::removeItem(dir_.path()); // also folders a test made read-only
}

TLUpdater& TLUpdaterFixture::updater() {
    if (!updater_) {
        updater_ = std::make_unique<TLUpdater>(defaults_, presenter_, context_);
    }
    return *updater_;
}

void TLUpdaterFixture::expectAlert(const QString& title, const QString& text) const {
    ASSERT_EQ(presenter_.alerts.size(), 1);
    EXPECT_EQ(presenter_.alerts[0].title, title);
    EXPECT_EQ(presenter_.alerts[0].text, text);
}

void TLUpdaterFixture::expectNoLeftovers(const QString& installFolder) const {
    const auto all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    EXPECT_EQ(QDir(context_.tempDir).entryList({"tilora-*"}, all), QStringList());
    EXPECT_EQ(QDir(installFolder).entryList(all), QStringList({"Tilora.app"}));
}
