#pragma once

#include <QByteArray>

#include <plist/plist.h>

// Bounds on what a property list may hold before anything walks it. libplist frees, writes and
// reads binary lists recursively, frees what it read of a broken XML list recursively, and copies
// every shared object of a binary list, so a deeply nested or cleverly shared list from a file
// would crash or exhaust the program.
class TLPropertyListGuard {
public:
    static constexpr int kMaxDepth = 128;
    static constexpr qsizetype kMaxNodes = 1 << 18;
    // Far more dictionaries and arrays than a settings file or an Info.plist holds, and few
    // enough for libplist to free that many nested ones on any thread's stack.
    static constexpr qsizetype kMaxXmlContainers = 4096;

    // Whether the binary form's objects, expanded into the tree libplist would build, stay within
    // the bounds. Checked without recursion; anything malformed fails.
    static bool binaryWithinBounds(const QByteArray& data);
    // Whether the XML form can open at most kMaxXmlContainers dictionaries and arrays: libplist
    // takes a tag's name right after its "<", so every one it opens is counted here, wherever it
    // stands. Nothing read from the form nests deeper than that, whether it is whole or broken.
    static bool xmlWithinBounds(const QByteArray& data);
    // Whether a parsed tree stays within the bounds. Checked without recursion.
    static bool treeWithinBounds(plist_t root);
};
