#include "TLUpdaterContext.h"

#include "TLArchiveExtractor.h"
#include "TLBuildSettings.h"
#include "TLBundle.h"

#include <QCoreApplication>
#include <QDir>

#include <string_view>

static_assert(std::string_view(TLBuildSettings::kDownloadSite).starts_with("https://"),
              "the update feed must be fetched over HTTPS");

namespace {

QString text(const char* s) {
    return QString::fromUtf8(s);
}

} // namespace

TLUpdaterContext TLUpdaterContext::fromBundle(const TLBundle& bundle) {
    TLUpdaterContext context;
    context.bundlePath = bundle.bundlePath();
    const QString identifier = bundle.bundleIdentifier();
    if (!identifier.isEmpty()) {
        context.bundleIdentifier = identifier;
    }
    context.runningVersion = bundle.shortVersion().value_or(QStringLiteral("0"));
    context.feedUrl = QUrl(text(TLBuildSettings::kDownloadSite) + text(TLBuildSettings::kFeedPath));
    context.tempDir = QDir::tempPath();
    context.processId = QCoreApplication::applicationPid();
    context.extractTool = text(TLArchiveExtractor::kDefaultTool);
    context.now = [] { return QDateTime::currentDateTimeUtc(); };
    context.publicKey = text(TLBuildSettings::kUpdatePublicKey);
    context.maxArchiveBytes = TLBuildSettings::kUpdateMaxArchiveBytes;
    context.extractionBudget = {TLBuildSettings::kUpdateMaxExtractedBytes,
                                TLBuildSettings::kUpdateMaxEntries};
    context.allowHttpLoopback = TLBuildSettings::kUpdateAllowHttpLoopback;
    return context;
}
