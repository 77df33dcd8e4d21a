#include "TLPropertyList.h"

#include "TLPropertyListGuard.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {

// Seconds between the Unix epoch and the property-list epoch, 2001-01-01 00:00:00 UTC.
constexpr qint64 kPlistEpochMSecs = 978307200LL * 1000;

struct FreeDeleter {
    void operator()(char* text) const { std::free(text); }
};
using CString = std::unique_ptr<char, FreeDeleter>;

struct IterDeleter {
    void operator()(void* iter) const { std::free(iter); }
};

// libplist keeps one integer type; a value above the signed range was written as unsigned in the
// file and is told apart from a negative one by comparing it with a fresh (signed) node.
bool isLargeUnsigned(plist_t node, uint64_t value) {
    if (value <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        return false;
    }
    TLPropertyList::Node probe(plist_new_uint(value));
    return !plist_compare_node_value(probe.get(), node);
}

// A key as its binary form writes it: the whole key where it holds a character beyond ASCII, else
// up to a NUL byte, as the XML form writes it and a lookup by name sees it. libplist hands keys out
// only as C strings otherwise, and aborts the program where the stored length says more.
QByteArray storedKey(plist_t key) {
    char* raw = nullptr;
    uint32_t length = 0;
    plist_to_bin(key, &raw, &length);
    const CString bin(raw);
    plist_t root = nullptr;
    if (bin) {
        plist_from_bin(bin.get(), length, &root);
    }
    const TLPropertyList::Node string(root);
    uint64_t size = 0;
    const char* text = plist_get_string_ptr(string.get(), &size);
    return text ? QByteArray(text, static_cast<qsizetype>(size)) : QByteArray();
}

// Whether a dictionary holds a key with a NUL byte, or a key twice. The binary form can carry
// both; of a key held twice, libplist finds the first occurrence where its XML form keeps the last.
// Walked without recursion: the nesting depth is the input's.
bool hasBrokenKeys(plist_t root) {
    std::vector<plist_t> pending{root};
    bool broken = false;
    while (!pending.empty() && !broken) {
        const plist_t node = pending.back();
        pending.pop_back();
        const bool isDict = plist_get_node_type(node) == PLIST_DICT;
        QSet<QByteArray> keys;
        TLPropertyList::forEachChild(node, [&](plist_t child) {
            if (isDict && !broken) {
                const QByteArray key = storedKey(plist_dict_item_get_key(child));
                broken = key.contains('\0') || keys.contains(key);
                keys.insert(key);
            }
            pending.push_back(child);
        });
    }
    return broken;
}

TLPropertyList::Node newLargeUnsigned(quint64 value) {
    // Only the parser creates the unsigned form of a value beyond the signed range.
    const QByteArray xml =
        "<plist version=\"1.0\"><integer>" + QByteArray::number(value) + "</integer></plist>";
    return TLPropertyList::parse(xml);
}

} // namespace

TLPropertyList::Node TLPropertyList::parse(const QByteArray& data) {
    if (data.isEmpty() || data.size() > kMaxDataSize) {
        return nullptr;
    }
    const auto size = static_cast<uint32_t>(data.size());
    // Checked before libplist builds a tree: what it builds is then shallow enough to be freed.
    const bool binary = plist_is_binary(data.constData(), size);
    if (binary ? !TLPropertyListGuard::binaryWithinBounds(data)
               : !TLPropertyListGuard::xmlWithinBounds(data)) {
        return nullptr;
    }
    plist_t root = nullptr;
    plist_from_memory(data.constData(), size, &root);
    Node node(root);
    // Before anything asks libplist for a key.
    if (node && binary && hasBrokenKeys(node.get())) {
        return nullptr;
    }
    if (node && !TLPropertyListGuard::treeWithinBounds(node.get())) {
        return nullptr;
    }
    return node;
}

QByteArray TLPropertyList::toXml(plist_t node) {
    if (!node) {
        return {};
    }
    char* raw = nullptr;
    uint32_t length = 0;
    plist_to_xml(node, &raw, &length);
    CString xml(raw);
    if (!xml) {
        return {};
    }
    return QByteArray(xml.get(), static_cast<qsizetype>(length));
}

TLPropertyList::Node TLPropertyList::readFile(const QString& path) {
    QFileInfo info(path);
    if (!info.isFile() || info.size() > kMaxDataSize) {
        return nullptr;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return nullptr;
    }
    // As large as the file was seen: one buffer of the whole limit would cost 32 MiB for every
    // read of a file of a few hundred bytes. A file that grew since is read on, in pieces, up to
    // one byte past the limit.
    QByteArray data = file.read(info.size() + 1);
    while (data.size() > info.size() && data.size() <= kMaxDataSize) {
        const QByteArray more = file.read(std::min<qint64>(64 * 1024, kMaxDataSize + 1 - data.size()));
        if (more.isEmpty()) {
            break;
        }
        data += more;
    }
    return parse(data);
}

QDateTime TLPropertyList::dateFromPlist(int32_t seconds, int32_t microseconds) {
    // libplist leaves any number in the microseconds of a binary date beyond its range.
    constexpr qint64 lo = qint64{std::numeric_limits<int32_t>::min()} * 1000;
    constexpr qint64 hi = qint64{std::numeric_limits<int32_t>::max()} * 1000 + 999;
    const qint64 msecs = std::clamp(qint64{seconds} * 1000 + microseconds / 1000, lo, hi);
    return QDateTime::fromMSecsSinceEpoch(kPlistEpochMSecs + msecs, Qt::UTC);
}

void TLPropertyList::dateToPlist(const QDateTime& date, int32_t* seconds, int32_t* microseconds) {
    const qint64 msecs = date.toMSecsSinceEpoch() - kPlistEpochMSecs;
    qint64 secs = msecs / 1000;
    qint64 rest = msecs % 1000;
    if (rest < 0) {
        secs -= 1;
        rest += 1000;
    }
    constexpr qint64 lo = std::numeric_limits<int32_t>::min();
    constexpr qint64 hi = std::numeric_limits<int32_t>::max();
    if (secs < lo || secs > hi) {
        *seconds = static_cast<int32_t>(secs < lo ? lo : hi);
        *microseconds = 0;
        return;
    }
    *seconds = static_cast<int32_t>(secs);
    *microseconds = static_cast<int32_t>(rest * 1000);
}

void TLPropertyList::forEachChild(plist_t node, const std::function<void(plist_t)>& visit) {
    const bool isArray = plist_get_node_type(node) == PLIST_ARRAY;
    if (!isArray && plist_get_node_type(node) != PLIST_DICT) {
        return;
    }
    void* rawIter = nullptr;
    isArray ? plist_array_new_iter(node, &rawIter) : plist_dict_new_iter(node, &rawIter);
    const std::unique_ptr<void, IterDeleter> iter(rawIter);
    for (plist_t child = nullptr; iter;) {
        isArray ? plist_array_next_item(node, iter.get(), &child)
                : plist_dict_next_item(node, iter.get(), nullptr, &child);
        if (!child) {
            return;
        }
        visit(child);
    }
}

std::optional<QVariant> TLPropertyList::toVariant(plist_t node) {
    if (!node) {
        return std::nullopt;
    }
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return QVariant(value != 0);
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        if (isLargeUnsigned(node, value)) {
            return QVariant(static_cast<quint64>(value));
        }
        return QVariant(static_cast<qint64>(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return QVariant(value);
    }
    case PLIST_STRING: {
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        return QVariant(QString::fromUtf8(text ? text : "", text ? static_cast<qsizetype>(length) : 0));
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(node, &length);
        return QVariant(bytes ? QByteArray(bytes, static_cast<qsizetype>(length)) : QByteArray());
    }
    case PLIST_DATE: {
        int32_t seconds = 0;
        int32_t microseconds = 0;
        plist_get_date_val(node, &seconds, &microseconds);
        return QVariant(dateFromPlist(seconds, microseconds));
    }
    case PLIST_ARRAY: {
        QVariantList list;
        forEachChild(node, [&](plist_t item) {
            if (auto value = toVariant(item)) {
                list.append(*value);
            }
        });
        return QVariant(list);
    }
    case PLIST_DICT: {
        QVariantMap map;
        forEachChild(node, [&](plist_t value) {
            if (auto item = toVariant(value)) {
                map.insert(QString::fromUtf8(storedKey(plist_dict_item_get_key(value))), *item);
            }
        });
        return QVariant(map);
    }
    default:
        return std::nullopt;
    }
}

TLPropertyList::Node TLPropertyList::fromVariant(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return Node(plist_new_bool(value.toBool() ? 1 : 0));
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return Node(plist_new_uint(static_cast<uint64_t>(value.toLongLong())));
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const quint64 number = value.toULongLong();
        if (number > static_cast<quint64>(std::numeric_limits<qint64>::max())) {
            return newLargeUnsigned(number);
        }
        return Node(plist_new_uint(number));
    }
    case QMetaType::Float:
    case QMetaType::Double:
        return Node(plist_new_real(value.toDouble()));
    case QMetaType::QString: {
        const QByteArray text = value.toString().toUtf8();
        if (text.contains('\0')) {
            return nullptr;
        }
        return Node(plist_new_string(text.constData()));
    }
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return Node(plist_new_data(bytes.constData(), static_cast<uint64_t>(bytes.size())));
    }
    case QMetaType::QDateTime: {
        const QDateTime date = value.toDateTime();
        if (!date.isValid()) {
            return nullptr;
        }
        int32_t seconds = 0;
        int32_t microseconds = 0;
        dateToPlist(date, &seconds, &microseconds);
        return Node(plist_new_date(seconds, microseconds));
    }
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        Node array(plist_new_array());
        for (const QVariant& item : value.toList()) {
            Node child = fromVariant(item);
            if (!child) {
                return nullptr;
            }
            plist_array_append_item(array.get(), child.release());
        }
        return array;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        Node dict(plist_new_dict());
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            const QByteArray key = it.key().toUtf8();
            Node child = fromVariant(it.value());
            if (!child || key.contains('\0')) {
                return nullptr;
            }
            plist_dict_set_item(dict.get(), key.constData(), child.release());
        }
        return dict;
    }
    default:
        return nullptr;
    }
}
