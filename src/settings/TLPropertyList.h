#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <plist/plist.h>

#include <functional>
#include <memory>
#include <optional>

// Conversion between libplist nodes and QVariants, and between nodes and the file forms.
//
// Reading maps booleans to bool, integers to qint64 (quint64 for values above the qint64
// range), reals to double, strings to QString, dates to QDateTime (UTC), data to QByteArray,
// arrays to QVariantList and dictionaries to QVariantMap. UID nodes have no QVariant form: they
// read as absent and are left out of the arrays and dictionaries that contain them.
class TLPropertyList {
public:
    struct NodeDeleter {
        void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
    };
    using Node = std::unique_ptr<void, NodeDeleter>;

    // Files above this size are not taken for property lists (libplist takes 32-bit lengths).
    static constexpr qint64 kMaxDataSize = 16 * 1024 * 1024;

    // A property list in XML or binary form; null when the data is none, nests deeper or holds more
    // than TLPropertyListGuard allows, or when a dictionary holds a key twice or a key with a NUL
    // byte (only the binary form can carry either).
    static Node parse(const QByteArray& data);
    // The XML form of a node; empty when libplist cannot write it.
    static QByteArray toXml(plist_t node);
    // The file at path parsed; null when it is missing, too large, unreadable or no property list.
    static Node readFile(const QString& path);

    // The items of an array or the values of a dictionary, in order, in linear time. Never asks
    // libplist for a key: it aborts the program on a binary key holding a NUL byte.
    static void forEachChild(plist_t node, const std::function<void(plist_t)>& visit);

    static std::optional<QVariant> toVariant(plist_t node);
    // Null when the value (or anything inside it) has no property-list form. Strings and keys
    // holding a NUL character have none: libplist would cut them short.
    static Node fromVariant(const QVariant& value);

    // The XML form keeps whole seconds of a date. libplist counts 32-bit seconds from 2001, so
    // dates outside about 1933 to 2069 are clamped to that range.
    static QDateTime dateFromPlist(int32_t seconds, int32_t microseconds);
    static void dateToPlist(const QDateTime& date, int32_t* seconds, int32_t* microseconds);
};
