// With a public key configured, only lists signed with its secret half are
// believed, and only files whose SHA-256 the signed list gives are installed.
// The server folders are signed the way an operator signs them
// (scripts/sign-update, which runs minisign).

#include "update_test_support.h"

#include <QFile>

namespace kirasol::update::test {
namespace {

QByteArray sha256Hex(const QByteArray &bytes) { return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex(); }

bool minisign(const QStringList &args) { return QProcess::execute(QStringLiteral("minisign"), args) == 0; }

class SignedUpdateTest : public UpdateRunTest {
 protected:
  void SetUp() override {
    UpdateRunTest::SetUp();
    options_.publicKey = demoPublicKey();
    localFile("version.dat", "1.1\r\n");
    localFile("files.dat", "a.bin,1.0\r\nb.bin,1.0\r\n");
    localFile("a.bin", "old a");
    localFile("b.bin", "old b");
    serverFile("version.dat", "1.2\r\n");
    serverFile("files.dat", "a.bin,1.1\r\nb.bin,1.1\r\n");
    serverFile("a.bin", "new a");
    serverFile("b.bin", "new b");
    ASSERT_EQ(signFolder(serverDir_.path()), QString());
    signed_ = snapshot(serverDir_.path());
  }
  QString served(const QString &name) const { return serverDir_.filePath(name); }
  // The trusted comment sign-update gave version.dat, for files.dat.
  QString filesComment() const {
    const QByteArray line = kirasol::test::readFile(served("version.dat.minisig")).split('\n').value(2);
    return QString::fromUtf8(line.mid(17)).replace("file:version.dat", "file:files.dat");
  }
  // Back to the folder as signed in SetUp.
  void restoreServer() {
    for (const QString &name : QDir(serverDir_.path()).entryList(QDir::Files)) QFile::remove(served(name));
    for (auto it = signed_.cbegin(); it != signed_.cend(); ++it) serverFile(it.key(), it.value());
  }
  QMap<QString, QByteArray> signed_;
};

TEST_F(SignedUpdateTest, OnlyASignedListWithMatchingHashesIsInstalled) {
  QTemporaryDir otherKey;
  QProcess keygen;
  keygen.start(QStringLiteral("minisign"), {"-G", "-W", "-p", otherKey.filePath("k.pub"), "-s", otherKey.filePath("k.key")});
  ASSERT_TRUE(keygen.waitForFinished(30000) && keygen.exitCode() == 0);
  const struct {
    const char *name;
    std::function<void()> tamper;
    QString message;  // one list message contains this
  } refused[] = {
      {"a tampered file under a valid-looking unsigned list",
       [&] {
         serverFile("a.bin", "#!/bin/sh\nevil\n");
         serverFile("files.dat", "a.bin,1.1," + sha256Hex("#!/bin/sh\nevil\n") + "\r\nb.bin,1.1\r\n");
         QFile::remove(served("files.dat.minisig"));
       },
       "ไม่พบลายเซ็นของ files.dat บนเซิร์ฟเวอร์"},
      {"a list changed after signing",
       [&] {
         QFile list(served("files.dat"));
         ASSERT_TRUE(list.open(QIODevice::Append));
         list.write("evil.bin,1.0," + sha256Hex("evil") + "\r\n");
         serverFile("evil.bin", "evil");
       },
       "ลายเซ็นของ files.dat ไม่ถูกต้อง (the signature does not match the file)"},
      {"a version changed after signing", [&] { serverFile("version.dat", "1.3\r\n"); },
       "ลายเซ็นของ version.dat ไม่ถูกต้อง (the signature does not match the file)"},
      {"a trusted comment changed after signing",
       [&] {
         QByteArray signature = kirasol::test::readFile(served("files.dat.minisig"));
         signature.replace("trusted comment: ", "trusted comment: x");
         serverFile("files.dat.minisig", signature);
       },
       "ลายเซ็นของ files.dat ไม่ถูกต้อง (the trusted comment was altered)"},
      {"signed with another key", [&] { ASSERT_EQ(signFolder(serverDir_.path(), otherKey.filePath("k.key")), ""); },
       "ลายเซ็นของ version.dat ไม่ถูกต้อง (signed with another key"},
      {"a good signature but a file that does not match its hash", [&] { serverFile("b.bin", "evil b"); },
       "ไฟล์ b.bin ไม่ตรงกับ SHA-256 ที่ระบุไว้ จึงไม่ได้ติดตั้ง"},
      {"a good signature on a list without hashes",
       [&] {
         serverFile("files.dat", "a.bin,1.1\r\nb.bin,1.1\r\n");
         ASSERT_TRUE(minisign({"-S", "-s", demoSecretKey(), "-m", served("files.dat"), "-t", filesComment()}));
       },
       "ไฟล์ a.bin ไม่มี SHA-256 ในรายการที่ลงลายเซ็นไว้ จึงไม่ได้ติดตั้ง"},
  };
  for (const auto &c : refused) {
    SCOPED_TRACE(c.name);
    restoreServer();
    c.tamper();
    const auto before = snapshot(workDir_.path());
    EXPECT_EQ(start().Run(), RunResult::Refused);
    EXPECT_EQ(view_.messages.filter(c.message).size(), 1) << view_.messages.join(" | ").toStdString();
    EXPECT_EQ(view_.messages.last(), "หยุดการอัพเดท ไม่มีไฟล์ใดถูกเปลี่ยนแปลง กรุณาแจ้งผู้ดูแลเซิร์ฟเวอร์อัพเดทค่ะ");
    EXPECT_EQ(snapshot(workDir_.path()), before);
  }

  // Signed by minisign's legacy algorithm (the file itself, not its hash).
  restoreServer();
  ASSERT_TRUE(minisign({"-S", "-l", "-s", demoSecretKey(), "-m", served("files.dat"), "-t", filesComment()}));
  EXPECT_TRUE(kirasol::test::readFile(served("files.dat.minisig")).split('\n').value(1).startsWith("RWTF"));
  EXPECT_EQ(start().Run(), RunResult::Updated) << view_.messages.join(" | ").toStdString();
  EXPECT_EQ(local("a.bin"), "new a");
  EXPECT_EQ(local("b.bin"), "new b");
  EXPECT_EQ(local("files.dat"), "a.bin,1.1\r\nb.bin,1.1\r\n");
  EXPECT_EQ(local("version.dat"), "1.2\r\n");
  expectNoTemporaries();
}

}  // namespace
}  // namespace kirasol::update::test
