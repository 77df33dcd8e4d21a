#include "TLFileOps.h"
#include "TLQtTestApplication.h"
#include "TLTestZip.h"
#include "TLUpdateErrors.h"
#include "TLUpdateRecovery.h"
#include "TLUpdateSignature.h"
#include "TLUpdateTestSupport.h"
#include "TLUpdaterFixture.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>

#include <functional>
#include <new>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

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
const QString kForeignExecutable = QStringLiteral("Das Update enthält eine fremde App.");
const QString kUnsigned = QStringLiteral(
    "Die Update-Information trägt keine gültige Signatur des Herausgebers — das Update wurde verworfen.");
const QString kSignatureMismatch =
    QStringLiteral("Die Signatur des geladenen Updates stimmt nicht — das Update wurde verworfen.");
const QString kHttp0 = QStringLiteral("Der Server antwortete mit HTTP 0.");
const QString kFolder = QStringLiteral(
    "Tilora läuft aus einem Ordner, in den nicht geschrieben werden kann. Bitte die App in den Programme-"
    "Ordner bewegen und erneut versuchen — oder das Update von der Download-Seite laden.");

QString comment(const QJsonObject& feed, const QString& version = QString()) {
    return TLUpdateSignature::trustedComment(version.isEmpty() ? feed["version"].toString() : version,
                                             feed["sha256"].toString());
}

class TLUpdateInstallTest : public TLUpdaterFixture {
public:
    TLUpdateInstallTest() {
        install_ = dir_.filePath("Programme");
        bundle_ = context_.bundlePath;
        marker_ = dir_.filePath("relaunched");
        writeBundle(bundle_, bundleInfo("1.0"), "Tilora", "old executable");
        // A file outside that no installation may touch.
        QFile victim(dir_.filePath("victim"));
        victim.open(QIODevice::WriteOnly);
        victim.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        // The process the relaunch waits for: alive until the test ends it.
        oldProcess_.start("/bin/sleep", {"60"});
        context_.runningVersion = "1.0";
        context_.processId = oldProcess_.processId();
        context_.downloadInactivityMs = 2000;
        context_.downloadDeadlineMs = 6000;
        context_.stepHook = [this](const char* step) {
            QMutexLocker lock(&stepsMutex_);
            steps_.append(step);
        };
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
        archive_ = archive;
        server_.serve("/Tilora.zip", archive, serving_);
        QJsonObject feed{
            {"version", "2.0"}, {"url", server_.url("/Tilora.zip").toString()}, {"sha256", sha256(archive)}};
        if (key_) {
            feed["signature"] = sign(*key_, archive, comment(feed));
        }
        return feed;
    }

    // Pins a throw-away key; serveUpdate signs with it.
    void pin() {
        key_ = makeKey(dir_.path());
        context_.publicKey = key_->publicKey;
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
    QByteArray archive_;                                              // as served
    std::optional<Key> key_;
    std::unique_ptr<QTemporaryDir> elsewhere_; // an install folder on another file system
    QMutex stepsMutex_;
    QStringList steps_; // the installation's steps reached
};

// One installation case: what it changes before the good archive is served (the archive, the
// surroundings, the server), what it changes in the feed that announces it, and the one
// alert expected (none: installed and relaunched). Rows named "Mode..." depend on file modes
// and run only as an unprivileged user (root ignores modes).
struct InstallCase {
    const char* name = "";
    std::function<void(TLUpdateInstallTest&, TLTestZip&)> prepare = {};
    std::function<void(TLUpdateInstallTest&, QJsonObject&)> feed = {};
    QString title = {};
    QString text = {};
};

void PrintTo(const InstallCase& c, std::ostream* os) {
    *os << c.name;
}

class TLUpdateInstallCase : public TLUpdateInstallTest, public ::testing::WithParamInterface<InstallCase> {};

const char* const kModeRows = "Installation/TLUpdateInstallCase.EndsWithOneOutcome/Mode*";

} // namespace

TEST_P(TLUpdateInstallCase, EndsWithOneOutcome) {
    const InstallCase& c = GetParam();
    if (QByteArray(c.name).startsWith("Mode") && ::geteuid() == 0) {
        GTEST_SKIP() << "root ignores file modes; the unprivileged pass runs this row";
    }
    TLTestZip zip = archiveWith(bundleInfo("2.0"));
    if (c.prepare) {
        c.prepare(*this, zip);
    }
    QJsonObject feed = serveUpdate(zip.bytes());
    if (c.feed) {
        c.feed(*this, feed);
    }
    install(feed);
    if (c.title.isEmpty()) {
        expectInstalled();
    } else {
        expectFailure(c.title, c.text);
    }
    if (c.title == kImpossible || c.text == kHttp0) {
        EXPECT_EQ(server_.requestCount("/Tilora.zip"), 0); // refused before any download
    }
    if (c.title == kImpossible || c.text == kSignatureMismatch || c.text == kDigest) {
        EXPECT_FALSE(steps_.contains("extract")); // refused before anything was extracted
    }
    // Nothing was written outside the extraction directory, no mode changed outside.
    EXPECT_FALSE(QFileInfo::exists(dir_.filePath("evil")));
    struct stat victim {};
    EXPECT_EQ(::stat(QFile::encodeName(dir_.filePath("victim")).constData(), &victim), 0);
    EXPECT_EQ(victim.st_mode & 07777, 0600u);
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
std::function<void(F&, Feed&)> setting(const char* key, const QJsonValue& value) {
    return [=](F&, Feed& f) { f[key] = value; };
}
void pinned(F& f, Zip&) {
    f.pin();
}
std::function<void(F&, Zip&)> withFolder(const QString& name, int mode) {
    return [=](F&, Zip& z) {
        z.addDirectory(name, mode);
        z.addFile(name + "/inside", "x");
    };
}
// The installed bundle (or a leftover backup) holds a folder its owner cannot write to.
std::function<void(F&, Zip&)> installedWithReadOnlyFolder(const char* bundle) {
    return [=](F& f, Zip&) {
        const QString folder = f.install_ + bundle + "/Contents/Resources";
        writeBundle(f.install_ + bundle, bundleInfo("1.0"), "Tilora", "old executable");
        QDir().mkpath(folder);
        writeBundle(folder, "", "x", "x");
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    };
}
QByteArray deepInfo(int depth) {
    return "<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>org.tilora.Tilora</string>"
           "<key>Deep</key>" +
           QByteArray("<array>").repeated(depth) + QByteArray("</array>").repeated(depth) + "</dict></plist>";
}
quint16 closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort(); // free again once the probe is gone
}

} // namespace

INSTANTIATE_TEST_SUITE_P(
    Installation, TLUpdateInstallCase,
    ::testing::Values(
        // installs
        InstallCase{"GoodUpdate"},
        InstallCase{"UpperCaseDigest", nullptr,
                    [](F&, Feed& f) { f["sha256"] = f["sha256"].toString().toUpper(); }},
        InstallCase{"TextFileBesideTheApp", [](F&, Zip& z) { z.addFile("LIESMICH.txt", "Hallo"); }},
        InstallCase{"LinkInsideTheBundle",
                    [](F&, Zip& z) { z.addSymlink("Tilora.app/Contents/Current", "MacOS"); }},
        InstallCase{"NoExecutableKeyMeansTilora", withInfo(bundleInfo("2.0", "org.tilora.Tilora", ""))},
        InstallCase{"LeftoverBackupIsCleared",
                    [](F& f, Zip&) {
                        writeBundle(f.install_ + "/.Tilora.old", bundleInfo("0.9"), "Tilora", "older");
                    }},
        InstallCase{"SignedUpdate", pinned},
        InstallCase{"RenamePairWhereExchangeIsRefused", [](F& f, Zip&) { f.context_.renameExchangeRefused = true; }},
        InstallCase{"InstallFolderOnAnotherFileSystem",
                    [](F& f, Zip&) {
                        f.elsewhere_ = std::make_unique<QTemporaryDir>("/dev/shm/tilora-e2e-XXXXXX");
                        f.install_ = f.elsewhere_->filePath("Programme");
                        f.bundle_ = f.context_.bundlePath = f.install_ + "/Tilora.app";
                        writeBundle(f.bundle_, bundleInfo("1.0"), "Tilora", "old executable");
                    }},
        InstallCase{"ModeFoldersWithoutOwnerRights", withFolder("Tilora.app/Contents/Resources", 0)},
        InstallCase{"ModeReadOnlyFolderInTheInstalledBundle", installedWithReadOnlyFolder("/Tilora.app")},
        InstallCase{"ModeReadOnlyFolderInALeftoverBackup", installedWithReadOnlyFolder("/.Tilora.old")},
        // refused before the download
        InstallCase{"Digest63", nullptr, [](F&, Feed& f) { f["sha256"] = f["sha256"].toString().left(63); },
                    kImpossible, kIncomplete},
        InstallCase{"Digest65", nullptr, [](F&, Feed& f) { f["sha256"] = f["sha256"].toString() + "0"; },
                    kImpossible, kIncomplete},
        InstallCase{"UrlNotAString", nullptr, setting("url", 7), kImpossible, kIncomplete},
        InstallCase{"UrlRelative", nullptr, setting("url", "Tilora.zip"), kImpossible, kIncomplete},
        InstallCase{"UrlUnparsable", nullptr, setting("url", "http://[bad"), kImpossible, kIncomplete},
        InstallCase{"Translocated",
                    [](F& f, Zip&) {
                        f.context_.bundlePath = f.dir_.filePath("AppTranslocation/X/d/Tilora.app");
                        writeBundle(f.context_.bundlePath, bundleInfo("1.0"), "Tilora", "old executable");
                    },
                    nullptr, kImpossible, kFolder},
        InstallCase{"NotInABundle", [](F& f, Zip&) { f.context_.bundlePath = f.install_; }, nullptr,
                    kImpossible, kFolder},
        InstallCase{"ModeUnwritableInstallFolder",
                    [](F& f, Zip&) { QFile::setPermissions(f.install_, QFile::ReadOwner | QFile::ExeOwner); },
                    nullptr, kImpossible, kFolder},
        InstallCase{"SignatureMissing", pinned, [](F&, Feed& f) { f.remove("signature"); }, kImpossible,
                    kUnsigned},
        InstallCase{"SignedByAnotherKey", pinned,
                    [](F& f, Feed& feed) { feed["signature"] = sign(makeKey(f.dir_.path()), f.archive_, comment(feed)); },
                    kImpossible, kUnsigned},
        InstallCase{"SignedForAnotherVersion", pinned,
                    [](F& f, Feed& feed) { feed["signature"] = sign(*f.key_, f.archive_, comment(feed, "1.9")); },
                    kImpossible, kUnsigned},
        InstallCase{"TrustedCommentEdited", pinned,
                    [](F& f, Feed& feed) {
                        QStringList lines = sign(*f.key_, f.archive_, comment(feed, "1.9")).split('\n');
                        lines[2] = "trusted comment: " + comment(feed);
                        feed["signature"] = lines.join('\n');
                    },
                    kImpossible, kUnsigned},
        InstallCase{"ArchiveSwappedWithMatchingDigest", pinned,
                    [](F& f, Feed& feed) {
                        const QByteArray other = f.archiveWith(bundleInfo("2.0", "org.example.Other")).bytes();
                        f.server_.serve("/Tilora.zip", other);
                        feed["sha256"] = sha256(other);
                    },
                    kImpossible, kUnsigned},
        InstallCase{"FileUrl", nullptr, setting("url", "file:///etc/passwd"), kFailed, kHttp0},
        InstallCase{"PlainHttpOffTheTestBuild", [](F& f, Zip&) { f.context_.allowHttpLoopback = false; }, nullptr,
                    kFailed, kHttp0},
        // refused after the download
        InstallCase{"SignatureOverOtherBytes", pinned,
                    [](F& f, Feed& feed) { feed["signature"] = sign(*f.key_, "other bytes", comment(feed)); },
                    kFailed, kSignatureMismatch},
        InstallCase{"WrongDigest", nullptr, setting("sha256", QString(64, '0')), kFailed, kDigest},
        InstallCase{"DigestNotHex", nullptr, setting("sha256", QString(64, 'z')), kFailed, kDigest},
        InstallCase{"Http404", nullptr, [](F&, Feed& f) { f["url"] = f["url"].toString() + ".missing"; },
                    kFailed, "Der Server antwortete mit HTTP 404."},
        InstallCase{"ConnectionRefused", nullptr,
                    [](F&, Feed& f) { f["url"] = QStringLiteral("http://127.0.0.1:%1/T.zip").arg(closedPort()); },
                    kFailed, TLUpdateErrors::kRefused},
        InstallCase{"RedirectOffThisMachine", nullptr,
                    [](F& f, Feed& feed) {
                        f.server_.redirect("/moved.zip", "http://192.0.2.1/Tilora.zip");
                        feed["url"] = f.server_.url("/moved.zip").toString();
                    },
                    kFailed, TLUpdateErrors::kRedirectRefused},
        InstallCase{"ServerStalls", servedAs(TLTestHttpServer::Mode::HeadersThenStall), nullptr, kFailed,
                    TLUpdateErrors::kTimedOut},
        InstallCase{"ServerClosesMidBody", servedAs(TLTestHttpServer::Mode::Truncated), nullptr, kFailed,
                    TLUpdateErrors::kConnectionLost},
        InstallCase{"LargerThanAllowed", [](F& f, Zip&) { f.context_.maxArchiveBytes = 100; }, nullptr, kFailed,
                    TLUpdater::kTooLarge},
        InstallCase{"OutOfMemoryInTheBackground",
                    [](F& f, Zip&) {
                        f.context_.stepHook = [](const char* step) {
                            if (QByteArray(step) == "verify") {
                                throw std::bad_alloc();
                            }
                        };
                    },
                    nullptr, kFailed, TLUpdateVerifier::kOutOfMemory},
        InstallCase{"NotAZip", [](F&, Zip& z) { z.setRaw("this is no zip archive"); }, nullptr, kFailed,
                    kUnextractable},
        InstallCase{"EmptyZip", [](F&, Zip& z) { z.setRaw(QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0')); },
                    nullptr, kFailed, kUnextractable},
        InstallCase{"TarArchive", [](F&, Zip& z) { z.format = "ustar"; }, nullptr, kFailed, kUnextractable},
        InstallCase{"UnpacksBeyondTheBudget",
                    [](F& f, Zip& z) {
                        f.context_.extractionBudget.maxBytes = 4 << 20;
                        z.addFile("Tilora.app/Contents/Resources/zeros", QByteArray(8 << 20, '\0'));
                    },
                    nullptr, kFailed, kUnextractable},
        InstallCase{"MoreEntriesThanTheBudget", [](F& f, Zip&) { f.context_.extractionBudget.maxEntries = 2; },
                    nullptr, kFailed, kUnextractable},
        InstallCase{"ExtractorMissing", [](F& f, Zip&) { f.context_.extractTool = "/nonexistent/bsdtar"; },
                    nullptr, kFailed, "bsdtar konnte nicht gestartet werden."},
        InstallCase{"AppInASubFolder", withInfo(bundleInfo("2.0"), "Update/"), nullptr, kFailed,
                    "Im Archiv steckt keine App."},
        InstallCase{"ForeignIdentifier", withInfo(bundleInfo("2.0", "org.example.Other")), nullptr, kFailed,
                    kForeign},
        InstallCase{"NoInfoPlist",
                    [](F&, Zip& z) { (z = Zip()).addFile("Tilora.app/Contents/MacOS/Tilora", "x"); }, nullptr,
                    kFailed, kForeign},
        InstallCase{"InfoPlistNested200000Deep", withInfo(deepInfo(200000)), nullptr, kFailed, kForeign},
        InstallCase{"Version13Against130", withInfo(bundleInfo("1.3")), setting("version", "1.3.0"), kFailed,
                    "Die Version im Archiv passt nicht zur Ankündigung — verworfen."},
        InstallCase{"ExecutableNameEscapes",
                    withInfo(bundleInfo("2.0", "org.tilora.Tilora", "../../../../evil")), nullptr, kFailed,
                    kForeign},
        InstallCase{"ExecutableMissing", withInfo(bundleInfo("2.0", "org.tilora.Tilora", "Other")), nullptr,
                    kFailed, kForeignExecutable},
        InstallCase{"ExecutableIsAFolder",
                    [](F& f, Zip& z) {
                        z = f.archiveWith(bundleInfo("2.0", "org.tilora.Tilora", "Dir"));
                        z.addDirectory("Tilora.app/Contents/MacOS/Dir");
                    },
                    nullptr, kFailed, kForeignExecutable},
        InstallCase{"ExecutableIsALinkInsideTheBundle",
                    [](F& f, Zip& z) {
                        z = f.archiveWith(bundleInfo("2.0", "org.tilora.Tilora", "Link"));
                        z.addSymlink("Tilora.app/Contents/MacOS/Link", "Tilora");
                    },
                    nullptr, kFailed, kForeignExecutable},
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
                    nullptr, kFailed, kUnextractable},
        // A link in a folder nobody may list, leading to a file outside, as the executable.
        InstallCase{"ModeLinkInAnUnlistableFolder",
                    [](F&, Zip& z) {
                        (z = Zip()).addDirectory("Tilora.app");
                        z.addFile("Tilora.app/Contents/Info.plist", bundleInfo("2.0"));
                        z.addDirectory("Tilora.app/Contents/MacOS", 0311);
                        z.addSymlink("Tilora.app/Contents/MacOS/Tilora", "../../../../../victim");
                    },
                    nullptr, kFailed, kUnextractable}),
    [](const ::testing::TestParamInfo<InstallCase>& p) { return std::string(p.param.name); });

TEST(TLUpdateUnprivileged, ModeRowsRunAsAnUnprivilegedUser) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "unprivileged already: the mode rows ran in this process";
    }
    // A copy of this binary that the unprivileged user can reach, and a temporary folder it owns.
    QTemporaryDir dir;
    const QString binary = dir.filePath("test_update_e2e");
    const QString temp = dir.filePath("tmp");
    ASSERT_TRUE(QFile::copy("/proc/self/exe", binary));
    ASSERT_TRUE(QDir().mkpath(temp));
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chown(QFile::encodeName(temp).constData(), 65534, 65534), 0); // nobody:nogroup
    QProcess pass;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", temp);
    env.insert("HOME", temp);
    pass.setProcessEnvironment(env);
    pass.setProcessChannelMode(QProcess::ForwardedChannels);
    pass.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", binary,
                           QStringLiteral("--gtest_filter=%1").arg(kModeRows)});
    ASSERT_TRUE(pass.waitForFinished(120000));
    EXPECT_EQ(pass.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(pass.exitCode(), 0);
    TLFileOps::removeItem(temp);
}

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

TEST_F(TLUpdateInstallTest, RecoveryAtStartRestoresOrClearsUnlessAnInstallationRuns) {
    const QString backup = install_ + "/.Tilora.old";
    const QStringList leftovers{backup, install_ + "/.Tilora.staging-X",
                                context_.tempDir + "/tilora-update-X",
                                context_.tempDir + "/tilora-download-X.zip"};
    const struct {
        const char* what;
        std::function<void()> damage; // done to the installed bundle
        bool guarded;                 // an installation holds its guard
        const char* version;          // of the bundle afterwards
    } rows[] = {
        {"intact bundle", [] {}, false, "1.0"},
        {"bundle gone", [&] { TLFileOps::removeItem(bundle_); }, false, "0.9"},
        {"no executable", [&] { QFile::remove(bundle_ + "/Contents/MacOS/Tilora"); }, false, "0.9"},
        {"an installation runs", [] {}, true, "1.0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TLFileOps::removeItem(bundle_);
        writeBundle(bundle_, bundleInfo("1.0"), "Tilora", "old executable");
        writeBundle(backup, bundleInfo("0.9"), "Tilora", "older");
        for (const QString& path : leftovers.mid(1)) {
            writeBundle(path, "", "x", "x");
        }
        row.damage();
        {
            const TLUpdateRecovery::Guard guard = row.guarded
                                                      ? TLUpdateRecovery::guardInstallation(context_.tempDir)
                                                      : TLUpdateRecovery::Guard();
            TLUpdateRecovery::recover(bundle_, context_.tempDir, log_);
        }
        EXPECT_TRUE(readFile(bundle_ + "/Contents/Info.plist").contains(row.version));
        for (const QString& path : leftovers) {
            EXPECT_EQ(QFileInfo::exists(path), row.guarded) << path.toStdString();
        }
    }
}
