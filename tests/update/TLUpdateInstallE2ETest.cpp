#include "TLFileOps.h"
#include "TLTest.h"
#include "TLUpdateErrors.h"
#include "TLUpdateRecovery.h"
#include "TLUpdateSignature.h"
#include "TLUpdateTestSupport.h"
#include "TLUpdateVerifier.h"

#include <QMutex>
#include <QTcpServer>

#include <new>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using V = TLUpdateVerifier;
const QString kFailed = TLUpdater::kFailedTitle, kImpossible = TLUpdater::kImpossibleTitle;
const QString kIncomplete = TLUpdater::kIncompleteFeed, kUnsigned = TLUpdater::kUnsignedFeed;
const QString kFolder = TLUpdater::kUnwritableFolder, kHttp0 = "Der Server antwortete mit HTTP 0.";
const QString kUnextractable = V::kNotExtractable;

QString comment(const QJsonObject& feed, const QString& version = QString()) {
    return TLUpdateSignature::trustedComment(version.isEmpty() ? feed["version"].toString() : version,
                                             feed["sha256"].toString());
}

// An installed Tilora 1.0 beside a file no installation may touch, and the process the
// relaunch waits for (alive until the test ends it).
class TLUpdateInstallTest : public TLUpdaterFixture {
public:
    TLUpdateInstallTest() {
        tlWriteBundle(bundle_, tlBundleInfo("1.0"), "Tilora", "old executable");
        tlWrite(dir_.filePath("victim"), "");
        QFile::setPermissions(dir_.filePath("victim"), QFile::ReadOwner | QFile::WriteOwner);
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
    // An archive with one bundle whose executable records whether the process it replaced had
    // already ended when it started. 0644 on purpose: the installation makes it runnable.
    TLTestZip archiveWith(const QByteArray& plist, const QString& prefix = QString()) const {
        TLTestZip zip;
        zip.addDirectory(prefix + "Tilora.app");
        zip.addFile(prefix + "Tilora.app/Contents/Info.plist", plist);
        zip.addFile(prefix + "Tilora.app/Contents/MacOS/Tilora",
                    QString("#!/bin/sh\nif kill -0 %1 2>/dev/null; then s=early; else s=after; fi\necho \"$s "
                            "$0\" > '%2'\n")
                        .arg(oldProcess_.processId())
                        .arg(marker_)
                        .toUtf8());
        return zip;
    }
    // Runs the installation and waits for its one outcome: the alert, or none when installed.
    void install(const QJsonObject& feed, const QString& title, const QString& text) {
        QSignalSpy finished(&updater(), &TLUpdater::installationFinished);
        updater().installFromAppcast(feed);
        ASSERT_TRUE(!updater().busy() || finished.wait(15000));
        EXPECT_FALSE(updater().busy());
        expectNoLeftovers(install_);
        EXPECT_EQ(presenter_.terminations, title.isEmpty() ? 1 : 0);
        if (!title.isEmpty()) {
            expectAlert(title, text);
            EXPECT_EQ(tlText(bundle_ + "/Contents/MacOS/Tilora"), "old executable");
            EXPECT_TRUE(tlText(bundle_ + "/Contents/Info.plist").contains("<string>1.0</string>"));
            return;
        }
        EXPECT_TRUE(presenter_.alerts.isEmpty()) << presenter_.alerts.value(0).text.toStdString();
        EXPECT_TRUE(tlText(bundle_ + "/Contents/Info.plist").contains("<string>2.0</string>"));
        EXPECT_TRUE(QFileInfo(bundle_ + "/Contents/MacOS/Tilora").isExecutable());
        // The relaunch waits for the old process; only once it has ended does the new one start.
        EXPECT_FALSE(QFile::exists(marker_));
        oldProcess_.kill();
        oldProcess_.waitForFinished();
        ASSERT_TRUE(tlWaitFor([this] { return !tlText(marker_).isEmpty(); }));
        EXPECT_EQ(tlText(marker_).trimmed(), "after " + bundle_ + "/Contents/MacOS/Tilora");
    }

    QString install_ = dir_.filePath("Programme"), bundle_ = context_.bundlePath,
            marker_ = dir_.filePath("relaunched");
    QProcess oldProcess_;
    TLTestHttpServer::Mode serving_ = TLTestHttpServer::Mode::Normal; // how the archive is served
    QByteArray archive_;                                              // as served
    std::optional<TLTestKey> key_;             // when set, the feed is signed with it and it is pinned
    std::unique_ptr<QTemporaryDir> elsewhere_; // an install folder on another file system
    QMutex stepsMutex_;
    QStringList steps_; // the installation's steps reached
};

// One installation: what it changes before the good archive is served (the archive, the
// surroundings, the server), what it changes in the feed that announces it, and the one alert
// expected (none: installed and relaunched). Rows named "Mode..." depend on file modes and run
// only as an unprivileged user (root ignores modes).
struct InstallCase {
    const char* name = "";
    std::function<void(TLUpdateInstallTest&, TLTestZip&)> prepare = {};
    std::function<void(TLUpdateInstallTest&, QJsonObject&)> feed = {};
    QString title = {}, text = {};
};

void PrintTo(const InstallCase& c, std::ostream* os) {
    *os << c.name;
}

class TLUpdateInstallCase : public TLUpdateInstallTest, public ::testing::WithParamInterface<InstallCase> {};

} // namespace

TEST_P(TLUpdateInstallCase, EndsWithOneOutcome) {
    const InstallCase& c = GetParam();
    if (QByteArray(c.name).startsWith("Mode") && ::geteuid() == 0) {
        GTEST_SKIP() << "root ignores file modes; the unprivileged pass runs this row";
    }
    TLTestZip zip = archiveWith(tlBundleInfo("2.0"));
    if (c.prepare) {
        c.prepare(*this, zip);
    }
    archive_ = zip.bytes();
    server_.serve("/Tilora.zip", archive_, serving_);
    QJsonObject feed{
        {"version", "2.0"}, {"url", server_.url("/Tilora.zip").toString()}, {"sha256", tlSha256(archive_)}};
    if (key_) {
        context_.publicKey = key_->publicKey;
        feed["signature"] = tlSign(*key_, archive_, comment(feed));
    }
    if (c.feed) {
        c.feed(*this, feed);
    }
    install(feed, c.title, c.text);
    if (c.title == kImpossible || c.text == kHttp0) {
        EXPECT_EQ(server_.requestCount("/Tilora.zip"), 0); // refused before any download
    }
    if (c.title == kImpossible || c.text == V::kSignatureMismatch || c.text == V::kDigestMismatch) {
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
    f.key_ = tlMakeKey(f.dir_.path());
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
        tlWriteBundle(f.install_ + bundle, tlBundleInfo("1.0"), "Tilora", "old executable");
        QDir().mkpath(folder);
        tlWriteBundle(folder, "", "x", "x");
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    };
}
// The standard archive whose Info.plist names another executable, missing or a folder.
std::function<void(F&, Zip&)> executableAs(const QString& name, bool folder) {
    return [=](F& f, Zip& z) {
        z = f.archiveWith(tlBundleInfo("2.0", "org.tilora.Tilora", name));
        folder ? z.addDirectory("Tilora.app/Contents/MacOS/" + name) : void();
    };
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
        InstallCase{"LinkInsideTheBundle",
                    [](F&, Zip& z) { z.addSymlink("Tilora.app/Contents/Current", "MacOS"); }},
        InstallCase{"NoExecutableKeyMeansTilora", withInfo(tlBundleInfo("2.0", "org.tilora.Tilora", ""))},
        InstallCase{"LeftoverBackupIsCleared",
                    [](F& f, Zip&) {
                        tlWriteBundle(f.install_ + "/.Tilora.old", tlBundleInfo("0.9"), "Tilora", "older");
                    }},
        InstallCase{"SignedUpdate", pinned},
        InstallCase{"RenamePairWhereExchangeIsRefused", [](F& f, Zip&) { f.context_.renameExchangeRefused = true; }},
        InstallCase{"InstallFolderOnAnotherFileSystem",
                    [](F& f, Zip&) {
                        f.elsewhere_ = std::make_unique<QTemporaryDir>("/dev/shm/tilora-e2e-XXXXXX");
                        f.install_ = f.elsewhere_->filePath("Programme");
                        f.bundle_ = f.context_.bundlePath = f.install_ + "/Tilora.app";
                        tlWriteBundle(f.bundle_, tlBundleInfo("1.0"), "Tilora", "old executable");
                    }},
        InstallCase{"ModeFoldersWithoutOwnerRights", withFolder("Tilora.app/Contents/Resources", 0)},
        InstallCase{"ModeReadOnlyFolderInTheInstalledBundle", installedWithReadOnlyFolder("/Tilora.app")},
        InstallCase{"ModeReadOnlyFolderInALeftoverBackup", installedWithReadOnlyFolder("/.Tilora.old")},
        // refused before the download
        InstallCase{"Digest63", nullptr, [](F&, Feed& f) { f["sha256"] = f["sha256"].toString().left(63); },
                    kImpossible, kIncomplete},
        InstallCase{"UrlRelative", nullptr, setting("url", "Tilora.zip"), kImpossible, kIncomplete},
        InstallCase{"NotInABundle", [](F& f, Zip&) { f.context_.bundlePath = f.install_; }, nullptr,
                    kImpossible, kFolder},
        InstallCase{"ModeUnwritableInstallFolder",
                    [](F& f, Zip&) { QFile::setPermissions(f.install_, QFile::ReadOwner | QFile::ExeOwner); },
                    nullptr, kImpossible, kFolder},
        InstallCase{"SignatureMissing", pinned, [](F&, Feed& f) { f.remove("signature"); }, kImpossible,
                    kUnsigned},
        InstallCase{"SignedByAnotherKey", pinned,
                    [](F& f, Feed& feed) { feed["signature"] = tlSign(tlMakeKey(f.dir_.path()), f.archive_, comment(feed)); },
                    kImpossible, kUnsigned},
        InstallCase{"SignedForAnotherVersion", pinned,
                    [](F& f, Feed& feed) { feed["signature"] = tlSign(*f.key_, f.archive_, comment(feed, "1.9")); },
                    kImpossible, kUnsigned},
        InstallCase{"TrustedCommentEdited", pinned,
                    [](F& f, Feed& feed) {
                        QStringList lines = tlSign(*f.key_, f.archive_, comment(feed, "1.9")).split('\n');
                        lines[2] = "trusted comment: " + comment(feed);
                        feed["signature"] = lines.join('\n');
                    },
                    kImpossible, kUnsigned},
        InstallCase{"ArchiveSwappedWithMatchingDigest", pinned,
                    [](F& f, Feed& feed) {
                        const QByteArray other = f.archiveWith(tlBundleInfo("2.0", "org.example.Other")).bytes();
                        f.server_.serve("/Tilora.zip", other);
                        feed["sha256"] = tlSha256(other);
                    },
                    kImpossible, kUnsigned},
        InstallCase{"FileUrl", nullptr, setting("url", "file:///etc/passwd"), kFailed, kHttp0},
        InstallCase{"PlainHttpOffTheTestBuild", [](F& f, Zip&) { f.context_.allowHttpLoopback = false; }, nullptr,
                    kFailed, kHttp0},
        // refused after the download
        InstallCase{"SignatureOverOtherBytes", pinned,
                    [](F& f, Feed& feed) { feed["signature"] = tlSign(*f.key_, "other bytes", comment(feed)); },
                    kFailed, V::kSignatureMismatch},
        InstallCase{"WrongDigest", nullptr, setting("sha256", QString(64, '0')), kFailed, V::kDigestMismatch},
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
        InstallCase{"NotAZip", [](F&, Zip& z) { z.raw = "this is no zip archive"; }, nullptr, kFailed,
                    kUnextractable},
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
        InstallCase{"AppInASubFolder", withInfo(tlBundleInfo("2.0"), "Update/"), nullptr, kFailed,
                    "Im Archiv steckt keine App."},
        InstallCase{"ForeignIdentifier", withInfo(tlBundleInfo("2.0", "org.example.Other")), nullptr, kFailed,
                    V::kForeignApp},
        InstallCase{"NoInfoPlist",
                    [](F&, Zip& z) { (z = Zip()).addFile("Tilora.app/Contents/MacOS/Tilora", "x"); }, nullptr,
                    kFailed, V::kForeignApp},
        InstallCase{"Version13Against130", withInfo(tlBundleInfo("1.3")), setting("version", "1.3.0"), kFailed,
                    "Die Version im Archiv passt nicht zur Ankündigung — verworfen."},
        InstallCase{"ExecutableNameEscapes",
                    withInfo(tlBundleInfo("2.0", "org.tilora.Tilora", "../../../../evil")), nullptr, kFailed,
                    V::kForeignApp},
        InstallCase{"ExecutableMissing", executableAs("Other", false), nullptr, kFailed, V::kForeignExecutable},
        InstallCase{"ExecutableIsAFolder", executableAs("Dir", true), nullptr, kFailed, V::kForeignExecutable},
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
                        z.addFile("Tilora.app/Contents/Info.plist", tlBundleInfo("2.0"));
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
                           "--gtest_filter=Installation/TLUpdateInstallCase.EndsWithOneOutcome/Mode*"});
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
        expectAlert(kFailed, presenter_.alerts.value(0).text);
        expectNoLeftovers(install_);
        EXPECT_EQ(tlText(bundle_ + "/Contents/MacOS/Tilora"), "old executable");
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
        tlWriteBundle(bundle_, tlBundleInfo("1.0"), "Tilora", "old executable");
        tlWriteBundle(backup, tlBundleInfo("0.9"), "Tilora", "older");
        for (const QString& path : leftovers.mid(1)) {
            tlWriteBundle(path, "", "x", "x");
        }
        row.damage();
        {
            const TLUpdateRecovery::Guard guard = row.guarded
                                                      ? TLUpdateRecovery::guardInstallation(context_.tempDir)
                                                      : TLUpdateRecovery::Guard();
            TLUpdateRecovery::recover(bundle_, context_.tempDir, log_);
        }
        EXPECT_TRUE(tlText(bundle_ + "/Contents/Info.plist").contains(row.version));
        for (const QString& path : leftovers) {
            EXPECT_EQ(QFileInfo::exists(path), row.guarded) << path.toStdString();
        }
    }
}
