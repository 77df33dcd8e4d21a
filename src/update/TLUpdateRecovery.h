#pragma once

#include <QString>

class TLLog;

// What an interrupted installation leaves behind, and the lock that keeps a starting Tilora from
// clearing the work of one still under way. An installation keeps everything it creates under
// these names: work folders "tilora-update-*" and downloads "tilora-download-*" in the temporary
// folder, staging folders ".Tilora.staging-*" and the backup ".Tilora.old" beside the bundle.
class TLUpdateRecovery {
public:
    static constexpr const char* kWorkPrefix = "tilora-update-";
    static constexpr const char* kDownloadPrefix = "tilora-download-";
    static constexpr const char* kStagingPrefix = ".Tilora.staging-";
    static constexpr const char* kBackupName = ".Tilora.old";

    // Held (shared) by an installation from its start to its end. Holds nothing when the lock
    // file cannot be used; the installation goes on without it.
    class Guard {
    public:
        Guard() = default;
        explicit Guard(int fd) : fd_(fd) {}
        Guard(Guard&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
        Guard& operator=(Guard&& other) noexcept;
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
        ~Guard();

    private:
        friend class TLUpdateRecovery;
        int fd_ = -1;
    };

    static Guard guardInstallation(const QString& tempDir);

    // At start, before anything else: the running executable's bundle and the temporary folder.
    static void recoverAtLaunch(const TLLog& log);
    // Unless an installation holds its guard: puts the backup back when the bundle has no
    // executable (or is missing) and the backup has one, then removes the backup, the staging
    // folders beside the bundle and this user's work folders and downloads.
    static void recover(const QString& bundlePath, const QString& tempDir, const TLLog& log);

    // Whether the bundle's Contents/MacOS/<CFBundleExecutable> is a regular file (not a link).
    static bool hasExecutable(const QString& bundlePath);
};
