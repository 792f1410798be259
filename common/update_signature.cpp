#include "common/update_signature.h"

#include <QList>
#include <QRegularExpression>
#include <algorithm>
#include <sodium.h>

namespace kirasol {

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

namespace {
const QString kCommentStart = QStringLiteral("kirasol update ");
}  // namespace

QString setTimeText(const QDateTime &time) { return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")); }

std::optional<QDateTime> parseSetTime(const QString &text) {
  static const QRegularExpression form(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$"));
  if (!form.match(text).hasMatch()) return std::nullopt;
  QDateTime time = QDateTime::fromString(text, Qt::ISODate);
  if (!time.isValid()) return std::nullopt;
  return time.toUTC();
}

std::optional<SignedSet> parseSetComment(const QString &trustedComment, QString *error) {
  const auto fail = [&](const QString &why) -> std::optional<SignedSet> {
    if (error) *error = why;
    return std::nullopt;
  };
  const QString unnamed = QStringLiteral("the trusted comment does not name the update set (signed by an older "
                                         "scripts/sign-update?)");
  if (!trustedComment.startsWith(kCommentStart)) return fail(unnamed);
  SignedSet set;
  bool hasVersion = false;
  QString rest = trustedComment.mid(kCommentStart.size());
  while (!rest.isEmpty()) {
    if (rest.startsWith(QStringLiteral("version:"))) {
      set.version = rest.mid(8);
      hasVersion = true;
      break;
    }
    const qsizetype blank = rest.indexOf(u' ');
    const QString field = rest.left(blank);
    rest = blank < 0 ? QString() : rest.mid(blank + 1);
    const qsizetype colon = field.indexOf(u':');
    const QString name = field.left(colon);
    const QString value = colon < 0 ? QString() : field.mid(colon + 1);
    if (name == u"file") {
      set.file = value;
    } else if (name == u"signed" || name == u"expires") {
      const std::optional<QDateTime> time = parseSetTime(value);
      if (!time) return fail(QStringLiteral("the trusted comment's %1 time \"%2\" is not a UTC time").arg(name, value));
      (name == u"signed" ? set.signedAt : set.expiresAt) = *time;
    }
    // Other fields are for later versions of the script; they are signed too.
  }
  if (!hasVersion || set.file.isEmpty() || !set.signedAt.isValid()) return fail(unnamed);
  return set;
}

std::optional<SignedSet> verifySignedList(const MinisignKey &key, const QString &fileName, const QByteArray &data,
                                          const QByteArray &signatureFile, QString *error) {
  const SignatureCheck check = verifyMinisign(key, data, signatureFile);
  if (!check.valid) {
    if (error) *error = check.error;
    return std::nullopt;
  }
  std::optional<SignedSet> set = parseSetComment(check.trustedComment, error);
  if (set && set->file != fileName) {
    // A valid signature of the other list, served under this name.
    if (error) *error = QStringLiteral("the signature is for %1").arg(set->file);
    return std::nullopt;
  }
  return set;
}

}  // namespace kirasol
