#include "TLTestZip.h"

#include <QtEndian>

#include <array>

namespace {

quint32 crc32(const QByteArray& data) {
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[i] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (char ch : data) {
        crc = table[(crc ^ static_cast<quint8>(ch)) & 0xFF] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

void put16(QByteArray& out, quint16 v) {
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

void put32(QByteArray& out, quint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

constexpr quint16 kDosTime = 0;
constexpr quint16 kDosDate = (1 << 5) | 1 | ((2020 - 1980) << 9);

} // namespace

void TLTestZip::addFile(const QString& name, const QByteArray& data, int mode) {
    entries_.append({name.toUtf8(), data, 0100000u | static_cast<quint32>(mode)});
}

void TLTestZip::addDirectory(const QString& name, int mode) {
    QByteArray n = name.toUtf8();
    if (!n.endsWith('/')) {
        n += '/';
    }
    entries_.append({n, QByteArray(), 0040000u | static_cast<quint32>(mode)});
}

void TLTestZip::addSymlink(const QString& name, const QByteArray& target) {
    entries_.append({name.toUtf8(), target, 0120777u});
}

QByteArray TLTestZip::bytes() const {
    if (!raw_.isEmpty()) {
        return raw_;
    }
    QByteArray out;
    QByteArray central;
    for (const Entry& e : entries_) {
        const quint32 offset = static_cast<quint32>(out.size());
        const quint32 crc = crc32(e.data);
        const auto size = static_cast<quint32>(e.data.size());
        const auto nameLength = static_cast<quint16>(e.name.size());
        // local file header
        put32(out, 0x04034b50);
        put16(out, 20);     // version needed
        put16(out, 0x0800); // UTF-8 names
        put16(out, 0);      // stored
        put16(out, kDosTime);
        put16(out, kDosDate);
        put32(out, crc);
        put32(out, size);
        put32(out, size);
        put16(out, nameLength);
        put16(out, 0);
        out += e.name;
        out += e.data;
        // central directory record
        put32(central, 0x02014b50);
        put16(central, (3 << 8) | 20); // made by Unix
        put16(central, 20);
        put16(central, 0x0800);
        put16(central, 0);
        put16(central, kDosTime);
        put16(central, kDosDate);
        put32(central, crc);
        put32(central, size);
        put32(central, size);
        put16(central, nameLength);
        put16(central, 0); // extra
        put16(central, 0); // comment
        put16(central, 0); // disk
        put16(central, 0); // internal attributes
        put32(central, e.unixMode << 16);
        put32(central, offset);
        central += e.name;
    }
    const quint32 centralOffset = static_cast<quint32>(out.size());
    out += central;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<quint16>(entries_.size()));
    put16(out, static_cast<quint16>(entries_.size()));
    put32(out, static_cast<quint32>(central.size()));
    put32(out, centralOffset);
    put16(out, 0);
    return out;
}
