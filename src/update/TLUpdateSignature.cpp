#include "TLUpdateSignature.h"

#include <QStringList>

namespace {

constexpr qsizetype kKeyIdBytes = 8;

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// A base64 line decoded, empty unless it is valid and exactly `bytes` long.
QByteArray decoded(const QString& line, qsizetype bytes) {
    const auto result =
        QByteArray::fromBase64Encoding(line.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    return result && result.decoded.size() == bytes ? result.decoded : QByteArray();
}

} // namespace

TLUpdateSignature::Prehash::Prehash() {
    sodiumReady();
    crypto_generichash_init(&state_, nullptr, 0, crypto_generichash_BYTES_MAX);
}

void TLUpdateSignature::Prehash::add(const char* data, qsizetype size) {
    crypto_generichash_update(&state_, reinterpret_cast<const unsigned char*>(data),
                              static_cast<unsigned long long>(size));
}

QByteArray TLUpdateSignature::Prehash::result() {
    QByteArray digest(crypto_generichash_BYTES_MAX, '\0');
    crypto_generichash_final(&state_, reinterpret_cast<unsigned char*>(digest.data()),
                             static_cast<size_t>(digest.size()));
    return digest;
}

TLUpdateSignature::TLUpdateSignature(QByteArray key, QByteArray signature)
    : key_(std::move(key)), signature_(std::move(signature)) {}

QString TLUpdateSignature::trustedComment(const QString& version, const QString& digest) {
    return QStringLiteral("tilora %1 sha256:%2").arg(version, digest);
}

std::optional<TLUpdateSignature> TLUpdateSignature::forAnnouncement(const QString& publicKey,
                                                                    const QString& signatureText,
                                                                    const QString& version,
                                                                    const QString& digest) {
    if (!sodiumReady()) {
        return std::nullopt;
    }
    // Public key: "Ed", key id, 32 key bytes. The file form has an untrusted comment line first.
    const QStringList keyLines = publicKey.trimmed().split(QLatin1Char('\n'));
    const QByteArray key = decoded(keyLines.last(), 2 + kKeyIdBytes + crypto_sign_PUBLICKEYBYTES);
    // Signature file: untrusted comment, "ED" + key id + signature, trusted comment, global signature.
    QStringList lines = signatureText.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r'))) {
            line.chop(1);
        }
    }
    while (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    const QString trustedPrefix = QStringLiteral("trusted comment: ");
    if (!key.startsWith("Ed") || lines.size() != 4 ||
        !lines[0].startsWith(QStringLiteral("untrusted comment:")) || !lines[2].startsWith(trustedPrefix)) {
        return std::nullopt;
    }
    const QByteArray signature = decoded(lines[1], 2 + kKeyIdBytes + crypto_sign_BYTES);
    const QByteArray global = decoded(lines[3], crypto_sign_BYTES);
    const QString comment = lines[2].mid(trustedPrefix.size());
    if (!signature.startsWith("ED") || global.isEmpty() ||
        signature.mid(2, kKeyIdBytes) != key.mid(2, kKeyIdBytes) ||
        comment != trustedComment(version, digest)) {
        return std::nullopt;
    }
    const QByteArray keyBytes = key.mid(2 + kKeyIdBytes);
    const QByteArray signatureBytes = signature.mid(2 + kKeyIdBytes);
    const QByteArray signedComment = signatureBytes + comment.toUtf8();
    if (crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(global.constData()),
                                    reinterpret_cast<const unsigned char*>(signedComment.constData()),
                                    static_cast<unsigned long long>(signedComment.size()),
                                    reinterpret_cast<const unsigned char*>(keyBytes.constData())) != 0) {
        return std::nullopt;
    }
    return TLUpdateSignature(keyBytes, signatureBytes);
}

bool TLUpdateSignature::covers(const QByteArray& prehash) const {
    return prehash.size() == crypto_generichash_BYTES_MAX &&
           crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature_.constData()),
                                       reinterpret_cast<const unsigned char*>(prehash.constData()),
                                       static_cast<unsigned long long>(prehash.size()),
                                       reinterpret_cast<const unsigned char*>(key_.constData())) == 0;
}
