#include "TLTestZip.h"
#include "TLUpdateTestSupport.h"
#include "TLUpdaterFixture.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>

using namespace TLUpdateTestSupport;
using TLUpdateApp = TLUpdaterFixture; // its folders and server; the updater runs in the app

// The whole road with the program as a user has it: a bundle in an install folder runs, finds
// itself from its executable path, checks the feed, accepts the offer, swaps itself and ends;
// the relaunch starts the new bundle once the old process is gone.
TEST_F(TLUpdateApp, InstalledBundleUpdatesItselfAndRelaunches) {
    const QString bundle = context_.bundlePath;
    const QString marker = dir_.filePath("relaunched");
    const QString pidFile = dir_.filePath("old.pid");
    const QString log = dir_.filePath("alerts.log");
    QFile program(TL_UPDATE_E2E_APP);
    ASSERT_TRUE(program.open(QIODevice::ReadOnly));
    writeBundle(bundle, bundleInfo("1.9"), "Tilora", program.readAll());
    QFile::setPermissions(bundle + "/Contents/MacOS/Tilora", QFile::ReadOwner | QFile::ExeOwner);

    // The new version's executable records whether the old process had ended when it started.
    const QByteArray script =
        QStringLiteral("#!/bin/sh\nold=$(cat '%1')\n"
                       "if kill -0 \"$old\" 2>/dev/null; then s=early; else s=after; fi\n"
                       "echo \"$s\" > '%2'\n")
            .arg(pidFile, marker)
            .toUtf8();
    TLTestZip zip;
    zip.addDirectory("Tilora.app");
    zip.addFile("Tilora.app/Contents/Info.plist", bundleInfo("1.10"));
    zip.addFile("Tilora.app/Contents/MacOS/Tilora", script, 0644);
    const QByteArray archive = zip.bytes();
    server_.serve("/Tilora-1.10.zip", archive);
    const QJsonObject feed{{"version", "1.10"},
                           {"notes", "Neu."},
                           {"url", server_.url("/Tilora-1.10.zip").toString()},
                           {"sha256", sha256(archive)}};
    server_.serve("/appcast.json", QJsonDocument(feed).toJson());

    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", context_.tempDir);
    env.insert("XDG_CONFIG_HOME", dir_.filePath("config"));
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(bundle + "/Contents/MacOS/Tilora", {server_.url("/appcast.json").toString(), log, pidFile});
    ASSERT_TRUE(app.waitForFinished(60000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);

    const QStringList lines = readFile(log).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << readFile(log).toStdString();
    EXPECT_EQ(
        lines[0],
        "offer\tTilora 1.10 ist verfügbar\tInstalliert ist 1.9.\\n\\nNeu.\\n\\nDas Update wird geladen, "
        "geprüft, eingesetzt und Tilora startet neu.");
    EXPECT_EQ(lines[1], "terminate\t\t");

    // The old process has ended and been reaped: the relaunch may start the new version now.
    ASSERT_TRUE(waitUntil([&] { return !readFile(marker).isEmpty(); }, 15000));
    EXPECT_EQ(readFile(marker).trimmed(), "after");
    EXPECT_TRUE(readFile(bundle + "/Contents/Info.plist").contains("<string>1.10</string>"));
    EXPECT_TRUE(QFileInfo(bundle + "/Contents/MacOS/Tilora").isExecutable());
    expectNoLeftovers(dir_.filePath("Programme"));
    // The last valid feed read was stored in the application's own settings.
    EXPECT_TRUE(readFile(dir_.filePath("config/Tilora/Tilora.plist")).contains("TLLastUpdateCheck"));
}
