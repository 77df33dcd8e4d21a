#include "TLFileOps.h"
#include "TLTest.h"
#include "TLUpdateTestSupport.h"

#include <QDirIterator>

#include <csignal>

namespace {

// The program as a user has it: a bundle in an install folder whose executable is the stand-in
// application (its folders and the server from the fixture; the updater runs in the app).
class TLUpdateApp : public TLUpdaterFixture {
public:
    void installStandIn(const QString& bundle, const QString& version) const {
        tlWriteBundle(bundle, tlBundleInfo(version), "Tilora", standIn_);
        QFile::setPermissions(bundle + "/Contents/MacOS/Tilora", QFile::ReadOwner | QFile::ExeOwner);
    }
    // Runs a bundle's executable; no X display, so that a relaunched Tilora ends right after its
    // start-up recovery. With arguments it checks the feed and installs what it offers.
    QProcess::ExitStatus run(const QString& bundle, QStringList environment = {}, bool update = false) const {
        QProcess app;
        environment << "DISPLAY="
                    << "QT_QPA_PLATFORM="
                    << "TMPDIR=" + context_.tempDir << "XDG_CONFIG_HOME=" + dir_.filePath("config")
                    << "TL_E2E_MARKER=" + marker_;
        app.setEnvironment(QProcessEnvironment::systemEnvironment().toStringList() + environment);
        app.setProcessChannelMode(QProcess::ForwardedChannels);
        app.start(bundle + "/Contents/MacOS/Tilora",
                  update ? QStringList{server_.url("/appcast.json").toString(), log_, dir_.filePath("pid")}
                         : QStringList());
        EXPECT_TRUE(app.waitForFinished(60000));
        EXPECT_TRUE(app.exitStatus() == QProcess::CrashExit || app.exitCode() == 0);
        return app.exitStatus();
    }
    // No process is left that works in the test's folders (the extraction tool in particular);
    // any that is gets killed.
    bool noProcessLeft() const {
        QList<int> left;
        tlWaitFor(
            [&] {
                left.clear();
                for (QDirIterator it("/proc", {"[0-9]*"}, QDir::Dirs); it.hasNext();) {
                    if (tlRead(it.next() + "/cmdline").contains(dir_.path().toUtf8())) {
                        left.append(it.fileName().toInt());
                    }
                }
                return left.isEmpty();
            },
            3000);
        for (int pid : left) {
            ::kill(pid, SIGKILL);
        }
        return left.isEmpty();
    }

    QByteArray standIn_ = tlRead(TL_UPDATE_E2E_APP);
    QString marker_ = dir_.filePath("started");
    QString log_ = dir_.filePath("alerts.log");
};

} // namespace

// A release as it is published: scripts/release strips, zips and signs this build's bundle with a
// throw-away key and writes the feed; an installed Tilora that pins the key installs it, and the
// released executable runs.
TEST_F(TLUpdateApp, AReleaseMadeByTheReleaseScriptIsInstalledAndRuns) {
    const TLTestKey key = tlMakeKey(dir_.path());
    const QString out = dir_.filePath("release");
    QProcess release;
    release.setProcessChannelMode(QProcess::ForwardedChannels);
    release.start(TL_SOURCE_DIR "/scripts/release",
                  {"--key", key.secretKeyFile, "--url", server_.url("/dl").toString(), "--build-dir",
                   TL_BUILD_DIR, "--out", out, "--notes", "Neu."});
    ASSERT_TRUE(release.waitForFinished(600000) && release.exitCode() == 0);
    const QJsonObject feed = QJsonDocument::fromJson(tlRead(out + "/appcast.json")).object();
    const QString version = feed["version"].toString(), zip = "/Tilora-" + version + ".zip";
    EXPECT_EQ(feed["url"].toString(), server_.url("/dl" + zip).toString());
    server_.serve("/dl" + zip, tlRead(out + zip));
    server_.serve("/appcast.json", tlRead(out + "/appcast.json"));
    installStandIn(context_.bundlePath, "0.9");
    EXPECT_EQ(run(context_.bundlePath, {"TL_E2E_PUBLIC_KEY=" + key.publicKey}, true), QProcess::NormalExit);
    EXPECT_EQ(tlText(log_),
              "offer\tTilora " + version +
                  " ist verfügbar\tInstalliert ist 0.9.\\n\\nNeu.\\n\\nDas Update wird geladen, "
                  "geprüft, eingesetzt und Tilora startet neu.\nterminate\t\t\n");
    EXPECT_TRUE(
        tlText(context_.bundlePath + "/Contents/Info.plist").contains("<string>" + version + "</string>"));
    expectNoLeftovers(dir_.filePath("Programme"));
    // Stripped and naming its debug information, published beside the archive; it still runs.
    const QString executable = context_.bundlePath + "/Contents/MacOS/Tilora";
    QProcess readelf, released;
    readelf.start("readelf", {"-S", "--wide", executable});
    released.start("env", {"DISPLAY=", executable});
    ASSERT_TRUE(readelf.waitForFinished() && released.waitForFinished());
    const QByteArray sections = readelf.readAllStandardOutput();
    EXPECT_TRUE(sections.contains(".gnu_debuglink") && !sections.contains(".debug_info"));
    EXPECT_TRUE(QFileInfo::exists(out + "/Tilora-" + version + ".debug"));
    // Without an X server it says so and ends.
    EXPECT_EQ(released.exitCode(), 1);
    EXPECT_TRUE(released.readAllStandardError().contains("Tilora braucht eine X11-Sitzung"));
}

// A kill at any step of the installation leaves a Tilora.app that starts (the old version up
// to the exchange, the new one from then on), stops the extraction tool with it, and the next
// start leaves nothing behind.
TEST_F(TLUpdateApp, KilledAtEveryStepLeavesATiloraThatStarts) {
    TLTestZip zip;
    zip.addDirectory("Tilora.app");
    zip.addFile("Tilora.app/Contents/Info.plist", tlBundleInfo("1.10"));
    zip.addFile("Tilora.app/Contents/MacOS/Tilora", standIn_, 0644);
    const QByteArray archive = zip.bytes();
    server_.serve("/Tilora-1.10.zip", archive);
    const QJsonObject feed{{"version", "1.10"},
                           {"url", server_.url("/Tilora-1.10.zip").toString()},
                           {"sha256", tlSha256(archive)}};
    server_.serve("/appcast.json", QJsonDocument(feed).toJson());
    const QString install = dir_.filePath("Programme");
    const struct {
        const char* step;
        bool renamePair;
        const char* version; // that starts afterwards
    } rows[] = {
        {"download", false, "1.9"}, {"verify", false, "1.9"},     {"extract", false, "1.9"},
        {"verified", false, "1.9"}, {"swap", false, "1.9"},       {"exchanged", false, "1.10"},
        {"cleaned", false, "1.10"}, {"moved-aside", true, "1.9"}, // no bundle: started from the backup
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.step);
        QFile::remove(marker_);
        TLFileOps::removeItem(install);
        installStandIn(context_.bundlePath, "1.9");
        QStringList extra{QString("TL_E2E_KILL_AT=") + row.step};
        if (row.renamePair) {
            extra << "TL_E2E_RENAME_PAIR=1";
        }
        EXPECT_EQ(run(context_.bundlePath, extra, true), QProcess::CrashExit);
        EXPECT_TRUE(noProcessLeft());
        run(row.renamePair ? install + "/.Tilora.old" : context_.bundlePath);
        EXPECT_EQ(tlText(marker_), QStringLiteral("started %1\n").arg(row.version));
        EXPECT_TRUE(tlText(context_.bundlePath + "/Contents/Info.plist").contains(row.version));
        expectNoLeftovers(install);
    }
}
