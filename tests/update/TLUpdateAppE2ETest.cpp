#include "TLFileOps.h"
#include "TLTestZip.h"
#include "TLUpdateTestSupport.h"
#include "TLUpdaterFixture.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>

#include <csignal>

using namespace TLUpdateTestSupport;

namespace {

// The program as a user has it: a bundle in an install folder whose executable is the stand-in
// application (its folders and the server from the fixture; the updater runs in the app).
class TLUpdateApp : public TLUpdaterFixture {
public:
    TLUpdateApp() {
        QFile program(TL_UPDATE_E2E_APP);
        program.open(QIODevice::ReadOnly);
        standIn_ = program.readAll();
    }

    void installStandIn(const QString& bundle, const QString& version) const {
        writeBundle(bundle, bundleInfo(version), "Tilora", standIn_);
        QFile::setPermissions(bundle + "/Contents/MacOS/Tilora", QFile::ReadOwner | QFile::ExeOwner);
    }

    // Runs a bundle's executable with these arguments; no X display, so that a relaunched
    // Tilora ends right after its start-up recovery.
    QProcess::ExitStatus run(const QString& bundle, const QStringList& arguments,
                             const QMap<QString, QString>& extra = {}) const {
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        env.insert("TMPDIR", context_.tempDir);
        env.insert("XDG_CONFIG_HOME", dir_.filePath("config"));
        env.insert("TL_E2E_MARKER", marker_);
        for (auto it = extra.cbegin(); it != extra.cend(); ++it) {
            env.insert(it.key(), it.value());
        }
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::ForwardedChannels);
        app.start(bundle + "/Contents/MacOS/Tilora", arguments);
        const bool finished = app.waitForFinished(60000);
        EXPECT_TRUE(finished);
        EXPECT_TRUE(app.exitStatus() == QProcess::CrashExit || app.exitCode() == 0);
        return finished ? app.exitStatus() : QProcess::CrashExit;
    }
    QProcess::ExitStatus update(const QMap<QString, QString>& extra = {}) const {
        return run(context_.bundlePath, {server_.url("/appcast.json").toString(), log_, dir_.filePath("pid")},
                   extra);
    }

    // No process is left that works in the test's folders (the extraction tool in particular);
    // any that is gets killed.
    bool noProcessLeft() const {
        QList<int> left;
        waitUntil(
            [&] {
                left.clear();
                QDirIterator it("/proc", {"[0-9]*"}, QDir::Dirs);
                while (it.hasNext()) {
                    QFile cmdline(it.next() + "/cmdline");
                    if (cmdline.open(QIODevice::ReadOnly) &&
                        cmdline.readAll().contains(dir_.path().toUtf8())) {
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

    QByteArray standIn_;
    QString marker_ = dir_.filePath("started");
    QString log_ = dir_.filePath("alerts.log");
};

} // namespace

// What the publisher runs is what is tested: the release command builds, strips, zips and
// signs the bundle of this build and writes the feed; an installed Tilora that pins the key
// checks the feed, accepts the offer, swaps itself and ends, and the released Tilora starts.
TEST_F(TLUpdateApp, ReleaseIsInstalledAndRelaunched) {
    const Key key = makeKey(dir_.path());
    const QString out = dir_.filePath("release");
    QProcess release;
    release.setProcessChannelMode(QProcess::ForwardedChannels);
    release.start(TL_SOURCE_DIR "/scripts/release",
                  {"--key", key.secretKeyFile, "--url", server_.url("/dl").toString(), "--build-dir",
                   TL_BUILD_DIR, "--out", out, "--notes", "Neu."});
    ASSERT_TRUE(release.waitForFinished(600000));
    ASSERT_EQ(release.exitCode(), 0);
    const QJsonObject feed = QJsonDocument::fromJson(readFile(out + "/appcast.json").toUtf8()).object();
    const QString version = feed["version"].toString();
    const QString zip = "Tilora-" + version + ".zip";
    QFile archive(out + "/" + zip);
    ASSERT_TRUE(archive.open(QIODevice::ReadOnly));
    EXPECT_EQ(feed["url"].toString(), server_.url("/dl/" + zip).toString());
    server_.serve("/dl/" + zip, archive.readAll());
    server_.serve("/appcast.json", readFile(out + "/appcast.json").toUtf8());

    installStandIn(context_.bundlePath, "0.9");
    // A work folder of an earlier run, with a folder its owner cannot write: the released
    // Tilora clears it at its start.
    const QString stale = context_.tempDir + "/tilora-update-STALE";
    writeBundle(stale, "", "x", "x");
    QFile::setPermissions(stale + "/Contents", QFile::ReadOwner | QFile::ExeOwner);

    EXPECT_EQ(update({{"TL_E2E_PUBLIC_KEY", key.publicKey}}), QProcess::NormalExit);
    const QStringList lines = readFile(log_).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << readFile(log_).toStdString();
    EXPECT_EQ(lines[0], "offer\tTilora " + version +
                            " ist verfügbar\tInstalliert ist 0.9.\\n\\nNeu.\\n\\nDas Update wird "
                            "geladen, geprüft, eingesetzt und Tilora startet neu.");
    EXPECT_EQ(lines[1], "terminate\t\t");
    EXPECT_TRUE(waitUntil([&] { return !QFileInfo::exists(stale); }, 30000));
    EXPECT_TRUE(
        readFile(context_.bundlePath + "/Contents/Info.plist").contains("<string>" + version + "</string>"));
    expectNoLeftovers(dir_.filePath("Programme"));
    // The last valid feed read was stored in the application's own settings.
    EXPECT_TRUE(readFile(dir_.filePath("config/Tilora/Tilora.plist")).contains("TLLastUpdateCheck"));

    // The executable is stripped and names its debug information, which is kept apart.
    QProcess readelf;
    readelf.start("readelf", {"-S", "--wide", context_.bundlePath + "/Contents/MacOS/Tilora"});
    ASSERT_TRUE(readelf.waitForFinished());
    const QByteArray sections = readelf.readAllStandardOutput();
    EXPECT_TRUE(sections.contains(".gnu_debuglink"));
    EXPECT_FALSE(sections.contains(".debug_info"));
    EXPECT_TRUE(QFileInfo::exists(out + "/Tilora-" + version + ".debug"));
}

// A kill at any step of the installation leaves a Tilora.app that starts (the old version up
// to the exchange, the new one from then on), stops the extraction tool with it, and the next
// start leaves nothing behind.
TEST_F(TLUpdateApp, KilledAtEveryStepLeavesATiloraThatStarts) {
    TLTestZip zip;
    zip.addDirectory("Tilora.app");
    zip.addFile("Tilora.app/Contents/Info.plist", bundleInfo("1.10"));
    zip.addFile("Tilora.app/Contents/MacOS/Tilora", standIn_, 0644);
    const QByteArray archive = zip.bytes();
    server_.serve("/Tilora-1.10.zip", archive);
    const QJsonObject feed{{"version", "1.10"},
                           {"url", server_.url("/Tilora-1.10.zip").toString()},
                           {"sha256", sha256(archive)}};
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
        QMap<QString, QString> extra{{"TL_E2E_KILL_AT", row.step}};
        if (row.renamePair) {
            extra.insert("TL_E2E_RENAME_PAIR", "1");
        }
        EXPECT_EQ(update(extra), QProcess::CrashExit);
        EXPECT_TRUE(noProcessLeft());
        run(row.renamePair ? install + "/.Tilora.old" : context_.bundlePath, {});
        EXPECT_EQ(readFile(marker_), QStringLiteral("started %1\n").arg(row.version));
        EXPECT_TRUE(readFile(context_.bundlePath + "/Contents/Info.plist").contains(row.version));
        expectNoLeftovers(install);
    }
}
