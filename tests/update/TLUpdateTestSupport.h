#pragma once

// The surroundings of the updater tests: bundles on disk, real zip archives, minisign keys, a
// recording presenter and a fixture with a temporary folder (the install folder "Programme"
// and the temp folder "tmp" inside), a local server for the feed and a settings file.
#include "TLLog.h"
#include "TLTest.h"
#include "TLTestHttpServer.h"
#include "TLUpdatePresenter.h"
#include "TLUpdater.h"
#include "TLUpdaterContext.h"
#include "TLUserDefaults.h"

// The XML Info.plist of a bundle; no CFBundleExecutable when `executable` is empty.
QByteArray tlBundleInfo(const QString& version, const QString& identifier = "org.tilora.Tilora",
                        const QString& executable = "Tilora");
// <path>/Contents/Info.plist and Contents/MacOS/<executable>.
void tlWriteBundle(const QString& path, const QByteArray& info, const QString& executable,
                   const QByteArray& data);
QString tlSha256(const QByteArray& bytes);

// A throw-away minisign key pair in `folder`, and minisign's signature text for data.
struct TLTestKey {
    QString secretKeyFile, publicKey; // the base64 line of the public key file
};
TLTestKey tlMakeKey(const QString& folder);
QString tlSign(const TLTestKey& key, const QByteArray& data, const QString& trustedComment);

// A real archive written by bsdtar (modes kept, entries in the order added), with any entry
// names, also the hostile ones an extractor must refuse; or raw bytes that are no archive.
struct TLTestZip {
    struct Entry {
        QString name;
        QByteArray data; // contents, or a link's target
        char kind;       // 'f'ile, 'd'irectory, 'l'ink
        int mode;
    };
    void addFile(const QString& name, const QByteArray& data, int mode = 0644) {
        entries.append({name, data, 'f', mode});
    }
    void addDirectory(const QString& name, int mode = 0755) { entries.append({name, {}, 'd', mode}); }
    void addSymlink(const QString& name, const QByteArray& target) {
        entries.append({name, target, 'l', 0777});
    }
    QByteArray bytes() const;

    QList<Entry> entries;
    QByteArray raw;
    QString format = "zip";
};

// Records what the updater shows instead of blocking; an offer is put off ("Später").
class TLRecordingPresenter : public TLUpdatePresenter {
public:
    struct Alert {
        QString title, text;
        QStringList buttons;
        bool busyWhileShown;
    };
    void activate() override { ++activations; }
    int runModalAlert(const QString& title, const QString& text, const QStringList& buttons) override {
        alerts.append({title, text, buttons, busyProbe && busyProbe()});
        if (whileShown) {
            whileShown(alerts.last());
        }
        return buttons.isEmpty() ? 0 : 1;
    }
    void terminate() override { ++terminations; }

    QList<Alert> alerts;
    int activations = 0, terminations = 0;
    std::function<bool()> busyProbe;
    std::function<void(const Alert&)> whileShown;
};

class TLUpdaterFixture : public ::testing::Test {
public:
    TLUpdaterFixture();
    ~TLUpdaterFixture() override;

    TLUpdater& updater();                                              // built from the context on first use
    void expectAlert(const QString& title, const QString& text) const; // exactly this one alert
    // No work folder or download left in the temp folder, nothing but Tilora.app in the install folder.
    void expectNoLeftovers(const QString& installFolder) const;

    QTemporaryDir dir_;
    TLTestHttpServer server_;
    TLLog log_{nullptr};
    TLUserDefaults defaults_{dir_.filePath("Tilora.plist"), log_};
    TLUpdaterContext context_;
    TLRecordingPresenter presenter_;
    std::unique_ptr<TLUpdater> updater_;
};
