#include "TLUpdateVerifier.h"

#include "TLArchiveExtractor.h"
#include "TLBundle.h"
#include "TLFileOps.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

namespace {

QString text(const char* s) {
    return QString::fromUtf8(s);
}

std::optional<QString> verifyArchive(const TLVerifyInput& input, const QString& workDir, QString* newApp) {
    const QString archive = workDir + QStringLiteral("/update.zip");
    if (TLUpdateVerifier::sha256OfFile(archive) != input.expectedDigest) {
        return text(TLUpdateVerifier::kDigestMismatch);
    }
    const QString extractDir = workDir + QStringLiteral("/extract");
    switch (TLArchiveExtractor::extract(input.extractTool, archive, extractDir)) {
    case TLArchiveExtractor::Result::ToolNotStarted:
        return text(TLUpdateVerifier::kToolNotStarted);
    case TLArchiveExtractor::Result::Refused:
        return text(TLUpdateVerifier::kNotExtractable);
    case TLArchiveExtractor::Result::Extracted:
        break;
    }
    const std::optional<QString> candidate = TLUpdateVerifier::findApp(extractDir);
    if (!candidate) {
        return text(TLUpdateVerifier::kNoApp);
    }
    const QVariantMap info = TLBundle::readInfoDictionary(*candidate).value_or(QVariantMap());
    const QVariant identifier = info.value(QStringLiteral("CFBundleIdentifier"));
    if (!input.runningIdentifier || identifier.typeId() != QMetaType::QString ||
        identifier.toString() != *input.runningIdentifier) {
        return text(TLUpdateVerifier::kForeignApp);
    }
    if (input.versionAnnounced) {
        const QVariant version = info.value(QStringLiteral("CFBundleShortVersionString"));
        if (!input.announcedVersion || version.typeId() != QMetaType::QString ||
            version.toString() != *input.announcedVersion) {
            return text(TLUpdateVerifier::kVersionMismatch);
        }
    }
    const std::optional<QString> executable = TLUpdateVerifier::executableName(info);
    if (!executable) {
        return text(TLUpdateVerifier::kForeignApp);
    }
    // Whether the executable exists is not this step's concern; the relaunch finds out.
    QFile::setPermissions(*candidate + QStringLiteral("/Contents/MacOS/") + *executable,
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                              QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    *newApp = *candidate;
    return std::nullopt;
}

} // namespace

TLVerifyResult TLUpdateVerifier::verify(const TLDownloadOutcome& download, const TLVerifyInput& input) {
    TLVerifyResult result;
    result.workDir = input.tempDir + QStringLiteral("/tilora-update-") +
                     QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    if (download.downloadedFile.isEmpty() || download.error) {
        result.message = download.error.value_or(text(kDownloadFailed));
        return result;
    }
    if (download.status != 200) {
        result.message = text(kHttpStatus).arg(download.status);
        return result;
    }
    QDir().mkpath(result.workDir);
    QString moveError;
    if (!TLFileOps::moveItem(download.downloadedFile, result.workDir + QStringLiteral("/update.zip"),
                             &moveError)) {
        result.message = moveError.isEmpty() ? text(kUnknownError) : moveError;
        return result;
    }
    QString newApp;
    result.message = verifyArchive(input, result.workDir, &newApp);
    if (!result.message) {
        result.newApp = newApp;
    }
    return result;
}

QString TLUpdateVerifier::sha256OfFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QString();
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return QString();
    }
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

std::optional<QString> TLUpdateVerifier::findApp(const QString& directory) {
    const QFileInfoList entries = QDir(directory).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink()) {
            continue; // moving a link into place would install nothing but the link
        }
        if (entry.suffix() == QLatin1String("app")) {
            return entry.absoluteFilePath();
        }
    }
    return std::nullopt;
}

std::optional<QString> TLUpdateVerifier::executableName(const QVariantMap& info) {
    const QVariant value = info.value(QStringLiteral("CFBundleExecutable"));
    if (!value.isValid()) {
        return text(kDefaultExecutable);
    }
    if (value.typeId() != QMetaType::QString || !TLBundle::isExecutableName(value.toString())) {
        return std::nullopt;
    }
    return value.toString();
}
