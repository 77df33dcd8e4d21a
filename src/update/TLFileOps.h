#pragma once

#include <QString>

#include <functional>

// File-system steps of the installation that must report why they failed (in German, through
// TLUpdateErrors). Everything stays on one file system: moves are renames, never copies.
class TLFileOps {
public:
    enum class Swap { Exchanged, MovedAside, Failed };

    // Renames a file or a directory tree; never replaces what is at `to`.
    static bool moveItem(const QString& from, const QString& to, QString* error = nullptr);
    // Puts `replacement` in place of `current` in one step, leaving the former `current` at
    // `replacement`'s path. Where the file system refuses such an exchange (or `exchangeRefused`
    // says it would), moves `current` to `aside` and then `replacement` to `current`, moving it
    // back when the second move fails; `between` runs between the two moves.
    static Swap exchange(const QString& replacement, const QString& current, const QString& aside,
                         bool exchangeRefused, const std::function<void()>& between, QString* error);
    // Gives the owner read, write and search permission on every folder of the tree, never
    // following a link. False when a folder still cannot be changed or opened.
    static bool openUpFolders(const QString& root);
    // Removes a file, a symbolic link (never what it points to) or a directory tree, opening up
    // its folders first. True when nothing is left at the path.
    static bool removeItem(const QString& path);
    // Whether anything, even a dangling symbolic link, is at the path.
    static bool exists(const QString& path);
};
