// The update run against the bundled demo station's update folder.

#include "update_test_support.h"

#include <QFile>

namespace kirasol::update::test {
namespace {

TEST(DemoStationUpdateTest, RaisedVersionInstallsTheListedFilesByteForByte) {
  QTemporaryDir served;
  const QDir demo(kirasol::test::programPath("demo/update"));
  for (const QString &name : demo.entryList(QDir::Files)) {
    ASSERT_TRUE(QFile::copy(demo.filePath(name), served.filePath(name)));
  }
  ASSERT_TRUE(kirasol::test::writeFile(served.filePath("version.dat"), "1.2\r\n"));
  kirasol::test::DemoStation station({"--update-dir", served.path()});
  ASSERT_TRUE(station.started()) << station.errorText().toStdString();

  QTemporaryDir work;
  ASSERT_TRUE(kirasol::test::writeFile(work.filePath("version.dat"), "1.1\r\n"));
  kirasol::Transfer transfer(std::chrono::seconds(10));
  RecordingView view;
  ModUpdate module(transfer, station.httpUrl("/update/"), work.path(), view);
  module.ReadCurrentVersion();
  ASSERT_EQ(module.Run(), RunResult::Updated) << view.messages.join('\n').toStdString();

  QStringList listed;
  for (const QString &line : QString::fromUtf8(kirasol::test::readFile(served.filePath("files.dat"))).split("\r\n")) {
    if (!line.isEmpty()) listed << line.section(',', 0, 0);
  }
  ASSERT_FALSE(listed.isEmpty());
  for (const QString &name : listed) {
    EXPECT_EQ(kirasol::test::readFile(work.filePath(name)), kirasol::test::readFile(served.filePath(name)))
        << name.toStdString();
  }
  EXPECT_EQ(kirasol::test::readFile(work.filePath("files.dat")), kirasol::test::readFile(served.filePath("files.dat")));
  EXPECT_EQ(kirasol::test::readFile(work.filePath("version.dat")), "1.2\r\n");
  EXPECT_FALSE(QFile::exists(work.filePath("vers.dat")));
  EXPECT_FALSE(QFile::exists(work.filePath("update.dat")));
}

}  // namespace
}  // namespace kirasol::update::test
