#pragma once

#include "TLUpdateRecovery.h"
#include "TLUpdateVerifier.h"
#include "TLUpdaterContext.h"

#include <QByteArray>
#include <QFutureWatcher>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

class TLTransfers;
class TLUpdatePresenter;
class TLUserDefaults;

// The self-updater: automatic and manual checks of the update feed, the offer of a newer
// version, and its verified installation with bundle swap and relaunch. Lives on the main
// thread; only hashing and extraction run elsewhere.
class TLUpdater : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kBusyTitle = "Update läuft bereits";
    static constexpr const char* kBusyText = "Eine Update-Suche oder Installation ist gerade im Gang.";
    static constexpr const char* kCheckFailedTitle = "Update-Suche fehlgeschlagen";
    static constexpr const char* kUnreadableFeed = "Die Update-Information konnte nicht gelesen werden.";
    static constexpr const char* kUpToDateTitle = "Tilora ist aktuell";
    static constexpr const char* kUpToDateText = "Version %1 ist die neueste Version.";
    static constexpr const char* kOfferTitle = "Tilora %1 ist verfügbar";
    static constexpr const char* kOfferText =
        "Installiert ist %1.\n\n%2\n\nDas Update wird geladen, geprüft, eingesetzt und Tilora startet neu.";
    static constexpr const char* kOfferAccept = "Jetzt aktualisieren";
    static constexpr const char* kOfferLater = "Später";
    static constexpr const char* kImpossibleTitle = "Update nicht möglich";
    static constexpr const char* kUnwritableFolder =
        "Tilora läuft aus einem Ordner, in den nicht geschrieben werden kann. Bitte die App in einen "
        "eigenen Ordner wie ~/.local/lib/tilora bewegen und erneut versuchen — oder das Update von der "
        "Download-Seite laden.";
    static constexpr const char* kIncompleteFeed =
        "Die Update-Information ist unvollständig (URL oder Prüfsumme fehlt).";
    static constexpr const char* kUnsignedFeed =
        "Die Update-Information trägt keine gültige Signatur des Herausgebers — das Update wurde verworfen.";
    static constexpr const char* kFailedTitle = "Update fehlgeschlagen";
    static constexpr const char* kTooLarge =
        "Das Update ist größer als erlaubt — das Update wurde verworfen.";
    static constexpr const char* kRelaunchFailedTitle = "Neustart fehlgeschlagen";
    static constexpr const char* kRelaunchFailedText =
        "Das Update ist installiert, aber Tilora konnte nicht neu gestartet werden. Bitte Tilora von Hand "
        "starten.";

    TLUpdater(TLUserDefaults& defaults, TLUpdatePresenter& presenter, TLUpdaterContext context,
              QObject* parent = nullptr);
    ~TLUpdater() override;

    // The application's updater: the one main made.
    static TLUpdater& shared();

    // On the shared updater: the stored switch (absent = on); changing it re-plans the checks.
    static bool automaticChecksEnabled();
    static void setAutomaticChecksEnabled(bool enabled);
    bool isAutomaticCheckingEnabled() const;
    void setAutomaticCheckingEnabled(bool enabled);

    // Re-plans the automatic checks: a one-shot timer after the first delay, then every 24 h.
    void scheduleAutomaticChecks();
    // Starts one feed check; the result comes later on the main thread.
    void checkForUpdatesInteractive(bool interactive);
    // Evaluates the answer to a check: data of the feed, or the transport error.
    void handleAppcast(const std::optional<QByteArray>& data, const std::optional<QString>& error,
                       bool interactive);
    // One modal alert with the single default button.
    void alert(const QString& title, const std::optional<QString>& text);

    // Installs the update the feed announces (after the offer was accepted).
    void installFromAppcast(const QJsonObject& feed);
    // Replaces the bundle at bundlePath with newApp, starts the relaunch and ends the application.
    void swapBundle(const QString& bundlePath, const QString& newApp, const QString& workDir);

    bool busy() const { return busy_; }
    void setBusy(bool busy) { busy_ = busy; }
    // The pending automatic-check timer, or nullptr.
    QTimer* timer();
    const TLUpdaterContext& context() const { return context_; }

    // The feed address; anything but HTTPS is refused except on the loopback interface.
    bool setFeedUrl(const QUrl& url);
    static bool isAllowedFeedUrl(const QUrl& url);
    // An archive address: HTTPS, or plain HTTP on the loopback interface where the context allows it.
    bool isAllowedArchiveUrl(const QUrl& url) const;

signals:
    // After an installation attempt's result reached the main thread (tests wait for it).
    void installationFinished();

private:
    void armTimer(qint64 delayMs, bool repeating);
    void timerFired();
    void evaluateAppcast(const std::optional<QByteArray>& data, const std::optional<QString>& error,
                         bool interactive);
    void download(const QUrl& url, const TLVerifyInput& input);
    void finishDownload(TLDownloadOutcome outcome, const TLVerifyInput& input);
    void verifyInBackground(const TLDownloadOutcome& outcome, const TLVerifyInput& input);
    void handOver(const TLVerifyResult& result);
    void step(const char* name) const;
    void closeDownload();
    bool relaunch(const QString& bundlePath, qint64 processId);
    // The transfers, made when first needed; nullptr (with the reason) when they cannot be.
    TLTransfers* transfers(QString* error);
    void releaseTransfersWhenIdle();

    TLUserDefaults& defaults_;
    TLUpdatePresenter& presenter_;
    TLUpdaterContext context_;
    QTimer timer_; // owned here: a timer never keeps the updater alive
    bool repeating_ = false;
    bool busy_ = false;
    bool shuttingDown_ = false;
    std::unique_ptr<TLTransfers> transfers_;
    int downloadFd_ = -1;
    QString downloadPath_;                 // removed at the hand-over unless moved away
    TLUpdateRecovery::Guard installGuard_; // held from the download to the end of the swap
    QFutureWatcher<TLVerifyResult> verification_;
};
