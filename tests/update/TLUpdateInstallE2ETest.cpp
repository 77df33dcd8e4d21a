#include "TLRecordingPresenter.h"
#include "TLTestHttpServer.h"
#include "TLTestZip.h"
#include "TLUpdateTestSupport.h"
#include "TLUpdater.h"
#include "TLUserDefaults.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <ostream>

#include <unistd.h>

using namespace TLUpdateTestSupport;

namespace {

const QString kIdentifier = QStringLiteral("org.tilora.Tilora");
const QString kFailed = QStringLiteral("Update fehlgeschlagen");
const QString kImpossible = QStringLiteral("Update nicht möglich");
const QString kDigestText =
    QStringLiteral("Die Prüfsumme des geladenen Updates stimmt nicht — das Update wurde verworfen.");
const QString kIncomplete =
    QStringLiteral("Die Update-Information ist unvollständig (URL oder Prüfsumme fehlt).");
const QString kUnextractable = QStringLiteral("Das Update-Archiv konnte nicht entpackt werden.");
const QString kNoApp = QStringLiteral("Im Archiv steckt keine App.");
const QString kForeign = QStringLiteral("Das Archiv enthält eine fremde App — verworfen.");
const QString kWrongVersion =
    QStringLiteral("Die Version im Archiv passt nicht zur Ankündigung — verworfen.");
const QString kFolder =
    QStringLiteral("Tilora läuft aus einem Ordner, in den nicht geschrieben werden kann. Bitte die App in "
                   "den Programme-Ordner "
                   "bewegen und erneut versuchen — oder das Update von der Download-Seite laden.");

QString sha256(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QByteArray bundleInfo(const QString& version, const QString& identifier = kIdentifier,
                      const QString& executable = QStringLiteral("Tilora")) {
    QList<QPair<QString, QString>> keys{{"CFBundleIdentifier", identifier},
                                        {"CFBundleShortVersionString", version}};
    if (!executable.isEmpty()) {
        keys.append({"CFBundleExecutable", executable});
    }
    return infoPlist(keys);
}

// The executable of an update: a script that records whether the process it replaced had
// already ended when it started.
QByteArray standIn(qint64 oldPid, const QString& marker) {
    return QStringLiteral("#!/bin/sh\nif kill -0 %1 2>/dev/null; then s=early; else s=after; fi\n"
                          "echo \"$s $0\" > '%2'\n")
        .arg(oldPid)
        .arg(marker)
        .toUtf8();
}

class TLUpdateInstallTest : public ::testing::Test {
public:
    void SetUp() override {
        ASSERT_TRUE(root_.isValid());
        install_ = root_.filePath("Programme");
        bundle_ = install_ + "/Tilora.app";
        temp_ = root_.filePath("tmp");
        marker_ = root_.filePath("relaunched");
        QDir().mkpath(temp_);
        writeBundle(bundle_, bundleInfo("1.0"), "Tilora", "old executable");
        defaults_ = std::make_unique<TLUserDefaults>(root_.filePath("Tilora.plist"));

        // The process the relaunch waits for: alive until the test ends it.
        oldProcess_.start("/bin/sleep", {"60"});
        ASSERT_TRUE(oldProcess_.waitForStarted());

        context_.bundlePath = bundle_;
        context_.bundleIdentifier = kIdentifier;
        context_.runningVersion = "1.0";
        context_.feedUrl = server_.url("/appcast.json");
        context_.tempDir = temp_;
        context_.processId = oldProcess_.processId();
        context_.extractTool = "/usr/bin/bsdtar";
        context_.downloadInactivityMs = 2000;
        context_.downloadDeadlineMs = 6000;
    }

    void TearDown() override {
        oldProcess_.kill();
        oldProcess_.waitForFinished();
    }

    TLUpdater& updater() {
        if (!updater_) {
            updater_ = std::make_unique<TLUpdater>(*defaults_, presenter_, context_);
        }
        return *updater_;
    }

    // An archive with one bundle whose executable is the relaunch stand-in.
    TLTestZip archiveWith(const QByteArray& plist, const QString& prefix = QString()) const {
        TLTestZip zip;
        zip.addDirectory(prefix + "Tilora.app");
        zip.addFile(prefix + "Tilora.app/Contents/Info.plist", plist);
        // 0644 on purpose: the installation makes the executable runnable.
        zip.addFile(prefix + "Tilora.app/Contents/MacOS/Tilora", standIn(oldProcess_.processId(), marker_),
                    0644);
        return zip;
    }
    TLTestZip goodArchive() const { return archiveWith(bundleInfo("2.0")); }

    QJsonObject serveUpdate(const QByteArray& archive, const QString& version = "2.0") {
        server_.serve("/Tilora.zip", archive);
        return QJsonObject{{"version", version},
                           {"url", server_.url("/Tilora.zip").toString()},
                           {"sha256", sha256(archive)}};
    }

    // Runs the installation and waits for its one outcome.
    void install(const QJsonObject& feed) {
        QSignalSpy finished(updater_ ? updater_.get() : &updater(), &TLUpdater::installationFinished);
        updater().installFromAppcast(feed);
        if (updater().busy()) {
            ASSERT_TRUE(finished.wait(15000));
        }
        EXPECT_FALSE(updater().busy());
    }

    void expectFailure(const QString& title, const QString& text) {
        ASSERT_EQ(presenter_.alerts.size(), 1);
        EXPECT_EQ(presenter_.alerts[0].title, title);
        EXPECT_EQ(presenter_.alerts[0].text, text);
        EXPECT_EQ(presenter_.terminations, 0);
        expectNoLeftovers();
        EXPECT_EQ(readFile(bundle_ + "/Contents/MacOS/Tilora"), "old executable");
        EXPECT_TRUE(readFile(bundle_ + "/Contents/Info.plist").contains("<string>1.0</string>"));
    }

    void expectInstalled(const QString& version) {
        EXPECT_TRUE(presenter_.alerts.isEmpty()) << presenter_.alerts.value(0).text.toStdString();
        EXPECT_EQ(presenter_.terminations, 1);
        expectNoLeftovers();
        EXPECT_TRUE(readFile(bundle_ + "/Contents/Info.plist").contains("<string>" + version + "</string>"));
        // The relaunch waits for the old process; only once it has ended does the new one start.
        EXPECT_FALSE(QFile::exists(marker_));
        oldProcess_.kill();
        oldProcess_.waitForFinished();
        ASSERT_TRUE(waitUntil([this] { return QFile::exists(marker_) && !readFile(marker_).isEmpty(); }));
        EXPECT_EQ(readFile(marker_).trimmed(), "after " + bundle_ + "/Contents/MacOS/Tilora");
    }

    void expectNoLeftovers() {
        EXPECT_EQ(entriesStartingWith(temp_, "tilora-"), QStringList());
        EXPECT_FALSE(QFileInfo::exists(install_ + "/.Tilora.old"));
        EXPECT_EQ(QDir(install_).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList({"Tilora.app"}));
    }

    QTemporaryDir root_;
    QString install_;
    QString bundle_;
    QString temp_;
    QString marker_;
    std::unique_ptr<TLTestHttpServer> serverHolder_ =
        (ensureApplication(), std::make_unique<TLTestHttpServer>());
    TLTestHttpServer& server_ = *serverHolder_;
    std::unique_ptr<TLUserDefaults> defaults_;
    QProcess oldProcess_;
    TLUpdaterContext context_;
    TLRecordingPresenter presenter_;
    std::unique_ptr<TLUpdater> updater_;
};

} // namespace

TEST_F(TLUpdateInstallTest, GoodUpdateIsSwappedInAndRelaunchedAfterTheOldProcess) {
    install(serveUpdate(goodArchive().bytes()));
    expectInstalled("2.0");
    EXPECT_TRUE(QFileInfo(bundle_ + "/Contents/MacOS/Tilora").isExecutable());
}

TEST_F(TLUpdateInstallTest, AcceptedOfferInstalls) {
    const QJsonObject feed = serveUpdate(goodArchive().bytes());
    server_.serve("/appcast.json", QJsonDocument(feed).toJson());
    presenter_.answer = 0;
    updater().checkForUpdatesInteractive(true);
    ASSERT_TRUE(waitUntil([this] { return presenter_.terminations == 1 && !updater().busy(); }, 15000));
    ASSERT_EQ(presenter_.alerts.size(), 1); // the offer
    presenter_.alerts.clear();
    expectInstalled("2.0");
}

using Fixture = TLUpdateInstallTest;

// One installation case: changes to the good archive, to the feed that announces it, to the
// surroundings and to what the server answers; and the one alert expected (none: installed).
struct InstallCase {
    const char* name = "";
    std::function<void(Fixture&, TLTestZip&)> archive = {};
    std::function<void(QJsonObject&)> feed = {};
    std::function<void(Fixture&, TLUpdaterContext&)> context = {};
    std::function<void(TLTestHttpServer&)> server = {};
    QString title = {};
    QString text = {};
};

void PrintTo(const InstallCase& c, std::ostream* os) {
    *os << c.name;
}

class TLUpdateInstallCase : public TLUpdateInstallTest, public ::testing::WithParamInterface<InstallCase> {};

TEST_P(TLUpdateInstallCase, EndsWithOneOutcome) {
    const InstallCase& c = GetParam();
    if (c.context) {
        c.context(*this, context_);
    }
    TLTestZip zip = goodArchive();
    if (c.archive) {
        c.archive(*this, zip);
    }
    QJsonObject feed = serveUpdate(zip.bytes());
    if (c.feed) {
        c.feed(feed);
    }
    if (c.server) {
        c.server(server_);
    }
    const int requestsBefore = server_.requestCount("/Tilora.zip");
    install(feed);
    if (c.title.isEmpty()) {
        expectInstalled("2.0");
    } else {
        expectFailure(c.title, c.text);
    }
    if (c.title == kImpossible) {
        EXPECT_EQ(server_.requestCount("/Tilora.zip"), requestsBefore); // refused before any download
    }
    // Nothing was written outside the extraction directory.
    EXPECT_FALSE(QFileInfo::exists(root_.filePath("evil")));
    EXPECT_FALSE(QFileInfo::exists(root_.filePath("tmp/evil")));
}

namespace {

const QString kNotHex = QString(64, QLatin1Char('z'));
const QString kTimedOut = QString::fromUtf8(TLUpdater::kTimedOut);

void replaceWith(Fixture& f, TLTestZip& zip, const QByteArray& plist, const QString& prefix = QString()) {
    zip = f.archiveWith(plist, prefix);
}

InstallCase fails(const char* name, std::function<void(Fixture&, TLTestZip&)> archive, const QString& title,
                  const QString& text) {
    return InstallCase{name, std::move(archive), nullptr, nullptr, nullptr, title, text};
}

InstallCase feedFails(const char* name, std::function<void(QJsonObject&)> feed, const QString& title,
                      const QString& text) {
    return InstallCase{name, nullptr, std::move(feed), nullptr, nullptr, title, text};
}

InstallCase serverFails(const char* name, TLTestHttpServer::Mode mode) {
    return InstallCase{
        name,    nullptr,  nullptr, nullptr, [mode](TLTestHttpServer& s) { s.stall("/Tilora.zip", mode); },
        kFailed, kTimedOut};
}

} // namespace

INSTANTIATE_TEST_SUITE_P(
    Installation, TLUpdateInstallCase,
    ::testing::Values(
        // installs
        InstallCase{"UpperCaseDigest", nullptr,
                    [](QJsonObject& f) { f["sha256"] = f["sha256"].toString().toUpper(); }},
        InstallCase{"TextFileBesideTheApp",
                    [](Fixture&, TLTestZip& z) { z.addFile("LIESMICH.txt", "Hallo"); }},
        InstallCase{"LinkInsideTheBundle",
                    [](Fixture&, TLTestZip& z) { z.addSymlink("Tilora.app/Contents/Current", "MacOS"); }},
        InstallCase{
            "NoExecutableKeyMeansTilora",
            [](Fixture& f, TLTestZip& z) { replaceWith(f, z, bundleInfo("2.0", kIdentifier, QString())); }},
        InstallCase{"LeftoverBackupIsCleared", nullptr, nullptr,
                    [](Fixture& f, TLUpdaterContext&) {
                        writeBundle(f.install_ + "/.Tilora.old", bundleInfo("0.9"), "Tilora", "older");
                    }},
        // refused before the download
        feedFails(
            "Digest63", [](QJsonObject& f) { f["sha256"] = f["sha256"].toString().left(63); }, kImpossible,
            kIncomplete),
        feedFails(
            "Digest65", [](QJsonObject& f) { f["sha256"] = f["sha256"].toString() + "0"; }, kImpossible,
            kIncomplete),
        feedFails(
            "DigestMissing", [](QJsonObject& f) { f.remove("sha256"); }, kImpossible, kIncomplete),
        feedFails(
            "UrlNotAString", [](QJsonObject& f) { f["url"] = 7; }, kImpossible, kIncomplete),
        InstallCase{"Translocated", nullptr, nullptr,
                    [](Fixture& f, TLUpdaterContext& c) {
                        c.bundlePath = f.root_.filePath("AppTranslocation/X/d/Tilora.app");
                        writeBundle(c.bundlePath, bundleInfo("1.0"), "Tilora", "old executable");
                    },
                    nullptr, kImpossible, kFolder},
        InstallCase{"NotInABundle", nullptr, nullptr,
                    [](Fixture& f, TLUpdaterContext& c) { c.bundlePath = f.install_; }, nullptr, kImpossible,
                    kFolder},
        // refused after the download
        feedFails(
            "WrongDigest", [](QJsonObject& f) { f["sha256"] = QString(64, QLatin1Char('0')); }, kFailed,
            kDigestText),
        feedFails(
            "DigestNotHex", [](QJsonObject& f) { f["sha256"] = kNotHex; }, kFailed, kDigestText),
        feedFails(
            "Http404", [](QJsonObject& f) { f["url"] = f["url"].toString() + ".missing"; }, kFailed,
            QStringLiteral("Der Server antwortete mit HTTP 404.")),
        fails(
            "AppInASubFolder",
            [](Fixture& f, TLTestZip& z) { replaceWith(f, z, bundleInfo("2.0"), "Update/"); }, kFailed,
            kNoApp),
        fails(
            "NotAZip", [](Fixture&, TLTestZip& z) { z.setRaw("this is no zip archive"); }, kFailed,
            kUnextractable),
        fails(
            "ForeignIdentifier",
            [](Fixture& f, TLTestZip& z) { replaceWith(f, z, bundleInfo("2.0", "org.example.Other")); },
            kFailed, kForeign),
        fails(
            "NoInfoPlist",
            [](Fixture&, TLTestZip& z) {
                z = TLTestZip();
                z.addFile("Tilora.app/Contents/MacOS/Tilora", "x");
            },
            kFailed, kForeign),
        InstallCase{
            "Version13Against130", [](Fixture& f, TLTestZip& z) { replaceWith(f, z, bundleInfo("1.3")); },
            [](QJsonObject& feed) { feed["version"] = "1.3.0"; }, nullptr, nullptr, kFailed, kWrongVersion},
        fails(
            "ExecutableNameEscapes",
            [](Fixture& f, TLTestZip& z) {
                replaceWith(f, z, bundleInfo("2.0", kIdentifier, "../../../../evil"));
            },
            kFailed, kForeign),
        fails(
            "PathTraversal", [](Fixture&, TLTestZip& z) { z.addFile("../../../evil", "x"); }, kFailed,
            kUnextractable),
        fails(
            "PathTraversalInside",
            [](Fixture&, TLTestZip& z) { z.addFile("Tilora.app/../../../../evil", "x"); }, kFailed,
            kUnextractable),
        fails(
            "AbsolutePath", [](Fixture& f, TLTestZip& z) { z.addFile(f.root_.filePath("evil"), "x"); },
            kFailed, kUnextractable),
        fails(
            "SymlinkToOutside",
            [](Fixture&, TLTestZip& z) { z.addSymlink("Tilora.app/Contents/Resources", "/etc"); }, kFailed,
            kUnextractable),
        fails(
            "RelativeSymlinkOutOfTheBundle",
            [](Fixture&, TLTestZip& z) { z.addSymlink("Tilora.app/Contents/up", "../.."); }, kFailed,
            kUnextractable),
        fails(
            "WriteThroughSymlink",
            [](Fixture&, TLTestZip& z) {
                z.addSymlink("Tilora.app/Contents/out", "../../../../../..");
                z.addFile("Tilora.app/Contents/out/evil", "x");
            },
            kFailed, kUnextractable),
        InstallCase{"ExtractorMissing", nullptr, nullptr,
                    [](Fixture&, TLUpdaterContext& c) { c.extractTool = "/nonexistent/bsdtar"; }, nullptr,
                    kFailed, QStringLiteral("bsdtar konnte nicht gestartet werden.")},
        serverFails("ServerNeverAnswers", TLTestHttpServer::Mode::NoAnswer),
        serverFails("ServerStallsAfterHeaders", TLTestHttpServer::Mode::HeadersThenStall),
        serverFails("ServerTrickles", TLTestHttpServer::Mode::Trickle)),
    [](const ::testing::TestParamInfo<InstallCase>& p) { return std::string(p.param.name); });

TEST_F(TLUpdateInstallTest, FailedSecondMovePutsTheInstalledBundleBack) {
    const QString workDir = temp_ + "/tilora-update-TEST";
    QDir().mkpath(workDir);
    updater().swapBundle(bundle_, workDir + "/extract/Missing.app", workDir);
    expectFailure(kFailed, presenter_.alerts.value(0).text);
    EXPECT_TRUE(presenter_.alerts.value(0).text.contains("Missing.app"));
}

TEST_F(TLUpdateInstallTest, FailedFirstMoveChangesNothing) {
    const QString workDir = temp_ + "/tilora-update-TEST";
    QDir().mkpath(workDir + "/extract/Tilora.app");
    updater().swapBundle(install_ + "/Gone.app", workDir + "/extract/Tilora.app", workDir);
    expectFailure(kFailed, presenter_.alerts.value(0).text);
    EXPECT_TRUE(presenter_.alerts.value(0).text.contains("Gone.app"));
}

TEST_F(TLUpdateInstallTest, MovesAcrossFileSystems) {
    // The work directory on one file system, the install folder on another (a tmpfs).
    const QStorageInfo shm(QStringLiteral("/dev/shm"));
    if (!shm.isValid() || shm.device() == QStorageInfo(temp_).device()) {
        GTEST_SKIP() << "no second file system for the install folder";
    }
    QTemporaryDir other(QStringLiteral("/dev/shm/tilora-e2e-XXXXXX"));
    ASSERT_TRUE(other.isValid());
    install_ = other.filePath("Programme");
    bundle_ = install_ + "/Tilora.app";
    writeBundle(bundle_, bundleInfo("1.0"), "Tilora", "old executable");
    context_.bundlePath = bundle_;
    install(serveUpdate(goodArchive().bytes()));
    expectInstalled("2.0");
    EXPECT_TRUE(QFileInfo(bundle_ + "/Contents/MacOS/Tilora").isExecutable());
}

TEST_F(TLUpdateInstallTest, UnwritableInstallFolderIsRefusedBeforeTheDownload) {
    // A folder this process cannot write to: a read-only one of our own, or (as root, who may
    // write everywhere else) one the kernel keeps read-only.
    QString folder = root_.filePath("readonly");
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    if (QFileInfo(folder).isWritable()) {
        folder = QStringLiteral("/proc/sys");
    }
    if (QFileInfo(folder).isWritable()) {
        GTEST_SKIP() << "no folder here is read-only for this process";
    }
    context_.bundlePath = folder + "/Tilora.app";
    install(serveUpdate(goodArchive().bytes()));
    expectFailure(kImpossible, kFolder);
    EXPECT_EQ(server_.requestCount("/Tilora.zip"), 0);
    QFile::setPermissions(root_.filePath("readonly"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
