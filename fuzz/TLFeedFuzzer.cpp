// Update feed bytes through the check's evaluation (unreadable, up to date or offered, and what
// is stored) and through the installation's pre-checks: the archive address, the digest and the
// publisher's signature, which holds for this feed's version and digest only.
#include "TLAppcast.h"
#include "TLFuzzCheck.h"
#include "TLLog.h"
#include "TLRecordingPresenter.h"
#include "TLUpdateSignature.h"
#include "TLUpdater.h"
#include "TLUserDefaults.h"
#include "TLVersion.h"

#include <QTemporaryDir>

#include <cstdint>

namespace {

const QString kLastCheck = QString::fromUtf8(TLUserDefaults::kLastUpdateCheck);
const QDateTime kNow = QDateTime::fromSecsSinceEpoch(1780000000, Qt::UTC);
// A throw-away key pair's public half; the corpus holds a feed it signed. The other key signed
// nothing here.
const QString kPublicKey = QStringLiteral("RWQnCnD7Ub+wQ4xstUZ9i/LOlPuhQkgh66dLEoI8FVJwPa3RYs1e/kGQ");
const QString kOtherKey = QStringLiteral("RWShX+Z3cUmfvZv9auAFpK+FY8da/h3m97h0mn14TLOxWDuS/uMAE2wM");
const TLLog kQuiet{nullptr};

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
    TLUserDefaults defaults{dir.filePath(QStringLiteral("Tilora.plist")), kQuiet};
    TLRecordingPresenter presenter; // puts every offer off
    TLUpdater updater{defaults, presenter, fixedContext()};
};

QString text(const char* s) {
    return QString::fromUtf8(s);
}

bool signedFor(const QString& key, const QString& signature, const QString& version, const QString& digest) {
    return TLUpdateSignature::forAnnouncement(key, signature, version, digest).has_value();
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

    // The pre-checks take an absolute address, HTTPS only from elsewhere, and the digest as given,
    // lower-cased.
    if (const std::optional<QUrl> url = TLAppcast::archiveUrl(*feed)) {
        TL_FUZZ_CHECK(url->isValid() && !url->isRelative() && !url->scheme().isEmpty());
        TL_FUZZ_CHECK(!h.updater.isAllowedArchiveUrl(*url) || url->scheme() == QStringLiteral("https"));
    }
    const QJsonValue digestField = feed->value(QStringLiteral("sha256"));
    const QString digest = TLAppcast::expectedDigest(*feed);
    TL_FUZZ_CHECK(digest == (digestField.isString() ? digestField.toString().toLower() : QString()));

    // A signature the key accepts names this version and digest in its trusted comment, and no
    // other version, digest or key is accepted with it.
    const QString signature = TLAppcast::signatureText(*feed);
    if (signedFor(kPublicKey, signature, version, digest)) {
        TL_FUZZ_CHECK(signature.contains(QStringLiteral("trusted comment: ") +
                                         TLUpdateSignature::trustedComment(version, digest)));
        TL_FUZZ_CHECK(!signedFor(kPublicKey, signature, version + QStringLiteral(".1"), digest));
        TL_FUZZ_CHECK(!signedFor(kPublicKey, signature, version, digest + QStringLiteral("0")));
        TL_FUZZ_CHECK(!signedFor(kOtherKey, signature, version, digest));
    }
    return 0;
}
