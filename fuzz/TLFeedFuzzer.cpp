// Update feed bytes through the check's evaluation (unreadable, up to date or offered, and what
// is stored) and through the readers of the installation's pre-checks.
#include "TLAppcast.h"
#include "TLFuzzCheck.h"
#include "TLRecordingPresenter.h"
#include "TLUpdater.h"
#include "TLUserDefaults.h"
#include "TLVersion.h"

#include <QTemporaryDir>

#include <cstdint>

namespace {

const QString kLastCheck = QString::fromUtf8(TLUserDefaults::kLastUpdateCheck);
const QDateTime kNow = QDateTime::fromSecsSinceEpoch(1780000000, Qt::UTC);

TLUpdaterContext fixedContext() {
    TLUpdaterContext context;
    context.runningVersion = QStringLiteral("1.4");
    context.now = [] { return kNow; };
    return context;
}

struct Harness {
    Harness() {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    }
    QTemporaryDir dir;
    TLUserDefaults defaults{dir.filePath(QStringLiteral("Tilora.plist"))};
    TLRecordingPresenter presenter; // puts every offer off
    TLUpdater updater{defaults, presenter, fixedContext()};
};

QString text(const char* s) {
    return QString::fromUtf8(s);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Harness h;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    h.defaults.removeObjectForKey(kLastCheck);
    h.presenter.alerts.clear();

    h.updater.handleAppcast(bytes, std::nullopt, true);
    const std::optional<QJsonObject> feed = TLAppcast::parse(bytes);
    TL_FUZZ_CHECK(!h.updater.busy() && h.presenter.alerts.size() == 1);
    const TLRecordingPresenter::Alert& alert = h.presenter.alerts.first();
    if (!feed) {
        TL_FUZZ_CHECK(alert.title == text(TLUpdater::kCheckFailedTitle) &&
                      alert.text == text(TLUpdater::kUnreadableFeed));
        TL_FUZZ_CHECK(!h.defaults.objectForKey(kLastCheck));
        return 0;
    }
    TL_FUZZ_CHECK(h.defaults.objectForKey(kLastCheck) == QVariant(kNow));
    const QString version = TLAppcast::version(*feed);
    if (TLVersion::isNewer(version.toStdString(), "1.4")) {
        TL_FUZZ_CHECK(alert.title == text(TLUpdater::kOfferTitle).arg(version));
        TL_FUZZ_CHECK(alert.text.contains(TLAppcast::notesText(*feed)));
    } else {
        TL_FUZZ_CHECK(alert.title == text(TLUpdater::kUpToDateTitle));
    }

    // The pre-checks take an absolute address and the digest as given, lower-cased. A signature
    // field, once the feed has one, belongs with these checks.
    if (const std::optional<QUrl> url = TLAppcast::archiveUrl(*feed)) {
        TL_FUZZ_CHECK(url->isValid() && !url->isRelative() && !url->scheme().isEmpty());
    }
    const QJsonValue digest = feed->value(QStringLiteral("sha256"));
    TL_FUZZ_CHECK(TLAppcast::expectedDigest(*feed) ==
                  (digest.isString() ? digest.toString().toLower() : QString()));
    return 0;
}
