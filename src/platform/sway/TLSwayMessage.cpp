#include "TLSwayMessage.h"

#include <cstring>

namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};

std::uint32_t read32(const char* at) {
    std::uint32_t value = 0;
    std::memcpy(&value, at, sizeof value);
    return value;
}

} // namespace

QByteArray TLSwayMessage::encode(std::uint32_t type, QByteArrayView payload) {
    const auto length = static_cast<std::uint32_t>(payload.size());
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(kHeaderSize) + payload.size());
    bytes.append(kMagic, sizeof kMagic);
    bytes.append(reinterpret_cast<const char*>(&length), sizeof length);
    bytes.append(reinterpret_cast<const char*>(&type), sizeof type);
    bytes.append(payload);
    return bytes;
}

void TLSwayMessageReader::append(QByteArrayView bytes) {
    if (failed_) {
        return;
    }
    buffer_.append(bytes);
    // The header is checked as soon as it is complete, before its payload is kept.
    if (static_cast<std::size_t>(buffer_.size()) >= TLSwayMessage::kHeaderSize &&
        (std::memcmp(buffer_.constData(), kMagic, sizeof kMagic) != 0 ||
         read32(buffer_.constData() + sizeof kMagic) > TLSwayMessage::kMaxPayload)) {
        failed_ = true;
        buffer_.clear();
    }
}

std::size_t TLSwayMessageReader::missing() const {
    const auto have = static_cast<std::size_t>(buffer_.size());
    if (failed_) {
        return 0;
    }
    if (have < TLSwayMessage::kHeaderSize) {
        return TLSwayMessage::kHeaderSize - have;
    }
    const std::size_t total = TLSwayMessage::kHeaderSize + read32(buffer_.constData() + sizeof kMagic);
    return total > have ? total - have : 0;
}

std::optional<TLSwayMessage> TLSwayMessageReader::next() {
    if (failed_ || static_cast<std::size_t>(buffer_.size()) < TLSwayMessage::kHeaderSize) {
        return std::nullopt;
    }
    const char* data = buffer_.constData();
    const std::uint32_t length = read32(data + sizeof kMagic);
    const qsizetype total = static_cast<qsizetype>(TLSwayMessage::kHeaderSize) + qsizetype(length);
    if (buffer_.size() < total) {
        return std::nullopt;
    }
    TLSwayMessage message{read32(data + sizeof kMagic + 4),
                          buffer_.mid(static_cast<qsizetype>(TLSwayMessage::kHeaderSize), length)};
    buffer_.remove(0, total);
    return message;
}
