#pragma once

#include <QString>

// File-system steps of the installation that must report why they failed.
class TLFileOps {
public:
    // Moves a file or a directory tree. Within one file system this is a rename; across file
    // systems the tree is copied (symbolic links as links, permissions kept) and the source
    // removed. On failure the destination is left as it was and *error describes why.
    static bool moveItem(const QString& from, const QString& to, QString* error = nullptr);
    // Removes a file, a symbolic link (never what it points to) or a directory tree. True when
    // nothing is left at the path.
    static bool removeItem(const QString& path);
    // Whether anything, even a dangling symbolic link, is at the path.
    static bool exists(const QString& path);
};
