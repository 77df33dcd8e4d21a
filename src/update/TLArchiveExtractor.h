#pragma once

#include <QString>

#include <functional>

// How much an update archive may unpack to.
struct TLExtractionBudget {
    qint64 maxBytes = 0;   // all regular files together
    qint64 maxEntries = 0; // files, folders and links
};

// Extracts a zip archive with an external tool (bsdtar) run as a separate process that dies
// with Tilora, and makes sure nothing lands outside the destination and nothing exceeds the
// budget. Before anything is written: the archive must be a zip; its listing must hold only
// files, folders and links, no absolute path or ".." component, and stay within the budget.
// While extracting, no file may outgrow the largest listed size. Afterwards every folder is
// opened up for the owner (without following links), every symbolic link must resolve inside
// its top-level entry, nothing else but files and folders may exist, and the tree must stay
// within the budget; anything that cannot be inspected refuses the archive. Blocks until the
// tool has ended, so it belongs off the GUI thread.
class TLArchiveExtractor {
public:
    enum class Result { Extracted, ToolNotStarted, Refused };

    static constexpr const char* kDefaultTool = "/usr/bin/bsdtar";
    static constexpr int kToolTimeoutMs = 10 * 60 * 1000;

    // `started` runs once the extraction proper is under way.
    static Result extract(const QString& tool, const QString& archive, const QString& destination,
                          const TLExtractionBudget& budget, const std::function<void()>& started = {});

    // Starts with a zip's local-file signature and ends with its end-of-directory record.
    static bool isZip(const QString& archive);

private:
    static bool entryNameIsSafe(const QString& name);
    static bool treeStaysInside(const QString& destination, const TLExtractionBudget& budget);
};
