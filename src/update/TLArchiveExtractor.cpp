#include "TLArchiveExtractor.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

#include <QElapsedTimer>

#include <filesystem>
#include <system_error>

namespace {

struct ToolRun {
    bool started = false;
    bool succeeded = false;
    QByteArray output;
};

ToolRun runTool(const QString& tool, const QStringList& arguments) {
    ToolRun run;
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(tool, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted()) {
        return run;
    }
    run.started = true;
    // Read while waiting so that a long listing cannot fill the pipe and block the tool.
    QElapsedTimer clock;
    clock.start();
    while (process.state() != QProcess::NotRunning) {
        if (clock.elapsed() > TLArchiveExtractor::kToolTimeoutMs) {
            process.kill();
            process.waitForFinished();
            return run;
        }
        process.waitForFinished(200);
        run.output += process.readAllStandardOutput();
        process.readAllStandardError();
    }
    run.output += process.readAllStandardOutput();
    run.succeeded = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return run;
}

bool isInside(const QString& path, const QString& root) {
    return path == root || path.startsWith(root + QLatin1Char('/'));
}

} // namespace

TLArchiveExtractor::Result TLArchiveExtractor::extract(const QString& tool, const QString& archive,
                                                       const QString& destination) {
    const ToolRun listing = runTool(tool, {QStringLiteral("-tf"), archive});
    if (!listing.started) {
        return Result::ToolNotStarted;
    }
    if (!listing.succeeded) {
        return Result::Refused;
    }
    for (const QByteArray& line : listing.output.split('\n')) {
        if (!line.isEmpty() && !entryNameIsSafe(QString::fromUtf8(line))) {
            return Result::Refused;
        }
    }
    if (!QDir().mkpath(destination)) {
        return Result::Refused;
    }
    // bsdtar also refuses ".." and writing through links by itself; owner and special mode
    // bits from the archive are never applied.
    const ToolRun extraction =
        runTool(tool, {QStringLiteral("-xf"), archive, QStringLiteral("-C"), destination,
                       QStringLiteral("--no-same-owner"), QStringLiteral("--no-same-permissions")});
    if (!extraction.started) {
        return Result::ToolNotStarted;
    }
    if (!extraction.succeeded || !treeStaysInside(destination)) {
        return Result::Refused;
    }
    return Result::Extracted;
}

bool TLArchiveExtractor::entryNameIsSafe(const QString& name) {
    if (name.startsWith(QLatin1Char('/'))) {
        return false;
    }
    const QStringList components = name.split(QLatin1Char('/'));
    return !components.contains(QStringLiteral(".."));
}

bool TLArchiveExtractor::treeStaysInside(const QString& destination) {
    const QString root = QFileInfo(destination).canonicalFilePath();
    if (root.isEmpty()) {
        return false;
    }
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo entry(it.next());
        if (entry.isSymLink()) {
            std::error_code ec;
            const auto raw =
                std::filesystem::read_symlink(QFile::encodeName(entry.filePath()).toStdString(), ec);
            if (ec || raw.is_absolute()) {
                return false;
            }
            // A link must stay inside the top-level entry it belongs to, so that it still points
            // into the bundle once that has moved away from here.
            const QString relative = entry.filePath().mid(root.size() + 1);
            const qsizetype slash = relative.indexOf(QLatin1Char('/'));
            const QString scope = slash < 0 ? root : root + QLatin1Char('/') + relative.left(slash);
            // Resolved through every link on the way; a dangling link is judged by its text.
            QString resolved = entry.canonicalFilePath();
            if (resolved.isEmpty()) {
                resolved = QDir::cleanPath(entry.absolutePath() + QLatin1Char('/') +
                                           QFile::decodeName(QByteArray::fromStdString(raw.string())));
            }
            if (!isInside(resolved, scope)) {
                return false;
            }
            continue;
        }
        if (!entry.isDir() && !entry.isFile()) {
            return false; // devices, pipes, sockets
        }
    }
    return true;
}
