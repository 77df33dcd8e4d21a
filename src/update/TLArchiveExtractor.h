#pragma once

#include <QString>

// Extracts a zip archive with an external tool (bsdtar) run as a separate process, and makes
// sure nothing lands outside the destination: entries with absolute paths or ".." components
// refuse the whole archive before anything is written; after the extraction every symbolic
// link must resolve inside the destination, and only directories, regular files and such
// links may exist. Blocks until the tool has ended, so it belongs off the GUI thread.
class TLArchiveExtractor {
public:
    enum class Result { Extracted, ToolNotStarted, Refused };

    static constexpr const char* kDefaultTool = "/usr/bin/bsdtar";
    static constexpr int kToolTimeoutMs = 10 * 60 * 1000;

    static Result extract(const QString& tool, const QString& archive, const QString& destination);

private:
    static bool entryNameIsSafe(const QString& name);
    static bool treeStaysInside(const QString& destination);
};
