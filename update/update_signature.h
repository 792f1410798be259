#pragma once
// Detached Ed25519 signatures in minisign's format, checked with libsodium.
//
// A public key is the base64 line of a minisign public key file ("RW...":
// the algorithm "Ed", an 8-byte key id, the 32-byte key); the whole file,
// with its "untrusted comment:" line, is accepted too. A signature file has
// four lines:
//
//   untrusted comment: <anything>
//   <base64: algorithm "Ed" or "ED", key id, 64-byte signature>
//   trusted comment: <text>
//   <base64: 64-byte signature of the signature bytes followed by the text>
//
// "Ed" signs the file itself, "ED" its BLAKE2b-512 hash (minisign's default
// since 0.8). Both signatures must hold and the key ids must match, so the
// trusted comment cannot be altered either.

#include <QByteArray>
#include <QString>
#include <optional>

namespace kirasol::update {

struct MinisignKey {
  QByteArray keyId;      // 8 bytes
  QByteArray publicKey;  // 32 bytes
};

// The key, or nothing with `error` saying why.
std::optional<MinisignKey> parseMinisignPublicKey(const QByteArray &text, QString *error = nullptr);

struct SignatureCheck {
  bool valid = false;
  QString error;           // why not, when not valid
  QString trustedComment;  // when valid
};

SignatureCheck verifyMinisign(const MinisignKey &key, const QByteArray &data, const QByteArray &signatureFile);

// A key id as minisign prints it (16 upper-case hex digits, last byte first).
QString keyIdText(const QByteArray &keyId);

}  // namespace kirasol::update
