#include "update_test_support.h"

#include <QFile>

namespace kirasol::update::test {
namespace {

TEST_F(UpdateRunTest, StartUpShowsTheInstalledVersionOrSaysThereIsNone) {
  const struct {
    const char *name;
    std::optional<QByteArray> file;
    QString current;
    QString curver;
    QStringList messages;
  } cases[] = {
      {"first line only", QByteArray("1.1\r\nignored\r\n"), "1.1", "ปัจจุบัน 1.1", {"เวอร์ชั่นปัจจุบันของคุณ 1.1"}},
      {"whole line, commas included", QByteArray("1.1, beta"), "1.1, beta", "ปัจจุบัน 1.1, beta",
       {"เวอร์ชั่นปัจจุบันของคุณ 1.1, beta"}},
      {"empty file", QByteArray(), "", "ไม่พบไฟล์เวอร์ชั่น", {}},
      {"no file", std::nullopt, "", "ไม่พบไฟล์เวอร์ชั่น", {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    QFile::remove(workDir_.filePath("version.dat"));
    if (c.file) localFile("version.dat", *c.file);
    view_.messages.clear();
    ModUpdate module(transfer_, server_.url("/update/"), workDir_.path(), view_);
    module.ReadCurrentVersion();
    EXPECT_EQ(module.CurrentVersion(), c.current);
    EXPECT_EQ(view_.curver, c.curver);
    EXPECT_EQ(view_.messages, c.messages);
  }
}

TEST_F(UpdateRunTest, EqualVersionsChangeNothing) {
  localFile("version.dat", "1.1\r\n");
  localFile("files.dat", "a.bin,1.0\r\n");
  localFile("a.bin", "installed");
  serverFile("version.dat", "1.1\r\n");
  serverFile("files.dat", "a.bin,2.0\r\n");
  serverFile("a.bin", "newer");
  const auto before = snapshot(workDir_.path());
  EXPECT_EQ(start().Run(), RunResult::AlreadyCurrent);
  EXPECT_EQ(view_.messages, QStringList({"กำลังตรวจสอบเวอร์ชั่น", "เวอร์ชั่นล่าสุด 1.1", "โปรแกรมคุณเป็นรุ่นล่าสุดแล้วค่ะ"}));
  EXPECT_EQ(view_.latver, "1.1");
  EXPECT_EQ(snapshot(workDir_.path()), before);
  EXPECT_EQ(fetchedFiles(), QStringList{"version.dat"});
}

TEST_F(UpdateRunTest, UpdateFetchesNewerAndUnrecordedFilesAndRecordsThem) {
  localFile("version.dat", "1.1\r\n");
  // A blank line keeps slot 1 free; blank lines are gone after the run.
  localFile("files.dat", "a.bin,1.0\r\n\r\nb.bin,1.9\r\nc.bin,\r\nd.bin,1.0\r\ne.bin,1.0\r\n");
  for (const char *name : {"a.bin", "b.bin", "c.bin", "d.bin", "e.bin"}) localFile(name, "old");
  serverFile("version.dat", "1.2,further text\r\n");
  serverFile("files.dat",
             "a.bin,1.1\r\n"         // newer: fetched
             "b.bin,1.10\r\n"        // 1.10 sorts below 1.9: left alone
             "\r\n"                  // blank: skipped
             "c.bin,1.0\r\n"         // recorded with an empty version: fetched
             "d.bin\r\n"             // only a name, already recorded: left alone
             ",new.bin,,2.0,x\r\n"   // empty fields skipped, further fields ignored
             "bare.bin\r\n"          // only a name, not recorded: fetched, recorded with no version
             "e.bin,0.9\r\n");       // lower than recorded: left alone
  for (const char *name : {"a.bin", "b.bin", "c.bin", "d.bin", "e.bin", "new.bin", "bare.bin"}) {
    serverFile(name, QByteArray("server ") + name);
  }

  EXPECT_EQ(start().Run(), RunResult::Updated);
  EXPECT_EQ(view_.messages, QStringList({"กำลังตรวจสอบเวอร์ชั่น", "เวอร์ชั่นล่าสุด 1.2", "ดาวน์โหลดไฟล์อัพเดท",
                                         "ตรวจสอบสอบไฟล์เพื่อดาวน์โหลด", "อัพเดท a.bin เป็น 1.1", "อัพเดท c.bin เป็น 1.0",
                                         "ดาวโหลดไฟล์ new.bin", "ดาวโหลดไฟล์ bare.bin",
                                         "โปรแกรมของคุณอัพเดทเป็นเวอร์ชั่น 1.2", "อัพเดทไฟล์เรียบร้อยแล้วค่ะ"}));
  EXPECT_EQ(fetchedFiles(), QStringList({"version.dat", "files.dat", "a.bin", "c.bin", "new.bin", "bare.bin"}));
  EXPECT_EQ(local("a.bin"), "server a.bin");
  EXPECT_EQ(local("b.bin"), "old");
  EXPECT_EQ(local("c.bin"), "server c.bin");
  EXPECT_EQ(local("d.bin"), "old");
  EXPECT_EQ(local("new.bin"), "server new.bin");
  // New names take the first free slots: slot 1 (the old blank line), then 6.
  EXPECT_EQ(local("files.dat"), "a.bin,1.1\r\nnew.bin,2.0\r\nb.bin,1.9\r\nc.bin,1.0\r\nd.bin,1.0\r\ne.bin,1.0\r\n"
                                "bare.bin,\r\n");
  EXPECT_EQ(local("version.dat"), "1.2\r\n");
  EXPECT_EQ(view_.curver, "Version 1.2");
  EXPECT_EQ(view_.latver, "1.2");
  expectNoTemporaries();
}

TEST_F(UpdateRunTest, WithoutVersionFileTheFirstRunFetchesEverythingListed) {
  serverFile("version.dat", "1.0\r\n");
  serverFile("files.dat", "a.bin,1.0\r\n");
  serverFile("a.bin", "A");
  ModUpdate &module = start();
  EXPECT_EQ(view_.curver, "ไม่พบไฟล์เวอร์ชั่น");
  EXPECT_EQ(module.Run(), RunResult::Updated);
  EXPECT_EQ(local("a.bin"), "A");
  EXPECT_EQ(local("files.dat"), "a.bin,1.0\r\n");
  EXPECT_EQ(local("version.dat"), "1.0\r\n");
}

// (A lower set installs nothing: see the hostile servers.) A newer set cannot
// lower a recorded file, however it spells the name.
TEST_F(UpdateRunTest, NoFileGoesBackToALowerVersion) {
  localFile("version.dat", "2.0\r\n");
  localFile("files.dat", "a.bin,2.0\r\n");
  localFile("a.bin", "installed");
  serverFile("version.dat", "2.1\r\n");
  serverFile("files.dat", "./a.bin,1.0\r\n././a.bin,1.5\r\n");
  serverFile("a.bin", "older");
  EXPECT_EQ(start().Run(), RunResult::Updated);
  EXPECT_EQ(local("a.bin"), "installed");
  EXPECT_EQ(local("files.dat"), "a.bin,2.0\r\n");
}

TEST_F(UpdateRunTest, SecondRunFetchesTheListAgainButNoFileTwice) {
  localFile("version.dat", "1.1\r\n");
  serverFile("version.dat", "1.2\r\n");
  serverFile("files.dat", "a.bin,1.2\r\n");
  serverFile("a.bin", "A");
  ModUpdate &module = start();
  ASSERT_EQ(module.Run(), RunResult::Updated);
  EXPECT_EQ(module.CurrentVersion(), "1.1");  // kept from start-up
  ASSERT_EQ(module.Run(), RunResult::Updated);
  EXPECT_EQ(fetchedFiles(), QStringList({"version.dat", "files.dat", "a.bin", "version.dat", "files.dat"}));
  EXPECT_EQ(local("files.dat"), "a.bin,1.2\r\n");
  expectNoTemporaries();
}

TEST_F(UpdateRunTest, WithAllSlotsTakenANewFileIsFetchedEveryRunButNeverRecorded) {
  QByteArray recorded;
  for (int i = 0; i < kFileTableSlots; ++i) recorded += "f" + QByteArray::number(i) + ".bin,1.0\r\n";
  localFile("files.dat", recorded + "beyond.bin,1.0\r\n");  // a 52nd line has no slot
  localFile("version.dat", "1.1\r\n");
  serverFile("version.dat", "1.2\r\n");
  serverFile("files.dat", "extra.bin,1.0\r\n");
  serverFile("extra.bin", "X");
  ModUpdate &module = start();
  ASSERT_EQ(module.Run(), RunResult::Updated);
  ASSERT_EQ(module.Run(), RunResult::Updated);
  EXPECT_EQ(fetchedFiles().count("extra.bin"), 2);
  EXPECT_EQ(local("files.dat"), recorded);
  EXPECT_EQ(local("extra.bin"), "X");
}

TEST_F(UpdateRunTest, ReplacedFilesKeepTheirPermissionsAndFilesInFoldersAreCreated) {
  localFile("version.dat", "1.1\r\n");
  localFile("files.dat", "tool,1.0\r\n");
  localFile("tool", QByteArray(10000, 'o'));
  const QFile::Permissions executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
  ASSERT_TRUE(QFile::setPermissions(workDir_.filePath("tool"), executable));
  serverFile("version.dat", "1.2\r\n");
  serverFile("files.dat", "tool,1.1\r\nplugins/p.so,1.0\r\n");
  serverFile("tool", "#!/bin/sh\n");
  ASSERT_TRUE(QDir(serverDir_.path()).mkdir("plugins"));
  serverFile("plugins/p.so", "P");
  ASSERT_EQ(start().Run(), RunResult::Updated);
  EXPECT_EQ(local("tool"), "#!/bin/sh\n");
  EXPECT_TRUE(QFile::permissions(workDir_.filePath("tool")) & QFile::ExeOwner);
  EXPECT_EQ(local("plugins/p.so"), "P");
}

TEST_F(UpdateRunTest, AMatchingChecksumInstallsTheFile) {
  localFile("version.dat", "1.1\r\n");
  serverFile("version.dat", "1.2\r\n");
  const QByteArray body = "checked content";
  serverFile("files.dat", "a.bin,1.0," + QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() + "\r\n");
  serverFile("a.bin", body);
  EXPECT_EQ(start().Run(), RunResult::Updated);
  EXPECT_EQ(local("a.bin"), body);
  EXPECT_EQ(local("files.dat"), "a.bin,1.0\r\n");
}

TEST_F(UpdateRunTest, APressDuringARunIsIgnored) {
  localFile("version.dat", "1.1\r\n");
  serverFile("version.dat", "1.2\r\n");
  serverFile("files.dat", "a.bin,1.0\r\n");
  serverFile("a.bin", "A");
  ModUpdate &module = start();
  std::vector<RunResult> nested;
  view_.onPendingEvents = [&] { nested.push_back(module.Run()); };
  EXPECT_EQ(module.Run(), RunResult::Updated);
  view_.onPendingEvents = nullptr;
  ASSERT_FALSE(nested.empty());
  for (RunResult r : nested) EXPECT_EQ(r, RunResult::Ignored);
  EXPECT_EQ(fetchedFiles().count("a.bin"), 1);
}

}  // namespace
}  // namespace kirasol::update::test
