#include "update/update_signature.h"

#include <QList>
#include <algorithm>
#include <sodium.h>

namespace kirasol::update {

namespace {

constexpr qsizetype kKeyIdBytes = 8;
constexpr qsizetype kPublicKeyBytes = crypto_sign_PUBLICKEYBYTES;
constexpr qsizetype kSignatureBytes = crypto_sign_BYTES;
const QByteArray kUntrustedPrefix = "untrusted comment: ";
const QByteArray kTrustedPrefix = "trusted comment: ";
// Signature files are four short lines; anything far larger is not one.
constexpr qsizetype kMaxSignatureFile = 8192;

std::optional<QByteArray> decodeBase64(const QByteArray &text, qsizetype expectedSize) {
  const auto decoded = QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
  if (!decoded || decoded.decoded.size() != expectedSize) return std::nullopt;
  return decoded.decoded;
}

bool ensureSodium() { return sodium_init() >= 0; }

bool verifyDetached(const QByteArray &signature, const QByteArray &message, const QByteArray &publicKey) {
  return crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(signature.constData()),
                                     reinterpret_cast<const unsigned char *>(message.constData()),
                                     static_cast<unsigned long long>(message.size()),
                                     reinterpret_cast<const unsigned char *>(publicKey.constData())) == 0;
}

QByteArray blake2b512(const QByteArray &data) {
  QByteArray hash(crypto_generichash_BYTES_MAX, '\0');
  crypto_generichash(reinterpret_cast<unsigned char *>(hash.data()), size_t(hash.size()),
                     reinterpret_cast<const unsigned char *>(data.constData()), size_t(data.size()), nullptr, 0);
  return hash;
}

QList<QByteArray> lines(const QByteArray &text) {
  QList<QByteArray> result = text.split('\n');
  for (QByteArray &line : result) {
    if (line.endsWith('\r')) line.chop(1);
  }
  return result;
}

SignatureCheck invalid(const QString &why) { return {false, why, {}}; }

}  // namespace

QString keyIdText(const QByteArray &keyId) {
  QByteArray reversed = keyId;
  std::reverse(reversed.begin(), reversed.end());
  return QString::fromLatin1(reversed.toHex().toUpper());
}

std::optional<MinisignKey> parseMinisignPublicKey(const QByteArray &text, QString *error) {
  QByteArray encoded;
  for (const QByteArray &line : lines(text)) {
    if (line.startsWith(kUntrustedPrefix) || line.trimmed().isEmpty()) continue;
    encoded = line;
    break;
  }
  const std::optional<QByteArray> bytes = decodeBase64(encoded, 2 + kKeyIdBytes + kPublicKeyBytes);
  if (!bytes || !bytes->startsWith("Ed")) {
    if (error) *error = QStringLiteral("not a minisign public key");
    return std::nullopt;
  }
  return MinisignKey{bytes->mid(2, kKeyIdBytes), bytes->mid(2 + kKeyIdBytes)};
}

SignatureCheck verifyMinisign(const MinisignKey &key, const QByteArray &data, const QByteArray &signatureFile) {
  if (!ensureSodium()) return invalid(QStringLiteral("the signature library could not start"));
  if (signatureFile.size() > kMaxSignatureFile) return invalid(QStringLiteral("not a minisign signature file"));
  const QList<QByteArray> parts = lines(signatureFile);
  if (parts.size() < 4 || !parts[0].startsWith(kUntrustedPrefix) || !parts[2].startsWith(kTrustedPrefix))
    return invalid(QStringLiteral("not a minisign signature file"));
  for (qsizetype i = 4; i < parts.size(); ++i) {
    if (!parts[i].trimmed().isEmpty()) return invalid(QStringLiteral("not a minisign signature file"));
  }
  const std::optional<QByteArray> signature = decodeBase64(parts[1], 2 + kKeyIdBytes + kSignatureBytes);
  const std::optional<QByteArray> globalSignature = decodeBase64(parts[3], kSignatureBytes);
  if (!signature || !globalSignature) return invalid(QStringLiteral("not a minisign signature file"));

  const QByteArray algorithm = signature->left(2);
  const QByteArray keyId = signature->mid(2, kKeyIdBytes);
  const QByteArray signatureBytes = signature->mid(2 + kKeyIdBytes);
  if (algorithm != "Ed" && algorithm != "ED")
    return invalid(QStringLiteral("unknown signature algorithm \"%1\"").arg(QString::fromLatin1(algorithm.toHex())));
  if (keyId != key.keyId)
    return invalid(QStringLiteral("signed with another key (key id %1, this program trusts %2)")
                       .arg(keyIdText(keyId), keyIdText(key.keyId)));
  const QByteArray message = algorithm == "ED" ? blake2b512(data) : data;
  if (!verifyDetached(signatureBytes, message, key.publicKey))
    return invalid(QStringLiteral("the signature does not match the file"));

  const QByteArray trustedComment = parts[2].mid(kTrustedPrefix.size());
  if (!verifyDetached(*globalSignature, signatureBytes + trustedComment, key.publicKey))
    return invalid(QStringLiteral("the trusted comment was altered"));
  return {true, {}, QString::fromUtf8(trustedComment)};
}

}  // namespace kirasol::update
