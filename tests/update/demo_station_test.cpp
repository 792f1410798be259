// The update run against the bundled demo station's update folder, signed
// with the demo key as committed, and re-signed by scripts/sign-update after
// its version is raised.

#include "update_test_support.h"

#include <QFile>
#include <kirasol/build_settings.h>

namespace kirasol::update::test {
namespace {

TEST(DemoStationUpdateTest, RaisedVersionInstallsTheListedFilesByteForByte) {
  QTemporaryDir served;
  const QDir demo(kirasol::test::programPath("demo/update"));
  for (const QString &name : demo.entryList(QDir::Files)) {
    ASSERT_TRUE(QFile::copy(demo.filePath(name), served.filePath(name)));
  }
  ASSERT_TRUE(kirasol::test::writeFile(served.filePath("version.dat"), "1.2\r\n"));
  ASSERT_EQ(signFolder(served.path()), QString());
  kirasol::test::DemoStation station({"--update-dir", served.path()});
  ASSERT_TRUE(station.started()) << station.errorText().toStdString();

  QTemporaryDir work;
  ASSERT_TRUE(kirasol::test::writeFile(work.filePath("version.dat"), "1.1\r\n"));
  kirasol::Transfer transfer(std::chrono::seconds(10));
  RecordingView view;
  UpdateOptions options;
  options.publicKey = demoPublicKey();
  ModUpdate module(transfer, station.httpUrl("/update/"), work.path(), view, options);
  module.ReadCurrentVersion();
  ASSERT_EQ(module.Run(), RunResult::Updated) << view.messages.join('\n').toStdString();

  QStringList listed;
  QByteArray recorded;
  for (const QString &line : QString::fromUtf8(kirasol::test::readFile(served.filePath("files.dat"))).split("\r\n")) {
    if (line.isEmpty()) continue;
    listed << line.section(',', 0, 0);
    recorded += line.section(',', 0, 1).toUtf8() + "\r\n";  // the hash is not recorded
  }
  ASSERT_FALSE(listed.isEmpty());
  for (const QString &name : listed) {
    EXPECT_EQ(kirasol::test::readFile(work.filePath(name)), kirasol::test::readFile(served.filePath(name)))
        << name.toStdString();
  }
  EXPECT_EQ(kirasol::test::readFile(work.filePath("files.dat")), recorded);
  EXPECT_EQ(kirasol::test::readFile(work.filePath("version.dat")), "1.2\r\n");
  EXPECT_FALSE(QFile::exists(work.filePath("vers.dat")));
  EXPECT_FALSE(QFile::exists(work.filePath("update.dat")));
}

// The folder as committed verifies with the key the default build trusts.
TEST(DemoStationUpdateTest, TheCommittedFolderIsSignedWithTheDemoKey) {
  const QDir demo(kirasol::test::programPath("demo/update"));
  const auto key = parseMinisignPublicKey(demoPublicKey());
  ASSERT_TRUE(key);
  for (const char *name : {"version.dat", "files.dat"}) {
    const SignatureCheck check = verifyMinisign(*key, kirasol::test::readFile(demo.filePath(name)),
                                                kirasol::test::readFile(demo.filePath(QString(name) + ".minisig")));
    EXPECT_TRUE(check.valid) << name << ": " << check.error.toStdString();
  }
  if (QByteArray(kirasol::settings::kUpdateBaseUrl).startsWith("http://127.0.0.1:")) {
    EXPECT_EQ(QByteArray(kirasol::settings::kUpdatePublicKey), demoPublicKey().split('\n').value(1).trimmed())
        << "a build for the demo station trusts the demo key";
  }
}

}  // namespace
}  // namespace kirasol::update::test
