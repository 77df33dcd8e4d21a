#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstddef>
#include <cstdint>
#include <optional>

// One message of sway's IPC protocol (i3-compatible): the magic "i3-ipc", the payload's length
// and the message type as 32-bit integers in native byte order, then the payload (JSON).
struct TLSwayMessage {
    // Requests (and the types of their replies).
    static constexpr std::uint32_t kRunCommand = 0;
    static constexpr std::uint32_t kSubscribe = 2;
    static constexpr std::uint32_t kGetTree = 4;
    static constexpr std::uint32_t kGetConfig = 9;
    static constexpr std::uint32_t kGetInputs = 100;
    // Events carry the high bit.
    static constexpr std::uint32_t kEventWorkspace = 0x80000000u;
    static constexpr std::uint32_t kEventBinding = 0x80000005u;
    static constexpr std::uint32_t kEventShutdown = 0x80000006u;
    static constexpr std::uint32_t kEventInput = 0x80000015u;

    static constexpr std::size_t kHeaderSize = 14;
    // A tree with thousands of windows stays far below this; anything larger is refused before
    // a byte of it is stored.
    static constexpr std::uint32_t kMaxPayload = 32u << 20;

    std::uint32_t type = 0;
    QByteArray payload;

    static QByteArray encode(std::uint32_t type, QByteArrayView payload);
};

// Splits a byte stream into messages. A header with the wrong magic or an oversized length
// puts the reader into a failed state for good: the stream cannot be resynchronised.
class TLSwayMessageReader {
public:
    void append(QByteArrayView bytes);
    // The next complete message, if one has arrived.
    std::optional<TLSwayMessage> next();
    bool failed() const { return failed_; }
    // Bytes still needed to complete the message being read; 0 when one is complete (or the
    // reader failed).
    std::size_t missing() const;

private:
    QByteArray buffer_;
    bool failed_ = false;
};
