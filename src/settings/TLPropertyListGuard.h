#pragma once

#include <QByteArray>

#include <plist/plist.h>

// Bounds on what a property list may hold before anything walks it. libplist frees, writes and
// reads binary lists recursively and copies every shared object of a binary list, so a deeply
// nested or cleverly shared list from a file would crash or exhaust the program.
class TLPropertyListGuard {
public:
    static constexpr int kMaxDepth = 128;
    static constexpr qsizetype kMaxNodes = 1 << 18;

    // Whether the binary form's objects, expanded into the tree libplist would build, stay within
    // the bounds. Checked without recursion; anything malformed fails.
    static bool binaryWithinBounds(const QByteArray& data);
    // Whether a parsed tree stays within the bounds. Checked without recursion.
    static bool treeWithinBounds(plist_t root);
    // Frees a tree of any depth without recursion. It asks libplist for keys: none may hold a NUL
    // byte (the XML form cannot carry one; TLPropertyList::parse refuses a binary list first).
    static void freeDeep(plist_t root);
};
