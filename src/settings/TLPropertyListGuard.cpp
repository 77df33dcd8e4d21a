#include "TLPropertyListGuard.h"

#include "TLPropertyList.h"

#include <utility>
#include <vector>

namespace {

// Big-endian unsigned integer of n (1 to 8) bytes.
quint64 readUInt(const char* p, int n) {
    quint64 value = 0;
    for (int i = 0; i < n; ++i) {
        value = (value << 8) | static_cast<unsigned char>(p[i]);
    }
    return value;
}

} // namespace

bool TLPropertyListGuard::binaryWithinBounds(const QByteArray& data) {
    // Header "bplist00", objects, offset table, 32-byte trailer.
    constexpr qsizetype kTrailer = 32;
    if (data.size() < 8 + kTrailer) {
        return false;
    }
    const char* bytes = data.constData();
    const char* trailer = bytes + data.size() - kTrailer;
    const int offsetSize = static_cast<unsigned char>(trailer[6]);
    const int refSize = static_cast<unsigned char>(trailer[7]);
    const quint64 objects = readUInt(trailer + 8, 8);
    const quint64 top = readUInt(trailer + 16, 8);
    const quint64 table = readUInt(trailer + 24, 8);
    const auto end = static_cast<quint64>(data.size() - kTrailer);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || objects == 0 || top >= objects ||
        table < 8 || table > end || objects > (end - table) / static_cast<quint64>(offsetSize)) {
        return false;
    }
    std::vector<std::pair<quint64, int>> pending{{top, 1}};
    qsizetype nodes = 0;
    while (!pending.empty()) {
        const auto [object, depth] = pending.back();
        pending.pop_back();
        if (++nodes > kMaxNodes || depth > kMaxDepth) {
            return false;
        }
        const quint64 offset =
            readUInt(bytes + table + object * static_cast<quint64>(offsetSize), offsetSize);
        if (offset < 8 || offset >= table) {
            return false;
        }
        const auto marker = static_cast<unsigned char>(bytes[offset]);
        const int type = marker >> 4;
        if (type != 0xA && type != 0xC && type != 0xD) { // arrays, sets, dictionaries hold references
            continue;
        }
        quint64 count = marker & 0xF;
        quint64 refs = offset + 1;
        if (count == 0xF) { // the count follows as an integer object
            if (refs >= table || (static_cast<unsigned char>(bytes[refs]) >> 4) != 0x1) {
                return false;
            }
            const int size = 1 << (bytes[refs] & 0x3);
            if (refs + 1 + size > table) {
                return false;
            }
            count = readUInt(bytes + refs + 1, size);
            refs += 1 + size;
        }
        if (type == 0xD) {
            count *= 2; // keys, then values
        }
        if (count > static_cast<quint64>(kMaxNodes) || refs + count * refSize > table ||
            nodes + static_cast<qsizetype>(pending.size() + count) > kMaxNodes) {
            return false;
        }
        for (quint64 i = 0; i < count; ++i) {
            const quint64 child = readUInt(bytes + refs + i * refSize, refSize);
            if (child >= objects) {
                return false;
            }
            pending.emplace_back(child, depth + 1);
        }
    }
    return true;
}

bool TLPropertyListGuard::xmlWithinBounds(const QByteArray& data) {
    return data.count("<dict") + data.count("<array") <= kMaxXmlContainers;
}

bool TLPropertyListGuard::treeWithinBounds(plist_t root) {
    std::vector<std::pair<plist_t, int>> pending{{root, 1}};
    qsizetype nodes = 0;
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        if (++nodes > kMaxNodes || depth > kMaxDepth) {
            return false;
        }
        const int childDepth = depth + 1; // clang 14 cannot capture a structured binding
        TLPropertyList::forEachChild(node, [&](plist_t child) { pending.emplace_back(child, childDepth); });
    }
    return true;
}
