#include "TLUpdateVerifier.h"

#include "TLBundle.h"
#include "TLFileOps.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <new>
#include <sys/stat.h>

namespace {

QString text(const char* s) {
    return QString::fromUtf8(s);
}

void step(const TLVerifyInput& input, const char* name) {
    if (input.stepHook) {
        input.stepHook(name);
    }
}

std::optional<QString> verifyArchive(const TLVerifyInput& input, QString* newApp) {
    const QString archive = input.workDir + QStringLiteral("/update.zip");
    const std::optional<TLUpdateVerifier::Digests> digests = TLUpdateVerifier::digestsOfFile(archive);
    if (!digests || digests->sha256 != input.expectedDigest) {
        return text(TLUpdateVerifier::kDigestMismatch);
    }
    if (input.signature && !input.signature->covers(digests->blake2b)) {
        return text(TLUpdateVerifier::kSignatureMismatch);
    }
    switch (TLArchiveExtractor::extract(input.extractTool, archive, input.stagingDir, input.budget,
                                        [&input] { step(input, "extract"); })) {
    case TLArchiveExtractor::Result::ToolNotStarted:
        return text(TLUpdateVerifier::kToolNotStarted);
    case TLArchiveExtractor::Result::Refused:
        return text(TLUpdateVerifier::kNotExtractable);
    case TLArchiveExtractor::Result::Extracted:
        break;
    }
    const std::optional<QString> candidate = TLUpdateVerifier::findApp(input.stagingDir);
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
    // The relaunch runs this file: a regular file of the bundle, never a link to anything.
    const QByteArray path = QFile::encodeName(*candidate + QStringLiteral("/Contents/MacOS/") + *executable);
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0 || !S_ISREG(status.st_mode) ||
        ::chmod(path.constData(), 0755) != 0) {
        return text(TLUpdateVerifier::kForeignExecutable);
    }
    *newApp = *candidate;
    return std::nullopt;
}

TLVerifyResult verifyDownload(const TLDownloadOutcome& download, const TLVerifyInput& input) {
    TLVerifyResult result;
    result.workDir = input.workDir;
    result.stagingDir = input.stagingDir;
    if (download.downloadedFile.isEmpty() || download.error) {
        result.message = download.error.value_or(text(TLUpdateVerifier::kDownloadFailed));
        return result;
    }
    if (download.status != 200) {
        result.message = text(TLUpdateVerifier::kHttpStatus).arg(download.status);
        return result;
    }
    QDir().mkpath(QFileInfo(input.workDir).absolutePath());
    ::mkdir(QFile::encodeName(input.workDir).constData(), 0700);
    QString moveError;
    if (!TLFileOps::moveItem(download.downloadedFile, input.workDir + QStringLiteral("/update.zip"),
                             &moveError)) {
        result.message = moveError.isEmpty() ? text(TLUpdateVerifier::kUnknownError) : moveError;
        return result;
    }
    step(input, "verify");
    QString newApp;
    result.message = verifyArchive(input, &newApp);
    if (!result.message) {
        result.newApp = newApp;
        step(input, "verified");
    }
    return result;
}

} // namespace

TLVerifyResult TLUpdateVerifier::verify(const TLDownloadOutcome& download, const TLVerifyInput& input) {
    try {
        return verifyDownload(download, input);
    } catch (const std::bad_alloc&) {
        return {input.workDir, input.stagingDir, std::nullopt, text(kOutOfMemory)};
    } catch (...) {
        return {input.workDir, input.stagingDir, std::nullopt, text(kUnknownError)};
    }
}

std::optional<TLUpdateVerifier::Digests> TLUpdateVerifier::digestsOfFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QCryptographicHash sha256(QCryptographicHash::Sha256);
    TLUpdateSignature::Prehash blake2b;
    QByteArray chunk(1024 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 read = file.read(chunk.data(), chunk.size());
        if (read < 0) {
            return std::nullopt;
        }
        if (read == 0) {
            break;
        }
        sha256.addData(QByteArrayView(chunk.constData(), read));
        blake2b.add(chunk.constData(), read);
    }
    return Digests{QString::fromLatin1(sha256.result().toHex()), blake2b.result()};
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
