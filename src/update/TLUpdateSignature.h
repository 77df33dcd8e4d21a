#pragma once

#include <QByteArray>
#include <QString>

#include <sodium.h>

#include <optional>

// The publisher's signature of an update archive, in the format of the minisign tool: an Ed25519
// signature of the archive's BLAKE2b-512 digest ("ED", minisign's default), and a global signature
// over that signature and the trusted comment. The trusted comment must read exactly
// "tilora <version> sha256:<digest>" with the feed's version and lower-case digest, so that a
// signature cannot be carried over to another version or another archive. The cryptography is
// libsodium's; only the text form is read here.
class TLUpdateSignature {
public:
    // BLAKE2b-512 of data fed in pieces.
    class Prehash {
    public:
        Prehash();
        void add(const char* data, qsizetype size);
        QByteArray result();

    private:
        crypto_generichash_state state_{};
    };

    static QString trustedComment(const QString& version, const QString& digest);

    // Everything that can be checked before the download: the public key (the base64 line of the
    // publisher's minisign.pub, or the whole file) and the signature file's text parse, the key
    // ids agree, the global signature is valid and the trusted comment names this version and
    // digest. Absent otherwise.
    static std::optional<TLUpdateSignature> forAnnouncement(const QString& publicKey,
                                                            const QString& signatureText,
                                                            const QString& version, const QString& digest);

    // Whether the signature is the key's signature of an archive with this BLAKE2b-512 digest.
    bool covers(const QByteArray& prehash) const;

private:
    TLUpdateSignature(QByteArray key, QByteArray signature);

    QByteArray key_;       // 32 bytes
    QByteArray signature_; // 64 bytes
};
