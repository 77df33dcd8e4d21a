#include "TLArchiveExtractor.h"

#include "TLFileOps.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

#include <csignal>
#include <filesystem>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr qsizetype kMaxListingBytes = 16 * 1024 * 1024;
// The end record (22 bytes), its comment (up to 65535) and a writer's block padding.
constexpr qint64 kZipTailBytes = 22 + 65535 + 10240;

struct ToolRun {
    bool started = false;
    bool succeeded = false;
    QByteArray output;
};

// Runs the tool so that it ends with this process (also when it is killed) and cannot write a
// file larger than fileSizeLimit; reads its output while waiting so that a long listing cannot
// block it, and kills it when it talks too much or runs too long.
ToolRun runTool(const QString& tool, const QStringList& arguments, rlim_t fileSizeLimit,
                const std::function<void()>& started = {}) {
    ToolRun run;
    QProcess process;
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent, fileSizeLimit] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127); // the parent is already gone
        }
        const rlimit size{fileSizeLimit, fileSizeLimit};
        const rlimit core{0, 0};
        ::setrlimit(RLIMIT_FSIZE, &size);
        ::setrlimit(RLIMIT_CORE, &core);
    });
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(tool, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted()) {
        return run;
    }
    run.started = true;
    if (started) {
        started();
    }
    QElapsedTimer clock;
    clock.start();
    while (process.state() != QProcess::NotRunning) {
        if (clock.elapsed() > TLArchiveExtractor::kToolTimeoutMs || run.output.size() > kMaxListingBytes) {
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

QList<QByteArray> lines(const QByteArray& output) {
    QList<QByteArray> result = output.split('\n');
    if (!result.isEmpty() && result.last().isEmpty()) {
        result.removeLast();
    }
    return result;
}

} // namespace

TLArchiveExtractor::Result TLArchiveExtractor::extract(const QString& tool, const QString& archive,
                                                       const QString& destination,
                                                       const TLExtractionBudget& budget,
                                                       const std::function<void()>& started) {
    if (!isZip(archive)) {
        return Result::Refused;
    }
    // Names from the plain listing, types and sizes from the long one ("-rw-r--r-- 0 0 0 <size> ...").
    const ToolRun names = runTool(tool, {QStringLiteral("-tf"), archive}, 0);
    if (!names.started) {
        return Result::ToolNotStarted;
    }
    const ToolRun details = runTool(tool, {QStringLiteral("-tvf"), archive}, 0);
    const QList<QByteArray> nameLines = lines(names.output);
    const QList<QByteArray> detailLines = lines(details.output);
    if (!names.succeeded || !details.succeeded || nameLines.size() != detailLines.size() ||
        nameLines.size() > budget.maxEntries) {
        return Result::Refused;
    }
    qint64 total = 0;
    qint64 largest = 0;
    for (qsizetype i = 0; i < nameLines.size(); ++i) {
        const QList<QByteArray> fields = detailLines[i].simplified().split(' ');
        bool isNumber = false;
        const qint64 size = fields.size() > 4 ? fields[4].toLongLong(&isNumber) : -1;
        const char type = fields[0].isEmpty() ? '?' : fields[0][0];
        if (!entryNameIsSafe(QString::fromUtf8(nameLines[i])) || !isNumber || size < 0 ||
            (type != '-' && type != 'd' && type != 'l')) {
            return Result::Refused;
        }
        total += size;
        largest = std::max(largest, size);
        if (total > budget.maxBytes) {
            return Result::Refused;
        }
    }
    if (!QDir().mkpath(QFileInfo(destination).absolutePath()) ||
        ::mkdir(QFile::encodeName(destination).constData(), 0700) != 0) {
        return Result::Refused;
    }
    // bsdtar also refuses ".." and writing through links by itself; owner, special mode bits and
    // extended attributes from the archive are never applied.
    const ToolRun extraction =
        runTool(tool,
                {QStringLiteral("-xf"), archive, QStringLiteral("-C"), destination,
                 QStringLiteral("--no-same-owner"), QStringLiteral("--no-same-permissions"),
                 QStringLiteral("--no-xattrs"), QStringLiteral("--no-acls"), QStringLiteral("--no-fflags")},
                static_cast<rlim_t>(std::max<qint64>(largest, 1)), started);
    if (!extraction.started) {
        return Result::ToolNotStarted;
    }
    if (!extraction.succeeded || !TLFileOps::openUpFolders(destination) ||
        !treeStaysInside(destination, budget)) {
        return Result::Refused;
    }
    return Result::Extracted;
}

bool TLArchiveExtractor::isZip(const QString& archive) {
    QFile file(archive);
    if (!file.open(QIODevice::ReadOnly) || file.read(4) != QByteArrayLiteral("PK\x03\x04")) {
        return false;
    }
    // The end-of-directory record near the end (writers may pad the archive after it).
    const qint64 size = file.size();
    const qint64 tail = std::min<qint64>(size, kZipTailBytes);
    file.seek(size - tail);
    const QByteArray end = file.read(tail);
    const qsizetype at = end.lastIndexOf("PK\x05\x06");
    return at >= 0 && at + 22 <= end.size();
}

bool TLArchiveExtractor::entryNameIsSafe(const QString& name) {
    if (name.startsWith(QLatin1Char('/'))) {
        return false;
    }
    const QStringList components = name.split(QLatin1Char('/'));
    return !components.contains(QStringLiteral(".."));
}

bool TLArchiveExtractor::treeStaysInside(const QString& destination, const TLExtractionBudget& budget) {
    const QString root = QFileInfo(destination).canonicalFilePath();
    if (root.isEmpty()) {
        return false;
    }
    qint64 entries = 0;
    qint64 bytes = 0;
    std::vector<QString> pending{root};
    while (!pending.empty()) {
        const QString folder = pending.back();
        pending.pop_back();
        std::error_code ec;
        for (fs::directory_iterator it(QFile::encodeName(folder).toStdString(), ec), end; it != end;
             it.increment(ec)) {
            const QString path = QFile::decodeName(QByteArray::fromStdString(it->path().string()));
            const fs::file_status status = it->symlink_status(ec);
            if (ec || ++entries > budget.maxEntries) {
                return false;
            }
            if (status.type() == fs::file_type::directory) {
                pending.push_back(path);
            } else if (status.type() == fs::file_type::regular) {
                bytes += static_cast<qint64>(it->file_size(ec));
                if (ec || bytes > budget.maxBytes) {
                    return false;
                }
            } else if (status.type() == fs::file_type::symlink) {
                const fs::path raw = fs::read_symlink(it->path(), ec);
                if (ec || raw.is_absolute()) {
                    return false;
                }
                // A link must stay inside the top-level entry it belongs to, so that it still
                // points into the bundle once that has moved away from here.
                const QString relative = path.mid(root.size() + 1);
                const qsizetype slash = relative.indexOf(QLatin1Char('/'));
                const QString scope = slash < 0 ? root : root + QLatin1Char('/') + relative.left(slash);
                // Resolved through every link on the way; a dangling link is judged by its text.
                const QFileInfo entry(path);
                QString resolved = entry.canonicalFilePath();
                if (resolved.isEmpty()) {
                    resolved = QDir::cleanPath(entry.absolutePath() + QLatin1Char('/') +
                                               QFile::decodeName(QByteArray::fromStdString(raw.string())));
                }
                if (!isInside(resolved, scope)) {
                    return false;
                }
            } else {
                return false; // devices, pipes, sockets
            }
        }
        if (ec) {
            return false;
        }
    }
    return true;
}
