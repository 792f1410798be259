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
//
// Both the updater and the player's update check read update lists signed
// this way, so the checks live here, once.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

namespace kirasol {

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

// What the signature of an update list vouches for beside its bytes. The
// station signs version.dat and files.dat together (scripts/sign-update),
// and the trusted comment of each names the set:
//
//   kirasol update file:<name> signed:<UTC time> [expires:<UTC time>] version:<version>
//
// times as 2026-12-08T03:00:00Z; the version runs to the end of the line, so
// it may hold blanks. Two lists belong to one set when version, signing time
// and expiry are the same.
struct SignedSet {
  QString file;
  QString version;
  QDateTime signedAt;   // UTC
  QDateTime expiresAt;  // UTC; not valid: the set never expires

  bool sameSetAs(const SignedSet &other) const {
    return version == other.version && signedAt == other.signedAt && expiresAt == other.expiresAt;
  }
  bool expiredAt(const QDateTime &now) const { return expiresAt.isValid() && now >= expiresAt; }
};

std::optional<SignedSet> parseSetComment(const QString &trustedComment, QString *error = nullptr);

// A fetched list and its signature file: the signature by `key` holds and its
// trusted comment names this list of a set. Otherwise nothing, with `error`
// saying why.
std::optional<SignedSet> verifySignedList(const MinisignKey &key, const QString &fileName, const QByteArray &data,
                                          const QByteArray &signatureFile, QString *error = nullptr);

// A signing time as the comments and the record of the installed set write it.
QString setTimeText(const QDateTime &time);
std::optional<QDateTime> parseSetTime(const QString &text);

}  // namespace kirasol
