#include "TLQtTestApplication.h"
#include "TLTestZip.h"
#include "TLUpdateTestSupport.h"
#include "TLUpdaterFixture.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStorageInfo>

#include <functional>
#include <ostream>

using namespace TLUpdateTestSupport;

namespace {

const QString kFailed = QStringLiteral("Update fehlgeschlagen");
const QString kImpossible = QStringLiteral("Update nicht möglich");
const QString kDigest =
    QStringLiteral("Die Prüfsumme des geladenen Updates stimmt nicht — das Update wurde verworfen.");
const QString kIncomplete =
    QStringLiteral("Die Update-Information ist unvollständig (URL oder Prüfsumme fehlt).");
const QString kUnextractable = QStringLiteral("Das Update-Archiv konnte nicht entpackt werden.");
const QString kForeign = QStringLiteral("Das Archiv enthält eine fremde App — verworfen.");
const QString kFolder = QStringLiteral(
    "Tilora läuft aus einem Ordner, in den nicht geschrieben werden kann. Bitte die App in den Programme-"
    "Ordner bewegen und erneut versuchen — oder das Update von der Download-Seite laden.");

class TLUpdateInstallTest : public TLUpdaterFixture {
public:
    TLUpdateInstallTest() {
        install_ = dir_.filePath("Programme");
        bundle_ = context_.bundlePath;
        marker_ = dir_.filePath("relaunched");
        writeBundle(bundle_, bundleInfo("1.0"), "Tilora", "old executable");
        // The process the relaunch waits for: alive until the test ends it.
        oldProcess_.start("/bin/sleep", {"60"});
        context_.runningVersion = "1.0";
        context_.processId = oldProcess_.processId();
        context_.downloadInactivityMs = 2000;
        context_.downloadDeadlineMs = 6000;
    }
    ~TLUpdateInstallTest() override {
        oldProcess_.kill();
        oldProcess_.waitForFinished();
    }

    // An archive with one bundle whose executable records whether the process it replaced
    // had already ended when it started. 0644 on purpose: the installation makes it runnable.
    TLTestZip archiveWith(const QByteArray& plist, const QString& prefix = QString()) const {
        TLTestZip zip;
        zip.addDirectory(prefix + "Tilora.app");
        zip.addFile(prefix + "Tilora.app/Contents/Info.plist", plist);
        zip.addFile(prefix + "Tilora.app/Contents/MacOS/Tilora",
                    QStringLiteral("#!/bin/sh\nif kill -0 %1 2>/dev/null; then s=early; else s=after; fi\n"
                                   "echo \"$s $0\" > '%2'\n")
                        .arg(oldProcess_.processId())
                        .arg(marker_)
                        .toUtf8(),
                    0644);
        return zip;
    }

    QJsonObject serveUpdate(const QByteArray& archive) {
        server_.serve("/Tilora.zip", archive, serving_);
        return {
            {"version", "2.0"}, {"url", server_.url("/Tilora.zip").toString()}, {"sha256", sha256(archive)}};
    }

    // Runs the installation and waits for its one outcome.
    void install(const QJsonObject& feed) {
        QSignalSpy finished(&updater(), &TLUpdater::installationFinished);
        updater().installFromAppcast(feed);
        if (updater().busy()) {
            ASSERT_TRUE(finished.wait(15000));
        }
        EXPECT_FALSE(updater().busy());
    }

    void expectFailure(const QString& title, const QString& text) {
        expectAlert(title, text);
        EXPECT_EQ(presenter_.terminations, 0);
        expectNoLeftovers(install_);
        EXPECT_EQ(readFile(bundle_ + "/Contents/MacOS/Tilora"), "old executable");
        EXPECT_TRUE(readFile(bundle_ + "/Contents/Info.plist").contains("<string>1.0</string>"));
    }

    void expectInstalled() {
        EXPECT_TRUE(presenter_.alerts.isEmpty()) << presenter_.alerts.value(0).text.toStdString();
        EXPECT_EQ(presenter_.terminations, 1);
        expectNoLeftovers(install_);
        EXPECT_TRUE(readFile(bundle_ + "/Contents/Info.plist").contains("<string>2.0</string>"));
        EXPECT_TRUE(QFileInfo(bundle_ + "/Contents/MacOS/Tilora").isExecutable());
        // The relaunch waits for the old process; only once it has ended does the new one start.
        EXPECT_FALSE(QFile::exists(marker_));
        oldProcess_.kill();
        oldProcess_.waitForFinished();
        ASSERT_TRUE(waitUntil([this] { return !readFile(marker_).isEmpty(); }));
        EXPECT_EQ(readFile(marker_).trimmed(), "after " + bundle_ + "/Contents/MacOS/Tilora");
    }

    QString install_;
    QString bundle_;
    QString marker_;
    QProcess oldProcess_;
    TLTestHttpServer::Mode serving_ = TLTestHttpServer::Mode::Normal; // how the archive is served
};

// One installation case: what it changes before the good archive is served (the archive, the
// surroundings, the server), what it changes in the feed that announces it, and the one
// alert expected (none: installed and relaunched).
struct InstallCase {
    const char* name = "";
    std::function<void(TLUpdateInstallTest&, TLTestZip&)> prepare = {};
    std::function<void(QJsonObject&)> feed = {};
    QString title = {};
    QString text = {};
};

void PrintTo(const InstallCase& c, std::ostream* os) {
    *os << c.name;
}

class TLUpdateInstallCase : public TLUpdateInstallTest, public ::testing::WithParamInterface<InstallCase> {};

} // namespace

TEST_P(TLUpdateInstallCase, EndsWithOneOutcome) {
    const InstallCase& c = GetParam();
    TLTestZip zip = archiveWith(bundleInfo("2.0"));
    if (c.prepare) {
        c.prepare(*this, zip);
    }
    QJsonObject feed = serveUpdate(zip.bytes());
    if (c.feed) {
        c.feed(feed);
    }
    install(feed);
    if (c.title.isEmpty()) {
        expectInstalled();
    } else {
        expectFailure(c.title, c.text);
    }
    if (c.title == kImpossible) {
        EXPECT_EQ(server_.requestCount("/Tilora.zip"), 0); // refused before any download
    }
    // Nothing was written outside the extraction directory.
    EXPECT_FALSE(QFileInfo::exists(dir_.filePath("evil")));
}

using F = TLUpdateInstallTest;
using Zip = TLTestZip;
using Feed = QJsonObject;

namespace {

// The standard archive with another Info.plist, optionally inside a folder.
std::function<void(F&, Zip&)> withInfo(const QByteArray& info, const QString& folder = QString()) {
    return [=](F& f, Zip& z) { z = f.archiveWith(info, folder); };
}
std::function<void(F&, Zip&)> servedAs(TLTestHttpServer::Mode mode) {
    return [=](F& f, Zip&) { f.serving_ = mode; };
}
std::function<void(Feed&)> setting(const char* key, const QJsonValue& value) {
    return [=](Feed& f) { f[key] = value; };
}

} // namespace

INSTANTIATE_TEST_SUITE_P(
    Installation, TLUpdateInstallCase,
    ::testing::Values(
        // installs
        InstallCase{"GoodUpdate"},
        InstallCase{"UpperCaseDigest", nullptr,
                    [](Feed& f) { f["sha256"] = f["sha256"].toString().toUpper(); }},
        InstallCase{"TextFileBesideTheApp", [](F&, Zip& z) { z.addFile("LIESMICH.txt", "Hallo"); }},
        InstallCase{"LinkInsideTheBundle",
                    [](F&, Zip& z) { z.addSymlink("Tilora.app/Contents/Current", "MacOS"); }},
        InstallCase{"NoExecutableKeyMeansTilora", withInfo(bundleInfo("2.0", "org.tilora.Tilora", ""))},
        InstallCase{"LeftoverBackupIsCleared",
                    [](F& f, Zip&) {
                        writeBundle(f.install_ + "/.Tilora.old", bundleInfo("0.9"), "Tilora", "older");
                    }},
        // refused before the download
        InstallCase{"Digest63", nullptr, [](Feed& f) { f["sha256"] = f["sha256"].toString().left(63); },
                    kImpossible, kIncomplete},
        InstallCase{"Digest65", nullptr, [](Feed& f) { f["sha256"] = f["sha256"].toString() + "0"; },
                    kImpossible, kIncomplete},
        InstallCase{"UrlNotAString", nullptr, setting("url", 7), kImpossible, kIncomplete},
        InstallCase{"Translocated",
                    [](F& f, Zip&) {
                        f.context_.bundlePath = f.dir_.filePath("AppTranslocation/X/d/Tilora.app");
                        writeBundle(f.context_.bundlePath, bundleInfo("1.0"), "Tilora", "old executable");
                    },
                    nullptr, kImpossible, kFolder},
        InstallCase{"NotInABundle", [](F& f, Zip&) { f.context_.bundlePath = f.install_; }, nullptr,
                    kImpossible, kFolder},
        // refused after the download
        InstallCase{"WrongDigest", nullptr, setting("sha256", QString(64, '0')), kFailed, kDigest},
        InstallCase{"DigestNotHex", nullptr, setting("sha256", QString(64, 'z')), kFailed, kDigest},
        InstallCase{"Http404", nullptr, [](Feed& f) { f["url"] = f["url"].toString() + ".missing"; }, kFailed,
                    "Der Server antwortete mit HTTP 404."},
        InstallCase{"ServerStalls", servedAs(TLTestHttpServer::Mode::HeadersThenStall), nullptr, kFailed,
                    QString::fromUtf8(TLUpdater::kTimedOut)},
        InstallCase{"ServerClosesMidBody", servedAs(TLTestHttpServer::Mode::Truncated), nullptr, kFailed,
                    QString::fromUtf8(TLUpdater::kConnectionLost)},
        InstallCase{"NotAZip", [](F&, Zip& z) { z.setRaw("this is no zip archive"); }, nullptr, kFailed,
                    kUnextractable},
        InstallCase{"ExtractorMissing", [](F& f, Zip&) { f.context_.extractTool = "/nonexistent/bsdtar"; },
                    nullptr, kFailed, "bsdtar konnte nicht gestartet werden."},
        InstallCase{"AppInASubFolder", withInfo(bundleInfo("2.0"), "Update/"), nullptr, kFailed,
                    "Im Archiv steckt keine App."},
        InstallCase{"ForeignIdentifier", withInfo(bundleInfo("2.0", "org.example.Other")), nullptr, kFailed,
                    kForeign},
        InstallCase{"NoInfoPlist",
                    [](F&, Zip& z) { (z = Zip()).addFile("Tilora.app/Contents/MacOS/Tilora", "x"); }, nullptr,
                    kFailed, kForeign},
        InstallCase{"Version13Against130", withInfo(bundleInfo("1.3")), setting("version", "1.3.0"), kFailed,
                    "Die Version im Archiv passt nicht zur Ankündigung — verworfen."},
        InstallCase{"ExecutableNameEscapes",
                    withInfo(bundleInfo("2.0", "org.tilora.Tilora", "../../../../evil")), nullptr, kFailed,
                    kForeign},
        // every escape below would land in the test's folder as "evil"
        InstallCase{"PathTraversal", [](F&, Zip& z) { z.addFile("Tilora.app/../../../../evil", "x"); },
                    nullptr, kFailed, kUnextractable},
        InstallCase{"AbsolutePath", [](F& f, Zip& z) { z.addFile(f.dir_.filePath("evil"), "x"); }, nullptr,
                    kFailed, kUnextractable},
        InstallCase{"SymlinkToOutside",
                    [](F&, Zip& z) { z.addSymlink("Tilora.app/Contents/Resources", "/etc"); }, nullptr,
                    kFailed, kUnextractable},
        InstallCase{"RelativeSymlinkOutOfTheBundle",
                    [](F&, Zip& z) { z.addSymlink("Tilora.app/Contents/up", "../.."); }, nullptr, kFailed,
                    kUnextractable},
        InstallCase{"WriteThroughSymlink",
                    [](F&, Zip& z) {
                        z.addSymlink("Tilora.app/Contents/out", "../../../../..");
                        z.addFile("Tilora.app/Contents/out/evil", "x");
                    },
                    nullptr, kFailed, kUnextractable}),
    [](const ::testing::TestParamInfo<InstallCase>& p) { return std::string(p.param.name); });

TEST_F(TLUpdateInstallTest, FailedMovesLeaveTheInstalledBundle) {
    // The running bundle cannot be moved away; the new one cannot be moved in (put back).
    const QString workDir = context_.tempDir + "/tilora-update-TEST";
    const struct {
        QString bundle;
        QString newApp;
        const char* named; // the item the message names
    } rows[] = {{install_ + "/Gone.app", workDir + "/extract/Tilora.app", "Gone.app"},
                {bundle_, workDir + "/extract/Missing.app", "Missing.app"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.named);
        presenter_.alerts.clear();
        QDir().mkpath(workDir + "/extract/Tilora.app");
        updater().swapBundle(row.bundle, row.newApp, workDir);
        expectFailure(kFailed, presenter_.alerts.value(0).text);
        EXPECT_TRUE(presenter_.alerts.value(0).text.contains(row.named));
    }
}

TEST_F(TLUpdateInstallTest, MovesAcrossFileSystems) {
    // The work directory on one file system, the install folder on another (a tmpfs).
    const QStorageInfo shm(QStringLiteral("/dev/shm"));
    if (!shm.isValid() || shm.device() == QStorageInfo(context_.tempDir).device()) {
        GTEST_SKIP() << "no second file system for the install folder";
    }
    QTemporaryDir other(QStringLiteral("/dev/shm/tilora-e2e-XXXXXX"));
    ASSERT_TRUE(other.isValid());
    install_ = other.filePath("Programme");
    bundle_ = context_.bundlePath = install_ + "/Tilora.app";
    writeBundle(bundle_, bundleInfo("1.0"), "Tilora", "old executable");
    install(serveUpdate(archiveWith(bundleInfo("2.0")).bytes()));
    expectInstalled();
}

TEST_F(TLUpdateInstallTest, UnwritableInstallFolderIsRefusedBeforeTheDownload) {
    // A folder this process cannot write to: a read-only one of our own, or (as root, who may
    // write everywhere else) one the kernel keeps read-only.
    QString folder = dir_.filePath("readonly");
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    if (QFileInfo(folder).isWritable()) {
        folder = QStringLiteral("/proc/sys");
    }
    if (QFileInfo(folder).isWritable()) {
        GTEST_SKIP() << "no folder here is read-only for this process";
    }
    context_.bundlePath = folder + "/Tilora.app";
    install(serveUpdate(archiveWith(bundleInfo("2.0")).bytes()));
    expectFailure(kImpossible, kFolder);
    EXPECT_EQ(server_.requestCount("/Tilora.zip"), 0);
    QFile::setPermissions(dir_.filePath("readonly"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
