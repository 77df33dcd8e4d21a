// What sway's IPC hands Tilora, by the input's first byte: 0, a byte stream through the message
// reader in pieces of the sizes the next bytes give; 1, a GET_TREE reply (outputs, visible areas,
// the focused window and the conversions between sway's and Tilora's coordinates); else, the
// configuration text that GET_CONFIG reports (bindings, keyboard settings, includes).
#include "TLFuzzCheck.h"
#include "TLSwayConfig.h"
#include "TLSwayMessage.h"
#include "TLSwayTree.h"

#include <QJsonDocument>

#include <algorithm>
#include <cstdint>

namespace {

void readStream(QByteArrayView bytes) {
    TLSwayMessageReader reader;
    std::size_t taken = 0;
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype piece =
            std::min<qsizetype>(static_cast<unsigned char>(bytes[at]) % 64 + 1, bytes.size() - at);
        reader.append(bytes.sliced(at, piece));
        at += piece;
        while (const std::optional<TLSwayMessage> message = reader.next()) {
            TL_FUZZ_CHECK(!reader.failed());
            TL_FUZZ_CHECK(std::size_t(message->payload.size()) <= TLSwayMessage::kMaxPayload);
            taken += TLSwayMessage::kHeaderSize + std::size_t(message->payload.size());
            const QByteArray again = TLSwayMessage::encode(message->type, message->payload);
            TL_FUZZ_CHECK(std::size_t(again.size()) == TLSwayMessage::kHeaderSize + message->payload.size());
        }
        // Only a failed reader or a complete message wants nothing more.
        TL_FUZZ_CHECK(reader.missing() > 0 || reader.failed());
    }
    TL_FUZZ_CHECK(taken <= std::size_t(bytes.size()));
}

void readTree(const QByteArray& bytes) {
    const TLSwayTree tree = TLSwayTree::parse(QJsonDocument::fromJson(bytes).object());
    TL_FUZZ_CHECK(tree.displays().size() == tree.outputs.size());
    TL_FUZZ_CHECK(!tree.focusedOutput || *tree.focusedOutput < tree.outputs.size());
    if (tree.focused) {
        // A frame read and written back lands where it was: the conversions are exact.
        const TLRect frame = tree.toWindowCoordinates(tree.focused->frame);
        const TLIntPoint back = tree.toLayout({std::int64_t(frame.x), std::int64_t(frame.y)});
        TL_FUZZ_CHECK(back.x == tree.focused->frame.x && back.y == tree.focused->frame.y);
    }
}

void readConfig(const QByteArray& bytes) {
    TLSwayConfig config;
    config.parse(QString::fromUtf8(bytes));
    for (const TLSwayConfig::Binding& binding : config.bindings()) {
        TL_FUZZ_CHECK(binding.keycode.has_value() != !binding.keysym.isEmpty());
        // Written back in sway's spelling, the modifiers read the same.
        const auto again = TLSwayConfig::parseCombination(
            TLSwayConfig::modifierPrefix(binding.modifiers) + QStringLiteral("x"), false);
        TL_FUZZ_CHECK(again && again->modifiers == binding.modifiers);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const QByteArray bytes(reinterpret_cast<const char*>(data) + 1, static_cast<qsizetype>(size - 1));
    switch (data[0]) {
    case 0:
        readStream(bytes);
        break;
    case 1:
        readTree(bytes);
        break;
    default:
        readConfig(bytes);
    }
    return 0;
}
